#include "filter/AttitudeFilter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "Math.h"

namespace attfilter {
namespace {

// The error states' places.
constexpr int kTilt = 0;      // attitude error, level x, y, z (rad)
constexpr int kBias = 3;      // gyroscope bias, body x, y, z (rad/s)
constexpr int kVelocity = 6;  // sensor velocity, level x, y (m/s)
constexpr int kMean = 8;      // the vessel's mean velocity, level x, y (m/s)
constexpr int kSpeed = 10;    // its speed through the water along the heading (m/s)
constexpr int kLever = 11;    // lever arm, body x, y, z (m)
constexpr int kN = CAttitudeFilter::kStates;

// The gyroscope: white rate noise (rad/s/√Hz) and a bias that wanders as a random walk
// (rad/s/√s).
constexpr double kRateNoise = 0.01 * kDeg;
constexpr double kBiasWalk = 0.002 * kDeg;
// The accelerometer's white noise as it reaches the velocity (m/s²/√Hz).
constexpr double kForceNoise = 0.005;
// How the vessel's mean velocity and its speed may change (m/s/√s), with the engine, the
// wind and the current; the lever arm hardly (m/√s).
constexpr double kMeanWalk = 0.02;
constexpr double kSpeedWalk = 0.02;
constexpr double kLeverWalk = 1e-4;
// Uncertainty of the first attitude, of an unknown gyroscope bias, of the vessel's speed, of
// the sensor's velocity beside the vessel's at the start and of the lever arm (m: up to ten
// metres up or down, the fore-aft and athwartships parts, which only the yaw reveals, less).
constexpr double kFirstTilt = 5 * kDeg;
constexpr double kFirstHeading = 10 * kDeg;
constexpr double kFirstBias = 0.5 * kDeg;
constexpr double kCalibratedBias = 0.05 * kDeg;
constexpr double kFirstSpeed = 8.0;
constexpr double kFirstVelocity = 2.0;
constexpr double kFirstLever = 6.0;
constexpr double kFirstLeverAcross = 2.0;
// The speed is learnt only in a turn of at least this rate (rad/s, over kTurnSeconds) beyond
// what the gyroscope's bias about the vertical may still be (one sigma).
constexpr double kTurnRate = 0.5 * kDeg;
constexpr double kTurnSeconds = 5.0;
// A turn shows over kLastingTurnSeconds too: a heavy sea's yaw swings the rate by degrees a
// second for a few seconds at a time, a course does not.
constexpr double kLastingTurnSeconds = 15.0;
// The speed's error turns the mean velocity by the rate of the turn (over kTurnSeconds) once
// the filter is older than kYoungSeconds (by the gyroscope's rate itself before, passing from
// one to the other over as long again): see Propagate.
constexpr double kYoungSeconds = 30.0;
// The velocity the waves leave beside the vessel's way (m/s, RMS): from a first guess,
// learnt from the innovations within these bounds. It falls at once (over the time since the
// start, at most kWaveSeconds) to what the innovations show, and rises slowly (over
// kRiseSeconds), and only where the states' uncertainty explains at most kExplainedShare of
// the innovations: a velocity the filter's own errors give must not pass for waves.
constexpr double kFirstWave = 0.3;
constexpr double kMinWave = 0.05;
constexpr double kMaxWave = 3.0;
constexpr double kWaveSeconds = 20.0;
constexpr double kRiseSeconds = 20.0;
constexpr double kExplainedShare = 0.5;
// As noise it is credited as if it held for kWaveCorrelation seconds: it swings with the
// wave periods, and a reading a hundredth of a second after another tells little more.
constexpr double kWaveCorrelation = 1.0;
// A velocity beyond this many sigmas of what the waves and the filter's uncertainty allow has
// lost its thread; the attitude then gets at least this much room again (rad).
constexpr double kLostSigmas = 6.0;
constexpr double kAstrayTilt = 5.0 * kDeg;
// The tuning gain's effect ends here (the dialog offers up to 100).
constexpr double kMaxGain = 10.0;
constexpr double kReferenceStep = 0.01;
// The magnetometer's noise is learnt from its innovations, correlated over seconds, and
// referred to 100 samples a second. Below the floor it is never trusted.
constexpr double kHeadingCorrelation = 2.0;
constexpr double kHeadingFloor = 0.5 * kDeg;
constexpr double kMaxMagWeight = 10.0;
constexpr double kFirstHeadingSpread = 1 * kDeg;
constexpr double kSpreadSeconds = 5.0;
// Magnetometer disturbance: field strength or dip departing from their references, or the
// magnetometer's heading departing from the filter's, after low-passing over this time.
constexpr double kMagSmoothSeconds = 0.5;
constexpr double kFieldStrengthDeparture = 0.03;
constexpr double kFieldDipDeparture = 5 * kDeg;
constexpr double kHeadingDeparture = 2.0 * kDeg;
// A heading disagreement without any change of the field is believed after this long (the
// gyroscope, not the field, has wandered).
constexpr double kDisagreementSeconds = 20.0;
constexpr double kLongestDisagreement = 60.0;
constexpr double kSteadyDisagreement = 1.0 * kDeg;
constexpr double kSteadyShare = 0.3;
// The bias counts as trusted while the magnetometer's heading agrees within this (rad).
constexpr double kTrustedInnovation = 0.3 * kDeg;
// Readings of the magnetometer beyond this many sigmas are left out.
constexpr double kInnovationGate = 4.0;
// References of the field learnt over the first seconds, then followed slowly.
constexpr double kReferenceSeconds = 5.0;
constexpr double kReferenceFollowSeconds = 120.0;
constexpr double kFieldLearnSeconds = 20.0;
// The largest gyroscope bias the estimate may reach (rad/s), the largest lever arm (m).
constexpr double kMaxBias = 2.0 * kDeg;
constexpr double kMaxLever = 30.0;
// The fastest a vessel goes through the water (m/s, about 40 knots).
constexpr double kMaxSpeed = 20.0;
// Readings beyond these are left out: rate (rad/s, the range of MEMS gyroscopes), specific
// force (m/s², below this and beyond kMaxForce; at rest it is g, heave and turns move
// it by tenths), field (any unit from gauss to nanotesla or counts, as only its direction is
// used).
constexpr double kMaxRate = 2000 * kDeg;
constexpr double kMinForce = 0.1 * kStandardGravity;
constexpr double kMinField = 1e-9;
constexpr double kMaxField = 1e6;
// A gap in the samples longer than this is not integrated across.
constexpr double kMaxStep = 0.2;

double Blend(double old, double value, double dt, double tau) {
    const double a = std::min(1.0, dt / std::max(tau, 1e-9));
    return old + a * (value - old);
}

double Wrap(double radians) {
    return std::remainder(radians, 2 * std::numbers::pi);
}

}  // namespace

EulerAngles AnglesOf(const Quat& q) {
    const Mat3 r = RotationOf(q);
    EulerAngles a;
    // Columns: the body's bow, port and up axes in the level frame (x north, y west, z up).
    a.pitch = std::asin(std::clamp(r[6], -1.0, 1.0)) / kDeg;
    a.roll = std::asin(std::clamp(r[7], -1.0, 1.0)) / kDeg;
    double heading = std::atan2(-r[3], r[0]) / kDeg;
    if (heading < 0) {
        heading += 360.0;
    }
    if (heading >= 360.0) {
        heading -= 360.0;
    }
    a.heading = heading;
    return a;
}

Quat QuaternionOf(const std::array<double, 9>& rotation) {
    return QuatOf(rotation);
}

Quat QuaternionProduct(const Quat& a, const Quat& b) {
    return Multiply(a, b);
}

Quat OrientationOf(const EulerAngles& a) {
    // Bank about the bow axis such that the port axis rises by the roll angle.
    const double pitch = a.pitch * kDeg;
    const double bank = std::asin(std::clamp(std::sin(a.roll * kDeg) / std::cos(pitch), -1.0, 1.0));
    return Multiply(Multiply(AxisAngle({0, 0, 1}, -a.heading * kDeg), AxisAngle({0, 1, 0}, -pitch)),
                    AxisAngle({1, 0, 0}, bank));
}

CAttitudeFilter::CAttitudeFilter(const FilterTuning& tuning) {
    SetTuning(tuning);
}

void CAttitudeFilter::SetTuning(const FilterTuning& tuning) {
    m_tuning.gain = std::clamp(tuning.gain, 0.1, 100.0);
    m_tuning.magWeight = std::clamp(tuning.magWeight, 0.1, 100.0);
    if (std::isnan(tuning.gain)) {
        m_tuning.gain = 1.0;
    }
    if (std::isnan(tuning.magWeight)) {
        m_tuning.magWeight = 1.0;
    }
}

FilterTuning CAttitudeFilter::Tuning() const {
    return m_tuning;
}

void CAttitudeFilter::Reset() {
    const FilterTuning tuning = m_tuning;
    const bool useMag = m_useMag;
    const bool calibrated = m_gyroCalibrated;
    *this = CAttitudeFilter(tuning);
    m_useMag = useMag;
    m_gyroCalibrated = calibrated;
}

void CAttitudeFilter::SetGyroCalibrated(bool calibrated) {
    m_gyroCalibrated = calibrated;
    Reset();
}

void CAttitudeFilter::UseMagnetometer(bool use) {
    m_useMag = use;
    Reset();
}

bool CAttitudeFilter::HasAttitude() const {
    return m_started;
}

EulerAngles CAttitudeFilter::Attitude() const {
    return AnglesOf(m_q);
}

std::array<double, 4> CAttitudeFilter::Quaternion() const {
    return m_q;
}

Vec3 CAttitudeFilter::GyroBias() const {
    return m_bias;
}

bool CAttitudeFilter::MagneticDisturbance() const {
    return m_disturbed;
}

Vec3 CAttitudeFilter::LeverArm() const {
    return m_lever;
}

double CAttitudeFilter::Speed() const {
    return m_speed;
}

double CAttitudeFilter::TiltUncertainty() const {
    return std::sqrt(std::max({m_p[0], m_p[kN + 1], 0.0})) / kDeg;
}

void CAttitudeFilter::Update(const RawSample& sample) {
    if (!std::isfinite(sample.seconds)) {
        return;
    }
    if (sample.seconds < m_lastSeconds) {
        // An older sample is left out; but a run of them means the clock went back (or an
        // earlier time was garbled far ahead): take up the new times rather than stop.
        if (++m_older < kOlderInARow) {
            return;
        }
        m_gyroSeconds = m_accelSeconds = m_magSeconds = sample.seconds;
        m_lastGyroSeconds = -1;
        m_haveGyro = false;
    }
    m_older = 0;
    // Readings no sensor on a vessel gives (broken, garbled or saturated) are left out.
    const double rate = Norm(sample.gyro);
    const double force = Norm(sample.accel);
    const double field = Norm(sample.mag);
    const bool gyroOk = sample.hasGyro && std::isfinite(rate) && rate <= kMaxRate;
    const bool accelOk =
        sample.hasAccel && std::isfinite(force) && force >= kMinForce && force <= kMaxForce;
    const bool magOk =
        m_useMag && sample.hasMag && std::isfinite(field) && field > kMinField && field < kMaxField;
    m_lastSeconds = sample.seconds;
    if (accelOk) {
        m_lastAccel = sample.accel;
        m_haveAccel = true;
    }
    if (magOk) {
        m_lastMag = sample.mag;
        m_haveMag = true;
    }
    if (!m_started) {
        if (m_haveAccel && (m_haveMag || !m_useMag)) {
            Start(sample.seconds);
        }
        return;
    }
    if (gyroOk) {
        // The rate moves between readings (in a sea by tens of degrees a second squared):
        // the attitude turns by its mean over the interval, taken as changing evenly from
        // the last reading to this one. Holding the newest rate over the whole interval
        // would put the attitude half a sample ahead of its time.
        Vec3 turning = sample.gyro;
        const double span = sample.seconds - m_lastGyroSeconds;
        if (m_haveGyro && span > 0 && span <= kMaxStep) {
            const double middle =
                0.5 * (std::max(m_gyroSeconds, m_lastGyroSeconds) + sample.seconds);
            turning = Add(m_lastGyro,
                          Scale(Sub(sample.gyro, m_lastGyro), (middle - m_lastGyroSeconds) / span));
        }
        m_lastGyro = sample.gyro;
        m_lastGyroSeconds = sample.seconds;
        m_haveGyro = true;
        Propagate(turning, sample.gyro, sample.seconds);
    } else if ((accelOk || magOk) && m_haveGyro && sample.seconds > m_gyroSeconds &&
               sample.seconds - m_lastGyroSeconds <= kMaxStep) {
        // From devices of their own, the accelerometer's or magnetometer's reading of a
        // moment may come before the gyroscope's: the attitude is carried to its time on the
        // last rate first, so that it is compared with the attitude of its own moment. Not on
        // a rate older than a gap the gyroscope is integrated across.
        Propagate(m_lastGyro, m_lastGyro, sample.seconds);
    }
    if (accelOk) {
        const double dt = sample.seconds - m_accelSeconds;
        m_accelSeconds = sample.seconds;
        if (dt > 0 && dt <= kMaxStep) {
            CorrectWithVelocity(sample.accel, dt);
        } else {
            m_velocityLost = true;
        }
        RememberMoment(sample.seconds);
    }
    if (magOk) {
        const double dt = sample.seconds - m_magSeconds;
        m_magSeconds = sample.seconds;
        if (dt > 0 && dt <= kMaxStep) {
            CorrectWithMag(sample.mag, dt);
        }
    }
}

void CAttitudeFilter::Start(double seconds) {
    // Up from the specific force, north from the field's part across it (without a field,
    // the bow's direction is taken as north).
    const Vec3 up = Normalised(m_lastAccel);
    const Vec3 toward = m_useMag ? m_lastMag : Vec3{1, 0, 0};
    Vec3 north = Sub(toward, Scale(up, Dot(toward, up)));
    if (Norm(north) < 1e-9) {
        return;  // field along gravity: no heading from it yet
    }
    north = Normalised(north);
    const Vec3 west = Cross(up, north);
    // Rows of the body-to-level matrix are the level axes in body coordinates.
    m_q = QuatOf({north.x, north.y, north.z, west.x, west.y, west.z, up.x, up.y, up.z});
    m_started = true;
    m_startSeconds = seconds;
    m_gyroSeconds = seconds;
    m_accelSeconds = seconds;
    m_magSeconds = seconds;
    m_force = Rotate(m_q, m_lastAccel);
    const Vec3 field = Rotate(m_q, toward);
    m_fieldNorm = Norm(field);
    m_fieldDip = std::atan2(-field.z, std::hypot(field.x, field.y));
    m_p.fill(0);
    const double bias = m_gyroCalibrated ? kCalibratedBias : kFirstBias;
    // The velocities are taken up from zero: what is known of them from the start is only
    // that the sensor moves with the vessel but for what the waves and the arm swing.
    const Vector first{kFirstTilt,  kFirstTilt,        kFirstHeading,     bias,       bias,
                       bias,        kFirstVelocity,    kFirstVelocity,    0,          0,
                       kFirstSpeed, kFirstLeverAcross, kFirstLeverAcross, kFirstLever};
    for (int i = 0; i < kN; ++i) {
        m_p[i * (kN + 1)] = first[i] * first[i];
    }
    m_waveSpread = kFirstWave * kFirstWave;
    m_headingSpread = kFirstHeadingSpread * kFirstHeadingSpread;
}

void CAttitudeFilter::Propagate(const Vec3& turning, const Vec3& newest, double seconds) {
    const double dt = seconds - m_gyroSeconds;
    m_gyroSeconds = seconds;
    if (dt == 0) {
        m_rate = Sub(newest, m_bias);  // the gyroscope of a moment the attitude was carried to
    }
    if (dt <= 0 || dt > kMaxStep) {
        return;
    }
    const Vec3 rate = Sub(turning, m_bias);
    m_q = Normalised(Multiply(m_q, RotationQuat(Scale(rate, dt))));
    m_rate = Sub(newest, m_bias);
    // The mean velocity turns with the vessel: by the rate about the vertical, the speed
    // along the heading turned across it.
    const Mat3 r = RotationOf(m_q);
    const double yaw = r[6] * rate.x + r[7] * rate.y + r[8] * rate.z;
    const Vec3 bow{r[0], r[3], 0};
    const double hb = std::hypot(bow.x, bow.y);
    const Vec3 along = hb > 1e-6 ? Vec3{bow.x / hb, bow.y / hb, 0} : Vec3{1, 0, 0};
    const Vec3 across{-along.y, along.x, 0};
    m_meanX += yaw * m_speed * across.x * dt;
    m_meanY += yaw * m_speed * across.y * dt;
    // The turn the vessel makes: the rate about the vertical over seconds, which the
    // heading's wobble in the waves hardly moves.
    m_turning = Blend(m_turning, yaw, dt, kTurnSeconds);
    m_lastingTurn = Blend(m_lastingTurn, yaw, dt, kLastingTurnSeconds);
    // Covariance: P' = F P Fᵀ + Q with F = I + A dt: the attitude error grows by the bias
    // error turned into the level frame (A[tilt][bias] = -R), the velocity error by the
    // specific force turned by the attitude error (A[velocity][tilt] = -[f]×, horizontal
    // rows), the mean velocity's by the speed's and the bias' errors turning it.
    struct Entry {
        int row, col;
        double a;
    };
    std::array<Entry, 23> entries{};
    std::size_t count = 0;
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 3; ++k) {
            entries[count++] = {kTilt + i, kBias + k, -r[i * 3 + k]};
        }
    }
    const double fx = m_force.x, fy = m_force.y, fz = m_force.z;
    const std::array<double, 6> af{0, fz, -fy, -fz, 0, fx};  // rows x, y of -[f]×
    for (int i = 0; i < 2; ++i) {
        for (int k = 0; k < 3; ++k) {
            entries[count++] = {kVelocity + i, kTilt + k, af[i * 3 + k]};
        }
    }
    // The speed's error turns the mean velocity as the vessel's course turns: by the turn,
    // not by the heading's wobble in the waves, which the way does not follow. Taken by the
    // wobble, the speed would be learnt short (a sea's yaw, wrongly credited with turning the
    // way, argues for less speed), and the turn's acceleration it leaves unexplained would
    // tilt the attitude. In the filter's first minute the gyroscope's rate itself is taken: a
    // turn begun as the filter starts must show the speed at once, not seconds later when the
    // smoothed rate has caught up with it.
    const double young =
        std::clamp((2 * kYoungSeconds - (seconds - m_startSeconds)) / kYoungSeconds, 0.0, 1.0);
    const double courseRate = young * yaw + (1 - young) * m_turning;
    const std::array<double, 2> sideways{across.x, across.y};
    for (int i = 0; i < 2; ++i) {
        entries[count++] = {kMean + i, kSpeed, courseRate * sideways[i]};
        for (int k = 0; k < 3; ++k) {
            entries[count++] = {kMean + i, kBias + k, -m_speed * sideways[i] * r[6 + k]};
        }
    }
    // ap = A P, then P += dt (A P + (A P)ᵀ) + dt² A P Aᵀ + Q.
    std::array<double, kN * kN> ap{};
    for (std::size_t e = 0; e < count; ++e) {
        const Entry& en = entries[e];
        for (int j = 0; j < kN; ++j) {
            ap[en.row * kN + j] += en.a * m_p[en.col * kN + j];
        }
    }
    std::array<double, kN * kN> apa{};
    for (std::size_t e = 0; e < count; ++e) {
        const Entry& en = entries[e];
        for (int i = 0; i < kN; ++i) {
            apa[i * kN + en.row] += ap[i * kN + en.col] * en.a;
        }
    }
    for (int i = 0; i < kN; ++i) {
        for (int j = 0; j < kN; ++j) {
            m_p[i * kN + j] += dt * (ap[i * kN + j] + ap[j * kN + i]) + dt * dt * apa[i * kN + j];
        }
    }
    const double qa = kRateNoise * kRateNoise * dt;
    const double qb = kBiasWalk * kBiasWalk * dt;
    const double qv = kForceNoise * kForceNoise * dt;
    const double qm = kMeanWalk * kMeanWalk * dt;
    const double ql = kLeverWalk * kLeverWalk * dt;
    const Vector q{qa, qa, qa, qb, qb, qb, qv, qv, qm, qm, kSpeedWalk * kSpeedWalk * dt,
                   ql, ql, ql};
    for (int i = 0; i < kN; ++i) {
        m_p[i * (kN + 1)] += q[i];
    }
}

double CAttitudeFilter::Measure(const Vector& h, double y, double r, const Vector& share,
                                const Vec3* biasAlong, const Vec3* notBias) {
    // v = P h, s = hᵀ P h; gain k = v / (s + r) on the states it may correct. Joseph's form
    // keeps the covariance right for such a restricted gain:
    // P' = P - k vᵀ - v kᵀ + (s + r) k kᵀ.
    Vector v{};
    for (int i = 0; i < kN; ++i) {
        double sum = 0;
        for (int j = 0; j < kN; ++j) {
            sum += m_p[i * kN + j] * h[j];
        }
        v[i] = sum;
    }
    double s = 0;
    for (int i = 0; i < kN; ++i) {
        s += h[i] * v[i];
    }
    const double total = s + r;
    if (!(total > 0)) {
        return s;
    }
    Vector k{};
    for (int i = 0; i < kN; ++i) {
        k[i] = share[i] * v[i] / total;
    }
    if (biasAlong != nullptr) {
        const double along =
            k[kBias] * biasAlong->x + k[kBias + 1] * biasAlong->y + k[kBias + 2] * biasAlong->z;
        k[kBias] = along * biasAlong->x;
        k[kBias + 1] = along * biasAlong->y;
        k[kBias + 2] = along * biasAlong->z;
    }
    if (notBias != nullptr) {
        const double along =
            k[kBias] * notBias->x + k[kBias + 1] * notBias->y + k[kBias + 2] * notBias->z;
        k[kBias] -= along * notBias->x;
        k[kBias + 1] -= along * notBias->y;
        k[kBias + 2] -= along * notBias->z;
    }
    for (int i = 0; i < kN; ++i) {
        for (int j = 0; j < kN; ++j) {
            m_p[i * kN + j] += -k[i] * v[j] - v[i] * k[j] + total * k[i] * k[j];
        }
    }
    // Fold the correction into the states.
    const Vec3 turn{k[kTilt] * y, k[kTilt + 1] * y, k[kTilt + 2] * y};
    m_q = Normalised(Multiply(RotationQuat(turn), m_q));
    m_bias = {std::clamp(m_bias.x + k[kBias] * y, -kMaxBias, kMaxBias),
              std::clamp(m_bias.y + k[kBias + 1] * y, -kMaxBias, kMaxBias),
              std::clamp(m_bias.z + k[kBias + 2] * y, -kMaxBias, kMaxBias)};
    m_vx += k[kVelocity] * y;
    m_vy += k[kVelocity + 1] * y;
    m_meanX += k[kMean] * y;
    m_meanY += k[kMean + 1] * y;
    m_speed = std::clamp(m_speed + k[kSpeed] * y, -kMaxSpeed, kMaxSpeed);
    const Vec3 lever{m_lever.x + k[kLever] * y, m_lever.y + k[kLever + 1] * y,
                     m_lever.z + k[kLever + 2] * y};
    if (Finite(lever) && Norm(lever) < kMaxLever) {
        m_lever = lever;
    }
    return s;
}

void CAttitudeFilter::RememberMoment(double seconds) {
    Moment& m = m_moments[m_nextMoment];
    m.seconds = seconds;
    m.vx = m_vx;
    m.vy = m_vy;
    m.q = m_q;
    m.rate = m_rate;
    m_nextMoment = (m_nextMoment + 1) % kMoments;
    m_momentCount = std::min(m_momentCount + 1, kMoments);
}

void CAttitudeFilter::ShiftMoments(double dx, double dy) {
    for (std::size_t i = 0; i < m_momentCount; ++i) {
        m_moments[i].vx += dx;
        m_moments[i].vy += dy;
    }
}

bool CAttitudeFilter::MeasureGroundVelocity(double seconds, double north, double west,
                                            const Vec3& antenna, double sigma) {
    constexpr double kMaxGroundSpeed = 100.0;
    constexpr double kLongestLatency = 1.0;
    if (!m_started || m_momentCount == 0 || !std::isfinite(seconds) ||
        !(std::hypot(north, west) <= kMaxGroundSpeed) || !Finite(antenna) ||
        !(Norm(antenna) <= kMaxLever) || !(sigma > 0) || !std::isfinite(sigma) ||
        TiltUncertainty() > kGroundVelocityTilt) {
        return false;
    }
    // The newest moment at or before the reading's time.
    const Moment* at = nullptr;
    for (std::size_t k = 1; k <= m_momentCount; ++k) {
        const Moment& m = m_moments[(m_nextMoment + kMoments - k) % kMoments];
        if (k == 1 && seconds > m.seconds) {
            return false;  // ahead of the newest sample
        }
        if (m.seconds <= seconds) {
            at = &m;
            break;
        }
    }
    if (at == nullptr || seconds - at->seconds > kMaxStep ||
        m_moments[(m_nextMoment + kMoments - 1) % kMoments].seconds - seconds > kLongestLatency) {
        return false;
    }
    // The antenna's velocity then: the sensor's, and the antenna swung about it by the rate.
    const Vec3 swing = Rotate(at->q, Cross(at->rate, antenna));
    if (!m_onGround) {
        const double dx = north - (at->vx + swing.x), dy = west - (at->vy + swing.y);
        m_vx += dx;
        m_vy += dy;
        m_meanX += dx;
        m_meanY += dy;
        ShiftMoments(dx, dy);
        m_onGround = true;
        return true;
    }
    // As the velocity corrects (CorrectWithVelocity): everything but the heading, which is
    // the magnetometer's, and the bias about the vertical; the second axis from where the
    // first left the states. What a correction moves the velocity by, it moves the remembered
    // velocities by, so each reading is compared with what the filter now holds of its moment.
    const Mat3 r = RotationOf(m_q);
    const Vec3 up{r[6], r[7], r[8]};
    Vector share;
    share.fill(1);
    share[kTilt + 2] = 0;
    for (int axis = 0; axis < 2; ++axis) {
        Vector h{};
        h[kVelocity + axis] = 1;
        const double vx = m_vx, vy = m_vy;
        const double y = axis == 0 ? north - (at->vx + swing.x) : west - (at->vy + swing.y);
        Measure(h, y, sigma * sigma, share, nullptr, &up);
        ShiftMoments(m_vx - vx, m_vy - vy);
    }
    return true;
}

void CAttitudeFilter::TakeUpVelocity(const Vec3& swing, bool astray) {
    m_velocityLost = false;
    m_vx = m_meanX + swing.x;
    m_vy = m_meanY + swing.y;
    for (int axis = kVelocity; axis < kVelocity + 2; ++axis) {
        for (int j = 0; j < kN; ++j) {
            m_p[axis * kN + j] = m_p[j * kN + axis] = 0;
        }
        m_p[axis * (kN + 1)] = kFirstVelocity * kFirstVelocity;
    }
    if (astray) {
        for (int axis = kTilt; axis < kTilt + 2; ++axis) {
            m_p[axis * (kN + 1)] = std::max(m_p[axis * (kN + 1)], kAstrayTilt * kAstrayTilt);
        }
    }
}

void CAttitudeFilter::CorrectWithVelocity(const Vec3& accel, double dt) {
    // The sensor's velocity follows the specific force turned into the level frame (its
    // horizontal part: gravity has none), taken as changing evenly between readings.
    const Mat3 r = RotationOf(m_q);
    const Vec3 before = m_force;
    m_force = Apply(r, accel);
    m_vx += 0.5 * (before.x + m_force.x) * dt;
    m_vy += 0.5 * (before.y + m_force.y) * dt;
    // What the velocity should be: the vessel's mean velocity and the lever arm swung by the
    // rate, R (ω × r) = R [ω]× r.
    const Mat3 w{0, -m_rate.z, m_rate.y, m_rate.z, 0, -m_rate.x, -m_rate.y, m_rate.x, 0};
    const Mat3 rw = Product(r, w);
    // Credited as if each swing held a while; the tuning gain divides it (its square root, and
    // no gain beyond kMaxGain: trusted more, the velocity would pass the waves on to the
    // attitude).
    const double noise =
        m_waveSpread * kWaveCorrelation / dt / std::sqrt(std::min(m_tuning.gain, kMaxGain));
    // The heading is the magnetometer's: the velocity corrects everything else, but for the
    // bias about the vertical (which only turns the vessel's way, and would learn a wrong
    // speed's turn).
    const Vec3 up{r[6], r[7], r[8]};
    Vector share;
    share.fill(1);
    share[kTilt + 2] = 0;
    // The speed shows only in a turn, and only in one the gyroscope shows beyond what its
    // bias may be: before, the bias would pass for a turn of a speed never seen.
    const double biasSigma = std::sqrt(std::max(
        m_p[(kBias + 2) * (kN + 1)], 0.0));  // about the body's up, near enough the vertical's
    const double turn =
        std::min(std::abs(m_turning), std::abs(m_lastingTurn)) / (kTurnRate + biasSigma);
    share[kSpeed] = std::clamp(turn - 1.0, 0.0, 1.0);
    // A velocity far beyond what the waves and the filter's own uncertainty allow has lost
    // its thread (broken readings were integrated, or readings were missing): it is taken
    // up anew where the vessel is, and the attitude, which the same readings may have led
    // astray, is given room to be found again.
    const Vec3 swing = Apply(rw, m_lever);
    const double yx = m_vx - m_meanX - swing.x;
    const double yy = m_vy - m_meanY - swing.y;
    const double allowed =
        kLostSigmas * kLostSigmas *
        (m_p[kVelocity * (kN + 1)] + m_p[kMean * (kN + 1)] + m_p[(kVelocity + 1) * (kN + 1)] +
         m_p[(kMean + 1) * (kN + 1)] + 2 * m_waveSpread);
    if (m_velocityLost || yx * yx + yy * yy > allowed) {
        TakeUpVelocity(swing, !m_velocityLost);
        return;
    }
    // y = integrated - predicted = h·error + noise, with error = true - estimate; the second
    // innovation from where the first correction left the states.
    double seen = 0;
    double explained = 0;
    for (int axis = 0; axis < 2; ++axis) {
        const Vec3 now = Apply(rw, m_lever);
        const double predicted = (axis == 0 ? m_meanX + now.x : m_meanY + now.y);
        const double y = (axis == 0 ? m_vx : m_vy) - predicted;
        Vector h{};
        h[kVelocity + axis] = -1;
        h[kMean + axis] = 1;
        for (int k = 0; k < 3; ++k) {
            h[kLever + k] = rw[static_cast<std::size_t>(axis * 3 + k)];
        }
        explained += Measure(h, y, noise, share, nullptr, &up);
        seen += y * y;
    }
    // Learn what the waves leave. Innovations smaller than it say it is at most that much;
    // larger ones count only for what the states' uncertainty does not explain, and only
    // where that is most of them (at first the uncertainty explains all and says nothing of
    // the waves; a filter gone astray must not take its own error for waves).
    const double age = m_lastSeconds - m_startSeconds;
    if (0.5 * seen < m_waveSpread) {
        m_waveSpread = Blend(m_waveSpread, 0.5 * seen, dt, std::clamp(age, 1.0, kWaveSeconds));
    } else if (explained < kExplainedShare * seen) {
        m_waveSpread = Blend(m_waveSpread, 0.5 * (seen - explained), dt, kRiseSeconds);
    }
    m_waveSpread = std::clamp(m_waveSpread, kMinWave * kMinWave, kMaxWave * kMaxWave);
}

void CAttitudeFilter::CorrectWithMag(const Vec3& mag, double dt) {
    const double age = m_lastSeconds - m_startSeconds;
    const Vec3 field = Rotate(m_q, mag);
    const double horizontal = std::hypot(field.x, field.y);
    const double norm = Norm(field);
    const double dip = std::atan2(-field.z, horizontal);
    const double error = std::atan2(field.y, field.x);  // the field's bearing west of north
    if (age < kFieldLearnSeconds) {
        const double span = std::max(age, dt);
        m_fieldNorm = Blend(m_fieldNorm, norm, dt, span);
        m_fieldDip = Blend(m_fieldDip, dip, dt, span);
    }
    m_normRatio = Blend(m_normRatio, norm / m_fieldNorm, dt, kMagSmoothSeconds);
    m_dipDeparture = Blend(m_dipDeparture, dip - m_fieldDip, dt, kMagSmoothSeconds);
    m_headingInnovation = Wrap(m_headingInnovation +
                               Blend(0, Wrap(error - m_headingInnovation), dt, kMagSmoothSeconds));
    const bool fieldChanged =
        age >= kReferenceSeconds && (std::abs(m_normRatio - 1.0) > kFieldStrengthDeparture ||
                                     std::abs(m_dipDeparture) > kFieldDipDeparture);
    // The heading disagrees when the magnetometer's bearing departs from the filter's heading
    // by more than the filter's own uncertainty explains (three sigma) and a margin.
    const double tanDip = std::tan(m_fieldDip);
    // (The bearing's variance from the filter's uncertainty: heading and the tilt about north
    // together, as they are correlated.)
    const double states =
        std::max(m_p[2 * kN + 2] + tanDip * tanDip * m_p[0] + 2 * tanDip * m_p[2], 0.0);
    const double sigma = std::sqrt(states);
    // A disagreement that holds steady for kDisagreementSeconds is believed (the heading, not
    // the field, is off); one that keeps changing (a steel mass moving about) is not, but for
    // no longer than kLongestDisagreement while the field's strength and dip stay as they
    // were all along: a heading that runs away on a wrong bias also keeps changing, where iron
    // that bends the field as the vessel turns changes its strength too.
    bool disagrees = false;
    if (age >= kReferenceSeconds && std::abs(m_headingInnovation) > kHeadingDeparture + 3 * sigma) {
        const double change = std::abs(Wrap(m_headingInnovation - m_disagreeValue));
        if (m_disagreeSince < 0) {
            m_disagreeFirst = m_lastSeconds;
            m_fieldSteady = true;
        }
        m_fieldSteady = m_fieldSteady && !fieldChanged;
        if (m_disagreeSince < 0 ||
            change > std::max(kSteadyDisagreement, kSteadyShare * std::abs(m_disagreeValue))) {
            m_disagreeSince = m_lastSeconds;
            m_disagreeValue = m_headingInnovation;
        }
        const bool runaway =
            m_fieldSteady && m_lastSeconds - m_disagreeFirst >= kLongestDisagreement;
        disagrees = m_lastSeconds - m_disagreeSince < kDisagreementSeconds && !runaway;
        if (runaway) {
            // So long a disagreement with a field of unchanged strength and dip is the
            // heading's: it, and the bias about the vertical that took it there, get the room
            // to follow the field again (the readings would otherwise stay beyond the gate).
            const Vec3 vertical = RotateBack(m_q, {0, 0, 1});
            const std::array<double, 3> u{vertical.x, vertical.y, vertical.z};
            m_p[2 * kN + 2] += m_headingInnovation * m_headingInnovation;
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j) {
                    m_p[(kBias + i) * kN + kBias + j] += kFirstBias * kFirstBias * u[i] * u[j];
                }
            }
            m_disagreeFirst = m_lastSeconds;
        }
    } else {
        m_disagreeSince = -1;
    }
    const bool wasDisturbed = m_disturbed;
    m_disturbed = fieldChanged || disagrees;
    // A field turning slowly away looks to the filter like a gyroscope bias about the
    // vertical until it is found out: then the bias about the vertical goes back to what it
    // was while the field still agreed.
    const Vec3 up = RotateBack(m_q, {0, 0, 1});
    if (m_disturbed && !wasDisturbed) {
        m_bias = Add(m_bias, Scale(up, Dot(Sub(m_trustedBias, m_bias), up)));
    } else if (!m_disturbed && std::abs(m_headingInnovation) < kTrustedInnovation) {
        m_trustedBias = m_bias;
    }
    if (m_disturbed || horizontal < 1e-9) {
        return;
    }
    if (age >= kFieldLearnSeconds) {
        m_fieldNorm = Blend(m_fieldNorm, norm, dt, kReferenceFollowSeconds);
        m_fieldDip = Blend(m_fieldDip, dip, dt, kReferenceFollowSeconds);
    }
    // The field's bearing moves against the heading error, and with the tilt error about
    // north as much as the dip's tangent; only heading and bias are corrected from it.
    // Gain and magnetometer weight together divide the noise the magnetometer is credited
    // with (at most tenfold: trusted more, the field would pass its noise on to the heading).
    const double weight = std::min(m_tuning.gain * m_tuning.magWeight, kMaxMagWeight);
    // A reading is worth no more than its own noise, however fast they come.
    const double r =
        std::max(std::max(kHeadingCorrelation * m_headingSpread, kHeadingFloor * kHeadingFloor) *
                     kReferenceStep / dt,
                 m_headingSpread) /
        weight;
    // A reading beyond what the filter's uncertainty and the field's noise explain (a
    // disturbance setting in) corrects nothing, and counts toward the noise only up to
    // that bound, so a lasting change is taken in step by step.
    const double expected = states + r * dt / kReferenceStep;
    const double bound = kInnovationGate * kInnovationGate * expected;
    m_headingSpread = Blend(m_headingSpread, std::min(error * error, bound), dt, kSpreadSeconds);
    if (error * error > bound) {
        return;
    }
    Vector h{};
    h[kTilt] = -tanDip;
    h[kTilt + 2] = -1;
    Vector share{};
    share[kTilt + 2] = 1;
    share[kBias] = share[kBias + 1] = share[kBias + 2] = 1;
    // Of the bias, only the part about the vertical moves the heading.
    Measure(h, error, r, share, &up);
}

}  // namespace attfilter
