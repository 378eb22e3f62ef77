#include "filter/Calibration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <optional>

#include "Math.h"

namespace attfilter {
namespace {

// What a magnetometer fit must reach to be trusted.
constexpr std::size_t kMinFitSamples = 50;
constexpr double kMinCoverageDegrees = 330.0;
// Less of a turn than this is no turn at all (degrees).
constexpr double kNoTurnDegrees = 30.0;
constexpr double kMaxResidual = 0.03;
constexpr double kMaxAxisRatio = 3.0;
constexpr int kCoverageBins = 36;
// RMS lean during the circle below which the vertical hard iron is left alone (radians).
constexpr double kMinLeanForVertical = 1.0 * kDeg;
// Rounds of fitting: each removes the hard iron found so far before levelling again.
constexpr int kFitPasses = 8;

// The rotation that levels the body (turns the measured up onto z) without turning it about
// the vertical: the bow's horizontal direction stays the frame's x.
Mat3 Leveller(const Vec3& upInBody) {
    const Vec3 up = Normalised(upInBody);
    Vec3 bow = Sub(Vec3{1, 0, 0}, Scale(up, up.x));
    bow = Normalised(bow);
    const Vec3 left = Cross(up, bow);
    return {bow.x, bow.y, bow.z, left.x, left.y, left.z, up.x, up.y, up.z};
}

struct Ellipse {
    double cx = 0, cy = 0;
    std::array<double, 4> toCircle{1, 0, 0, 1};  // row-major 2×2
    double radius = 0;
    double axisRatio = 1;
};

// Least-squares conic A x² + B xy + C y² + D x + E y = 1 through the points; false when the
// points do not describe an ellipse.
bool FitEllipse(const std::vector<std::array<double, 2>>& points, Ellipse& e, std::string& why) {
    double mx = 0, my = 0;
    for (const auto& p : points) {
        mx += p[0];
        my += p[1];
    }
    mx /= static_cast<double>(points.size());
    my /= static_cast<double>(points.size());
    double spread = 0;
    for (const auto& p : points) {
        spread = std::max(spread, std::hypot(p[0] - mx, p[1] - my));
    }
    if (spread <= 0) {
        why = "the field did not change while turning";
        return false;
    }
    std::array<std::array<double, 5>, 5> n{};
    std::array<double, 5> rhs{};
    for (const auto& p : points) {
        const double x = (p[0] - mx) / spread;
        const double y = (p[1] - my) / spread;
        const std::array<double, 5> row{x * x, x * y, y * y, x, y};
        for (int i = 0; i < 5; ++i) {
            for (int j = 0; j < 5; ++j) {
                n[i][j] += row[i] * row[j];
            }
            rhs[i] += row[i];
        }
    }
    std::array<double, 5> c{};
    if (!Solve<5>(n, rhs, c)) {
        why = "the field's points lie on no ellipse";
        return false;
    }
    const double a = c[0], b = c[1] / 2, cc = c[2];
    const double det = a * cc - b * b;
    if (!(det > 0) || !(a + cc > 0)) {
        why = "the field's points lie on no ellipse";
        return false;
    }
    // Centre: gradient zero.
    const double x0 = -(cc * c[3] - b * c[4]) / (2 * det);
    const double y0 = -(a * c[4] - b * c[3]) / (2 * det);
    const double k = 1 + a * x0 * x0 + 2 * b * x0 * y0 + cc * y0 * y0;
    if (!(k > 0)) {
        why = "the field's points lie on no ellipse";
        return false;
    }
    // (p - c)ᵀ M (p - c) = 1 with M = [a b; b cc] / k; its square root maps it to a unit circle.
    const double ma = a / k, mb = b / k, mc = cc / k;
    const double md = ma * mc - mb * mb;
    const double sd = std::sqrt(md);
    const double t = std::sqrt(ma + mc + 2 * sd);
    const double half = std::sqrt(std::max(0.0, (ma - mc) * (ma - mc) / 4 + mb * mb));
    const double l1 = (ma + mc) / 2 + half;
    const double l2 = (ma + mc) / 2 - half;
    e.axisRatio = std::sqrt(l1 / std::max(l2, 1e-300));
    // Keep the area: the circle's radius is the geometric mean of the half axes.
    const double radius = std::pow(md, -0.25);
    const double s = radius / t;
    e.toCircle = {(ma + sd) * s, mb * s, mb * s, (mc + sd) * s};
    e.radius = radius * spread;
    e.cx = mx + x0 * spread;
    e.cy = my + y0 * spread;
    return true;
}
}  // namespace

RawSample SensorCalibration::Apply(const RawSample& raw) const {
    RawSample out = raw;
    if (raw.hasGyro) {
        out.gyro = Sub(raw.gyro, gyroBias);
    }
    if (raw.hasAccel) {
        out.accel = Sub(raw.accel, accelOffset);
    }
    if (raw.hasMag) {
        out.mag = attfilter::Apply(softIron, Sub(raw.mag, hardIron));
    }
    return out;
}

EulerAngles SensorCalibration::Apply(const EulerAngles& sensor) const {
    EulerAngles out;
    out.roll = sensor.roll - rollOffset;
    out.pitch = sensor.pitch - pitchOffset;
    out.heading = std::fmod(sensor.heading + headingOffset, 360.0);
    if (out.heading < 0) {
        out.heading += 360.0;
    }
    if (out.heading >= 360.0) {
        out.heading = 0;
    }
    return out;
}

MagneticFit FitMagnetometer(const std::vector<RawSample>& samples) {
    MagneticFit fit;
    // Level every field reading with the attitude filter's vertical rather than the raw
    // accelerometer: in a turn at speed the centripetal acceleration leans the specific force
    // by a degree or two, always to the same side, which would pass for hard iron. The
    // filter's roll and pitch never depend on the (still uncalibrated) magnetometer.
    struct Pair {
        Vec3 mag;
        Mat3 level;
    };
    std::vector<Pair> pairs;
    pairs.reserve(samples.size());
    CAttitudeFilter filter;
    filter.UseMagnetometer(false);
    // How far the heading turned, from the gyroscope: a field that never turned still spreads
    // its noise all round the centre a fit puts in it, so the circle is measured by the turn.
    double heading = 0, lowest = 0, highest = 0, last = 0;
    bool turning = false;
    for (const RawSample& s : samples) {
        filter.Update(s);
        if (filter.HasAttitude()) {
            const double now = filter.Attitude().heading;
            if (turning) {
                heading += std::remainder(now - last, 360.0);
                lowest = std::min(lowest, heading);
                highest = std::max(highest, heading);
            }
            last = now;
            turning = true;
        }
        if (s.hasMag && filter.HasAttitude() && Finite(s.mag)) {
            pairs.push_back({s.mag, Leveller(RotateBack(filter.Quaternion(), {0, 0, 1}))});
        }
    }
    const double turned = std::min(360.0, highest - lowest);
    if (pairs.size() < kMinFitSamples) {
        fit.reason = "too few samples with both accelerometer and magnetometer readings (" +
                     std::to_string(pairs.size()) + ", at least " + std::to_string(kMinFitSamples) +
                     " needed)";
        return fit;
    }
    // Hard and soft iron act in the sensor's own axes, before any levelling: each pass removes
    // what was found so far in those axes, levels what is left and fits the rest (levelling
    // the raw field would mix the iron with the vessel's lean).
    Vec3 hard;
    Mat3 soft{1, 0, 0, 0, 1, 0, 0, 0, 1};
    Ellipse e;
    std::vector<std::array<double, 2>> points(pairs.size());
    for (int pass = 0; pass < kFitPasses; ++pass) {
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            const Vec3 l =
                attfilter::Apply(pairs[i].level, attfilter::Apply(soft, Sub(pairs[i].mag, hard)));
            points[i] = {l.x, l.y};
        }
        std::string why;
        if (!FitEllipse(points, e, why)) {
            fit.reason = why;
            return fit;
        }
        // The centre found lies in the corrected axes: back through the soft iron so far.
        const double det = soft[0] * soft[4] - soft[1] * soft[3];
        if (!(std::abs(det) > 0)) {
            fit.reason = "the field's points lie on no ellipse";
            return fit;
        }
        hard.x += (soft[4] * e.cx - soft[1] * e.cy) / det;
        hard.y += (-soft[3] * e.cx + soft[0] * e.cy) / det;
        // The vertical hard iron shows only while the vessel leans: it moves the levelled
        // field radially in step with the lean (seen on the corrected circle).
        double num = 0, den = 0;
        const auto& w = e.toCircle;
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            const Mat3& t = pairs[i].level;
            const double dx = points[i][0] - e.cx;
            const double dy = points[i][1] - e.cy;
            const double u = w[0] * dx + w[1] * dy;
            const double v = w[2] * dx + w[3] * dy;
            const double r = std::hypot(u, v);
            if (r <= 0) {
                continue;
            }
            // How a vertical offset leaks into the corrected horizontal, along the radius.
            const double g =
                (u * (w[0] * t[2] + w[1] * t[5]) + v * (w[2] * t[2] + w[3] * t[5])) / r;
            num += g * (r - e.radius);
            den += g * g;
        }
        if (den > kMinLeanForVertical * kMinLeanForVertical * static_cast<double>(pairs.size())) {
            hard.z += num / den;
        }
        const Mat3 w3{w[0], w[1], 0, w[2], w[3], 0, 0, 0, 1};
        if (pass + 1 < kFitPasses) {
            soft = Product(w3, soft);
        }
    }
    // Quality: departure from the circle after correction, and the circle's coverage.
    std::array<bool, kCoverageBins> bins{};
    double sum = 0;
    for (const auto& p : points) {
        const double dx = p[0] - e.cx;
        const double dy = p[1] - e.cy;
        const double u = e.toCircle[0] * dx + e.toCircle[1] * dy;
        const double v = e.toCircle[2] * dx + e.toCircle[3] * dy;
        const double r = std::hypot(u, v);
        sum += (r / e.radius - 1) * (r / e.radius - 1);
        double angle = std::atan2(v, u) / kDeg;
        if (angle < 0) {
            angle += 360.0;
        }
        bins[std::min(kCoverageBins - 1, static_cast<int>(angle / (360.0 / kCoverageBins)))] = true;
    }
    fit.residual = std::sqrt(sum / static_cast<double>(points.size()));
    fit.coverageDegrees =
        std::min(turned, 360.0 * static_cast<double>(std::count(bins.begin(), bins.end(), true)) /
                             kCoverageBins);
    fit.hardIron = hard;
    fit.softIron =
        Product({e.toCircle[0], e.toCircle[1], 0, e.toCircle[2], e.toCircle[3], 0, 0, 0, 1}, soft);
    char text[160];
    if (turned < kNoTurnDegrees) {
        std::snprintf(text, sizeof text,
                      "the sensor did not turn (covered %.0f degrees): turn it through a full "
                      "circle",
                      turned);
        fit.reason = text;
    } else if (fit.coverageDegrees < kMinCoverageDegrees) {
        std::snprintf(text, sizeof text,
                      "the turn covered %.0f degrees of the circle; turn through a full circle "
                      "(at least %.0f degrees)",
                      fit.coverageDegrees, kMinCoverageDegrees);
        fit.reason = text;
    } else if (fit.residual > kMaxResidual) {
        std::snprintf(text, sizeof text,
                      "the field departs %.1f %% from a circle after correction (at most %.1f %% "
                      "allowed): keep steel and motors still while turning",
                      fit.residual * 100, kMaxResidual * 100);
        fit.reason = text;
    } else if (e.axisRatio > kMaxAxisRatio) {
        std::snprintf(text, sizeof text,
                      "the soft iron distorts the field %.1f to 1, beyond %.1f to 1: move the "
                      "sensor away from the steel",
                      e.axisRatio, kMaxAxisRatio);
        fit.reason = text;
    } else {
        fit.accepted = true;
    }
    return fit;
}

namespace {
// The mean of one sensor's readings among the samples (zero when none).
Vec3 Mean(const std::vector<RawSample>& still, bool RawSample::*has, Vec3 RawSample::*value) {
    Vec3 sum;
    int n = 0;
    for (const RawSample& s : still) {
        if (s.*has && Finite(s.*value)) {
            sum = Add(sum, s.*value);
            ++n;
        }
    }
    return n > 0 ? Scale(sum, 1.0 / n) : Vec3{};
}

Vec3 MeanAccel(const std::vector<RawSample>& still) {
    return Mean(still, &RawSample::hasAccel, &RawSample::accel);
}
}  // namespace

Vec3 EstimateGyroBias(const std::vector<RawSample>& still) {
    return Mean(still, &RawSample::hasGyro, &RawSample::gyro);
}

Vec3 EstimateAccelOffset(const std::vector<RawSample>& still) {
    const Vec3 mean = MeanAccel(still);
    const double n = Norm(mean);
    if (n <= 0) {
        return {};
    }
    return Sub(mean, Scale(mean, kStandardGravity / n));
}

EulerAngles LevelOffsets(const std::vector<RawSample>& still) {
    const Vec3 up = Normalised(MeanAccel(still));
    EulerAngles a;
    if (Norm(up) <= 0) {
        return a;
    }
    a.pitch = std::asin(std::clamp(up.x, -1.0, 1.0)) / kDeg;
    a.roll = std::asin(std::clamp(up.y, -1.0, 1.0)) / kDeg;
    return a;
}

namespace {

// How steady a still sensor is: the spread (one standard deviation) of each axis at most,
// beyond a good MEMS sensor's noise at any rate it offers and a vessel's tremble at its moorings.
constexpr double kStillGyroSpread = 0.5 * kDeg;  // rad/s
constexpr double kStillAccelSpread = 0.2;        // m/s²
// How far the field may turn over the samples before they are a turn, not a bias (degrees).
constexpr double kStillTurn = 2.0;

bool FiniteWithin(const Vec3& v, double limit) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) &&
           std::abs(v.x) <= limit && std::abs(v.y) <= limit && std::abs(v.z) <= limit;
}

// The standard deviation of one reading's axes, the largest of the three.
double LargestSpread(const std::vector<RawSample>& samples, bool RawSample::*has,
                     Vec3 RawSample::*value) {
    const Vec3 mean = Mean(samples, has, value);
    Vec3 sum{};
    double n = 0;
    for (const auto& s : samples) {
        if (s.*has) {
            const Vec3 d = Sub(s.*value, mean);
            sum = Add(sum, Vec3{d.x * d.x, d.y * d.y, d.z * d.z});
            n += 1;
        }
    }
    if (n < 2) {
        return 0;
    }
    return std::sqrt(std::max({sum.x, sum.y, sum.z}) / n);
}

// The field's horizontal direction (degrees) over samples, levelled by the mean vertical.
std::optional<double> FieldDirection(const std::vector<RawSample>& samples, std::size_t from,
                                     std::size_t to, const Vec3& up) {
    Vec3 field{};
    int n = 0;
    for (std::size_t i = from; i < to; ++i) {
        if (samples[i].hasMag) {
            field = Add(field, samples[i].mag);
            ++n;
        }
    }
    if (n == 0) {
        return std::nullopt;
    }
    const Vec3 level = Apply(Leveller(up), field);
    return std::atan2(level.y, level.x) / kDeg;
}

}  // namespace

std::string CalibrationProblem(const SensorCalibration& c) {
    char text[160];
    if (!FiniteWithin(c.gyroBias, kLargestGyroBias)) {
        std::snprintf(text, sizeof text,
                      "a gyroscope bias of (%.3g, %.3g, %.3g) °/s is beyond the %.0f °/s a sensor "
                      "can have",
                      c.gyroBias.x / kDeg, c.gyroBias.y / kDeg, c.gyroBias.z / kDeg,
                      kLargestGyroBias / kDeg);
        return text;
    }
    if (!FiniteWithin(c.accelOffset, kLargestAccelOffset)) {
        std::snprintf(text, sizeof text,
                      "an accelerometer offset of (%.3g, %.3g, %.3g) m/s² is beyond the %.1f "
                      "m/s² a sensor can have",
                      c.accelOffset.x, c.accelOffset.y, c.accelOffset.z, kLargestAccelOffset);
        return text;
    }
    if (!FiniteWithin(c.hardIron, kLargestHardIron)) {
        return "a hard iron beyond " + std::to_string(static_cast<int>(kLargestHardIron)) +
               " gauss";
    }
    const auto& m = c.softIron;
    const double det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
                       m[2] * (m[3] * m[7] - m[4] * m[6]);
    bool softFinite = true;
    for (const double v : m) {
        softFinite = softFinite && std::isfinite(v) && std::abs(v) <= 10.0;
    }
    if (!softFinite || !(std::abs(det) >= 1e-3 && std::abs(det) <= 1e3)) {
        return "a soft iron that is no scaling of the field";
    }
    if (!std::isfinite(c.rollOffset) || !std::isfinite(c.pitchOffset) ||
        std::abs(c.rollOffset) > 45 || std::abs(c.pitchOffset) > 45) {
        return "roll or pitch offsets beyond 45°";
    }
    if (!std::isfinite(c.headingOffset) || std::abs(c.headingOffset) > 360) {
        return "a heading offset beyond 360°";
    }
    return {};
}

bool Plausible(const RawSample& s) {
    constexpr double kRate = 2000.0 * kDeg, kAccel = 16.0 * kStandardGravity, kField = 16.0;
    return std::isfinite(s.seconds) && (!s.hasGyro || FiniteWithin(s.gyro, kRate)) &&
           (!s.hasAccel || FiniteWithin(s.accel, kAccel)) &&
           (!s.hasMag || FiniteWithin(s.mag, kField));
}

std::string RestProblem(const std::vector<RawSample>& still) {
    char text[200];
    const double gyroSpread = LargestSpread(still, &RawSample::hasGyro, &RawSample::gyro);
    if (gyroSpread > kStillGyroSpread) {
        std::snprintf(text, sizeof text,
                      "the rates were not steady (they varied by %.2f °/s, a still sensor by "
                      "%.1f at most): hold the sensor still",
                      gyroSpread / kDeg, kStillGyroSpread / kDeg);
        return text;
    }
    const double accelSpread = LargestSpread(still, &RawSample::hasAccel, &RawSample::accel);
    if (accelSpread > kStillAccelSpread) {
        std::snprintf(text, sizeof text,
                      "the accelerations were not steady (they varied by %.2f m/s², a still "
                      "sensor by %.1f at most): hold the sensor still",
                      accelSpread, kStillAccelSpread);
        return text;
    }
    const Vec3 mean = MeanAccel(still);
    if (std::abs(Norm(mean) - kStandardGravity) > 2 * kLargestAccelOffset) {
        std::snprintf(text, sizeof text,
                      "the accelerometer read %.2f m/s², not gravity: it is not at rest, or its "
                      "scale is wrong",
                      Norm(mean));
        return text;
    }
    // A steady turn is steady rates too: the magnetometer tells it from a bias.
    const std::size_t fifth = still.size() / 5;
    const Vec3 up = Normalised(mean);
    const auto first = FieldDirection(still, 0, fifth, up);
    const auto last = FieldDirection(still, still.size() - fifth, still.size(), up);
    if (fifth > 0 && first && last) {
        const double turned = std::abs(std::remainder(*last - *first, 360.0));
        if (turned > kStillTurn) {
            std::snprintf(text, sizeof text,
                          "the sensor turned %.1f° while it should have been at rest (the "
                          "magnetometer's field turned): hold it still",
                          turned);
            return text;
        }
    }
    return {};
}

}  // namespace attfilter
