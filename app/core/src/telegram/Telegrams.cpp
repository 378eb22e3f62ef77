#include "app/Telegrams.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const char* const g_szOutputTelegramNames[kOutputTelegramCount] = {
    "None", "HDM", "HDT", "TSS1", "TSS2", "PRDID", "HDT,TSS1", "HDM,TSS1"};

namespace telegrams {
namespace {

// Writes the decimal digits of n; returns the count.
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

// printf's "%0<width>.3f" (zeroPad) or "%<width>.3f" for a float, without printf: a float
// times 1000 is exact in a double, and rounding it to nearest-even is what printf does
// with the exact value.
std::size_t Fixed3(char* out, float value, int width, bool zeroPad) {
    const double v = value;
    if (!std::isfinite(v) || std::fabs(v) >= 1e15) {
        const int n = std::snprintf(out, 64, zeroPad ? "%0*.3f" : "%*.3f", width, v);
        return n > 0 ? (static_cast<std::size_t>(n) < 64 ? static_cast<std::size_t>(n) : 63) : 0;
    }
    const bool negative = std::signbit(v);
    const auto scaled = static_cast<std::uint64_t>(std::nearbyint(std::fabs(v) * 1000.0));
    char digits[24];
    const std::size_t intDigits = Digits(digits, scaled / 1000);
    const std::size_t length = (negative ? 1 : 0) + intDigits + 4;
    const std::size_t pad = static_cast<std::size_t>(width) > length ? width - length : 0;
    char* p = out;
    if (!zeroPad) {
        std::memset(p, ' ', pad);
        p += pad;
    }
    if (negative) {
        *p++ = '-';
    }
    if (zeroPad) {
        std::memset(p, '0', pad);
        p += pad;
    }
    std::memcpy(p, digits, intDigits);
    p += intDigits;
    const auto frac = static_cast<unsigned>(scaled % 1000);
    *p++ = '.';
    *p++ = static_cast<char>('0' + frac / 100);
    *p++ = static_cast<char>('0' + frac / 10 % 10);
    *p++ = static_cast<char>('0' + frac % 10);
    return static_cast<std::size_t>(p - out);
}

// printf's "%0<width>d".
std::size_t PaddedInt(char* out, int value, int width) {
    char* p = out;
    if (value < 0) {
        *p++ = '-';
        --width;
    }
    char digits[24];
    const std::uint64_t magnitude =
        value < 0 ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(value)) : value;
    const std::size_t count = Digits(digits, magnitude);
    for (int i = static_cast<int>(count); i < width; ++i) {
        *p++ = '0';
    }
    std::memcpy(p, digits, count);
    return static_cast<std::size_t>(p - out) + count;
}

// Hundredths of a degree, truncated toward zero. A value that is not a number gives 0 and
// one beyond five digits is held at 99999, so the field never overflows.
int Hundredths(double degrees) {
    const double h = std::trunc(degrees * 100.0);
    if (std::isnan(h)) {
        return 0;
    }
    if (h > 99999.0) {
        return 99999;
    }
    if (h < -99999.0) {
        return -99999;
    }
    return static_cast<int>(h);
}

// The sign and magnitude of a roll or pitch field: " 0225", "-0150".
std::size_t SignedHundredths(char* out, float angle) {
    out[0] = angle >= 0.0f ? ' ' : '-';  // not a number gives "-"
    return 1 + PaddedInt(out + 1, Hundredths(std::fabs(static_cast<double>(angle))), 4);
}

std::size_t Append(char* out, std::size_t at, const char* text) {
    const std::size_t n = std::strlen(text);
    std::memcpy(out + at, text, n);
    return at + n;
}

// A value rounded to the nearest whole unit and held within [low, high]; not a number gives 0.
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

// TSS1's acceleration fields: "XXAAAA" (zeros without motion).
std::size_t AccelerationFields(char* out, const mtobj::Motion* motion) {
    if (motion == nullptr) {
        return Append(out, 0, "000000");
    }
    const int horizontal = RoundedWithin(
        motion->horizontalAcceleration * 100.0 / mtobj::kHorizontalAccelerationUnit, 0, 0xFF);
    const int vertical = RoundedWithin(
        motion->verticalAcceleration * 100.0 / mtobj::kVerticalAccelerationUnit, -0x8000, 0x7FFF);
    std::size_t n = UpperHex(out, static_cast<unsigned>(horizontal), 2);
    return n + UpperHex(out + n, static_cast<unsigned>(vertical) & 0xFFFFU, 4);
}

// The heave and status fields: "SHHHHQ" (" 0000U" without motion).
std::size_t HeaveFields(char* out, const mtobj::Motion* motion) {
    if (motion == nullptr) {
        return Append(out, 0, " 0000U");
    }
    const int centimetres = RoundedWithin(motion->heave * 100.0, -9999, 9999);
    out[0] = centimetres < 0 ? '-' : ' ';
    std::size_t n = 1 + PaddedInt(out + 1, std::abs(centimetres), 4);
    const char status = motion->status;
    out[n++] = std::isalpha(static_cast<unsigned char>(status)) != 0 ? status : 'u';
    return n;
}

std::size_t HeadingSentence(char* out, const char* head, float heading, const char* tail) {
    std::size_t n = Append(out, 0, head);
    n += Fixed3(out + n, heading, 7, true);
    n = Append(out, n, tail);
    return AppendChecksum(out, n);
}

}  // namespace

std::size_t FormatHDT(char* out, float trueHeading) {
    return HeadingSentence(out, "$HCHDT,", trueHeading, ",T*");
}

std::size_t FormatHDM(char* out, float magneticHeading) {
    return HeadingSentence(out, "$HCHDM,", magneticHeading, ",M*");
}

std::size_t FormatPRDID(char* out, float pitch, float roll, float trueHeading) {
    std::size_t n = Append(out, 0, "$PRDID,");
    n += Fixed3(out + n, pitch, 8, false);
    out[n++] = ',';
    n += Fixed3(out + n, roll, 8, false);
    out[n++] = ',';
    n += Fixed3(out + n, trueHeading, 8, false);
    out[n++] = '*';
    return AppendChecksum(out, n);
}

std::size_t FormatTSS1(char* out, float roll, float pitch, const mtobj::Motion* motion) {
    std::size_t n = Append(out, 0, ":");
    n += AccelerationFields(out + n, motion);
    out[n++] = ' ';
    n += HeaveFields(out + n, motion);
    n += SignedHundredths(out + n, roll);
    out[n++] = ' ';
    n += SignedHundredths(out + n, pitch);
    out[n++] = '\r';
    out[n++] = '\n';
    return n;
}

std::size_t FormatTSS2(char* out, float trueHeading, float roll, float pitch,
                       const mtobj::Motion* motion) {
    std::size_t n = Append(out, 0, ":");
    n += PaddedInt(out + n, Hundredths(static_cast<double>(trueHeading)), 5);
    out[n++] = ' ';
    n += HeaveFields(out + n, motion);
    n += SignedHundredths(out + n, roll);
    out[n++] = ' ';
    n += SignedHundredths(out + n, pitch);
    n = Append(out, n, "F\r\n");
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
    text[length++] = hex[(checksum >> 4) & 0xF];
    text[length++] = hex[checksum & 0xF];
    text[length++] = '\r';
    text[length++] = '\n';
    return length;
}

void AppendChecksum(std::string& text) {
    const std::size_t length = text.size();
    text.resize(length + 4);
    AppendChecksum(text.data(), length);
}

}  // namespace telegrams
