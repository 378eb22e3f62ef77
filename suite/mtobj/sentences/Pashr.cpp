#include "mtobj/sentences/Pashr.h"

#include <cctype>

#include "mtobj/sentences/Fields.h"

namespace mtobj::telegrams {

std::size_t FormatPASHR(char* out, const Moment& m) {
    using namespace fields;
    std::size_t n = Append(out, 0, "$PASHR,");
    n += TimeOfDay(out + n, m.time);
    out[n++] = ',';
    n += Fixed(out + n, m.trueHeading, 2, 6, true);
    n = Append(out, n, ",T,");
    n += Fixed(out + n, m.roll, 2, 0, false, true);
    out[n++] = ',';
    n += Fixed(out + n, m.pitch, 2, 0, false, true);
    out[n++] = ',';
    if (m.motion != nullptr) {
        n += Fixed(out + n, m.motion->heave, 2, 0, false, true);
    }
    const bool settling =
        m.motion != nullptr && std::islower(static_cast<unsigned char>(m.motion->status)) != 0;
    n = Append(out, n, settling ? ",,,,0,0*" : ",,,,0,1*");
    return AppendChecksum(out, n);
}

const Sentence kPASHR{"PASHR", "PASHR", FormatPASHR, EAddress::Proprietary, nullptr};

}  // namespace mtobj::telegrams
