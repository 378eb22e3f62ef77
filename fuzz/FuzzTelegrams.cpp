// The telegram reader on a hostile byte stream, fed in pieces of any size: lines stay within
// their limit, every line read is either used or dropped for a named reason, readings stay
// in range, and the samples combined from them are finite and in range.
#include <cmath>
#include <cstdlib>

#include "FuzzSupport.h"
#include "mtobj/TelegramSentences.h"

namespace {
void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    using namespace mtobj::telegrams;
    const std::string stream = tavimo_fuzz::Text(data + 1, size - 1);
    CLineReader reader;
    CSampleCombiner combiner(1.0 + data[0] % 200);
    std::size_t piece = 1 + (data[0] >> 5);
    double time = 0;
    for (std::size_t at = 0; at < stream.size(); at += piece, piece = piece * 5 % 23 + 1) {
        const std::size_t n = std::min(piece, stream.size() - at);
        reader.Feed(
            stream.data() + at, n,
            [&](const CLineReader::Line& line) {
                Check(line.text.size() <= kMaxLine && line.bytes == line.text.size() + 1);
                Check(line.endIndex < n);
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
