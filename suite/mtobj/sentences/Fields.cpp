#include "mtobj/sentences/Fields.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace mtobj::telegrams::fields {

// ---- Writing ----------------------------------------------------------------------------

std::size_t Append(char* out, std::size_t at, std::string_view text) {
    std::memcpy(out + at, text.data(), text.size());
    return at + text.size();
}

namespace {
// Decimal digits of n; returns the count.
std::size_t Digits(char* out, std::uint64_t n) {
    char reversed[24];
    std::size_t count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n != 0);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = reversed[count - 1 - i];
    }
    return count;
}
}  // namespace

// A float times 10^decimals (up to 6) is exact in a double, and rounding it to nearest-even is
// what printf does with the exact value.
std::size_t Fixed(char* out, double value, int decimals, int width, bool zeroPad, bool plus) {
    decimals = std::clamp(decimals, 0, 6);
    static constexpr std::uint64_t kScale[] = {1, 10, 100, 1000, 10000, 100000, 1000000};
    const std::uint64_t scale = kScale[decimals];
    // Beyond 1e18 scaled units the whole number no longer fits the digits below: printf
    // writes it (clipped to 63 characters; such a value is nonsense, but the room holds).
    if (!std::isfinite(value) || std::fabs(value) * static_cast<double>(scale) >= 1e18) {
        char format[16];
        std::snprintf(format, sizeof(format), "%%%s%s*.%df", plus ? "+" : "", zeroPad ? "0" : "",
                      decimals);
        const int n = std::snprintf(out, 64, format, width, value);
        return n > 0 ? std::min<std::size_t>(static_cast<std::size_t>(n), 63) : 0;
    }
    const bool negative = std::signbit(value);
    const auto scaled =
        static_cast<std::uint64_t>(std::nearbyint(std::fabs(value) * static_cast<double>(scale)));
    char digits[24];
    const std::size_t intDigits = Digits(digits, scaled / scale);
    const bool sign = negative || plus;
    const std::size_t length = (sign ? 1 : 0) + intDigits + (decimals > 0 ? decimals + 1 : 0);
    const std::size_t pad =
        static_cast<std::size_t>(width) > length ? static_cast<std::size_t>(width) - length : 0;
    char* p = out;
    if (!zeroPad) {
        std::memset(p, ' ', pad);
        p += pad;
    }
    if (sign) {
        *p++ = negative ? '-' : '+';
    }
    if (zeroPad) {
        std::memset(p, '0', pad);
        p += pad;
    }
    std::memcpy(p, digits, intDigits);
    p += intDigits;
    if (decimals > 0) {
        *p++ = '.';
        std::uint64_t fraction = scaled % scale;
        for (std::uint64_t unit = scale / 10; unit > 0; unit /= 10) {
            *p++ = static_cast<char>('0' + fraction / unit);
            fraction %= unit;
        }
    }
    return static_cast<std::size_t>(p - out);
}

std::size_t PaddedInt(char* out, int value, int width) {
    char* p = out;
    if (value < 0) {
        *p++ = '-';
        --width;
    }
    char digits[24];
    const std::uint64_t magnitude =
        value < 0 ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(value))
                  : static_cast<std::uint64_t>(value);
    const std::size_t count = Digits(digits, magnitude);
    for (int i = static_cast<int>(count); i < width; ++i) {
        *p++ = '0';
    }
    std::memcpy(p, digits, count);
    return static_cast<std::size_t>(p - out) + count;
}

int Hundredths(double degrees) {
    const double h = std::trunc(degrees * 100.0);
    if (std::isnan(h)) {
        return 0;
    }
    return static_cast<int>(std::clamp(h, -99999.0, 99999.0));
}

int RoundedWithin(double value, int low, int high) {
    if (std::isnan(value)) {
        return 0;
    }
    return static_cast<int>(
        std::lround(std::clamp(value, static_cast<double>(low), static_cast<double>(high))));
}

std::size_t UpperHex(char* out, unsigned value, int digits) {
    static const char hex[] = "0123456789ABCDEF";
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = hex[value & 0xFU];
        value >>= 4U;
    }
    return static_cast<std::size_t>(digits);
}

std::size_t SignedHundredths(char* out, float angle) {
    out[0] = angle >= 0.0F ? ' ' : '-';  // not a number gives "-"
    return 1 + PaddedInt(out + 1, Hundredths(std::fabs(static_cast<double>(angle))), 4);
}

std::size_t HeaveFields(char* out, const Motion* motion) {
    if (motion == nullptr) {
        return Append(out, 0, " 0000U");
    }
    const int centimetres = RoundedWithin(motion->heave * 100.0, -9999, 9999);
    out[0] = centimetres < 0 ? '-' : ' ';
    std::size_t n = 1 + PaddedInt(out + 1, std::abs(centimetres), 4);
    const char status = motion->status;
    const bool letter = (status >= 'A' && status <= 'Z') || (status >= 'a' && status <= 'z');
    out[n++] = letter ? status : 'u';
    return n;
}

namespace {
// Whole milliseconds since 1970 split into a civil date and a time of day (UTC); a time
// that is not finite or lies outside years 1970 to 9999 is taken as 1970-01-01.
struct Civil {
    int year;
    unsigned month, day;
    long long msOfDay;
};
Civil ToCivil(double pcMilliseconds) {
    constexpr double kLast = 253402300799999.0;  // 9999-12-31T23:59:59.999Z
    const double clamped =
        std::isfinite(pcMilliseconds) ? std::clamp(std::round(pcMilliseconds), 0.0, kLast) : 0.0;
    const auto ms = static_cast<long long>(clamped);
    constexpr long long kMsPerDay = 86400000LL;
    const std::chrono::sys_days days{std::chrono::days{ms / kMsPerDay}};
    const std::chrono::year_month_day date{days};
    return {static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
            static_cast<unsigned>(date.day()), ms % kMsPerDay};
}
}  // namespace

std::size_t TimeOfDay(char* out, double pcMilliseconds) {
    const long long ms = ToCivil(pcMilliseconds).msOfDay;
    std::size_t n = PaddedInt(out, static_cast<int>(ms / 3600000), 2);
    n += PaddedInt(out + n, static_cast<int>(ms / 60000 % 60), 2);
    n += PaddedInt(out + n, static_cast<int>(ms / 1000 % 60), 2);
    out[n++] = '.';
    return n + PaddedInt(out + n, static_cast<int>(ms % 1000), 3);
}

std::size_t IsoTime(char* out, double pcMilliseconds) {
    const Civil c = ToCivil(pcMilliseconds);
    std::size_t n = PaddedInt(out, c.year, 4);
    out[n++] = '-';
    n += PaddedInt(out + n, static_cast<int>(c.month), 2);
    out[n++] = '-';
    n += PaddedInt(out + n, static_cast<int>(c.day), 2);
    out[n++] = 'T';
    n += PaddedInt(out + n, static_cast<int>(c.msOfDay / 3600000), 2);
    out[n++] = ':';
    n += PaddedInt(out + n, static_cast<int>(c.msOfDay / 60000 % 60), 2);
    out[n++] = ':';
    n += PaddedInt(out + n, static_cast<int>(c.msOfDay / 1000 % 60), 2);
    out[n++] = '.';
    n += PaddedInt(out + n, static_cast<int>(c.msOfDay % 1000), 3);
    out[n++] = 'Z';
    return n;
}

std::size_t AppendChecksum(char* text, std::size_t length) {
    unsigned checksum = 0;
    if (length > 2) {
        for (std::size_t i = 1; i + 1 < length; ++i) {
            checksum ^= static_cast<unsigned char>(text[i]);
        }
    }
    static const char hex[] = "0123456789abcdef";
    text[length++] = hex[(checksum >> 4U) & 0xFU];
    text[length++] = hex[checksum & 0xFU];
    text[length++] = '\r';
    text[length++] = '\n';
    return length;
}

void AppendChecksum(std::string& text) {
    const std::size_t length = text.size();
    text.resize(length + 4);
    AppendChecksum(text.data(), length);
}

double Wrap360(double degrees) {
    degrees = std::fmod(degrees, 360.0);
    return degrees < 0.0 ? degrees + 360.0 : degrees;
}

std::size_t HeadingSentence(char* out, std::string_view head, float heading,
                            std::string_view tail) {
    std::size_t n = Append(out, 0, head);
    n += Fixed(out + n, heading, 3, 7, true);
    n = Append(out, n, tail);
    return AppendChecksum(out, n);
}

// ---- Reading ----------------------------------------------------------------------------

ParseResult Dropped(EDrop reason, std::string note) {
    ParseResult result;
    result.drop = reason;
    result.note = std::move(note);
    return result;
}

ParseResult Read(Reading reading) {
    ParseResult result;
    result.reading = std::move(reading);
    return result;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return text;
}

bool SplitFields(std::string_view body, std::vector<std::string_view>& fields) {
    constexpr std::size_t kMaxFields = 24;
    fields.clear();
    std::size_t start = 0;
    for (;;) {
        if (fields.size() == kMaxFields) {
            return false;
        }
        const std::size_t comma = body.find(',', start);
        fields.push_back(body.substr(
            start, comma == std::string_view::npos ? body.size() - start : comma - start));
        if (comma == std::string_view::npos) {
            return true;
        }
        start = comma + 1;
    }
}

bool Fields(std::string_view body, std::size_t count, std::vector<std::string_view>& fields) {
    return SplitFields(body, fields) && fields.size() == count;
}

ENumber ParseDecimal(std::string_view field, double& value) {
    field = Trim(field);
    if (field.empty()) {
        return ENumber::Empty;
    }
    bool negative = false;
    if (field.front() == '+' || field.front() == '-') {
        negative = field.front() == '-';
        field.remove_prefix(1);
    }
    std::size_t digits = 0;
    std::size_t dots = 0;
    for (const char c : field) {
        if (c >= '0' && c <= '9') {
            ++digits;
        } else if (c == '.') {
            ++dots;
        } else {
            return ENumber::Bad;
        }
    }
    if (digits == 0 || dots > 1 || digits > 15) {
        return ENumber::Bad;
    }
    double magnitude = 0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), magnitude,
                                              std::chars_format::fixed);
    if (error != std::errc() || end != field.data() + field.size()) {
        return ENumber::Bad;
    }
    value = negative ? -magnitude : magnitude;
    return ENumber::Ok;
}

std::optional<EDrop> Number(std::string_view field, double& value) {
    switch (ParseDecimal(field, value)) {
        case ENumber::Empty:
            return EDrop::Malformed;
        case ENumber::Bad:
            return EDrop::BadNumber;
        case ENumber::Ok:
            break;
    }
    return std::nullopt;
}

std::optional<EDrop> HeadingField(std::string_view field, double& heading) {
    if (const auto drop = Number(field, heading)) {
        return drop;
    }
    if (heading < 0.0 || heading > 360.0) {
        return EDrop::OutOfRange;
    }
    if (heading == 360.0) {
        heading = 0.0;
    }
    return std::nullopt;
}

std::optional<EDrop> Correction(std::string_view value, std::string_view side, double& degrees,
                                bool& given) {
    given = false;
    degrees = 0.0;
    switch (ParseDecimal(value, degrees)) {
        case ENumber::Empty:
            return Trim(side).empty() ? std::nullopt : std::optional(EDrop::Malformed);
        case ENumber::Bad:
            return EDrop::BadNumber;
        case ENumber::Ok:
            break;
    }
    if (degrees < 0.0 || degrees > 180.0) {
        return EDrop::OutOfRange;
    }
    side = Trim(side);
    if (side == "W") {
        degrees = -degrees;
    } else if (side != "E") {
        return EDrop::Malformed;
    }
    given = true;
    return std::nullopt;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

int HexValue(char c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

std::optional<EDrop> SignedHundredths(std::string_view line, std::size_t& at, double& value) {
    if (at >= line.size() || (line[at] != ' ' && line[at] != '+' && line[at] != '-')) {
        return EDrop::Malformed;
    }
    const bool negative = line[at++] == '-';
    std::size_t digits = 0;
    long magnitude = 0;
    while (at < line.size() && line[at] != ' ') {
        if (line[at] < '0' || line[at] > '9') {
            return EDrop::BadNumber;
        }
        magnitude = magnitude * 10 + (line[at++] - '0');
        if (++digits > 5) {
            return EDrop::Malformed;
        }
    }
    if (digits < 4) {
        return EDrop::Malformed;
    }
    value = static_cast<double>(negative ? -magnitude : magnitude) / 100.0;
    return std::nullopt;
}

ParseResult HeadingReading(std::string_view address, std::string_view field, bool magnetic) {
    Reading r;
    r.source = std::string(address);
    double heading = 0;
    if (const auto drop = HeadingField(field, heading)) {
        return Dropped(*drop);
    }
    r.heading = heading;
    r.magnetic = magnetic;
    return Read(std::move(r));
}

ParseResult OneHeading(std::string_view body, std::string_view unit) {
    std::vector<std::string_view> f;
    if (!Fields(body, 3, f) || Trim(f[2]) != unit) {
        return Dropped(EDrop::Malformed);
    }
    return HeadingReading(f[0], f[1], unit == "M");
}

bool AttitudeInRange(double roll, double pitch) {
    return std::fabs(pitch) <= 90.0 && std::fabs(roll) <= 180.0;
}

}  // namespace mtobj::telegrams::fields
