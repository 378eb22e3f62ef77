// Reading the heading and attitude sentences of another instrument: the reasons a line is
// dropped, the NMEA checksum, the line's dispatch to its sentence's parser (the table of
// sentences), and the combiner of headings with rolls and pitches.
#include "mtobj/TelegramSentences.h"

#include <algorithm>
#include <cmath>

#include "mtobj/sentences/Fields.h"
#include "mtobj/sentences/Sentence.h"

namespace mtobj::telegrams {

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
    if (given.size() != 2 || !fields::IsHexDigit(given[0]) || !fields::IsHexDigit(given[1])) {
        return false;
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i < star; ++i) {
        sum ^= static_cast<unsigned char>(sentence[i]);
    }
    if (sum !=
        static_cast<unsigned>(fields::HexValue(given[0]) * 16 + fields::HexValue(given[1]))) {
        return false;
    }
    body = sentence.substr(0, star);
    return true;
}

ParseResult ParseLine(std::string_view line) {
    using fields::Dropped;
    if (line.empty()) {
        return Dropped(EDrop::Malformed);
    }
    const auto parse = [](EAddress address, std::string_view name,
                          std::string_view text) -> std::optional<ParseResult> {
        for (const Sentence* sentence : Sentences()) {
            if (sentence->parse != nullptr && sentence->address == address &&
                (address == EAddress::Colon || name == sentence->name)) {
                return sentence->parse(text);
            }
        }
        return std::nullopt;
    };
    if (line.front() == ':') {
        return parse(EAddress::Colon, {}, line).value_or(Dropped(EDrop::Unknown));
    }
    if (line.front() != '$') {
        return Dropped(EDrop::Garbage);
    }
    std::string_view body;
    if (!CheckNmeaChecksum(line, body)) {
        return Dropped(EDrop::Checksum);
    }
    const std::string_view address = body.substr(0, body.find(','));
    if (auto result = parse(EAddress::Proprietary, address, body)) {
        return std::move(*result);
    }
    if (address.size() != 5 ||
        std::any_of(address.begin(), address.end(), [](char c) { return c < 'A' || c > 'Z'; })) {
        return Dropped(EDrop::Malformed);
    }
    return parse(EAddress::Talker, address.substr(2), body).value_or(Dropped(EDrop::Unknown));
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
