#include "mtobj/sentences/Hdg.h"

#include <cmath>
#include <vector>

#include "mtobj/sentences/Fields.h"

namespace mtobj::telegrams {

std::size_t FormatHDG(char* out, float magneticHeading, float variation) {
    using namespace fields;
    std::size_t n = Append(out, 0, "$HCHDG,");
    n += Fixed(out + n, magneticHeading, 3, 7, true);
    n = Append(out, n, ",,,");
    // The sentence's variation is east positive; the module's is what true heading lacks.
    const double east = -static_cast<double>(variation);
    n += Fixed(out + n, std::fabs(east), 3);
    n = Append(out, n, east < 0.0 ? ",W*" : ",E*");
    return AppendChecksum(out, n);
}

ParseResult ParseHDG(std::string_view body) {
    using namespace fields;
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

const Sentence kHDG{
    "HDG", "HDG",
    [](char* out, const Moment& m) { return FormatHDG(out, m.magneticHeading, m.variation); },
    EAddress::Talker, ParseHDG};

}  // namespace mtobj::telegrams
