#include "mtobj/sentences/Rot.h"

#include <cmath>

#include "mtobj/sentences/Fields.h"

namespace mtobj::telegrams {

std::size_t FormatROT(char* out, std::optional<float> degreesPerMinute) {
    using namespace fields;
    std::size_t n = Append(out, 0, "$HCROT,");
    if (degreesPerMinute && std::isfinite(*degreesPerMinute)) {
        n += Fixed(out + n, *degreesPerMinute, 1);
        n = Append(out, n, ",A*");
    } else {
        n = Append(out, n, ",V*");
    }
    return AppendChecksum(out, n);
}

const Sentence kROT{"ROT", "ROT",
                    [](char* out, const Moment& m) { return FormatROT(out, m.rateOfTurn); },
                    EAddress::Talker, nullptr};

}  // namespace mtobj::telegrams
