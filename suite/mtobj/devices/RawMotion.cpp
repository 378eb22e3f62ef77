#include "mtobj/RawMotion.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace mtobj {
namespace {
using attfilter::Quat;
using attfilter::Vec3;

constexpr double kPi = std::numbers::pi;
constexpr double kRad = kPi / 180.0;
constexpr double kGravity = 9.80665;
constexpr double kKnot = 1852.0 / 3600.0;
// Noise of a good MEMS sensor: gyroscope white noise (°/s/√Hz), its bias wander (°/s, one
// sigma, correlated over kWanderSeconds), accelerometer white noise (g/√Hz) and magnetometer
// noise (share of the field, per reading).
constexpr double kGyroDensity = 0.005;
constexpr double kWanderSigma = 3.0 / 3600.0;
constexpr double kWanderSeconds = 600.0;
constexpr double kAccelDensity = 100e-6;
constexpr double kMagShare = 0.005;
// A turn's rate eases in and out over this long (s).
constexpr double kTurnEase = 5.0;
// Step of the numerical second derivative of the sensor's lever arm (s).
constexpr double kStep = 1e-3;

Vec3 Add(const Vec3& a, const Vec3& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec3 Scale(const Vec3& a, double s) {
    return {a.x * s, a.y * s, a.z * s};
}
Quat Mul(const Quat& a, const Quat& b) {
    return {a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3],
            a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2],
            a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1],
            a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0]};
}
Quat About(int axis, double angle) {
    Quat q{std::cos(angle / 2), 0, 0, 0};
    q[static_cast<std::size_t>(axis) + 1] = std::sin(angle / 2);
    return q;
}
Vec3 Turn(const Quat& q, const Vec3& v) {
    const Quat p = Mul(Mul(q, {0, v.x, v.y, v.z}), {q[0], -q[1], -q[2], -q[3]});
    return {p[1], p[2], p[3]};
}
Vec3 TurnBack(const Quat& q, const Vec3& v) {
    return Turn({q[0], -q[1], -q[2], -q[3]}, v);
}
Vec3 Apply(const std::array<double, 9>& m, const Vec3& v) {
    return {m[0] * v.x + m[1] * v.y + m[2] * v.z, m[3] * v.x + m[4] * v.y + m[5] * v.z,
            m[6] * v.x + m[7] * v.y + m[8] * v.z};
}
// The integral of a rate that eases from 0 to 1 over kTurnEase from u = 0.
double EasedIntegral(double u) {
    if (u <= 0) {
        return 0;
    }
    if (u < kTurnEase) {
        return 0.5 * (u - kTurnEase / kPi * std::sin(kPi * u / kTurnEase));
    }
    return kTurnEase / 2 + (u - kTurnEase);
}
double Eased(double u) {
    if (u <= 0) {
        return 0;
    }
    return u < kTurnEase ? 0.5 * (1 - std::cos(kPi * u / kTurnEase)) : 1.0;
}
}  // namespace

RawScenario AtRest(RawScenario scenario) {
    scenario.rollAmplitude = scenario.pitchAmplitude = scenario.yawAmplitude = 0;
    scenario.heaveAmplitude = scenario.speedKnots = 0;
    scenario.turnStart = -1;
    return scenario;
}

RawScenario IronHull() {
    RawScenario s;
    s.rollAmplitude = 3;
    s.pitchAmplitude = 1;
    s.yawAmplitude = 0.5;
    s.heaveAmplitude = 0.5;
    s.hardIron = {0.12, -0.09, 0.05};
    s.softIron = {1.1, 0.06, 0, 0.06, 0.9, 0, 0.02, -0.03, 1.0};
    return s;
}

CRawMotion::CRawMotion(const RawScenario& scenario, double rate, double startSeconds)
    : m_s(scenario), m_rate(rate), m_start(startSeconds), m_state(scenario.seed) {
    auto uniform = [this](double low, double high) { return low + (high - low) * Unit(); };
    m_rollPhase = uniform(0, 2 * kPi);
    m_pitchPhase = uniform(0, 2 * kPi);
    m_yawPhase = uniform(0, 2 * kPi);
    m_heavePhase = uniform(0, 2 * kPi);
    const double limit = scenario.gyroBiasLimit;
    m_fixedBias =
        Scale(Add(Vec3{uniform(-limit, limit), uniform(-limit, limit), uniform(-limit, limit)},
                  scenario.gyroBias),
              kRad);
    if (scenario.noise) {
        m_wander = Scale(Vec3{Gaussian(), Gaussian(), Gaussian()}, kWanderSigma * kRad);
    }
}

double CRawMotion::Unit() {
    // splitmix64, so every platform draws the same numbers; strictly inside (0, 1).
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    return (static_cast<double>(z >> 11) + 0.5) / 9007199254740992.0;
}

double CRawMotion::Gaussian() {
    // Box-Muller.
    const double u = Unit();
    const double v = Unit();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2 * kPi * v);
}

double CRawMotion::TurnRateAt(double t) const {
    if (m_s.turnStart < 0 || m_s.turnDuration <= 0) {
        return 0;
    }
    const double u = t - m_s.turnStart;
    return m_s.turnRate * kRad * (Eased(u) - Eased(u - m_s.turnDuration));
}

double CRawMotion::CourseAt(double t) const {
    double course = m_s.heading * kRad;
    if (m_s.turnStart >= 0 && m_s.turnDuration > 0) {
        const double u = t - m_s.turnStart;
        course += m_s.turnRate * kRad * (EasedIntegral(u) - EasedIntegral(u - m_s.turnDuration));
    }
    return course;
}

CRawMotion::Angles CRawMotion::AnglesAt(double t) const {
    auto wave = [t](double amplitude, double period, double phase) {
        return period > 0 ? amplitude * kRad * std::sin(2 * kPi * t / period + phase) : 0.0;
    };
    return {CourseAt(t) + wave(m_s.yawAmplitude, m_s.yawPeriod, m_yawPhase),
            m_s.trim * kRad + wave(m_s.pitchAmplitude, m_s.pitchPeriod, m_pitchPhase),
            m_s.list * kRad + wave(m_s.rollAmplitude, m_s.rollPeriod, m_rollPhase)};
}

CRawMotion::Angles CRawMotion::RatesAt(double t) const {
    auto rate = [t](double amplitude, double period, double phase) {
        return period > 0
                   ? amplitude * kRad * 2 * kPi / period * std::cos(2 * kPi * t / period + phase)
                   : 0.0;
    };
    return {TurnRateAt(t) + rate(m_s.yawAmplitude, m_s.yawPeriod, m_yawPhase),
            rate(m_s.pitchAmplitude, m_s.pitchPeriod, m_pitchPhase),
            rate(m_s.rollAmplitude, m_s.rollPeriod, m_rollPhase)};
}

Quat CRawMotion::OrientationAt(double t) const {
    // Heading clockwise (about -z), bow up (about -y), port up (about +x).
    const Angles a = AnglesAt(t);
    return Mul(Mul(About(2, -a.heading), About(1, -a.pitch)), About(0, a.bank));
}

RawTruth CRawMotion::TruthAt(double t) const {
    RawTruth truth;
    truth.seconds = m_start + t;
    truth.orientation = OrientationAt(t);
    truth.attitude = attfilter::AnglesOf(truth.orientation);
    return truth;
}

Vec3 CRawMotion::BodyRateAt(double t) const {
    const Angles a = AnglesAt(t);
    const Angles r = RatesAt(t);
    // Each Euler rate about its own axis, seen in body axes.
    const Quat bank = About(0, a.bank);
    const Quat pitchBank = Mul(About(1, -a.pitch), bank);
    return Add(Add(Vec3{r.bank, 0, 0}, TurnBack(bank, Vec3{0, -r.pitch, 0})),
               TurnBack(pitchBank, Vec3{0, 0, -r.heading}));
}

Vec3 CRawMotion::SpecificForceAt(double t) const {
    // The sensor's acceleration in the level frame: heave, the course's centripetal part and
    // the lever arm swung by roll, pitch and yaw (tangential and centripetal together).
    const double w = m_s.heavePeriod > 0 ? 2 * kPi / m_s.heavePeriod : 0;
    Vec3 a{0, 0, -m_s.heaveAmplitude * w * w * std::sin(w * t + m_heavePhase)};
    const double v = m_s.speedKnots * kKnot;
    const double course = CourseAt(t);
    a = Add(a, Scale(Vec3{-std::sin(course), -std::cos(course), 0}, v * TurnRateAt(t)));
    const Vec3 before = Turn(OrientationAt(t - kStep), m_s.leverArm);
    const Vec3 now = Turn(OrientationAt(t), m_s.leverArm);
    const Vec3 after = Turn(OrientationAt(t + kStep), m_s.leverArm);
    a = Add(a, Scale(Add(Add(before, after), Scale(now, -2)), 1.0 / (kStep * kStep)));
    // Specific force: acceleration minus gravity (gravity points down).
    return TurnBack(OrientationAt(t), Add(a, Vec3{0, 0, kGravity}));
}

Vec3 CRawMotion::FieldAt(double t) const {
    const double dip = m_s.inclination * kRad;
    const Vec3 earth{m_s.fieldStrength * std::cos(dip), 0, -m_s.fieldStrength * std::sin(dip)};
    Vec3 field = TurnBack(OrientationAt(t), earth);
    if (m_s.disturbanceStart >= 0 && m_s.disturbanceDuration > 0 && t > m_s.disturbanceStart &&
        t < m_s.disturbanceStart + m_s.disturbanceDuration) {
        const double s = std::sin(kPi * (t - m_s.disturbanceStart) / m_s.disturbanceDuration);
        field = Add(field, Scale(m_s.disturbanceField, s * s));
    }
    return Add(Apply(m_s.softIron, field), m_s.hardIron);
}

std::vector<attfilter::RawSample> CRawMotion::Record(double seconds) {
    std::vector<attfilter::RawSample> samples;
    const auto n = static_cast<std::size_t>(std::max(0.0, seconds * m_rate));
    samples.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        samples.push_back(Next());
    }
    return samples;
}

attfilter::RawSample CRawMotion::Next(RawTruth* truth) {
    const double t = static_cast<double>(m_index) / m_rate;
    ++m_index;
    attfilter::RawSample s;
    s.seconds = m_start + t;
    s.hasGyro = s.hasAccel = s.hasMag = true;
    Vec3 bias = m_fixedBias;
    if (m_s.gyroBiasStepAt >= 0 && t >= m_s.gyroBiasStepAt) {
        bias = Add(bias, Scale(m_s.gyroBiasStep, kRad));
    }
    s.gyro = BodyRateAt(t);
    s.accel = Add(SpecificForceAt(t), m_s.accelOffset);
    s.mag = FieldAt(t);
    if (m_s.noise) {
        const double dt = 1.0 / m_rate;
        // First-order Gauss-Markov wander keeps its sigma steady.
        const double keep = std::exp(-dt / kWanderSeconds);
        const double push = kWanderSigma * kRad * std::sqrt(1 - keep * keep);
        m_wander =
            Add(Scale(m_wander, keep), Scale(Vec3{Gaussian(), Gaussian(), Gaussian()}, push));
        bias = Add(bias, m_wander);
        const double gyroSigma = kGyroDensity * kRad * std::sqrt(m_rate);
        const double accelSigma = kAccelDensity * kGravity * std::sqrt(m_rate);
        const double magSigma = kMagShare * m_s.fieldStrength;
        s.gyro = Add(s.gyro, Scale(Vec3{Gaussian(), Gaussian(), Gaussian()}, gyroSigma));
        s.accel = Add(s.accel, Scale(Vec3{Gaussian(), Gaussian(), Gaussian()}, accelSigma));
        s.mag = Add(s.mag, Scale(Vec3{Gaussian(), Gaussian(), Gaussian()}, magSigma));
    }
    s.gyro = Add(s.gyro, bias);
    if (truth != nullptr) {
        *truth = TruthAt(t);
    }
    return s;
}

}  // namespace mtobj
