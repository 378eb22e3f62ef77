// The heading and attitude sentences the telegram device reads, one parser each with its
// wire format drawn above it, and the combiner of headings with rolls and pitches.
#include "mtobj/TelegramSentences.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

namespace mtobj::telegrams {
namespace {

constexpr std::size_t kMaxFields = 24;

// Splits a sentence body at its commas (at most kMaxFields fields; more is malformed).
bool SplitFields(std::string_view body, std::vector<std::string_view>& fields) {
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

std::string_view Trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return text;
}

enum class ENumber { Ok, Empty, Bad };

// A signed decimal: [+-]digits[.digits] or [+-].digits, spaces around it allowed (PRDID
// pads its fields). Nothing else: no exponent, no "inf", no letters.
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

ParseResult Dropped(EDrop reason, std::string note = {}) {
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

// A heading field: a decimal in 0..360 (360 read as 0).
std::optional<EDrop> HeadingField(std::string_view field, double& heading) {
    switch (ParseDecimal(field, heading)) {
        case ENumber::Empty:
            return EDrop::Malformed;
        case ENumber::Bad:
            return EDrop::BadNumber;
        case ENumber::Ok:
            break;
    }
    if (heading < 0.0 || heading > 360.0) {
        return EDrop::OutOfRange;
    }
    if (heading == 360.0) {
        heading = 0.0;
    }
    return std::nullopt;
}

// An optional signed correction: value and E/W, both empty for none. East is positive.
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

double Wrap360(double degrees) {
    degrees = std::fmod(degrees, 360.0);
    return degrees < 0.0 ? degrees + 360.0 : degrees;
}

// The fields of a checked sentence, and whether there are exactly `count` of them (the
// address counted).
bool Fields(std::string_view body, std::size_t count, std::vector<std::string_view>& fields) {
    return SplitFields(body, fields) && fields.size() == count;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

int HexValue(char c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

// A TSS1 field of a sign (" ", "+" or "-") and 4 or 5 digits, in hundredths; `at` moves on.
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
    value = (negative ? -magnitude : magnitude) / 100.0;
    return std::nullopt;
}

}  // namespace

const char* DropName(EDrop reason) {
    switch (reason) {
        case EDrop::TooLong:
            return "too long";
        case EDrop::Binary:
            return "binary";
        case EDrop::Garbage:
            return "garbage";
        case EDrop::Checksum:
            return "checksum";
        case EDrop::Malformed:
            return "malformed";
        case EDrop::BadNumber:
            return "bad number";
        case EDrop::OutOfRange:
            return "out of range";
        case EDrop::NotValid:
            return "not valid";
        case EDrop::Unknown:
            return "unknown sentence";
        case EDrop::NoHeading:
            return "no heading";
        case EDrop::Magnetic:
            return "magnetic beside true";
        case EDrop::Count:
            break;
    }
    return "?";
}

// An NMEA sentence: "$" address and fields, then optionally "*" and two hex digits, the XOR
// of every character between "$" and "*".
//   $<body>*hh<CR><LF>
bool CheckNmeaChecksum(std::string_view sentence, std::string_view& body) {
    if (sentence.empty() || sentence.front() != '$') {
        return false;
    }
    sentence.remove_prefix(1);
    const std::size_t star = sentence.rfind('*');
    if (star == std::string_view::npos) {
        if (sentence.find('*') != std::string_view::npos) {
            return false;
        }
        body = sentence;
        return true;
    }
    const std::string_view given = sentence.substr(star + 1);
    if (given.size() != 2 || !IsHexDigit(given[0]) || !IsHexDigit(given[1])) {
        return false;
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i < star; ++i) {
        sum ^= static_cast<unsigned char>(sentence[i]);
    }
    if (sum != static_cast<unsigned>(HexValue(given[0]) * 16 + HexValue(given[1]))) {
        return false;
    }
    body = sentence.substr(0, star);
    return true;
}

namespace {
// A reading of one heading field from the sentence with that address.
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

// The two heading sentences share one shape, the unit letter telling them apart.
ParseResult OneHeading(std::string_view body, std::string_view unit) {
    std::vector<std::string_view> f;
    if (!Fields(body, 3, f) || Trim(f[2]) != unit) {
        return Dropped(EDrop::Malformed);
    }
    return HeadingReading(f[0], f[1], unit == "M");
}
}  // namespace

// Heading, true.
//   $--HDT,x.x,T*hh<CR><LF>
//          1   2
//   1 heading, degrees true   2 "T"
ParseResult ParseHDT(std::string_view body) {
    return OneHeading(body, "T");
}

// Heading, magnetic.
//   $--HDM,x.x,M*hh<CR><LF>
//          1   2
//   1 heading, degrees magnetic   2 "M"
ParseResult ParseHDM(std::string_view body) {
    return OneHeading(body, "M");
}

// Heading, deviation and variation.
//   $--HDG,x.x,x.x,a,x.x,a*hh<CR><LF>
//          1   2   3 4   5
//   1 magnetic sensor heading, degrees   2 deviation, degrees   3 "E" or "W"
//   4 variation, degrees                 5 "E" or "W"
// Magnetic heading = sensor heading + deviation (east positive); true heading = magnetic
// heading + variation. Without a variation the heading stays magnetic.
ParseResult ParseHDG(std::string_view body) {
    std::vector<std::string_view> f;
    if (!Fields(body, 6, f)) {
        return Dropped(EDrop::Malformed);
    }
    Reading r;
    r.source = std::string(f[0]);
    double heading = 0;
    if (const auto drop = HeadingField(f[1], heading)) {
        return Dropped(*drop);
    }
    double deviation = 0;
    double variation = 0;
    bool hasDeviation = false;
    bool hasVariation = false;
    if (const auto drop = Correction(f[2], f[3], deviation, hasDeviation)) {
        return Dropped(*drop);
    }
    if (const auto drop = Correction(f[4], f[5], variation, hasVariation)) {
        return Dropped(*drop);
    }
    r.heading = Wrap360(heading + deviation + variation);
    r.magnetic = !hasVariation;
    return Read(std::move(r));
}

// True heading and its mode.
//   $--THS,x.x,a*hh<CR><LF>
//          1   2
//   1 heading, degrees true
//   2 mode: A autonomous, E estimated (dead reckoning), M manual, S simulator, V not valid
// Only an autonomous heading is used.
ParseResult ParseTHS(std::string_view body) {
    std::vector<std::string_view> f;
    if (!Fields(body, 3, f) || Trim(f[2]).size() != 1) {
        return Dropped(EDrop::Malformed);
    }
    const char mode = Trim(f[2]).front();
    if (mode != 'A') {
        if (mode == 'E' || mode == 'M' || mode == 'S' || mode == 'V') {
            return Dropped(EDrop::NotValid, std::string("THS mode ") + mode);
        }
        return Dropped(EDrop::Malformed);
    }
    return HeadingReading(f[0], f[1], false);
}

// Pitch, roll and heading, as this module itself sends them.
//   $PRDID,ppp.ppp,rrr.rrr,hhh.hhh*hh<CR><LF>
//          1       2       3
//   1 pitch, degrees, bow up positive   2 roll, degrees   3 heading, degrees true
// Fields may be padded with spaces on the left ("  -1.500").
ParseResult ParsePRDID(std::string_view body) {
    std::vector<std::string_view> f;
    if (!Fields(body, 4, f)) {
        return Dropped(EDrop::Malformed);
    }
    Reading r;
    r.source = std::string(f[0]);
    double pitch = 0;
    double roll = 0;
    double heading = 0;
    for (auto [field, value] : {std::pair{f[1], &pitch}, std::pair{f[2], &roll}}) {
        switch (ParseDecimal(field, *value)) {
            case ENumber::Empty:
                return Dropped(EDrop::Malformed);
            case ENumber::Bad:
                return Dropped(EDrop::BadNumber);
            case ENumber::Ok:
                break;
        }
    }
    if (const auto drop = HeadingField(f[3], heading)) {
        return Dropped(*drop);
    }
    if (std::fabs(pitch) > 90.0 || std::fabs(roll) > 180.0) {
        return Dropped(EDrop::OutOfRange);
    }
    r.heading = heading;
    r.pitch = pitch;
    r.roll = roll;
    return Read(std::move(r));
}

// The TSS1 motion telegram: fixed columns, no checksum.
//   :XXAAAA SHHHHQSRRRR SPPPP<CR><LF>
//   0123456789012345678901234
//   1-2   XX    horizontal acceleration, hex     3-6  AAAA vertical acceleration, hex
//   8     S     heave sign (space, + or -)       9-12 HHHH heave, centimetres
//   13    Q     status: U, G, H, F settled (upper case); u, g, h, f settling (lower case)
//   14-18 SRRRR roll, sign and hundredths of a degree
//   20-24 SPPPP pitch, sign and hundredths of a degree
// A roll or pitch of 100 degrees or more takes five digits, as this module sends it.
ParseResult ParseTSS1(std::string_view line) {
    if (line.size() < 25 || line[0] != ':' || line[7] != ' ') {
        return Dropped(EDrop::Malformed);
    }
    for (std::size_t i = 1; i < 7; ++i) {
        if (!IsHexDigit(line[i])) {
            return Dropped(EDrop::BadNumber);
        }
    }
    std::size_t at = 8;
    double heave = 0;
    if (const auto drop = SignedHundredths(line.substr(0, 13), at, heave)) {
        return Dropped(*drop);
    }
    const char status = line[13];
    const bool settled = status == 'U' || status == 'G' || status == 'H' || status == 'F';
    const bool settling = status == 'u' || status == 'g' || status == 'h' || status == 'f';
    if (!settled && !settling) {
        return Dropped(EDrop::Malformed);
    }
    at = 14;
    double roll = 0;
    double pitch = 0;
    if (const auto drop = SignedHundredths(line, at, roll)) {
        return Dropped(*drop);
    }
    if (at >= line.size() || line[at] != ' ') {
        return Dropped(EDrop::Malformed);
    }
    ++at;
    if (const auto drop = SignedHundredths(line, at, pitch)) {
        return Dropped(*drop);
    }
    if (at != line.size()) {
        return Dropped(EDrop::Malformed);
    }
    if (settling) {
        return Dropped(EDrop::NotValid, std::string("TSS1 status ") + status + " (settling)");
    }
    if (std::fabs(pitch) > 90.0 || std::fabs(roll) > 180.0) {
        return Dropped(EDrop::OutOfRange);
    }
    Reading r;
    r.source = "TSS1";
    r.roll = roll;
    r.pitch = pitch;
    r.heave = heave;  // centimetres read as hundredths: metres
    // The accelerations, in TSS1's units.
    const auto hex = [line](std::size_t from, std::size_t count) {
        int value = 0;
        for (std::size_t i = from; i < from + count; ++i) {
            value = value * 16 + HexValue(line[i]);
        }
        return value;
    };
    const int horizontal = hex(1, 2);
    int vertical = hex(3, 4);
    if (vertical >= 0x8000) {
        vertical -= 0x10000;
    }
    r.motion = Motion{.heave = heave,
                      .verticalAcceleration = vertical * kVerticalAccelerationUnit / 100.0,
                      .horizontalAcceleration = horizontal * kHorizontalAccelerationUnit / 100.0,
                      .status = status};
    return Read(std::move(r));
}

ParseResult ParseLine(std::string_view line) {
    if (line.empty()) {
        return Dropped(EDrop::Malformed);
    }
    if (line.front() == ':') {
        return ParseTSS1(line);
    }
    if (line.front() != '$') {
        return Dropped(EDrop::Garbage);
    }
    std::string_view body;
    if (!CheckNmeaChecksum(line, body)) {
        return Dropped(EDrop::Checksum);
    }
    const std::string_view address = body.substr(0, body.find(','));
    if (address == "PRDID") {
        return ParsePRDID(body);
    }
    if (address.size() != 5 ||
        std::any_of(address.begin(), address.end(), [](char c) { return c < 'A' || c > 'Z'; })) {
        return Dropped(EDrop::Malformed);
    }
    const std::string_view sentence = address.substr(2);
    if (sentence == "HDT") {
        return ParseHDT(body);
    }
    if (sentence == "HDM") {
        return ParseHDM(body);
    }
    if (sentence == "HDG") {
        return ParseHDG(body);
    }
    if (sentence == "THS") {
        return ParseTHS(body);
    }
    return Dropped(EDrop::Unknown);
}

CSampleCombiner::Outcome CSampleCombiner::Add(const Reading& reading, double time) {
    Outcome outcome;
    if (reading.heading && !reading.magnetic) {
        m_seenTrue = true;
    } else if (reading.heading && m_seenTrue) {
        outcome.drop = EDrop::Magnetic;
        return outcome;
    }
    if (reading.heading && reading.roll && reading.pitch) {
        m_seenAttitude = true;
        m_heading = reading.heading;
        m_headingTime = time;
        m_attitudeUsed = true;
        outcome.sample = Sample{time, *reading.heading, *reading.pitch, *reading.roll, false};
        return outcome;
    }
    if (reading.roll && reading.pitch) {
        m_seenAttitude = true;
        m_attitude = std::pair{*reading.roll, *reading.pitch};
        m_attitudeTime = time;
        m_attitudeUsed = false;
        if (m_heading && std::fabs(time - m_headingTime) <= m_gapMs) {
            m_attitudeUsed = true;
            outcome.sample = Sample{time, *m_heading, reading.pitch.value(), reading.roll.value()};
        } else if (!m_heading) {
            outcome.drop = EDrop::NoHeading;
        }
        return outcome;
    }
    if (!reading.heading) {
        return outcome;
    }
    m_heading = reading.heading;
    m_headingTime = time;
    if (!m_seenAttitude && ++m_headingsAlone >= kHeadingsAlone) {
        outcome.sample = Sample{time, *m_heading, 0.0, 0.0, true};
    } else if (m_attitude && !m_attitudeUsed && std::fabs(time - m_attitudeTime) <= m_gapMs) {
        m_attitudeUsed = true;
        outcome.sample = Sample{time, *m_heading, m_attitude->second, m_attitude->first};
    }
    return outcome;
}

void CSampleCombiner::Reset() {
    m_heading.reset();
    m_attitude.reset();
    m_attitudeUsed = true;
}

void CSampleCombiner::Forget() {
    Reset();
    m_seenAttitude = false;
    m_seenTrue = false;
    m_headingsAlone = 0;
}

}  // namespace mtobj::telegrams
