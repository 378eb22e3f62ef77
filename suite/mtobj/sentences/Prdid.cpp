#include "mtobj/sentences/Prdid.h"

#include <vector>

#include "mtobj/sentences/Fields.h"

namespace mtobj::telegrams {

std::size_t FormatPRDID(char* out, float pitch, float roll, float trueHeading) {
    using namespace fields;
    std::size_t n = Append(out, 0, "$PRDID,");
    n += Fixed(out + n, pitch, 3, 8);
    out[n++] = ',';
    n += Fixed(out + n, roll, 3, 8);
    out[n++] = ',';
    n += Fixed(out + n, trueHeading, 3, 8);
    out[n++] = '*';
    return AppendChecksum(out, n);
}

ParseResult ParsePRDID(std::string_view body) {
    using namespace fields;
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
        if (const auto drop = Number(field, *value)) {
            return Dropped(*drop);
        }
    }
    if (const auto drop = HeadingField(f[3], heading)) {
        return Dropped(*drop);
    }
    if (!AttitudeInRange(roll, pitch)) {
        return Dropped(EDrop::OutOfRange);
    }
    r.heading = heading;
    r.pitch = pitch;
    r.roll = roll;
    return Read(std::move(r));
}

const Sentence kPRDID{
    "PRDID", "PRDID",
    [](char* out, const Moment& m) { return FormatPRDID(out, m.pitch, m.roll, m.trueHeading); },
    EAddress::Proprietary, ParsePRDID};

}  // namespace mtobj::telegrams
