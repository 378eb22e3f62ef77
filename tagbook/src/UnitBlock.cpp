#include "tagbook/UnitBlock.h"

#include <strings.h>
#include <cmath>
#include <memory>

#include "SettingsResources.h"
#include "tagbook/RegistryBlock.h"
#include "tagbook/TagbookResources.h"
#include "utilon/Numbers.h"
#include "utilon/Text.h"

IMPLEMENT_DYNCREATE(CUnitBlock, CDataBlock)
IMPLEMENT_DYNCREATE(CAngleUnitBlock, CUnitBlock)
IMPLEMENT_DYNCREATE(CLatLongUnitBlock, CAngleUnitBlock)
IMPLEMENT_DYNCREATE(CDepthUnitBlock, CUnitBlock)
IMPLEMENT_DYNCREATE(CCoordinatesUnitBlock, CDepthUnitBlock)
IMPLEMENT_DYNCREATE(CTemperatureUnitBlock, CUnitBlock)
IMPLEMENT_DYNCREATE(CSoundSpeedUnitBlock, CUnitBlock)
IMPLEMENT_DYNCREATE(CUnitsBlock, CDataBlock)

namespace {
// A property's new value (initial when it holds none) stored in a field other threads read.
template <class T>
void StoreGuarded(CPropItem* item, std::mutex& mutex, T& field, T initial) {
    T value = std::move(initial);
    item->Get(value);
    std::lock_guard lock(mutex);
    field = std::move(value);
}

// A copy of a field that other threads may change, taken under its mutex.
template <class T>
T Guarded(std::mutex& mutex, const T& field) {
    std::lock_guard lock(mutex);
    return field;
}

constexpr const char* kDegree = "°";

std::string Trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

std::string DefinitionKey(const std::string& unit, const char* what) {
    return "Units:Definitions:" + unit + ":" + what;
}

std::string DecPlacesKey(const std::string& category, const std::string& unit) {
    return "Units:" + category + ":" + unit + ":DecPlaces";
}

template <class T>
T FromRegistry(const std::string& key, T fallback) {
    T value = fallback;
    return Registry.Get(key, value) != 0 ? value : fallback;
}

// A unit's constants as its definition gives them (scale 1, offset 0, normalise 1 when
// missing).
struct Constants {
    double scale = 1.0;
    double offset = 0.0;
    double normalise = 1.0;
};
Constants DefinitionOf(const std::string& unit) {
    return {FromRegistry(DefinitionKey(unit, "Scale"), 1.0),
            FromRegistry(DefinitionKey(unit, "Offset"), 0.0),
            FromRegistry(DefinitionKey(unit, "Normalise"), 1.0)};
}

std::vector<std::string> SplitFields(const std::string& text) {
    std::vector<std::string> fields;
    std::string rest = text;
    while (!rest.empty()) {
        std::string field = Chomp(rest, ",", 1);
        if (!field.empty()) {
            fields.push_back(field);
        }
    }
    return fields;
}
}  // namespace

// ---------------------------------------------------------------------------------------
// CUnitBlock

CUnitBlock::CUnitBlock() {
    tagbook::RegisterSettingsResources();
    m_nMenuID = tagbook::IDR_UNIT_BLOCK;
}

BOOL CUnitBlock::Initialise() {
    const BOOL result = CDataBlock::Initialise();
    int visible = 1;
    if (Registry.Get("Units:" + GetName() + ":Visible", visible) == 0) {
        visible = 1;
    }
    Set("Visible", visible);
    return result;
}

BOOL CUnitBlock::SetName(const std::string& name) {
    if (CDataBlock::SetName(name) == 0) {
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(m_mutexState);
    m_sUiName = name;
    return TRUE;
}

std::string CUnitBlock::GetAvailableUnits() const {
    return Guarded(m_mutexState, m_sAvailable);
}
std::string CUnitBlock::GetUnit() const {
    return Guarded(m_mutexState, m_sUnit);
}
double CUnitBlock::GetOffset() const {
    return Guarded(m_mutexState, m_dOffset);
}
double CUnitBlock::GetScale() const {
    return Guarded(m_mutexState, m_dScale);
}
double CUnitBlock::GetNormalise() const {
    return Guarded(m_mutexState, m_dNormalise);
}
int CUnitBlock::GetDecPlaces() const {
    return Guarded(m_mutexState, m_nDecPlaces);
}
std::string CUnitBlock::GetLabel() const {
    return Guarded(m_mutexState, m_sLabel);
}
std::string CUnitBlock::GetUiName() const {
    return Guarded(m_mutexState, m_sUiName);
}

std::string CUnitBlock::GetLabel(const std::string& unit) {
    return FromRegistry(DefinitionKey(unit, "Label"), std::string());
}

std::vector<std::string> CUnitBlock::AvailableList() const {
    return SplitFields(GetAvailableUnits());
}

void CUnitBlock::DefinePropertyHandlers() {
    RegisterPropertyHandler(tagbook::ID_UNIT_DECPLACES, &CUnitBlock::OnDecPlaces);
    RegisterPropertyHandler(tagbook::ID_UNIT_LABEL, &CUnitBlock::OnLabel);
    RegisterPropertyHandler(tagbook::ID_UNIT_NAME, &CUnitBlock::OnName);
    RegisterPropertyHandler(tagbook::ID_UNIT_AVAILABLE, &CUnitBlock::OnAvailable);
    RegisterPropertyHandler(tagbook::ID_UNIT_NORMALISE, &CUnitBlock::OnNormalise);
    RegisterPropertyHandler(tagbook::ID_UNIT_OFFSET, &CUnitBlock::OnOffset);
    RegisterPropertyHandler(tagbook::ID_UNIT_SCALE, &CUnitBlock::OnScale);
}

void CUnitBlock::OnDecPlaces(CPropItem* item) {
    int places = 0;
    item->Get(places);
    std::string unit;
    {
        std::lock_guard<std::mutex> lock(m_mutexState);
        m_nDecPlaces = places;
        unit = m_sUnit;
    }
    if (m_bWriteBack.load() != 0 && !unit.empty()) {
        Registry.Set(DecPlacesKey(GetName(), unit), places, 1);
    }
}

void CUnitBlock::OnLabel(CPropItem* item) {
    StoreGuarded(item, m_mutexState, m_sLabel, std::string());
}

void CUnitBlock::OnAvailable(CPropItem* item) {
    StoreGuarded(item, m_mutexState, m_sAvailable, std::string());
}

void CUnitBlock::OnNormalise(CPropItem* item) {
    StoreGuarded(item, m_mutexState, m_dNormalise, 1.0);
}

void CUnitBlock::OnOffset(CPropItem* item) {
    StoreGuarded(item, m_mutexState, m_dOffset, 0.0);
}

void CUnitBlock::OnScale(CPropItem* item) {
    StoreGuarded(item, m_mutexState, m_dScale, 1.0);
}

std::string CUnitBlock::ResolveUnit(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    for (const std::string& unit : AvailableList()) {
        if (EqualNoCase(unit, text)) {
            return unit;
        }
    }
    return GetUnitFromLabel(text);
}

void CUnitBlock::OnName(CPropItem* item) {
    std::string requested;
    item->Get(requested);
    const std::string current = GetUnit();
    // A label or a name in another case chooses the unit it stands for; anything else
    // is refused and the current unit shown again.
    const std::string unit = IsValidUnit(requested) != 0 ? ResolveUnit(requested) : std::string();
    if (unit.empty()) {
        Update("Name", current);
        return;
    }
    if (unit != requested) {
        Update("Name", unit);
    }
    if (unit == current) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutexState);
        m_sUnit = unit;
    }
    const Constants constants = DefinitionOf(unit);
    Set("DecPlaces", FromRegistry(DecPlacesKey(GetName(), unit), 0));
    Set("Label", GetLabel(unit));
    Set("Normalise", constants.normalise);
    Set("Offset", constants.offset);
    Set("Scale", constants.scale);
    if (m_bWriteBack.load() != 0) {
        Registry.Set("Units:" + GetName() + ":Default", unit, 1);
    }
    OnUnitChanged(unit);
}

BOOL CUnitBlock::IsValidUnit(const std::string& text) {
    if (text.empty()) {
        return FALSE;
    }
    for (const std::string& unit : AvailableList()) {
        if (EqualNoCase(unit, text) || GetLabel(unit) == text) {
            return TRUE;
        }
    }
    return FALSE;
}

BOOL CUnitBlock::IsCurrentUnit(const std::string& text) {
    return text.empty() || EqualNoCase(text, GetLabel()) ? TRUE : FALSE;
}

std::string CUnitBlock::GetUnitFromLabel(const std::string& label) {
    for (const std::string& unit : AvailableList()) {
        if (GetLabel(unit) == label) {
            return unit;
        }
    }
    return {};
}

double CUnitBlock::ConvertForDisplay(double value, double scale, double offset, double normalise) {
    return value * scale / normalise + offset;
}

double CUnitBlock::ConvertForDisplay(double value, long /*flag*/) {
    double scale = 1.0;
    double offset = 0.0;
    double normalise = 1.0;
    Get("Scale", scale);
    Get("Offset", offset);
    Get("Normalise", normalise);
    return CUnitBlock::ConvertForDisplay(value, scale, offset, normalise);
}

double CUnitBlock::ConvertFromDisplay(double value, long /*flag*/) {
    double scale = 1.0;
    double offset = 0.0;
    double normalise = 1.0;
    Get("Scale", scale);
    Get("Offset", offset);
    Get("Normalise", normalise);
    return normalise / scale * (value - offset);
}

BOOL CUnitBlock::ConvertForDisplay(double value, std::string& text, long flag, int decPlaces,
                                   const std::string& unit) {
    text.clear();
    // Held throughout, so a unit changing on another thread never mixes its label with
    // the previous unit's constants.
    CBlockLock lock(*this, m_dDefaultTimeout);
    if (!lock.IsLocked()) {
        return FALSE;
    }
    std::string label = GetLabel();
    double display = 0.0;
    if (unit.empty()) {
        if (decPlaces < 0) {
            decPlaces = GetDecPlaces();
        }
        display = ConvertForDisplay(value, flag);
    } else {
        const std::string name = IsValidUnit(unit) != 0 ? ResolveUnit(unit) : std::string();
        if (name.empty()) {
            return FALSE;
        }
        label = GetLabel(name);
        if (decPlaces < 0) {
            decPlaces = FromRegistry(DecPlacesKey(GetName(), name), 0);
        }
        const Constants constants = DefinitionOf(name);
        display = CUnitBlock::ConvertForDisplay(value, constants.scale, constants.offset,
                                                constants.normalise);
    }
    if (!std::isfinite(display)) {
        return FALSE;  // a definition with a zero normalise makes no number
    }
    text = FloatToStr(display, decPlaces) + " " + label;
    return TRUE;
}

BOOL CUnitBlock::ParseValue(const std::string& text, double& value, std::string& rest) {
    int end = 0;
    value = StrToFloat(text, &end);
    rest = Trim(text.substr(static_cast<std::size_t>(end)));
    return TRUE;
}

BOOL CUnitBlock::ConvertFromDisplay(const std::string& text, double& value, long flag,
                                    std::string* unitOut) {
    CBlockLock lock(*this, m_dDefaultTimeout);
    if (!lock.IsLocked()) {
        return FALSE;
    }
    double number = 0.0;
    std::string rest;
    if (ParseValue(text, number, rest) == 0) {
        return FALSE;
    }
    if (unitOut != nullptr) {
        *unitOut = rest;
    }
    double result = 0.0;
    if (IsCurrentUnit(rest) != 0) {
        result = ConvertFromDisplay(number, flag);
    } else {
        const std::string unit = IsValidUnit(rest) != 0 ? ResolveUnit(rest) : std::string();
        if (unit.empty()) {
            return FALSE;
        }
        // A block of this kind showing the unit the text names reads it: "12 ft" is feet
        // while this block shows metres.
        std::unique_ptr<CObject> object(GetRuntimeClass()->CreateObject());
        auto* other = dynamic_cast<CUnitBlock*>(object.get());
        if (other == nullptr) {
            return FALSE;
        }
        other->SetWriteBack(FALSE);
        other->SetName(GetName());
        other->Initialise();
        other->Set("Name:Available", GetAvailableUnits());
        other->Set("Name", unit);
        if (other->GetUnit() != unit) {
            return FALSE;
        }
        result = other->ConvertFromDisplay(number, flag);
    }
    if (!std::isfinite(result)) {
        return FALSE;
    }
    value = result;
    return TRUE;
}

BOOL CUnitBlock::ConvertForDisplay(const C3DPoint&, std::vector<std::string>&, long) {
    return FALSE;
}
BOOL CUnitBlock::ConvertForDisplay(const C2DPoint&, std::vector<std::string>&, long) {
    return FALSE;
}
BOOL CUnitBlock::ConvertFromDisplay(const std::vector<std::string>&, C3DPoint&, long) {
    return FALSE;
}
BOOL CUnitBlock::ConvertFromDisplay(const std::vector<std::string>&, C2DPoint&, long) {
    return FALSE;
}

// ---------------------------------------------------------------------------------------
// CAngleUnitBlock

int CAngleUnitBlock::FormatModeOf(const std::string& unit) {
    return unit == "DDD MM SS.sss" ? 1 : unit == "DDD MM.mmm" ? 2 : 0;
}

void CAngleUnitBlock::OnUnitChanged(const std::string& unit) {
    m_nFormatMode = FormatModeOf(unit);
}

double CAngleUnitBlock::ConvertForDisplay(double value, long flag) {
    double display = std::fmod(CUnitBlock::ConvertForDisplay(value, flag), 360.0);
    if (m_nRangeMode == 1) {
        if (display > 180.0) {
            display -= 360.0;
        } else if (display < -180.0) {
            display += 360.0;
        }
    } else if (flag > 0) {
        while (display < 0.0) {
            display += 360.0;
        }
    }
    return display;
}

double CAngleUnitBlock::ConvertFromDisplay(double value, long flag) {
    double internal = CUnitBlock::ConvertFromDisplay(value, flag);
    if (m_nRangeMode == 0) {
        internal = std::fmod(internal, 360.0);
        if (flag >= 1) {
            while (internal < 0.0) {
                internal += 360.0;
            }
        }
    }
    return internal;
}

BOOL CAngleUnitBlock::ConvertForDisplay(double value, std::string& text, long flag, int decPlaces,
                                        const std::string& unit) {
    text.clear();
    CBlockLock lock(*this, m_dDefaultTimeout);
    if (!lock.IsLocked()) {
        return FALSE;
    }
    int mode = GetFormatMode();
    std::string label;
    double d = 0.0;
    if (unit.empty()) {
        if (decPlaces < 0) {
            decPlaces = 0;
            Get("DecPlaces", decPlaces);
        }
        Get("Label", label);
        // Angles are written as they are, not brought into range: a bearing of -90 reads -90.
        d = CUnitBlock::ConvertForDisplay(value, flag);
    } else {
        // Another of the category's units: its format, places, label and constants.
        const std::string name = IsValidUnit(unit) != 0 ? ResolveUnit(unit) : std::string();
        if (name.empty()) {
            return FALSE;
        }
        mode = FormatModeOf(name);
        if (decPlaces < 0) {
            decPlaces = FromRegistry(DecPlacesKey(GetName(), name), 0);
        }
        label = GetLabel(name);
        const Constants constants = DefinitionOf(name);
        d = CUnitBlock::ConvertForDisplay(value, constants.scale, constants.offset,
                                          constants.normalise);
    }
    if (!std::isfinite(d)) {
        return FALSE;
    }
    const bool negative = d < 0.0;
    const double size = std::fabs(d);
    double degrees = std::floor(size);
    const double minutes = (size - degrees) * 60.0;
    const std::string sign = negative ? "-" : "";
    const auto places = static_cast<unsigned>(decPlaces < 0 ? 0 : decPlaces);
    switch (mode) {
        case 1: {
            double wholeMinutes = std::trunc(minutes);
            // + 0.0: the rounding gives -0 for 0, which must not print as "-0".
            double seconds = Round((minutes - wholeMinutes) * 60.0, places) + 0.0;
            if (seconds >= 60.0) {
                seconds -= 60.0;
                wholeMinutes += 1.0;
            }
            if (wholeMinutes >= 60.0) {
                wholeMinutes -= 60.0;
                degrees += 1.0;
            }
            text = sign + FloatToStr(degrees, 0) + label + FloatToStr(wholeMinutes, 0) + "'" +
                   FloatToStr(seconds, decPlaces) + "\"";
            break;
        }
        case 2: {
            double rounded = Round(minutes, places) + 0.0;
            if (rounded >= 60.0) {
                rounded -= 60.0;
                degrees += 1.0;
            }
            text = sign + FloatToStr(degrees, 0) + label + FloatToStr(rounded, decPlaces) + "'";
            break;
        }
        default:
            text = FloatToStr(d, decPlaces) + label;
            break;
    }
    return TRUE;
}

BOOL CAngleUnitBlock::ParseValue(const std::string& text, double& value, std::string& rest) {
    // Only what an angle is written with: digits, sign, point, the degree, minute and
    // second marks, blanks, and E and N of a number's exponent or a hemisphere.
    static const std::string allowed = "-0123456789EN.'\" ";
    rest.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, kDegree) == 0) {
            ++i;
        } else if (allowed.find(text[i]) == std::string::npos) {
            rest += text[i];
        }
    }
    if (!rest.empty()) {
        return FALSE;
    }
    rest = kDegree;
    const auto readNext = [&text](std::size_t& pos, double& number) {
        pos = text.find_first_of("-0123456789", pos);
        if (pos == std::string::npos) {
            return false;
        }
        int used = 0;
        number = StrToFloat(text.substr(pos), &used);
        if (used == 0) {
            return false;
        }
        pos += static_cast<std::size_t>(used);
        return true;
    };
    int used = 0;
    const double degrees = StrToFloat(text, &used);
    if (used == 0) {
        return FALSE;  // no leading number is no angle
    }
    auto pos = static_cast<std::size_t>(used);
    double minutes = 0.0;
    double seconds = 0.0;
    if (readNext(pos, minutes) && readNext(pos, seconds) &&
        text.find_first_of("0123456789", pos) != std::string::npos) {
        return FALSE;  // a fourth number
    }
    if (minutes < 0.0 || minutes >= 60.0 || seconds < 0.0 || seconds >= 60.0) {
        return FALSE;
    }
    // The sign of the degrees signs the whole angle, also when they are "-0".
    const double sign = std::signbit(degrees) ? -1.0 : 1.0;
    value = degrees + sign * minutes / 60.0 + sign * seconds / 3600.0;
    return TRUE;
}

BOOL CAngleUnitBlock::ConvertFromDisplay(const std::string& text, double& value, long flag,
                                         std::string* unit) {
    if (CUnitBlock::ConvertFromDisplay(text, value, flag, nullptr) == 0) {
        return FALSE;
    }
    if (unit != nullptr) {
        *unit = kDegree;
    }
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// CLatLongUnitBlock

BOOL CLatLongUnitBlock::ConvertForDisplay(double value, std::string& text, long flag, int decPlaces,
                                          const std::string& unit) {
    double reduced = std::fmod(value, 360.0);
    if (reduced > 180.0) {
        reduced -= 360.0;
    } else if (reduced < -180.0) {
        reduced += 360.0;
    }
    if (CAngleUnitBlock::ConvertForDisplay(std::fabs(reduced), text, 0, decPlaces, unit) == 0) {
        return FALSE;
    }
    if (reduced != 0.0 && (flag == 0 || flag == 1)) {
        const bool positive = reduced > 0.0;
        text += flag == 0 ? (positive ? " N" : " S") : (positive ? " E" : " W");
    }
    return TRUE;
}

BOOL CLatLongUnitBlock::ConvertFromDisplay(const std::string& text, double& value, long flag,
                                           std::string* unit) {
    std::string angle = text;
    angle.erase(angle.find_last_not_of(" \t") + 1);
    int sign = 1;
    const std::size_t letter = angle.find_first_of("NSEWnsew");
    if (letter != std::string::npos && letter + 1 == angle.size() && angle.size() > 1) {
        const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(angle[letter])));
        angle.erase(letter);
        if (flag == 0) {
            sign = c == 'N' ? 1 : c == 'S' ? -1 : 0;
        } else if (flag == 1) {
            sign = c == 'E' ? 1 : c == 'W' ? -1 : 0;
        } else {
            sign = 0;
        }
    }
    double angleValue = 0.0;
    if (CAngleUnitBlock::ConvertFromDisplay(angle, angleValue, 0, unit) == 0) {
        return FALSE;
    }
    value = sign == -1 ? -angleValue : angleValue;
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// CDepthUnitBlock, CCoordinatesUnitBlock

bool CDepthUnitBlock::InvertZ() {
    int order = -1;
    CDataBlock* root = GetRootBlock();
    if (root == nullptr || root->Get(":Settings:Coordinates:Order:Depth", order) == 0) {
        order = -1;
    }
    return order == 0;
}

BOOL CCoordinatesUnitBlock::ConvertForDisplay(const C3DPoint& value,
                                              std::vector<std::string>& texts, long flag) {
    const int places = GetDecPlaces();
    const double axes[3] = {CUnitBlock::ConvertForDisplay(value.x, flag),
                            CUnitBlock::ConvertForDisplay(value.y, flag),
                            ConvertSign(CUnitBlock::ConvertForDisplay(value.z, flag))};
    texts.clear();
    for (double axis : axes) {
        if (!std::isfinite(axis)) {
            texts.clear();
            return FALSE;
        }
        texts.push_back(FloatToStr(axis, places));
    }
    return TRUE;
}

BOOL CCoordinatesUnitBlock::ConvertForDisplay(const C2DPoint& value,
                                              std::vector<std::string>& texts, long flag) {
    C3DPoint point;
    point.x = value.x;
    point.y = value.y;
    point.z = 0.0;
    if (ConvertForDisplay(point, texts, flag) == 0) {
        return FALSE;
    }
    texts.resize(2);
    return TRUE;
}

BOOL CCoordinatesUnitBlock::ConvertFromDisplay(const std::vector<std::string>& texts,
                                               C3DPoint& value, long flag) {
    if (texts.size() < 3) {
        return FALSE;
    }
    double axes[3] = {0.0, 0.0, 0.0};
    for (int i = 0; i < 3; ++i) {
        if (CUnitBlock::ConvertFromDisplay(texts[static_cast<std::size_t>(i)], axes[i], flag,
                                           nullptr) == 0) {
            return FALSE;
        }
    }
    value.x = axes[0];
    value.y = axes[1];
    value.z = ConvertSign(axes[2]);
    return TRUE;
}

BOOL CCoordinatesUnitBlock::ConvertFromDisplay(const std::vector<std::string>& texts,
                                               C2DPoint& value, long flag) {
    if (texts.size() < 2) {
        return FALSE;
    }
    C3DPoint point;
    if (ConvertFromDisplay(std::vector<std::string>{texts[0], texts[1], "0"}, point, flag) == 0) {
        return FALSE;
    }
    value.x = point.x;
    value.y = point.y;
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// CTemperatureUnitBlock, CSoundSpeedUnitBlock

BOOL CTemperatureUnitBlock::IsValidUnit(const std::string& text) {
    return CUnitBlock::IsValidUnit(text) != 0 ||
                   (!text.empty() && CUnitBlock::IsValidUnit(kDegree + text) != 0)
               ? TRUE
               : FALSE;
}

std::string CTemperatureUnitBlock::GetUnitFromLabel(const std::string& label) {
    std::string unit = CUnitBlock::GetUnitFromLabel(label);
    if (unit.empty() && !label.empty()) {
        unit = CUnitBlock::GetUnitFromLabel(kDegree + label);
    }
    return unit;
}

BOOL CTemperatureUnitBlock::IsCurrentUnit(const std::string& text) {
    return CUnitBlock::IsCurrentUnit(text) != 0 || CUnitBlock::IsCurrentUnit(kDegree + text) != 0
               ? TRUE
               : FALSE;
}

BOOL CSoundSpeedUnitBlock::SetName(const std::string& name) {
    if (CUnitBlock::SetName(name) == 0) {
        return FALSE;
    }
    const std::string display = LoadName(tagbook::IDS_SPEED_OF_SOUND);
    std::lock_guard<std::mutex> lock(m_mutexState);
    m_sUiName = display;
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// CUnitsBlock

CUnitsBlock::CUnitsBlock() {
    tagbook::RegisterSettingsResources();
    m_nMenuID = tagbook::IDR_UNITS_BLOCK;
}

BOOL CUnitsBlock::Initialise() {
    if (IsInitialised() != 0) {
        return TRUE;
    }
    // The definitions and choices the categories read live in the settings block.
    Registry.Initialise();
    const BOOL result = CDataBlock::Initialise();
    std::vector<std::string> categories;
    CTreeObject::POSITION pos = GetFirstChildPosition();
    while (pos != 0) {
        if (auto* unit = dynamic_cast<CUnitBlock*>(GetNextChild(pos))) {
            categories.push_back(unit->GetName());
        }
    }
    for (const std::string& category : categories) {
        ConfigureUnit(category);
    }
    return result;
}

BOOL CUnitsBlock::ConfigureUnit(const std::string& category) {
    if (category.empty()) {
        return FALSE;
    }
    std::string available;
    std::string unit;
    Registry.Get("Units:" + category + ":Available", available);
    Registry.Get("Units:" + category + ":Default", unit);
    Set(category + ":Name:Available", available);
    Set(category + ":Name", unit);
    return TRUE;
}

namespace {
// A conversion by the category's unit block, which gets the flag of the category (longitude
// and bearing convert as their family with flag 1); failed when no block answers.
template <class Result, class Convert>
Result WithUnitBlock(CUnitsBlock& units, const std::string& category, Result failed,
                     Convert convert) {
    long flag = 0;
    CUnitBlock* block = category.empty() ? nullptr : units.FindUnitBlock(category, flag);
    return block != nullptr ? convert(*block, flag) : failed;
}
}  // namespace

CUnitBlock* CUnitsBlock::FindUnitBlock(const std::string& category, long& flag) {
    struct Names {
        std::string latitude, longitude, bearing, latLong, angle;
    };
    static const Names names = {LoadName(tagbook::IDS_LATITUDE), LoadName(tagbook::IDS_LONGITUDE),
                                LoadName(tagbook::IDS_BEARING), LoadName(tagbook::IDS_LATLONG),
                                LoadName(tagbook::IDS_ANGLE)};
    flag = 0;
    std::string child = category;
    if (category == names.latitude) {
        child = names.latLong;
    } else if (category == names.longitude) {
        child = names.latLong;
        flag = 1;
    } else if (category == names.bearing) {
        child = names.angle;
        flag = 1;
    }
    return dynamic_cast<CUnitBlock*>(GetChildObject(child));
}

BOOL CUnitsBlock::ConvertForDisplay(const std::string& category, double value, std::string& text,
                                    long /*flag*/, int decPlaces, const std::string& unit) {
    return WithUnitBlock(*this, category, FALSE, [&](CUnitBlock& block, long flag) {
        return block.ConvertForDisplay(value, text, flag, decPlaces, unit);
    });
}

BOOL CUnitsBlock::ConvertFromDisplay(const std::string& category, const std::string& text,
                                     double& value, long /*flag*/, std::string* unit) {
    return WithUnitBlock(*this, category, FALSE, [&](CUnitBlock& block, long flag) {
        return block.ConvertFromDisplay(text, value, flag, unit);
    });
}

BOOL CUnitsBlock::ConvertForDisplay(const std::string& category, const C2DPoint& value,
                                    std::vector<std::string>& texts, long /*flag*/) {
    return WithUnitBlock(*this, category, FALSE, [&](CUnitBlock& block, long flag) {
        return block.ConvertForDisplay(value, texts, flag);
    });
}

BOOL CUnitsBlock::ConvertForDisplay(const std::string& category, const C3DPoint& value,
                                    std::vector<std::string>& texts, long /*flag*/) {
    return WithUnitBlock(*this, category, FALSE, [&](CUnitBlock& block, long flag) {
        return block.ConvertForDisplay(value, texts, flag);
    });
}

BOOL CUnitsBlock::ConvertFromDisplay(const std::string& category,
                                     const std::vector<std::string>& texts, C2DPoint& value,
                                     long /*flag*/) {
    return WithUnitBlock(*this, category, FALSE, [&](CUnitBlock& block, long flag) {
        return block.ConvertFromDisplay(texts, value, flag);
    });
}

BOOL CUnitsBlock::ConvertFromDisplay(const std::string& category,
                                     const std::vector<std::string>& texts, C3DPoint& value,
                                     long /*flag*/) {
    return WithUnitBlock(*this, category, FALSE, [&](CUnitBlock& block, long flag) {
        return block.ConvertFromDisplay(texts, value, flag);
    });
}

double CUnitsBlock::ConvertForDisplay(const std::string& category, double value, long /*flag*/) {
    return WithUnitBlock(*this, category, 0.0, [&](CUnitBlock& block, long flag) {
        return block.ConvertForDisplay(value, flag);
    });
}

double CUnitsBlock::ConvertFromDisplay(const std::string& category, double value, long /*flag*/) {
    return WithUnitBlock(*this, category, 0.0, [&](CUnitBlock& block, long flag) {
        return block.ConvertFromDisplay(value, flag);
    });
}
