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
// splitmix64, so every platform draws the same numbers; strictly inside (0, 1).
double SplitMix(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    return (static_cast<double>(z >> 11) + 0.5) / 9007199254740992.0;
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
    scenario.turns.clear();
    scenario.irregular = false;
    return scenario;
}

const char* SeaKindName(SeaKind kind) {
    switch (kind) {
        case SeaKind::Heavy:
            return "heavy sea";
        case SeaKind::HeavyWithTurns:
            return "heavy sea with turns";
        case SeaKind::Moderate:
            return "moderate sea";
        case SeaKind::Calm:
            return "calm";
    }
    return "";
}

RawScenario DrawScenario(SeaKind kind, std::uint32_t seed) {
    // Its own draws, apart from the sensor's (which the scenario's seed makes).
    std::uint64_t state = 0x5EA5EA5EAULL * (seed + 1ULL) + static_cast<std::uint64_t>(kind);
    auto uniform = [&state](double low, double high) {
        return low + (high - low) * SplitMix(state);
    };
    RawScenario s;
    s.seed = seed;
    s.irregular = true;
    s.heading = uniform(0, 360);
    s.inclination = uniform(55, 72);
    s.list = uniform(-2, 2);
    s.trim = uniform(-1, 1);
    s.leverArm = {uniform(-6, 6), uniform(-1, 1), uniform(2, 8)};
    s.speedKnots = uniform(5, 12);
    s.turnHeel = uniform(0, 0.5);
    IrregularSea& sea = s.sea;
    // The sizes of the heavy sea; a moderate one has about half, calm water a low swell.
    const double size = kind == SeaKind::Moderate ? 0.5 : kind == SeaKind::Calm ? 0.08 : 1.0;
    sea.rollSignificant = size * uniform(12, 18);
    sea.rollPeriod = uniform(7, 12);
    sea.pitchSignificant = size * uniform(4, 8);
    sea.pitchPeriod = uniform(5, 9);
    sea.yawSignificant = size * uniform(2, 4);
    sea.yawPeriod = uniform(8, 14);
    sea.heaveSignificant = size * uniform(1.5, 3);
    sea.heavePeriod = uniform(6, 11);
    sea.surgeSignificant = size * uniform(0.2, 0.8);
    sea.surgePeriod = uniform(6, 11);
    sea.swaySignificant = size * uniform(0.5, 1.5);
    sea.swayPeriod = sea.rollPeriod * uniform(0.8, 1.2);
    sea.peakEnhancement = uniform(1, 5);
    if (kind == SeaKind::HeavyWithTurns) {
        // Two or three turns, of 45 to 270°, at 0.5 to 5 °/s either way (at most two
        // minutes each), 20 to 60 s apart from 30 to 60 s on.
        double start = uniform(30, 60);
        const int count = uniform(0, 1) < 0.5 ? 2 : 3;
        for (int i = 0; i < count; ++i) {
            const double rate = uniform(0.5, 5) * (uniform(0, 1) < 0.5 ? -1 : 1);
            const double duration = std::min(uniform(45, 270) / std::abs(rate), 120.0);
            s.turns.push_back({start, duration, rate});
            start += duration + uniform(20, 60);
        }
    }
    return s;
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
    if (scenario.turnStart >= 0 && scenario.turnDuration > 0) {
        m_turns.push_back({scenario.turnStart, scenario.turnDuration, scenario.turnRate});
    }
    m_turns.insert(m_turns.end(), scenario.turns.begin(), scenario.turns.end());
    const double limit = scenario.gyroBiasLimit;
    m_fixedBias =
        Scale(Add(Vec3{uniform(-limit, limit), uniform(-limit, limit), uniform(-limit, limit)},
                  scenario.gyroBias),
              kRad);
    if (scenario.noise) {
        m_wander = Scale(Vec3{Gaussian(), Gaussian(), Gaussian()}, kWanderSigma * kRad);
    }
    // The sea's spectra after the sensor's draws, so the same sensor lies still (AtRest) with
    // the same bias as it has at sea.
    if (scenario.irregular) {
        const IrregularSea& sea = scenario.sea;
        m_roll = Draw(sea.rollSignificant, sea.rollPeriod, sea);
        m_pitch = Draw(sea.pitchSignificant, sea.pitchPeriod, sea);
        m_yaw = Draw(sea.yawSignificant, sea.yawPeriod, sea);
        m_heave = Draw(sea.heaveSignificant / 2, sea.heavePeriod, sea);
        m_surge = Draw(sea.surgeSignificant, sea.surgePeriod, sea);
        m_sway = Draw(sea.swaySignificant, sea.swayPeriod, sea);
    }
}

double CRawMotion::Unit() {
    return SplitMix(m_state);
}

double CRawMotion::Gaussian() {
    // Box-Muller.
    const double u = Unit();
    const double v = Unit();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2 * kPi * v);
}

double CRawMotion::TurnRateAt(double t) const {
    double rate = 0;
    for (const RawTurn& turn : m_turns) {
        const double u = t - turn.start;
        rate += turn.rate * kRad * (Eased(u) - Eased(u - turn.duration));
    }
    return rate;
}

double CRawMotion::CourseAt(double t) const {
    double course = m_s.heading * kRad;
    for (const RawTurn& turn : m_turns) {
        const double u = t - turn.start;
        course += turn.rate * kRad * (EasedIntegral(u) - EasedIntegral(u - turn.duration));
    }
    return course;
}

double CRawMotion::HeelAt(double t) const {
    // Outward: a turn to starboard heels the vessel to port (port side down).
    const double speed = m_s.speedKnots * kKnot;
    return -std::atan(m_s.turnHeel * speed * TurnRateAt(t) / kGravity);
}

double CRawMotion::Spectrum::At(double t) const {
    double sum = 0;
    for (std::size_t i = 0; i < amplitude.size(); ++i) {
        sum += amplitude[i] * std::sin(omega[i] * t + phase[i]);
    }
    return sum;
}

double CRawMotion::Spectrum::RateAt(double t) const {
    double sum = 0;
    for (std::size_t i = 0; i < amplitude.size(); ++i) {
        sum += amplitude[i] * omega[i] * std::cos(omega[i] * t + phase[i]);
    }
    return sum;
}

CRawMotion::Spectrum CRawMotion::Draw(double significant, double period, const IrregularSea& sea) {
    // JONSWAP about the peak frequency, in equal bins from half to three times it, each
    // component at a random frequency within its bin (so the sum never repeats) with a
    // random phase; then scaled to the standard deviation asked for.
    Spectrum spectrum;
    const int n = std::max(1, sea.components);
    if (period <= 0 || significant == 0) {
        return spectrum;
    }
    const double peak = 2 * kPi / period;
    const double low = 0.5 * peak;
    const double bin = 2.5 * peak / n;
    double variance = 0;
    for (int i = 0; i < n; ++i) {
        const double w = low + bin * (i + Unit());
        const double width = w <= peak ? 0.07 : 0.09;
        const double shape = std::exp(-(w - peak) * (w - peak) / (2 * width * width * peak * peak));
        const double density = std::pow(w, -5.0) * std::exp(-1.25 * std::pow(peak / w, 4.0)) *
                               std::pow(std::max(sea.peakEnhancement, 1.0), shape);
        const double a = std::sqrt(2 * density * bin);
        spectrum.amplitude.push_back(a);
        spectrum.omega.push_back(w);
        spectrum.phase.push_back(2 * kPi * Unit());
        variance += a * a / 2;
    }
    const double scale = significant / 2 / std::sqrt(variance);
    for (double& a : spectrum.amplitude) {
        a *= scale;
    }
    return spectrum;
}

CRawMotion::Angles CRawMotion::AnglesAt(double t) const {
    auto wave = [t](double amplitude, double period, double phase) {
        return period > 0 ? amplitude * kRad * std::sin(2 * kPi * t / period + phase) : 0.0;
    };
    const double heel = m_s.turnHeel != 0 ? HeelAt(t) : 0.0;
    if (m_s.irregular) {
        return {CourseAt(t) + kRad * m_yaw.At(t), m_s.trim * kRad + kRad * m_pitch.At(t),
                m_s.list * kRad + heel + kRad * m_roll.At(t)};
    }
    return {CourseAt(t) + wave(m_s.yawAmplitude, m_s.yawPeriod, m_yawPhase),
            m_s.trim * kRad + wave(m_s.pitchAmplitude, m_s.pitchPeriod, m_pitchPhase),
            m_s.list * kRad + heel + wave(m_s.rollAmplitude, m_s.rollPeriod, m_rollPhase)};
}

CRawMotion::Angles CRawMotion::RatesAt(double t) const {
    auto rate = [t](double amplitude, double period, double phase) {
        return period > 0
                   ? amplitude * kRad * 2 * kPi / period * std::cos(2 * kPi * t / period + phase)
                   : 0.0;
    };
    double heelRate = 0;
    if (m_s.turnHeel != 0) {
        constexpr double h = 1e-4;
        heelRate = (HeelAt(t + h) - HeelAt(t - h)) / (2 * h);
    }
    if (m_s.irregular) {
        return {TurnRateAt(t) + kRad * m_yaw.RateAt(t), kRad * m_pitch.RateAt(t),
                heelRate + kRad * m_roll.RateAt(t)};
    }
    return {TurnRateAt(t) + rate(m_s.yawAmplitude, m_s.yawPeriod, m_yawPhase),
            rate(m_s.pitchAmplitude, m_s.pitchPeriod, m_pitchPhase),
            heelRate + rate(m_s.rollAmplitude, m_s.rollPeriod, m_rollPhase)};
}

Vec3 CRawMotion::CentreAt(double t) const {
    if (m_s.irregular) {
        return {m_surge.At(t), m_sway.At(t), m_heave.At(t)};
    }
    const double w = m_s.heavePeriod > 0 ? 2 * kPi / m_s.heavePeriod : 0;
    return {0, 0, m_s.heaveAmplitude * std::sin(w * t + m_heavePhase)};
}

Vec3 CRawMotion::PositionAt(double t, const Vec3& fromSensor) const {
    // The centre's sea motion along and across the course, and the point swung about it.
    const Vec3 c = CentreAt(t);
    const double course = CourseAt(t);
    const Vec3 centre{c.x * std::cos(course) + c.y * std::sin(course),
                      -c.x * std::sin(course) + c.y * std::cos(course), c.z};
    return Add(centre, Turn(OrientationAt(t), Add(m_s.leverArm, fromSensor)));
}

double CRawMotion::HeaveAt(double t, const Vec3& fromSensor) const {
    const Quat flat = Mul(About(1, -m_s.trim * kRad), About(0, m_s.list * kRad));
    return PositionAt(t, fromSensor).z - Turn(flat, Add(m_s.leverArm, fromSensor)).z;
}

Vec3 CRawMotion::VelocityAt(double t, const Vec3& fromSensor) const {
    const Vec3 ahead = PositionAt(t + kStep, fromSensor);
    const Vec3 behind = PositionAt(t - kStep, fromSensor);
    const double way = m_s.speedKnots * kKnot;
    const double course = CourseAt(t);
    return Add(Vec3{way * std::cos(course), -way * std::sin(course), 0},
               Scale(Add(ahead, Scale(behind, -1.0)), 0.5 / kStep));
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
    // The sensor's acceleration in the level frame: the course's centripetal part, and the
    // second derivative of where the sea puts the sensor (the centre's surge, sway and heave,
    // the lever arm swung by roll, pitch and yaw).
    const double v = m_s.speedKnots * kKnot;
    const double course = CourseAt(t);
    Vec3 a = Scale(Vec3{-std::sin(course), -std::cos(course), 0}, v * TurnRateAt(t));
    const Vec3 before = PositionAt(t - kStep);
    const Vec3 now = PositionAt(t);
    const Vec3 after = PositionAt(t + kStep);
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
