#include "mtobj/sentences/Tss1.h"

#include "mtobj/sentences/Fields.h"

namespace mtobj::telegrams {
namespace {
// The acceleration fields: "XXAAAA" (zeros without motion).
std::size_t AccelerationFields(char* out, const Motion* motion) {
    using namespace fields;
    if (motion == nullptr) {
        return Append(out, 0, "000000");
    }
    const int horizontal = RoundedWithin(
        motion->horizontalAcceleration * 100.0 / kHorizontalAccelerationUnit, 0, 0xFF);
    const int vertical = RoundedWithin(
        motion->verticalAcceleration * 100.0 / kVerticalAccelerationUnit, -0x8000, 0x7FFF);
    const std::size_t n = UpperHex(out, static_cast<unsigned>(horizontal), 2);
    return n + UpperHex(out + n, static_cast<unsigned>(vertical) & 0xFFFFU, 4);
}
}  // namespace

std::size_t FormatTSS1(char* out, float roll, float pitch, const Motion* motion) {
    using namespace fields;
    std::size_t n = Append(out, 0, ":");
    n += AccelerationFields(out + n, motion);
    out[n++] = ' ';
    n += HeaveFields(out + n, motion);
    n += SignedHundredths(out + n, roll);
    out[n++] = ' ';
    n += SignedHundredths(out + n, pitch);
    out[n++] = '\r';
    out[n++] = '\n';
    return n;
}

ParseResult ParseTSS1(std::string_view line) {
    using namespace fields;
    if (line.size() < 25 || line[0] != ':' || line[7] != ' ') {
        return Dropped(EDrop::Malformed);
    }
    for (std::size_t i = 1; i < 7; ++i) {
        if (!IsHexDigit(line[i])) {
            return Dropped(EDrop::BadNumber);
        }
    }
    std::size_t at = 8;
    double heave = 0;
    if (const auto drop = SignedHundredths(line.substr(0, 13), at, heave)) {
        return Dropped(*drop);
    }
    const char status = line[13];
    const bool settled = status == 'U' || status == 'G' || status == 'H' || status == 'F';
    const bool settling = status == 'u' || status == 'g' || status == 'h' || status == 'f';
    if (!settled && !settling) {
        return Dropped(EDrop::Malformed);
    }
    at = 14;
    double roll = 0;
    double pitch = 0;
    if (const auto drop = SignedHundredths(line, at, roll)) {
        return Dropped(*drop);
    }
    if (at >= line.size() || line[at] != ' ') {
        return Dropped(EDrop::Malformed);
    }
    ++at;
    if (const auto drop = SignedHundredths(line, at, pitch)) {
        return Dropped(*drop);
    }
    if (at != line.size()) {
        return Dropped(EDrop::Malformed);
    }
    if (settling) {
        return Dropped(EDrop::NotValid, std::string("TSS1 status ") + status + " (settling)");
    }
    if (!AttitudeInRange(roll, pitch)) {
        return Dropped(EDrop::OutOfRange);
    }
    Reading r;
    r.source = "TSS1";
    r.roll = roll;
    r.pitch = pitch;
    r.heave = heave;  // centimetres read as hundredths: metres
    // The accelerations, in TSS1's units.
    const auto hex = [line](std::size_t from, std::size_t count) {
        int value = 0;
        for (std::size_t i = from; i < from + count; ++i) {
            value = value * 16 + HexValue(line[i]);
        }
        return value;
    };
    const int horizontal = hex(1, 2);
    int vertical = hex(3, 4);
    if (vertical >= 0x8000) {
        vertical -= 0x10000;
    }
    r.motion = Motion{.heave = heave,
                      .verticalAcceleration = vertical * kVerticalAccelerationUnit / 100.0,
                      .horizontalAcceleration = horizontal * kHorizontalAccelerationUnit / 100.0,
                      .status = status};
    return Read(std::move(r));
}

const Sentence kTSS1{
    "TSS1", "TSS1",
    [](char* out, const Moment& m) { return FormatTSS1(out, m.roll, m.pitch, m.motion); },
    EAddress::Colon, ParseTSS1};

}  // namespace mtobj::telegrams
