#include "mtobj/sentences/Tss2.h"

#include "mtobj/sentences/Fields.h"

namespace mtobj::telegrams {

std::size_t FormatTSS2(char* out, float trueHeading, float roll, float pitch,
                       const Motion* motion) {
    using namespace fields;
    std::size_t n = Append(out, 0, ":");
    n += PaddedInt(out + n, Hundredths(static_cast<double>(trueHeading)), 5);
    out[n++] = ' ';
    n += HeaveFields(out + n, motion);
    n += SignedHundredths(out + n, roll);
    out[n++] = ' ';
    n += SignedHundredths(out + n, pitch);
    return Append(out, n, "F\r\n");
}

const Sentence kTSS2{"TSS2", "TSS2",
                     [](char* out, const Moment& m) {
                         return FormatTSS2(out, m.trueHeading, m.roll, m.pitch, m.motion);
                     },
                     EAddress::Colon, nullptr};

}  // namespace mtobj::telegrams
