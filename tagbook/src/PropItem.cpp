#include "tagbook/PropItem.h"

#include <strings.h>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "interfaces/Tickwise.h"
#include "platform/Resources.h"
#include "tagbook/DateText.h"
#include "tagbook/TagbookResources.h"
#include "utilon/Colour.h"
#include "utilon/Numbers.h"
#include "utilon/Text.h"

IMPLEMENT_DYNAMIC(CPropItem, CObject)
IMPLEMENT_DYNAMIC(CPropItem_CString, CPropItem)
IMPLEMENT_DYNAMIC(CPropItem_CStringArray, CPropItem)
IMPLEMENT_DYNAMIC(CPropItem_double, CPropItem)
IMPLEMENT_DYNAMIC(CPropItem_int, CPropItem)
IMPLEMENT_DYNAMIC(CPropItem_DWORD, CPropItem)
IMPLEMENT_DYNAMIC(CPropItem_C2DPoint, CPropItem)
IMPLEMENT_DYNAMIC(CPropItem_C3DPoint, CPropItem)
IMPLEMENT_DYNAMIC(CPropItem_CRGBColour, CPropItem)
IMPLEMENT_DYNAMIC(CPropItem_COleDateTime, CPropItem)

const char* const CPropItem::m_arrayTypes[9] = {"String",  "String Array", "Real",
                                                "Integer", "DWORD",        "2dPoint",
                                                "3dPoint", "Colour",       "TimeStamp"};

namespace {
std::string TrimChars(const std::string& text, const char* chars) {
    const std::size_t first = text.find_first_not_of(chars);
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(chars) - first + 1);
}
std::string TrimQuotes(const std::string& text) {
    return TrimChars(text, "\"");
}
std::string TrimBlanks(const std::string& text) {
    return TrimChars(text, " \t\r\n");
}

// The non-empty fields of a comma-separated text, untrimmed.
std::vector<std::string> Fields(std::string text) {
    std::vector<std::string> out;
    while (!text.empty()) {
        std::string field = Chomp(text, ",", 1);
        if (!field.empty()) {
            out.push_back(field);
        }
    }
    return out;
}

double FieldValue(const std::vector<std::string>& fields, std::size_t index) {
    return index < fields.size() ? std::atof(fields[index].c_str()) : 0.0;
}

// A user's format string is printf-style but comes from menus and settings: only a format
// with exactly one floating-point conversion (and "%%") is given to snprintf, so a stray
// "%s" or "%n" can never read or write memory it should not.
bool FormatDouble(const std::string& format, double value, std::string& out) {
    // snprintf stops at a NUL, so a format holding one would be checked on text snprintf never
    // sees (and strchr matches a NUL against any set): refuse it.
    if (format.find('\0') != std::string::npos) {
        return false;
    }
    int conversions = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            continue;
        }
        ++i;
        if (i < format.size() && format[i] == '%') {
            continue;
        }
        while (i < format.size() && std::strchr("-+ #0", format[i]) != nullptr) {
            ++i;
        }
        while (i < format.size() && std::isdigit(static_cast<unsigned char>(format[i])) != 0) {
            ++i;
        }
        if (i < format.size() && format[i] == '.') {
            ++i;
            while (i < format.size() && std::isdigit(static_cast<unsigned char>(format[i])) != 0) {
                ++i;
            }
        }
        if (i < format.size() && format[i] == 'l') {
            ++i;
        }
        if (i >= format.size() || std::strchr("eEfFgGaA", format[i]) == nullptr) {
            return false;
        }
        ++conversions;
    }
    if (conversions != 1) {
        return false;
    }
    char buffer[512];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const int n = std::snprintf(buffer, sizeof buffer, format.c_str(), value);
#pragma GCC diagnostic pop
    if (n < 0) {
        return false;
    }
    out.assign(buffer, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1));
    return true;
}

// Day and month names are written in English whatever the process locale (the user
// interface sets one), so the text the item writes always reads back.
std::string EnglishNames(const std::string& format, const COleDateTime& value) {
    static constexpr const char* kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                            "Thursday", "Friday", "Saturday"};
    static constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                              "May",       "June",     "July",     "August",
                                              "September", "October",  "November", "December"};
    const std::string day = kDays[(value.GetDayOfWeek() + 6) % 7];
    const std::string month = kMonths[(value.GetMonth() + 11) % 12];
    std::string out;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 >= format.size()) {
            out += format[i];
            continue;
        }
        const char c = format[++i];
        if (c == 'a') {
            out += day.substr(0, 3);
        } else if (c == 'A') {
            out += day;
        } else if (c == 'b' || c == 'h') {
            out += month.substr(0, 3);
        } else if (c == 'B') {
            out += month;
        } else {
            out += '%';
            out += c;
        }
    }
    return out;
}

// The leading number of a text as atof reads it; false when the text holds no number at
// all, so that "abc" is refused instead of being stored as 0.
bool LeadingDouble(const std::string& text, double& value) {
    const char* begin = text.c_str();
    char* end = nullptr;
    value = std::strtod(begin, &end);
    return end != begin;
}
}  // namespace

// ---------------------------------------------------------------------------------------
// CPropItem

CPropItem::CPropItem() : m_pLock(std::make_unique<tagbook::CTimedRecursiveMutex>()) {}

CPropItem::~CPropItem() {
    // A holder that forgot to unlock on this thread: release before the mutex goes.
    while (m_pLock->HeldByMe() > 0) {
        m_pLock->Unlock();
    }
}

int CPropItem::Set(const COleDateTime&) {
    return 0;
}
int CPropItem::Set(const CRGBColour&) {
    return 0;
}
int CPropItem::Set(const C3DPoint&) {
    return 0;
}
int CPropItem::Set(const C2DPoint&) {
    return 0;
}
int CPropItem::Set(DWORD) {
    return 0;
}
int CPropItem::Set(int) {
    return 0;
}
int CPropItem::Set(double) {
    return 0;
}
int CPropItem::Set(const std::vector<std::string>&) {
    return 0;
}
int CPropItem::Get(COleDateTime&) {
    return 0;
}
int CPropItem::Get(CRGBColour&) {
    return 0;
}
int CPropItem::Get(C3DPoint&) {
    return 0;
}
int CPropItem::Get(C2DPoint&) {
    return 0;
}
int CPropItem::Get(DWORD&) {
    return 0;
}
int CPropItem::Get(int&) {
    return 0;
}
int CPropItem::Get(double&) {
    return 0;
}
int CPropItem::Get(std::vector<std::string>&) {
    return 0;
}

int CPropItem::Set(void* data, int type) {
    if (data == nullptr) {
        return 0;
    }
    switch (type) {
        case PROP_STRING:
            return Set(*static_cast<const std::string*>(data));
        case PROP_STRING_ARRAY:
            return Set(*static_cast<const std::vector<std::string>*>(data));
        case PROP_REAL:
            return Set(*static_cast<const double*>(data));
        case PROP_INTEGER:
            return Set(*static_cast<const int*>(data));
        case PROP_DWORD:
            return Set(*static_cast<const DWORD*>(data));
        case PROP_2DPOINT:
            return Set(*static_cast<const C2DPoint*>(data));
        case PROP_3DPOINT:
            return Set(*static_cast<const C3DPoint*>(data));
        case PROP_COLOUR:
            return Set(*static_cast<const CRGBColour*>(data));
        case PROP_TIMESTAMP:
            return Set(*static_cast<const COleDateTime*>(data));
        default:
            return 0;
    }
}

int CPropItem::Get(void* data, int type) {
    if (data == nullptr) {
        return 0;
    }
    switch (type) {
        case PROP_STRING:
            return Get(*static_cast<std::string*>(data));
        case PROP_STRING_ARRAY:
            return Get(*static_cast<std::vector<std::string>*>(data));
        case PROP_REAL:
            return Get(*static_cast<double*>(data));
        case PROP_INTEGER:
            return Get(*static_cast<int*>(data));
        case PROP_DWORD:
            return Get(*static_cast<DWORD*>(data));
        case PROP_2DPOINT:
            return Get(*static_cast<C2DPoint*>(data));
        case PROP_3DPOINT:
            return Get(*static_cast<C3DPoint*>(data));
        case PROP_COLOUR:
            return Get(*static_cast<CRGBColour*>(data));
        case PROP_TIMESTAMP:
            return Get(*static_cast<COleDateTime*>(data));
        default:
            return 0;
    }
}

int CPropItem::SetName(const std::string& name) {
    m_sName = name;
    return 1;
}

int CPropItem::SetID(UINT id) {
    if (!IsIDValid(id)) {
        return 0;
    }
    m_nID = id;
    return 1;
}

int CPropItem::SetModifiedFlag(BOOL modified) {
    m_bModified = modified;
    if (modified != 0) {
        m_dModificationTime = CTickwise::GetPCMilliSecs();
    }
    return 1;
}

std::string CPropItem::GetChoices() {
    return {};
}
int CPropItem::GetChoices(std::vector<std::string>&) {
    return 0;
}
int CPropItem::SetChoices(const std::string&) {
    return 0;
}
int CPropItem::SetChoices(const std::vector<std::string>&) {
    return 0;
}

std::string CPropItem::GetTypeName() const {
    return m_nType >= 0 && m_nType <= 8 ? m_arrayTypes[m_nType] : std::string();
}

int CPropItem::SetEnumerate(BOOL enumerate) {
    m_bEnumerate = enumerate;
    return 1;
}

int CPropItem::SetReadOnly(BOOL readOnly) {
    m_bReadOnly = readOnly;
    return 1;
}

int CPropItem::GetUnits(std::string& category, std::string& unit) const {
    category = m_sUnitCategory;
    unit = m_sUnit;
    return 1;
}

int CPropItem::SetUnits(const std::string& category, const std::string& unit) {
    m_sUnitCategory = category;
    m_sUnit = unit;
    return 1;
}

int CPropItem::SetFormatString(const std::string& format) {
    m_sFormat = format;
    return 1;
}

int CPropItem::Lock(DWORD timeoutMs) {
    if (!m_pLock->Lock(static_cast<double>(timeoutMs))) {
        return 0;
    }
    ++m_nLockCount;
    return 1;
}

int CPropItem::Unlock() {
    // Only the holder may release; another thread's Unlock fails and changes nothing.
    if (m_nLockCount.load() < 1 || !m_pLock->Unlock()) {
        return 0;
    }
    --m_nLockCount;
    return 1;
}

void CPropItem::Touch() {
    m_dLastUpdate = CTickwise::GetPCMilliSecs();
}

int CPropItem::Changed() {
    SetModifiedFlag(TRUE);
    return 1;
}

CPropItem* CPropItem::AddProperty(const std::string& name, void* data, int type) {
    if (name.empty() || data == nullptr) {
        return nullptr;
    }
    std::unique_ptr<CPropItem> item;
    switch (type) {
        case PROP_STRING:
            item = std::make_unique<CPropItem_CString>();
            break;
        case PROP_STRING_ARRAY:
            item = std::make_unique<CPropItem_CStringArray>();
            break;
        case PROP_REAL:
            item = std::make_unique<CPropItem_double>();
            break;
        case PROP_INTEGER:
            item = std::make_unique<CPropItem_int>();
            break;
        case PROP_DWORD:
            item = std::make_unique<CPropItem_DWORD>();
            break;
        case PROP_2DPOINT:
            item = std::make_unique<CPropItem_C2DPoint>();
            break;
        case PROP_3DPOINT:
            item = std::make_unique<CPropItem_C3DPoint>();
            break;
        case PROP_COLOUR:
            item = std::make_unique<CPropItem_CRGBColour>();
            break;
        case PROP_TIMESTAMP:
            item = std::make_unique<CPropItem_COleDateTime>();
            break;
        default:
            return nullptr;
    }
    item->SetName(name);
    item->Set(data, type);
    return item.release();
}

int CPropItem::GetProperty(CPropItem* item, void* data, int type) {
    return item != nullptr ? item->Get(data, type) : 0;
}

int CPropItem::SetProperty(CPropItem* item, void* data, int type) {
    return item != nullptr ? item->Set(data, type) : 0;
}

int CPropItem::GetPropertyType(const std::string& typeName) {
    for (int code = 0; code < 9; ++code) {
        if (strcasecmp(typeName.c_str(), m_arrayTypes[code]) == 0) {
            return code;
        }
    }
    return strcasecmp(typeName.c_str(), "Int") == 0 ? PROP_INTEGER : -1;
}

// ---------------------------------------------------------------------------------------
// String

CPropItem_CString::CPropItem_CString() {
    m_nType = PROP_STRING;
}

int CPropItem_CString::Set(const std::string& text) {
    Touch();
    if (text == m_value) {
        return 0;
    }
    m_value = text;
    return Changed();
}

int CPropItem_CString::Get(std::string& text) {
    text = m_value;
    return 1;
}

// ---------------------------------------------------------------------------------------
// String array

CPropItem_CStringArray::CPropItem_CStringArray() {
    m_nType = PROP_STRING_ARRAY;
}

int CPropItem_CStringArray::Set(const std::vector<std::string>& value) {
    // A whole-array write always counts as a change: listeners of lists expect to hear of
    // every write.
    Touch();
    m_value = value;
    return Changed();
}

int CPropItem_CStringArray::Set(const std::string& text) {
    return Set(Fields(text));
}

int CPropItem_CStringArray::Get(std::vector<std::string>& value) {
    value = m_value;
    return 1;
}

int CPropItem_CStringArray::Get(int& count) {
    count = static_cast<int>(m_value.size());
    return 1;
}

int CPropItem_CStringArray::Get(std::string& text) {
    text.clear();
    for (const std::string& element : m_value) {
        text += element;
        text += ',';
    }
    text.erase(text.find_last_not_of(',') + 1);
    return 1;
}

// ---------------------------------------------------------------------------------------
// Real

CPropItem_double::CPropItem_double() {
    m_nType = PROP_REAL;
    m_bNumeric = TRUE;
}

int CPropItem_double::Set(double value) {
    Touch();
    // Not a number never compares unequal here, so it is never stored.
    if (!(value < m_value || value > m_value)) {
        return 0;
    }
    m_value = value;
    return Changed();
}

int CPropItem_double::Set(const std::string& text) {
    double value = 0.0;
    if (!LeadingDouble(text, value)) {
        Touch();
        return 0;
    }
    return Set(value);
}

int CPropItem_double::Get(double& value) {
    value = m_value;
    return 1;
}

int CPropItem_double::Get(std::string& text) {
    if (m_sFormat.empty() || !FormatDouble(m_sFormat, m_value, text)) {
        text = FloatToStr(m_value, -1);
    }
    return 1;
}

// ---------------------------------------------------------------------------------------
// Integer, plain or enumerated

CPropItem_int::CPropItem_int() {
    m_nType = PROP_INTEGER;
    m_bNumeric = TRUE;
}

int CPropItem_int::Set(int value) {
    if (m_bEnumerate != 0 && !IsValid(value)) {
        return 0;
    }
    Touch();
    if (value == m_value) {
        return 0;
    }
    m_value = value;
    return Changed();
}

int CPropItem_int::Set(const std::string& text) {
    if (m_bEnumerate != 0) {
        const int index = GetEnumValue(text);
        return index == -1 ? 0 : Set(index);
    }
    // atoi, with a text that holds no number or one out of range refused instead of
    // being read as 0 or as an undefined value.
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(begin, &end, 10);
    if (end == begin || errno == ERANGE || value < INT_MIN || value > INT_MAX) {
        Touch();
        return 0;
    }
    return Set(static_cast<int>(value));
}

int CPropItem_int::Get(int& value) {
    value = m_value;
    return 1;
}

int CPropItem_int::Get(std::string& text) {
    text = m_bEnumerate != 0 ? GetEnumName(m_value) : IntToStr(m_value);
    return 1;
}

int CPropItem_int::SetID(UINT id) {
    if (CPropItem::SetID(id) == 0) {
        return 0;
    }
    tagbook::RegisterResources();
    CMenu menu;
    if (menu.LoadMenu(id) != 0 && menu.GetMenuItemCount() > 0) {
        for (int i = 0; i < menu.GetMenuItemCount(); ++i) {
            std::string text;
            menu.GetMenuString(static_cast<UINT>(i), text, MF_BYPOSITION);
            if (text.size() > 1024) {
                text.resize(1024);
            }
            m_choices.push_back(text);
        }
        m_bEnumerate = TRUE;
    }
    return 1;
}

std::string CPropItem_int::GetChoices() {
    if (m_bEnumerate == 0) {
        return {};
    }
    std::string text;
    for (const std::string& choice : m_choices) {
        text += choice;
        text += ',';
    }
    text.erase(text.find_last_not_of(',') + 1);
    return text;
}

int CPropItem_int::GetChoices(std::vector<std::string>& choices) {
    choices.clear();
    if (m_bEnumerate == 0) {
        return 0;
    }
    choices = m_choices;
    return 1;
}

int CPropItem_int::SetChoices(const std::string& choices) {
    std::vector<std::string> names;
    for (const std::string& field : Fields(TrimQuotes(choices))) {
        names.push_back(TrimBlanks(field));
    }
    return SetChoices(names);
}

int CPropItem_int::SetChoices(const std::vector<std::string>& choices) {
    if (choices.empty()) {
        return 0;
    }
    m_choices = choices;
    m_bEnumerate = TRUE;
    if (!IsValid(m_value)) {
        m_value = 0;
    }
    return 1;
}

int CPropItem_int::GetEnumValue(const std::string& text) const {
    if (::IsNumeric(text.c_str()) == 0) {
        for (std::size_t i = 0; i < m_choices.size(); ++i) {
            if (strcasecmp(m_choices[i].c_str(), text.c_str()) == 0) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    const long value = std::strtol(text.c_str(), nullptr, 10);
    return value >= 0 && value < static_cast<long>(m_choices.size()) ? static_cast<int>(value) : -1;
}

std::string CPropItem_int::GetEnumName(int value) const {
    std::string name;
    if (m_bEnumerate != 0 && value >= 0 && value < static_cast<int>(m_choices.size())) {
        name = m_choices[static_cast<std::size_t>(value)];
    }
    return name.empty() ? IntToStr(value) : name;
}

BOOL CPropItem_int::IsValid(const std::string& text) const {
    return m_bEnumerate == 0 || GetEnumValue(text) != -1 ? TRUE : FALSE;
}

BOOL CPropItem_int::IsValid(int value) const {
    return m_bEnumerate == 0 || (value >= 0 && value < static_cast<int>(m_choices.size())) ? TRUE
                                                                                           : FALSE;
}

// ---------------------------------------------------------------------------------------
// DWORD

CPropItem_DWORD::CPropItem_DWORD() {
    m_nType = PROP_DWORD;
    m_bNumeric = TRUE;
}

int CPropItem_DWORD::Set(DWORD value) {
    Touch();
    if (value == m_value) {
        return 0;
    }
    m_value = value;
    return Changed();
}

int CPropItem_DWORD::Set(const std::string& text) {
    // strtoul in base 10; a text without digits, or beyond 32 bits (which includes
    // negative numbers, which strtoul wraps), is refused.
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(begin, &end, 10);
    if (end == begin || errno == ERANGE || value > 0xFFFFFFFFULL) {
        Touch();
        return 0;
    }
    return Set(static_cast<DWORD>(value));
}

int CPropItem_DWORD::Get(DWORD& value) {
    value = m_value;
    return 1;
}

int CPropItem_DWORD::Get(std::string& text) {
    text = std::to_string(m_value);
    return 1;
}

// ---------------------------------------------------------------------------------------
// Points

CPropItem_C2DPoint::CPropItem_C2DPoint() {
    m_nType = PROP_2DPOINT;
}

int CPropItem_C2DPoint::Set(const C2DPoint& value) {
    Touch();
    if (!(value != m_value)) {
        return 0;
    }
    m_value = value;
    return Changed();
}

int CPropItem_C2DPoint::Set(const std::string& text) {
    const std::vector<std::string> f = Fields(TrimQuotes(text));
    return Set(C2DPoint(FieldValue(f, 0), FieldValue(f, 1)));
}

int CPropItem_C2DPoint::Get(C2DPoint& value) {
    value = m_value;
    return 1;
}

int CPropItem_C2DPoint::Get(std::string& text) {
    text = FloatToStr(m_value.x, -1) + ", " + FloatToStr(m_value.y, -1);
    return 1;
}

CPropItem_C3DPoint::CPropItem_C3DPoint() {
    m_nType = PROP_3DPOINT;
}

int CPropItem_C3DPoint::Set(const C3DPoint& value) {
    Touch();
    if (!(value != m_value)) {
        return 0;
    }
    m_value = value;
    return Changed();
}

int CPropItem_C3DPoint::Set(const std::string& text) {
    const std::vector<std::string> f = Fields(TrimQuotes(text));
    return Set(C3DPoint(FieldValue(f, 0), FieldValue(f, 1), FieldValue(f, 2)));
}

int CPropItem_C3DPoint::Get(C3DPoint& value) {
    value = m_value;
    return 1;
}

int CPropItem_C3DPoint::Get(std::string& text) {
    text = FloatToStr(m_value.x, -1) + ", " + FloatToStr(m_value.y, -1) + ", " +
           FloatToStr(m_value.z, -1);
    return 1;
}

// ---------------------------------------------------------------------------------------
// Colour

CPropItem_CRGBColour::CPropItem_CRGBColour() {
    m_nType = PROP_COLOUR;
}

int CPropItem_CRGBColour::Set(const CRGBColour& value) {
    Touch();
    // Colours that pack to the same value count as the same colour.
    if (static_cast<unsigned long>(value) == static_cast<unsigned long>(m_value)) {
        return 0;
    }
    m_value = value;
    return Changed();
}

int CPropItem_CRGBColour::Set(const std::string& text) {
    const std::vector<std::string> f = Fields(TrimQuotes(text));
    CRGBColour colour;
    colour.SetColour(FieldValue(f, 0), FieldValue(f, 1), FieldValue(f, 2), FieldValue(f, 3));
    return Set(colour);
}

int CPropItem_CRGBColour::Get(CRGBColour& value) {
    value = m_value;
    return 1;
}

int CPropItem_CRGBColour::Get(std::string& text) {
    text = FloatToStr(m_value.Red(), -1) + ", " + FloatToStr(m_value.Green(), -1) + ", " +
           FloatToStr(m_value.Blue(), -1) + ", " + FloatToStr(m_value.Alpha(), -1);
    return 1;
}

// ---------------------------------------------------------------------------------------
// Time stamp

CPropItem_COleDateTime::CPropItem_COleDateTime() {
    m_nType = PROP_TIMESTAMP;
}

int CPropItem_COleDateTime::Set(const COleDateTime& value) {
    Touch();
    if (value.GetStatus() == m_value.GetStatus() && value.m_dt == m_value.m_dt) {
        return 0;
    }
    m_value = value;
    return Changed();
}

int CPropItem_COleDateTime::Set(const std::string& text) {
    COleDateTime value;
    if (text.empty() || !tagbook::ParseDateTimeText(text, value)) {
        return 0;
    }
    return Set(value);
}

int CPropItem_COleDateTime::Get(COleDateTime& value) {
    value = m_value;
    return 1;
}

int CPropItem_COleDateTime::Get(std::string& text) {
    text.clear();
    if (m_value.GetStatus() != COleDateTime::valid) {
        return 0;
    }
    text = m_value.Format(
        EnglishNames(m_sFormat.empty() ? kDefaultFormat : m_sFormat, m_value).c_str());
    return 1;
}
