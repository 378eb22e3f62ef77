#include "mtobj/sentences/Pashr.h"

#include <cctype>
#include <vector>

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

ParseResult ParsePASHR(std::string_view body) {
    using namespace fields;
    std::vector<std::string_view> f;
    // The address and 5 to 11 fields: through pitch at least.
    Fields(body, 12, f);
    if (f.size() < 4 || Trim(f[3]) != "T") {
        return Dropped(EDrop::Unknown);  // another of the sentences named PASHR
    }
    if (f.size() < 6 || f.size() > 12) {
        return Dropped(EDrop::Malformed);
    }
    Reading r;
    r.source = std::string(f[0]);
    double heading = 0;
    double roll = 0;
    double pitch = 0;
    if (const auto drop = HeadingField(f[2], heading)) {
        return Dropped(*drop);
    }
    for (auto [field, value] : {std::pair{f[4], &roll}, std::pair{f[5], &pitch}}) {
        if (const auto drop = Number(field, *value)) {
            return Dropped(*drop);
        }
    }
    if (!AttitudeInRange(roll, pitch)) {
        return Dropped(EDrop::OutOfRange);
    }
    double heave = 0;
    const ENumber hasHeave = f.size() > 6 ? ParseDecimal(f[6], heave) : ENumber::Empty;
    if (hasHeave == ENumber::Bad) {
        return Dropped(EDrop::BadNumber);
    }
    if (f.size() > 11 && Trim(f[11]) == "0") {
        return Dropped(EDrop::NotValid, "PASHR attitude status 0 (settling)");
    }
    r.heading = heading;
    r.roll = roll;
    r.pitch = pitch;
    if (hasHeave == ENumber::Ok) {
        r.heave = heave;
        r.motion = Motion{.heave = heave, .status = 'U'};
    }
    return Read(std::move(r));
}

const Sentence kPASHR{"PASHR", "PASHR", FormatPASHR, EAddress::Proprietary, ParsePASHR};

}  // namespace mtobj::telegrams
