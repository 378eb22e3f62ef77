// The telegram reader on a hostile byte stream, fed in pieces of any size: lines stay within
// their limit, every line read is either used or dropped for a named reason, readings stay
// in range, and the samples combined from them are finite and in range. The input's first
// bytes are also taken as a moment of any values (not a number, infinite, huge) that every
// sentence is written from: each fits its room, and what Tavimo reads back is read safely.
// Every line is also read as a GNSS receiver's RMC: a fix read has its time, speed, course
// and variation in range, and is put on the PC clock at a finite moment.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "FuzzSupport.h"
#include "mtobj/GroundVelocity.h"
#include "mtobj/TelegramSentences.h"
#include "mtobj/sentences/Sentence.h"

namespace {
void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

template <typename T>
T Take(const uint8_t*& data, std::size_t& size) {
    T value{};
    if (size >= sizeof(T)) {
        std::memcpy(&value, data, sizeof(T));
        data += sizeof(T);
        size -= sizeof(T);
    }
    return value;
}

void WriteEverySentence(const uint8_t* data, std::size_t size) {
    using namespace mtobj::telegrams;
    mtobj::Motion motion;
    motion.heave = Take<double>(data, size);
    motion.verticalAcceleration = Take<double>(data, size);
    motion.horizontalAcceleration = Take<double>(data, size);
    motion.status = Take<char>(data, size);
    Moment moment;
    moment.time = Take<double>(data, size);
    moment.roll = Take<float>(data, size);
    moment.pitch = Take<float>(data, size);
    moment.trueHeading = Take<float>(data, size);
    moment.magneticHeading = Take<float>(data, size);
    moment.variation = Take<float>(data, size);
    const auto flags = Take<uint8_t>(data, size);
    if ((flags & 1U) != 0) {
        moment.rateOfTurn = Take<float>(data, size);
    }
    if ((flags & 2U) != 0) {
        moment.motion = &motion;
    }
    for (const Sentence* sentence : Sentences()) {
        if (sentence->format == nullptr) {
            continue;
        }
        char out[kMaxSentenceLength + 1];
        const std::size_t n = sentence->format(out, moment);
        Check(n >= 2 && n < kMaxSentenceLength && out[n - 2] == '\r' && out[n - 1] == '\n');
        (void)ParseLine(std::string_view(out, n - 2));
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    using namespace mtobj::telegrams;
    WriteEverySentence(data, size);
    const std::string stream = tavimo_fuzz::Text(data + 1, size - 1);
    CLineReader reader;
    CSampleCombiner combiner(1.0 + data[0] % 200);
    mtobj::CFixClock fixClock;
    std::size_t piece = 1 + (data[0] >> 5);
    double time = 0;
    for (std::size_t at = 0; at < stream.size(); at += piece, piece = piece * 5 % 23 + 1) {
        const std::size_t n = std::min(piece, stream.size() - at);
        reader.Feed(
            stream.data() + at, n,
            [&](const CLineReader::Line& line) {
                Check(line.text.size() <= kMaxLine && line.bytes == line.text.size() + 1);
                Check(line.endIndex < n);
                if (const auto fix = mtobj::ParseRmc(line.text)) {
                    Check(fix->secondsOfDay >= 0.0 && fix->secondsOfDay < 86401.0);
                    Check(fix->speed >= 0.0 && fix->speed < 120.0);
                    Check(fix->course >= 0.0 && fix->course <= 360.0);
                    Check(!fix->variation || std::fabs(*fix->variation) <= 180.0);
                    Check(std::isfinite(fixClock.Moment(fix->secondsOfDay, 1.8e9 + time)));
                }
                const ParseResult result = ParseLine(line.text);
                if (!result.reading) {
                    Check(result.drop != EDrop::Count);
                    return;
                }
                const Reading& r = *result.reading;
                Check(!r.heading || (*r.heading >= 0.0 && *r.heading < 360.0));
                Check(!r.pitch || std::fabs(*r.pitch) <= 90.0);
                Check(!r.roll || std::fabs(*r.roll) <= 180.0);
                time += 7.0;
                const auto outcome = combiner.Add(r, time);
                if (outcome.sample) {
                    const Sample& s = *outcome.sample;
                    Check(std::isfinite(s.heading) && s.heading >= 0.0 && s.heading < 360.0);
                    Check(std::fabs(s.pitch) <= 90.0 && std::fabs(s.roll) <= 180.0);
                    Check(!s.headingOnly || (s.pitch == 0.0 && s.roll == 0.0));
                }
            },
            [](EDrop reason, std::string_view) {
                Check(reason == EDrop::TooLong || reason == EDrop::Binary);
            });
    }
    return 0;
}
