#include "app/CJLatitudeEdit.h"

#include <QKeyEvent>
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "platform/Registry.h"
#include "utilon/Numbers.h"

namespace {
const std::string kDegree = "\xC2\xB0";  // the degree sign, one character
constexpr std::size_t kMaxUnitName = 255;

std::string Printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0) {
        std::vsnprintf(text.data(), text.size() + 1, format, args);
    }
    va_end(args);
    return text;
}

// One field: "%s%d.%df" with the zero flag or none, a width and the decimals.
std::string Field(double value, bool zeroPadded, int width, int decimals) {
    const std::string format = Printf("%%%s%d.%df", zeroPadded ? "0" : "", width, decimals);
    return Printf(format.c_str(), value);
}

// The text before the first separator; the rest (after it) goes back into text.
std::string TakeUntil(std::string& text, const std::string& separator) {
    const std::size_t at = text.find(separator);
    if (at == std::string::npos) {
        std::string piece = text;
        text.clear();
        return piece;
    }
    std::string piece = text.substr(0, at);
    text.erase(0, at + separator.size());
    return piece;
}

// The last field rounded; the field is of an absolute value, so never "-0".
double RoundField(double value, unsigned decimals) {
    return Round(value, decimals) + 0.0;
}

double PieceValue(std::string piece) {
    piece.erase(std::remove(piece.begin(), piece.end(), '_'), piece.end());
    return std::atof(piece.c_str());
}
}  // namespace

CCJLatitudeEdit::CCJLatitudeEdit(QWidget* parent) : CCJMaskEdit(parent) {
    SetMask();
}

void CCJLatitudeEdit::ReadUnits() {
    CRegKey key;
    if (key.Open(HKEY_CURRENT_USER, kUnitsKey, KEY_ALL_ACCESS) != ERROR_SUCCESS) {
        return;
    }
    const auto name = key.QueryString(kUnitNameValue);
    // A name longer than the suite's buffer cannot be read.
    if (!name || name->size() > kMaxUnitName) {
        return;
    }
    if (*name == "DDD MM.mmm") {
        m_nUnitFormat = DegreesMinutes;
    } else if (*name == "DDD.ddd") {
        m_nUnitFormat = Degrees;
    }
    m_nDecimalPlaces = 6;
    const std::string placesName = Printf(kDecPlacesValue, name->c_str());
    if (const auto places = key.QueryString(placesName)) {
        double value = 0;
        // Only a number counts; an absurd count is held to what an angle can use.
        if (IsNumeric(places->c_str(), &value) != 0 && std::isfinite(value)) {
            m_nDecimalPlaces = static_cast<int>(
                std::clamp(std::trunc(value), -1.0, static_cast<double>(kMaxDecimalPlaces)));
        }
    }
}

bool CCJLatitudeEdit::UnitsChanged() {
    const int format = m_nUnitFormat;
    const int places = m_nDecimalPlaces;
    ReadUnits();
    return format != m_nUnitFormat || places != m_nDecimalPlaces;
}

void CCJLatitudeEdit::SetMask() {
    ReadUnits();
    if (m_nDecimalPlaces < 0) {
        m_nDecimalPlaces = 3;
    }
    std::string decimalMask;
    std::string decimalLiteral;
    if (m_nDecimalPlaces > 0) {
        decimalMask = "." + std::string(static_cast<std::size_t>(m_nDecimalPlaces), '0');
        decimalLiteral = "." + std::string(static_cast<std::size_t>(m_nDecimalPlaces), '_');
    }
    std::string mask;
    std::string literal;
    switch (m_nUnitFormat) {
        case Degrees:
            mask = "000" + decimalMask + kDegree + "^";
            literal = "___" + decimalLiteral + kDegree + "_";
            break;
        case DegreesMinutes:
            mask = "000" + kDegree + "00" + decimalMask + "'^";
            literal = "___" + kDegree + "__" + decimalLiteral + "'_";
            break;
        default:
            mask = "000" + kDegree + "00'00" + decimalMask + "\"^";
            literal = "___" + kDegree + "__'__" + decimalLiteral + "\"_";
            break;
    }
    const QString qmask = QString::fromStdString(mask);
    const QString qliteral = QString::fromStdString(literal);
    SetEditMask(qmask, qliteral, qliteral);
    setMaxLength(static_cast<int>(qmask.size()));
}

double CCJLatitudeEdit::GetValue() const {
    std::string rest = text().toStdString();
    const double sign = rest.find('W') != std::string::npos ? -1.0 : 1.0;
    const double degrees = PieceValue(TakeUntil(rest, kDegree));
    const double minutes = PieceValue(TakeUntil(rest, "'"));
    const double seconds = PieceValue(TakeUntil(rest, "\""));
    return (seconds / 3600.0 + minutes / 60.0 + degrees) * sign;
}

void CCJLatitudeEdit::SetValue(double degrees) {
    const QString formatted = QString::fromStdString(FormatValue(degrees));
    // A value too wide for the mask (1000 degrees or more) is shown whole, not cut.
    if (formatted.size() > maxLength()) {
        setMaxLength(static_cast<int>(formatted.size()));
    }
    setText(formatted);
}

std::string CCJLatitudeEdit::FormatValue(double degrees) const {
    // No number: the empty mask, which reads back as 0.
    if (!std::isfinite(degrees)) {
        return GetLiteral().toStdString();
    }
    const int places = std::clamp(m_nDecimalPlaces, 0, kMaxDecimalPlaces);
    const double value = std::fabs(degrees);
    const unsigned decimals = static_cast<unsigned>(places);
    std::string text;
    switch (m_nUnitFormat) {
        case Degrees:
            text = Field(RoundField(value, decimals), false, places > 0 ? places + 4 : 3, places) +
                   kDegree;
            break;
        case DegreesMinutes: {
            double whole = std::trunc(value);
            double minutes = RoundField((value - whole) * 60.0, decimals);
            if (minutes >= 60.0) {
                minutes = 0.0;
                whole += 1.0;
            }
            text = Field(whole, false, 3, 0) + kDegree +
                   Field(minutes, true, places > 0 ? places + 3 : 2, places) + "'";
            break;
        }
        default: {
            double whole = std::trunc(value);
            const double allMinutes = (value - whole) * 60.0;
            double minutes = std::trunc(allMinutes);
            double seconds = RoundField((allMinutes - minutes) * 60.0, decimals);
            if (seconds >= 60.0) {
                seconds = 0.0;
                minutes += 1.0;
            }
            if (minutes >= 60.0) {
                minutes = 0.0;
                whole += 1.0;
            }
            text = Field(whole, false, 3, 0) + kDegree + Field(minutes, true, 2, 0) + "'" +
                   Field(seconds, true, places > 0 ? places + 3 : 2, places) + "\"";
            break;
        }
    }
    return text + (degrees < 0.0 ? "W" : "E");
}

bool CCJLatitudeEdit::ProcessMask(QChar& ch, int pos) const {
    if (IsInputPosition(pos) && GetEditMask()[pos] == QLatin1Char('^')) {
        // The reader looks for a capital W only: a typed w must arrive as W.
        const QChar upper = ch.toUpper();
        if (upper == QLatin1Char('W') || upper == QLatin1Char('E')) {
            ch = upper;
            return true;
        }
        return false;
    }
    return CCJMaskEdit::ProcessMask(ch, pos);
}

void CCJLatitudeEdit::keyPressEvent(QKeyEvent* event) {
    // The sign is the hemisphere letter's.
    if (event->text() == QLatin1String("-")) {
        event->accept();
        return;
    }
    CCJMaskEdit::keyPressEvent(event);
}
