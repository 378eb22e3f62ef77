// Reading heading and attitude telegrams that another instrument sends (a gyrocompass, a
// satellite compass, a motion sensor): lines cut from a byte stream, NMEA checksums, one
// parser per sentence, and the combiner that makes one sample from a heading and a roll and
// pitch that arrive in different sentences. No I/O here: the telegram device feeds bytes in
// and the PC time at which they arrived.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "mtobj/Motion.h"

namespace mtobj::telegrams {

// Why a line was not used. Every line read ends in exactly one of: used, or one of these.
enum class EDrop : std::uint8_t {
    TooLong,     // longer than kMaxLine: the rest up to the next line end goes with it
    Binary,      // a byte with the high bit set or a control character
    Garbage,     // neither "$" nor ":" at its start
    Checksum,    // "*hh" present and wrong, or not two hex digits
    Malformed,   // a field missing, empty where a value is needed, or of the wrong length
    BadNumber,   // a number field holding anything but a signed decimal
    OutOfRange,  // heading outside 0..360, pitch outside -90..90, roll outside -180..180
    NotValid,    // the sender marks it so: THS mode other than A, TSS1 status in lower case
    Unknown,     // a sentence this reader does not use
    NoHeading,   // roll and pitch with no heading sentence on the line to go with them
    Magnetic,    // a magnetic heading from a sender that also gives a true one
    Count
};
inline constexpr std::size_t kDropReasons = static_cast<std::size_t>(EDrop::Count);
// The reason's name in traces and counters: "too long", "checksum", ...
const char* DropName(EDrop reason);

// The longest line read, line end not counted: NMEA's 82 characters with slack for senders
// that pad their fields. Memory stays this size whatever the stream holds.
inline constexpr std::size_t kMaxLine = 120;

// Cuts lines out of a byte stream. A line ends at CR or LF (CR LF gives one line); empty
// lines are skipped. A line longer than kMaxLine is dropped whole, up to its end, however
// long it runs; so is one that holds bytes that do not belong in a telegram. Feed calls
// onLine(Line) for each line and onDrop(EDrop, first bytes) for each line dropped.
class CLineReader {
public:
    // One complete line: its text (no line end), the bytes it took on the line including
    // the terminator, and the index in the fed block of that terminator.
    struct Line {
        std::string_view text;
        std::size_t bytes;
        std::size_t endIndex;

        // The PC time (ms) the line began to arrive, from the time the read of `count` bytes
        // that ended it returned and one character's time on the line: its last byte came
        // (count - 1 - endIndex) characters before the read returned, and the line began
        // its own length before that.
        double StartMs(double readMs, std::size_t count, double charMs) const {
            return readMs - charMs * static_cast<double>(count - 1 - endIndex + bytes);
        }
    };

    template <typename OnLine, typename OnDrop>
    void Feed(const char* data, std::size_t size, OnLine&& onLine, OnDrop&& onDrop) {
        for (std::size_t i = 0; i < size; ++i) {
            const auto c = static_cast<unsigned char>(data[i]);
            if (c == '\r' || c == '\n') {
                if (m_length == 0 && !m_tooLong && !m_binary) {
                    continue;  // the LF of CR LF, or a blank line
                }
                const std::size_t bytes = m_length + 1;
                if (m_tooLong || m_binary) {
                    // The drop is told the line's first kMaxLine bytes too, for the trace.
                    onDrop(m_tooLong ? EDrop::TooLong : EDrop::Binary,
                           std::string_view(m_buffer.data(), m_length));
                } else {
                    onLine(Line{std::string_view(m_buffer.data(), m_length), bytes, i});
                }
                m_length = 0;
                m_tooLong = m_binary = false;
                continue;
            }
            if (c >= 0x80 || c < 0x20) {
                m_binary = true;
            }
            if (m_length < kMaxLine) {
                m_buffer[m_length++] = static_cast<char>(c);
            } else {
                m_tooLong = true;
            }
        }
    }
    // Forgets a line in progress (the port was reopened or input thrown away).
    void Reset() {
        m_length = 0;
        m_tooLong = m_binary = false;
    }

private:
    std::array<char, kMaxLine> m_buffer{};
    std::size_t m_length = 0;
    bool m_tooLong = false;
    bool m_binary = false;
};

// What one line says. A heading is true (north) unless `magnetic`; a line can carry a
// heading, roll and pitch, or both.
struct Reading {
    std::string source;  // talker and sentence, "HEHDT", or the name of a proprietary one, "TSS1"
    std::optional<double> heading;
    bool magnetic = false;
    std::optional<double> roll;
    std::optional<double> pitch;
    std::optional<double> heave;  // metres, TSS1 only
    // A motion telegram's heave, accelerations and status letter, as the sender gave them
    // (TSS1), to be passed on.
    std::optional<Motion> motion;
};

// Reads one line with the parser of its sentence (mtobj/sentences/); the reason when it
// cannot be used.
struct ParseResult {
    std::optional<Reading> reading;
    EDrop drop = EDrop::Malformed;
    std::string note;  // for a NotValid line: what the sender said, for the trace
};
ParseResult ParseLine(std::string_view line);

// Checks "*hh" at the end of an NMEA sentence ("$" ... "*hh"), either case of hex digit.
// On success `body` is the text between "$" and "*" (or after "$" when there is no "*").
bool CheckNmeaChecksum(std::string_view sentence, std::string_view& body);

// One sample: heading, pitch and roll in degrees, at the PC time (ms) of its newest part.
struct Sample {
    double time = 0;
    double heading = 0;
    double pitch = 0;
    double roll = 0;
    bool headingOnly = false;  // the sender gives no roll and pitch: they are 0
};

// Makes samples from readings. A reading with heading, roll and pitch is a sample at once.
// Otherwise a sample is made when a roll and pitch arrive within `gapMs` of a heading, or
// when a heading arrives within `gapMs` of a roll and pitch not used yet; so a sender that
// sends heading and attitude once a cycle gives one sample a cycle, in either order, and a
// fast motion sensor beside a slow compass gives a sample for each roll and pitch. A sender
// heard to send three headings and no roll and pitch sends headings only: from then on each
// heading is a sample with roll and pitch 0 (never at the start of a stream whose roll and
// pitch simply come second). Once a true heading has been seen, magnetic ones are no longer
// used.
class CSampleCombiner {
public:
    explicit CSampleCombiner(double gapMs = 100.0) : m_gapMs(gapMs) {}

    // What a reading made: a sample, or nothing (and why, when the reading is not used).
    struct Outcome {
        std::optional<Sample> sample;
        std::optional<EDrop> drop;  // NoHeading or Magnetic: the reading is not used
    };
    Outcome Add(const Reading& reading, double time);
    // Forgets the parts waiting to be combined (they are old), not what the sender sends.
    void Reset();
    // Forgets everything: another sender may be on the line.
    void Forget();

    bool SeenAttitude() const { return m_seenAttitude; }
    double GapMs() const { return m_gapMs; }

private:
    static constexpr int kHeadingsAlone = 3;
    double m_gapMs;
    int m_headingsAlone = 0;
    bool m_seenAttitude = false;
    bool m_seenTrue = false;
    std::optional<double> m_heading;  // newest heading and its time
    double m_headingTime = 0;
    std::optional<std::pair<double, double>> m_attitude;  // newest roll, pitch not yet used
    double m_attitudeTime = 0;
    bool m_attitudeUsed = true;
};

}  // namespace mtobj::telegrams
