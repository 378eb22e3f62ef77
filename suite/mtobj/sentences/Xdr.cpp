#include "mtobj/sentences/Xdr.h"

#include "mtobj/sentences/Fields.h"

namespace mtobj::telegrams {

std::size_t FormatXDR(char* out, float pitch, float roll) {
    using namespace fields;
    std::size_t n = Append(out, 0, "$HCXDR,A,");
    n += Fixed(out + n, pitch, 2);
    n = Append(out, n, ",D,PTCH,A,");
    n += Fixed(out + n, roll, 2);
    n = Append(out, n, ",D,ROLL*");
    return AppendChecksum(out, n);
}

const Sentence kXDR{"XDR", "XDR",
                    [](char* out, const Moment& m) { return FormatXDR(out, m.pitch, m.roll); },
                    EAddress::Talker, nullptr};

}  // namespace mtobj::telegrams
