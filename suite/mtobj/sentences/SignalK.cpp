#include "mtobj/sentences/SignalK.h"

#include <cmath>
#include <numbers>

#include "mtobj/sentences/Fields.h"

namespace mtobj::telegrams {
namespace {
constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;

std::size_t Radians(char* out, double degrees) {
    // No angle or rate of a vessel comes near a million radians: beyond that, or not a
    // number, the reader is told there is no value.
    constexpr double kNonsense = 1e6;
    const double radians = degrees * kRadiansPerDegree;
    if (!std::isfinite(radians) || std::fabs(radians) > kNonsense) {
        return fields::Append(out, 0, "null");
    }
    return fields::Fixed(out, radians, 6);
}
}  // namespace

std::size_t FormatSignalK(char* out, const Moment& m) {
    using namespace fields;
    std::size_t n = Append(out, 0, R"({"context":"vessels.self","updates":[{"$source":"tavimo",)");
    n = Append(out, n, R"("timestamp":")");
    n += IsoTime(out + n, m.time);
    n = Append(out, n, R"(","values":[{"path":"navigation.attitude","value":{"roll":)");
    n += Radians(out + n, m.roll);
    n = Append(out, n, R"(,"pitch":)");
    n += Radians(out + n, m.pitch);
    n = Append(out, n, R"(,"yaw":)");
    n += Radians(out + n, m.trueHeading);
    n = Append(out, n, R"(}},{"path":"navigation.headingTrue","value":)");
    n += Radians(out + n, m.trueHeading);
    n = Append(out, n, R"(},{"path":"navigation.headingMagnetic","value":)");
    n += Radians(out + n, m.magneticHeading);
    if (m.rateOfTurn) {
        n = Append(out, n, R"(},{"path":"navigation.rateOfTurn","value":)");
        n += Radians(out + n, static_cast<double>(*m.rateOfTurn) / 60.0);
    }
    return Append(out, n, "}]}]}\r\n");
}

const Sentence kSignalK{"SignalK", "Signal K", FormatSignalK, EAddress::Proprietary, nullptr};

}  // namespace mtobj::telegrams
