#include "filter/AttitudeFilter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "Math.h"

namespace attfilter {
namespace {

// The filter is a Kalman filter over the attitude's error (a small rotation in the level
// frame) and the gyroscope's bias. Its gyroscope model: white rate noise (rad/s/√Hz) and a
// bias that wanders as a random walk (rad/s/√s).
constexpr double kRateNoise = 0.01 * kDeg;
constexpr double kBiasWalk = 0.002 * kDeg;
// Uncertainty of the first attitude and of an unknown gyroscope bias.
constexpr double kFirstTilt = 5 * kDeg;
constexpr double kFirstHeading = 10 * kDeg;
constexpr double kFirstBias = 0.5 * kDeg;
constexpr double kCalibratedBias = 0.05 * kDeg;
// The accelerometer and magnetometer noise is learnt from their innovations: a vessel's own
// accelerations swing the measured vertical by degrees with the waves, correlated over
// seconds, so the learnt spread is weighted by kCorrelation (as if each swing counted once)
// and referred to 100 samples a second. Below the floor the sensors are never trusted.
constexpr double kReferenceStep = 0.01;
constexpr double kTiltCorrelation = 8.0;
constexpr double kHeadingCorrelation = 2.0;
constexpr double kTiltFloor = 0.5 * kDeg;
constexpr double kHeadingFloor = 0.5 * kDeg;
constexpr double kMaxMagWeight = 100.0;
constexpr double kFirstSpread = 5 * kDeg;
constexpr double kFirstHeadingSpread = 1 * kDeg;
constexpr double kSpreadSeconds = 5.0;
// The swing of the vertical (rad) at which the accelerometer's say about the bias halves.
constexpr double kCalmTilt = 1.0 * kDeg;
// The specific force's departure from gravity (share of g) at which the accelerometer's
// noise doubles.
constexpr double kForceDeparture = 0.05;
// The rate of turn at which the accelerometer's say about roll halves, falling with its
// fourth power beyond (rad/s): in a turn the
// centripetal acceleration leans the specific force across the vessel.
constexpr double kTurnRate = 0.5 * kDeg;
// From this many times that rate on the accelerometer has no say about roll at all.
constexpr double kTurnsOffRoll = 2.0;
constexpr double kTurnSmoothSeconds = 0.5;
constexpr double kTurnFallSeconds = 5.0;
// Magnetometer disturbance: field strength or dip departing from their references, or the
// magnetometer's heading departing from the filter's, after low-passing over this time.
constexpr double kMagSmoothSeconds = 0.5;
constexpr double kFieldStrengthDeparture = 0.03;
constexpr double kFieldDipDeparture = 5 * kDeg;
constexpr double kHeadingDeparture = 3.0 * kDeg;
// A heading disagreement without any change of the field is believed after this long (the
// gyroscope, not the field, has wandered).
constexpr double kDisagreementSeconds = 20.0;
constexpr double kSteadyDisagreement = 1.0 * kDeg;
constexpr double kSteadyShare = 0.3;
// The bias counts as trusted while the magnetometer's heading agrees within this (rad).
constexpr double kTrustedInnovation = 1.0 * kDeg;
// Readings of the magnetometer beyond this many sigmas are left out.
constexpr double kInnovationGate = 4.0;
// References of the field and of gravity learnt over the first seconds, then followed slowly.
constexpr double kReferenceSeconds = 5.0;
constexpr double kReferenceFollowSeconds = 120.0;
// The field's strength and dip are averaged over this long from the start (while the first
// attitude settles) before their departures count.
constexpr double kFieldLearnSeconds = 20.0;
// The largest gyroscope bias the estimate may reach (rad/s).
constexpr double kMaxBias = 2.0 * kDeg;
// The lever arm is learnt over this time (s), from this long after the start on, not in
// turns, and shrunk toward zero where the motion does not reveal it.
constexpr double kLeverSeconds = 120.0;
constexpr double kLeverAfterSeconds = 2.0;
constexpr double kLeverShrink = 1e-3;
constexpr double kMaxLever = 50.0;
constexpr int kLeverSolveEvery = 4;
// The accelerometer is used this late (s), the angular acceleration taken across twice it.
constexpr double kLeverDelaySeconds = 0.1;
// The reference attitude the lever arm is learnt in drifts toward the filter's over this (s).
constexpr double kReferenceAttitudeSeconds = 20.0;
// Innovations averaged over this long (s) show a lasting error.
constexpr double kMeanSeconds = 4.0;
constexpr double kLeverTurnRate = 2.0 * kDeg;
// Readings beyond these are left out: rate (rad/s, the range of MEMS gyroscopes), specific
// force (m/s²; at rest it is g, heave and turns move it by tenths), field (any unit from gauss
// to nanotesla or counts, as only its direction is used).
constexpr double kMaxRate = 2000 * kDeg;
constexpr double kMinForce = 0.1 * 9.80665;
constexpr double kMaxForce = 20 * 9.80665;
constexpr double kMinField = 1e-9;
constexpr double kMaxField = 1e6;
// The lever arm is learnt only from specific forces within this of gravity (m/s²).
constexpr double kLeverForceDeparture = 0.3 * 9.80665;
// After this many samples in a row older than the newest, their times are taken up.
constexpr int kOlderBeforeRestamp = 50;
// A gap in the samples longer than this is not integrated across.
constexpr double kMaxStep = 0.2;
// Start-up: at these ages of the attitude (s) the samples since the first are run through
// again; at most this many are kept for it (9 s of three devices apart at 512 Hz), and
// before the first attitude only the newest few.
constexpr std::array<double, 5> kRealignAt{3.0, 4.5, 6.0, 7.5, 9.0};
constexpr std::size_t kMaxFirstSamples = 16384;
constexpr std::size_t kMaxSamplesBeforeStart = 8;
// A run through again that ends further than this from the attitude it is to replace (rad)
// has gone astray; the first run (without a lever arm) may itself be off by several
// degrees, so the first time the bounds are three times as wide.
constexpr double kRealignTilt = 5 * kDeg;
constexpr double kRealignHeading = 15 * kDeg;
constexpr double kFirstRealignWidening = 3.0;
// The swing of the vertical (RMS over the first run, rad) from which a sea is run through
// again: a calm sea shows a few tenths of a degree, a heavy one degrees.
constexpr double kRealignSwing = 0.8 * kDeg;
// Below it, the swing the filter credits the vertical with after the first run, at least.
constexpr double kCalmSpread = 1.0 * kDeg;

double Blend(double old, double value, double dt, double tau) {
    const double a = std::min(1.0, dt / std::max(tau, 1e-9));
    return old + a * (value - old);
}

// The lever arm's acceleration in body axes is M·r with M = [α]× + [ω]×[ω]× (rate ω,
// angular acceleration α).
Mat3 LeverMatrix(const Vec3& w, const Vec3& al) {
    return {-w.y * w.y - w.z * w.z, w.x * w.y - al.z,       w.x * w.z + al.y,
            w.x * w.y + al.z,       -w.x * w.x - w.z * w.z, w.y * w.z - al.x,
            w.x * w.z - al.y,       w.y * w.z + al.x,       -w.x * w.x - w.y * w.y};
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

void CAttitudeFilter::Update(const RawSample& sample) {
    if (!std::isfinite(sample.seconds)) {
        return;
    }
    if (!m_replaying && m_passes < static_cast<int>(kRealignAt.size())) {
        if (!m_started && m_firstSamples.size() >= kMaxSamplesBeforeStart) {
            m_firstSamples.erase(m_firstSamples.begin());
        }
        if (m_firstSamples.size() < kMaxFirstSamples) {
            m_firstSamples.push_back(sample);
        } else {
            // More than can be kept (a very fast sensor): the start-up stands as it is.
            m_passes = static_cast<int>(kRealignAt.size());
            std::vector<RawSample>().swap(m_firstSamples);
        }
    }
    if (sample.seconds < m_lastSeconds) {
        // An older sample is left out; but a run of them means the clock went back (or an
        // earlier time was garbled far ahead): take up the new times rather than stop.
        if (++m_older < kOlderBeforeRestamp) {
            return;
        }
        m_gyroSeconds = m_accelSeconds = m_magSeconds = sample.seconds;
        m_historyCount = 0;
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
        // would put the attitude half a sample ahead of its time, by 0.3° of roll at 25
        // samples a second in a heavy sea.
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
        // last rate first, so that it is compared with the attitude of its own moment (in a
        // sea the vessel turns a tenth of a degree in a hundredth of a second). Not on a
        // rate older than a gap the gyroscope is integrated across.
        Propagate(m_lastGyro, m_lastGyro, sample.seconds);
    }
    if (accelOk) {
        const double dt = sample.seconds - m_accelSeconds;
        m_accelSeconds = sample.seconds;
        if (dt > 0 && dt <= kMaxStep) {
            CorrectWithAccel(sample.accel, dt);
        }
    }
    if (magOk) {
        const double dt = sample.seconds - m_magSeconds;
        m_magSeconds = sample.seconds;
        if (dt > 0 && dt <= kMaxStep) {
            CorrectWithMag(sample.mag, dt);
        }
    }
    if (!m_replaying && m_passes < static_cast<int>(kRealignAt.size()) &&
        m_lastSeconds - m_startSeconds >= kRealignAt[static_cast<std::size_t>(m_passes)]) {
        Realign();
    }
}

void CAttitudeFilter::Realign() {
    // In a sea the first attitude, and the seconds after it, come from a vertical that the
    // lever arm's accelerations swing by degrees while the arm is still unknown; the bias
    // learnt meanwhile is off by as much as there is to find, and the arm itself is learnt
    // in a reference attitude that an unknown bias turns. So the samples since the first
    // are run through again, from the first, with the arm learnt so far: the run learns the
    // arm anew (its reference now turned by a better bias), and from the second run on it
    // starts from the bias the run before ended with. A few runs a second and a half apart
    // find the attitude within the first ten seconds where one would need tens.
    // That only where the vertical swung by more than in a calm sea: in calm water and a
    // low swell the first run is as good as another, and running through again would only
    // count the same seconds twice (which, in a turn, misleads the bias about the bow axis).
    if (m_passes == 0 &&
        m_firstSquareLean < kRealignSwing * kRealignSwing * (m_lastSeconds - m_startSeconds)) {
        // Calm water is known as calm from here: the swing learnt so far still carries the
        // first guess (a sea's), which would keep the accelerometer from the bias for
        // seconds more; what the first run saw takes its place, a degree at the least.
        const double seen = m_firstSquareLean / (m_lastSeconds - m_startSeconds);
        m_tiltSpread = std::min(m_tiltSpread, std::max(seen, kCalmSpread * kCalmSpread));
        m_passes = static_cast<int>(kRealignAt.size());
        std::vector<RawSample>().swap(m_firstSamples);
        return;
    }
    std::vector<RawSample> samples = std::move(m_firstSamples);
    const CAttitudeFilter live = *this;
    Reset();
    m_passes = live.m_passes + 1;
    m_lever = live.m_lever;
    // The first run went without a lever arm: its bias is no better than none.
    m_startBias = m_passes > 1 ? live.m_bias : Vec3{};
    m_startTiltSpread = live.m_tiltSpread;
    m_replaying = true;
    for (const RawSample& s : samples) {
        Update(s);
    }
    m_replaying = false;
    if (m_leverSolved) {
        m_lever = m_solvedLever;
    } else {
        // Nothing to learn the arm from in these samples (a turn): keep what there was.
        m_leverNormal = live.m_leverNormal;
        m_leverRight = live.m_leverRight;
        m_leverCount = live.m_leverCount;
        m_lever = live.m_lever;
    }
    // Both runs end on the same moment: a run that ends far from the one before, or on a
    // bias at its bound, has gone astray (the strongest tunings let the first seconds'
    // swings through), is not taken, and the start-up stands as it was.
    const EulerAngles now = Attitude();
    const EulerAngles before = live.Attitude();
    const bool atBound = std::max({std::abs(m_bias.x), std::abs(m_bias.y), std::abs(m_bias.z)}) >=
                         kMaxBias * (1 - 1e-9);
    const double widen = m_passes == 1 ? kFirstRealignWidening : 1.0;
    const double tilt = widen * kRealignTilt / kDeg;
    if (!m_started || atBound || std::abs(now.roll - before.roll) > tilt ||
        std::abs(now.pitch - before.pitch) > tilt ||
        std::abs(Wrap((now.heading - before.heading) * kDeg)) > widen * kRealignHeading) {
        *this = live;
        m_passes = static_cast<int>(kRealignAt.size());
        return;
    }
    if (m_passes < static_cast<int>(kRealignAt.size())) {
        m_firstSamples = std::move(samples);
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
    m_reference = m_q;
    m_started = true;
    m_startSeconds = seconds;
    m_gyroSeconds = seconds;
    m_accelSeconds = seconds;
    m_magSeconds = seconds;
    m_gravity = Norm(m_lastAccel);
    const Vec3 field = Rotate(m_q, toward);
    m_fieldNorm = Norm(field);
    m_fieldDip = std::atan2(-field.z, std::hypot(field.x, field.y));
    m_p.fill(0);
    const double bias = m_gyroCalibrated ? kCalibratedBias : kFirstBias;
    const std::array<double, 6> first{kFirstTilt, kFirstTilt, kFirstHeading, bias, bias, bias};
    for (std::size_t i = 0; i < first.size(); ++i) {
        m_p[i * 7] = first[i] * first[i];
    }
    m_tiltSpread = kFirstSpread * kFirstSpread;
    m_headingSpread = kFirstHeadingSpread * kFirstHeadingSpread;
    if (m_passes > 0) {
        // Run through again: from what the run before learnt. A bias taken at rest is better known
        // than from a few seconds at sea, and taking those seconds' estimate as known as that would
        // count them twice.
        if (!m_gyroCalibrated) {
            m_bias = m_startBias;
        }
        m_tiltSpread = m_startTiltSpread;
    }
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
    const Mat3 before = RotationOf(m_q);
    m_q = Normalised(Multiply(m_q, RotationQuat(Scale(rate, dt))));
    const Mat3 r = RotationOf(m_q);
    // The reference attitude follows the gyroscope and drifts toward the filter's attitude
    // only slowly, so the filter's own swings with the waves do not reach it.
    m_reference = Normalised(Multiply(m_reference, RotationQuat(Scale(rate, dt))));
    const Quat gap =
        Multiply(m_q, {m_reference[0], -m_reference[1], -m_reference[2], -m_reference[3]});
    const double sign = gap[0] < 0 ? -1.0 : 1.0;
    const double pull = 2 * sign * std::min(1.0, dt / kReferenceAttitudeSeconds);
    m_reference = Normalised(
        Multiply(RotationQuat({gap[1] * pull, gap[2] * pull, gap[3] * pull}), m_reference));
    m_rate = Sub(newest, m_bias);
    // The rate of turn: how fast the gyroscope moves the heading (the corrections left out),
    // smoothed over a second; its size rises at once and falls away slowly, so a turn
    // silences the accelerometer's roll from its first moment to a while after it ended.
    // (Not the rotation about the vertical: a vessel rolling while pitched turns about the
    // vertical by degrees a second.)
    const double turned = std::atan2(-r[3], r[0]) - std::atan2(-before[3], before[0]);
    m_turnRate = Blend(m_turnRate, Wrap(turned) / dt, dt, kTurnSmoothSeconds);
    const double yawRate = std::abs(m_turnRate);
    m_yawRate = yawRate > m_yawRate ? yawRate : Blend(m_yawRate, yawRate, dt, kTurnFallSeconds);
    // Covariance: the attitude error grows by the bias error turned into the level frame,
    // F = [I, -R dt; 0, I], plus the rate noise and the bias' wander.
    Mat3 a, b, c;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            a[i * 3 + j] = m_p[i * 6 + j];
            b[i * 3 + j] = m_p[i * 6 + 3 + j];
            c[i * 3 + j] = m_p[(i + 3) * 6 + 3 + j];
        }
    }
    const Mat3 rc = Product(r, c);
    const Mat3 rbt = Product(r, Transposed(b));
    const Mat3 rcrt = Product(rc, Transposed(r));
    const double qa = kRateNoise * kRateNoise * dt;
    const double qb = kBiasWalk * kBiasWalk * dt;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            const double aij = a[i * 3 + j] - dt * (rbt[i * 3 + j] + rbt[j * 3 + i]) +
                               dt * dt * rcrt[i * 3 + j] + (i == j ? qa : 0);
            const double bij = b[i * 3 + j] - dt * rc[i * 3 + j];
            m_p[i * 6 + j] = aij;
            m_p[i * 6 + 3 + j] = bij;
            m_p[(j + 3) * 6 + i] = bij;
            m_p[(i + 3) * 6 + 3 + j] = c[i * 3 + j] + (i == j ? qb : 0);
        }
    }
}

void CAttitudeFilter::Measure(const std::array<double, 6>& h, double y, double r,
                              const std::array<double, 6>& share, const Vec3& notBias) {
    // v = P h, s = hᵀ P h; gain k = v / (s + r) on the states it may correct. Joseph's form
    // keeps the covariance right for such a restricted gain:
    // P' = P - k vᵀ - v kᵀ + (s + r) k kᵀ.
    std::array<double, 6> v{};
    for (int i = 0; i < 6; ++i) {
        double sum = 0;
        for (int j = 0; j < 6; ++j) {
            sum += m_p[i * 6 + j] * h[j];
        }
        v[i] = sum;
    }
    double s = 0;
    for (int i = 0; i < 6; ++i) {
        s += h[i] * v[i];
    }
    const double total = s + r;
    if (!(total > 0)) {
        return;
    }
    std::array<double, 6> k{};
    for (int i = 0; i < 6; ++i) {
        k[i] = share[i] * v[i] / total;
    }
    // The bias correction keeps out of the direction given.
    const double along = k[3] * notBias.x + k[4] * notBias.y + k[5] * notBias.z;
    k[3] -= along * notBias.x;
    k[4] -= along * notBias.y;
    k[5] -= along * notBias.z;
    for (int i = 0; i < 6; ++i) {
        for (int j = 0; j < 6; ++j) {
            m_p[i * 6 + j] += -k[i] * v[j] - v[i] * k[j] + total * k[i] * k[j];
        }
    }
    // Fold the correction into the attitude (a rotation in the level frame) and the bias.
    const Vec3 turn{k[0] * y, k[1] * y, k[2] * y};
    m_q = Normalised(Multiply(RotationQuat(turn), m_q));
    m_appliedTurn = Add(m_appliedTurn, turn);
    m_bias = {std::clamp(m_bias.x + k[3] * y, -kMaxBias, kMaxBias),
              std::clamp(m_bias.y + k[4] * y, -kMaxBias, kMaxBias),
              std::clamp(m_bias.z + k[5] * y, -kMaxBias, kMaxBias)};
}

void CAttitudeFilter::LearnLeverArm(const Mat3& toBody, const Quat& reference, const Vec3& accel,
                                    double dt) {
    // In the level frame the horizontal specific force is the lever arm's acceleration
    // R·M·r plus the part of gravity a tilt error leaves. Levelled with the slow reference
    // attitude, that part changes slowly beside the waves: least squares for r and that
    // offset, forgetting slowly.
    const Mat3 l = Product(RotationOf(reference), toBody);
    const Vec3 f = Rotate(reference, accel);
    const std::array<double, 5> rowX{l[0], l[1], l[2], 1, 0};
    const std::array<double, 5> rowY{l[3], l[4], l[5], 0, 1};
    const double keep = std::exp(-dt / kLeverSeconds);
    for (int i = 0; i < 5; ++i) {
        for (int j = 0; j < 5; ++j) {
            m_leverNormal[i * 5 + j] =
                keep * m_leverNormal[i * 5 + j] + rowX[i] * rowX[j] + rowY[i] * rowY[j];
        }
        m_leverRight[i] = keep * m_leverRight[i] + rowX[i] * f.x + rowY[i] * f.y;
    }
    if (++m_leverCount % kLeverSolveEvery != 0) {
        return;
    }
    std::array<std::array<double, 5>, 5> n{};
    for (int i = 0; i < 5; ++i) {
        for (int j = 0; j < 5; ++j) {
            n[i][j] = m_leverNormal[i * 5 + j];
        }
    }
    // Shrink the arm toward zero where the motion does not reveal it.
    const double shrink = kLeverShrink * (n[0][0] + n[1][1] + n[2][2]) / 3 + 1e-12;
    for (int i = 0; i < 3; ++i) {
        n[i][i] += shrink;
    }
    std::array<double, 5> x{};
    if (!Solve<5>(n, m_leverRight, x)) {
        return;
    }
    const Vec3 lever{x[0], x[1], x[2]};
    if (Finite(lever) && Norm(lever) < kMaxLever) {
        // While the first seconds run through again, the arm they started with stays in use.
        if (m_replaying) {
            m_solvedLever = lever;
            m_leverSolved = true;
        } else {
            m_lever = lever;
        }
    }
}

void CAttitudeFilter::CorrectWithAccel(const Vec3& measured, double dt) {
    const double age = m_lastSeconds - m_startSeconds;
    // The accelerometer is used a moment late (kLeverDelaySeconds), where the angular
    // acceleration can be taken across the moment from the rates on either side: the
    // derivative of a noisy rate over one sample would drown it (and bias the learnt lever
    // arm toward zero), a smoothed one would lag it.
    const std::size_t size = m_history.size();
    LeverSample& newest = m_history[m_historyCount % size];
    newest = {m_lastSeconds, m_rate, m_reference, m_q, m_appliedTurn, measured, m_haveGyro};
    ++m_historyCount;
    const std::size_t available = std::min(m_historyCount, size);
    std::size_t back = 1;
    while (back + 1 < available &&
           newest.seconds - m_history[(m_historyCount - 1 - back) % size].seconds <
               2 * kLeverDelaySeconds) {
        ++back;
    }
    const LeverSample& oldest = m_history[(m_historyCount - 1 - back) % size];
    const LeverSample& then = m_history[(m_historyCount - 1 - back / 2) % size];
    const double span = newest.seconds - oldest.seconds;
    if (back < 2 || !(span > 0)) {
        return;
    }
    // Before the first gyroscope reading the rate is not known: no angular acceleration
    // can be taken across such a moment (an arm known from the start would turn the
    // rate's coming into an acceleration of metres a second squared).
    const Mat3 m = oldest.rated
                       ? LeverMatrix(then.rate, Scale(Sub(newest.rate, oldest.rate), 1.0 / span))
                       : Mat3{};
    if (oldest.rated && age > kLeverAfterSeconds && m_yawRate < kLeverTurnRate &&
        std::abs(Norm(then.accel) - m_gravity) < kLeverForceDeparture) {
        LearnLeverArm(m, then.reference, then.accel, dt);
    }
    const Vec3 accel = Sub(then.accel, Apply(m, m_lever));
    const double force = Norm(accel);
    m_gravity = Blend(m_gravity, force, dt,
                      age < kReferenceSeconds ? std::max(age, dt) : kReferenceFollowSeconds);
    const double departure = (force - m_gravity) / m_gravity / kForceDeparture;
    // The measured vertical in the level frame: its lean is the attitude's tilt error,
    // a rotation (f.y, -f.x) about the horizontal axes, less what was corrected since.
    const Vec3 f = Normalised(Rotate(then.attitude, accel));
    const Vec3 bow = Rotate(m_q, {1, 0, 0});
    const double hb = std::hypot(bow.x, bow.y);
    const Vec3 along = hb > 1e-6 ? Vec3{bow.x / hb, bow.y / hb, 0} : Vec3{1, 0, 0};
    const Vec3 across{-along.y, along.x, 0};
    const Vec3 since = Sub(m_appliedTurn, then.applied);
    const Vec3 lean{f.y - since.x, -f.x - since.y, 0};
    const double rollError = Dot(lean, along);
    const double pitchError = Dot(lean, across);
    const double innovation = rollError * rollError + pitchError * pitchError;
    // Learn how far the vertical swings.
    m_tiltSpread = Blend(m_tiltSpread, 0.5 * innovation, dt, kSpreadSeconds);
    m_firstSquareLean += 0.5 * innovation * dt;
    double r =
        std::max(kTiltCorrelation * m_tiltSpread, kTiltFloor * kTiltFloor) * kReferenceStep / dt;
    // The tuning gain divides the noise the accelerometer is credited with.
    r *= (1.0 + departure * departure) / m_tuning.gain;
    // A lasting lean of the measured vertical (its mean over seconds) that the filter's own
    // uncertainty does not cover means the filter is surer than it should be (it started
    // while the sea swung the vertical about): it gets that much room back.
    const double keep = std::min(1.0, dt / kMeanSeconds);
    m_tiltMean = Add(m_tiltMean, Scale(Sub(lean, m_tiltMean), keep));
    const double turn = m_yawRate / kTurnRate;
    if (turn < 1) {
        m_p[0] = std::max(m_p[0], m_tiltMean.x * m_tiltMean.x);
        m_p[7] = std::max(m_p[7], m_tiltMean.y * m_tiltMean.y);
    }
    // While the sea still swings the vertical by more than a degree (before the lever arm
    // is learnt), its swings would pass for a gyroscope bias: the bias learns the less.
    const double b = 1.0 / (1.0 + m_tiltSpread / (kCalmTilt * kCalmTilt));
    const std::array<double, 6> tiltAndBias{1, 1, 0, b, b, b};
    // A lean says nothing of the rotation about the vertical: no bias about the body's up.
    const Vec3 up = RotateBack(m_q, {0, 0, 1});
    if (turn < kTurnsOffRoll) {
        Measure({along.x, along.y, 0, 0, 0, 0}, rollError, r * (1.0 + turn * turn * turn * turn),
                tiltAndBias, up);
    }
    Measure({across.x, across.y, 0, 0, 0, 0}, pitchError, r, tiltAndBias, up);
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
    const double sigma = std::sqrt(std::max(m_p[14] + tanDip * tanDip * m_p[0], 0.0));
    // A disagreement that holds steady for kDisagreementSeconds is believed (the heading, not
    // the field, is off); one that keeps changing (a steel mass moving about) is not.
    bool disagrees = false;
    if (age >= kReferenceSeconds && std::abs(m_headingInnovation) > kHeadingDeparture + 3 * sigma) {
        const double change = std::abs(Wrap(m_headingInnovation - m_disagreeValue));
        if (m_disagreeSince < 0 ||
            change > std::max(kSteadyDisagreement, kSteadyShare * std::abs(m_disagreeValue))) {
            m_disagreeSince = m_lastSeconds;
            m_disagreeValue = m_headingInnovation;
        }
        disagrees = m_lastSeconds - m_disagreeSince < kDisagreementSeconds;
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
    // with (at most a hundredfold).
    const double weight = std::min(m_tuning.gain * m_tuning.magWeight, kMaxMagWeight);
    const double r =
        std::max(kHeadingCorrelation * m_headingSpread, kHeadingFloor * kHeadingFloor) *
        kReferenceStep / dt / weight;
    // A reading beyond what the filter's uncertainty and the field's noise explain (a
    // disturbance setting in) corrects nothing, and counts toward the noise only up to
    // that bound, so a lasting change is taken in step by step.
    const double tanDipNow = std::tan(m_fieldDip);
    const double expected = m_p[14] + tanDipNow * tanDipNow * m_p[0] + r * dt / kReferenceStep;
    const double bound = kInnovationGate * kInnovationGate * expected;
    m_headingSpread = Blend(m_headingSpread, std::min(error * error, bound), dt, kSpreadSeconds);
    if (error * error > bound) {
        return;
    }
    Measure({-std::tan(m_fieldDip), 0, -1, 0, 0, 0}, error, r, {0, 0, 1, 1, 1, 1}, {});
}

}  // namespace attfilter
