#include "filter/AttitudeFilter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "Math.h"

namespace attfilter {
namespace {
constexpr double kDeg = std::numbers::pi / 180.0;

// Time constants of the corrections at tuning 1, in seconds; the tuning gain divides them
// (and the magnetometer weight divides the heading's). A vessel's own accelerations swing with
// the waves over 5 to 15 s, so the accelerometer is trusted only on average over much longer.
constexpr double kTiltSeconds = 100.0;
constexpr double kHeadingSeconds = 30.0;
// No correction turns the attitude by more than this share of its error in one step.
constexpr double kMaxStepShare = 0.2;
// Start-up: the time constants grow from this value by kGrowth seconds per second until they
// reach the tuned ones: strong corrections settle the first attitude and the gyroscope's bias,
// then they ease off toward the long averages a vessel needs.
constexpr double kStartSeconds = 1.0;
constexpr double kGrowth = 0.1;
// The specific force's departure from gravity at which the accelerometer keeps half its say.
constexpr double kForceDeparture = 0.05;
// The rate of turn at which the accelerometer keeps half its say about roll (rad/s).
constexpr double kTurnRate = 0.3 * kDeg;
constexpr double kTurnRiseSeconds = 0.3;
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
// References of the field learnt over the first seconds, then followed slowly.
constexpr double kReferenceSeconds = 5.0;
constexpr double kReferenceFollowSeconds = 120.0;
// The largest gyroscope bias the estimate may reach (rad/s).
constexpr double kMaxBias = 2.0 * kDeg;
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
    *this = CAttitudeFilter(tuning);
    m_useMag = useMag;
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
    if (!std::isfinite(sample.seconds) || sample.seconds < m_lastSeconds) {
        return;
    }
    const bool gyroOk = sample.hasGyro && Finite(sample.gyro);
    const bool accelOk = sample.hasAccel && Finite(sample.accel) && Norm(sample.accel) > 1e-6;
    const bool magOk = m_useMag && sample.hasMag && Finite(sample.mag) && Norm(sample.mag) > 1e-9;
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
        IntegrateGyro(sample.gyro, sample.seconds);
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
    m_gravity = Norm(m_lastAccel);
    const Vec3 field = Rotate(m_q, toward);
    m_fieldNorm = Norm(field);
    m_fieldDip = std::atan2(-field.z, std::hypot(field.x, field.y));
}

void CAttitudeFilter::IntegrateGyro(const Vec3& gyro, double seconds) {
    const double dt = seconds - m_gyroSeconds;
    m_gyroSeconds = seconds;
    if (dt <= 0 || dt > kMaxStep) {
        return;
    }
    const Vec3 rate = Sub(gyro, m_bias);
    m_q = Normalised(Multiply(m_q, RotationQuat(Scale(rate, dt))));
    // The rate of turn rises at once and falls away slowly, so a turn silences the
    // accelerometer's roll from its first moment to a while after it ended.
    const double yawRate = std::abs(Rotate(m_q, rate).z);
    m_yawRate = yawRate > m_yawRate ? Blend(m_yawRate, yawRate, dt, kTurnRiseSeconds)
                                    : Blend(m_yawRate, yawRate, dt, kTurnFallSeconds);
}

void CAttitudeFilter::Correct(const Vec3& levelRate, double dt, double biasGain) {
    m_q = Normalised(Multiply(RotationQuat(Scale(levelRate, dt)), m_q));
    // The correction, seen in body axes, is what the gyroscope's bias leaves over time.
    const Vec3 body = RotateBack(m_q, levelRate);
    m_bias = Sub(m_bias, Scale(body, biasGain * dt));
    // No sensor worth the name has a bias this large: the estimate must not run away.
    m_bias = {std::clamp(m_bias.x, -kMaxBias, kMaxBias), std::clamp(m_bias.y, -kMaxBias, kMaxBias),
              std::clamp(m_bias.z, -kMaxBias, kMaxBias)};
}

void CAttitudeFilter::CorrectWithAccel(const Vec3& accel, double dt) {
    const double age = m_lastSeconds - m_startSeconds;
    const double tau = std::min(kTiltSeconds / m_tuning.gain, kStartSeconds + kGrowth * age);
    const double force = Norm(accel);
    if (age < kReferenceSeconds) {
        m_gravity = Blend(m_gravity, force, dt, std::max(age, dt));
    }
    const double departure = (force - m_gravity) / m_gravity / kForceDeparture;
    double k = 1.0 / tau / (1.0 + departure * departure);
    k = std::min(k, kMaxStepShare / dt);
    // The specific force seen in the level frame; its tilt from the vertical is the error.
    const Vec3 f = Normalised(Rotate(m_q, accel));
    Vec3 axis{f.y, -f.x, 0};  // f × up: turns f toward up
    // In a turn the centripetal acceleration leans the force across the vessel: the roll
    // part of the correction (about the horizontal bow direction) loses its say.
    const double turn = m_yawRate / kTurnRate;
    const double rollSay = 1.0 / (1.0 + turn * turn);
    const Quat& q = m_q;
    const Vec3 bow = Rotate(q, {1, 0, 0});
    const double h = std::hypot(bow.x, bow.y);
    if (h > 1e-6) {
        const Vec3 along{bow.x / h, bow.y / h, 0};
        const double a = Dot(axis, along);
        axis = Sub(axis, Scale(along, a * (1.0 - rollSay)));
    }
    const double ki = 0.25 * k * k;
    Correct(Scale(axis, k), dt, ki / k);
}

void CAttitudeFilter::CorrectWithMag(const Vec3& mag, double dt) {
    const double age = m_lastSeconds - m_startSeconds;
    const Vec3 field = Rotate(m_q, mag);
    const double norm = Norm(field);
    const double dip = std::atan2(-field.z, std::hypot(field.x, field.y));
    const double error = std::atan2(field.y, field.x);  // the field's bearing west of north
    if (age < kReferenceSeconds) {
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
    bool disagrees = false;
    if (age >= 2 * kReferenceSeconds && std::abs(m_headingInnovation) > kHeadingDeparture) {
        if (m_disagreeSince < 0) {
            m_disagreeSince = m_lastSeconds;
        }
        disagrees = m_lastSeconds - m_disagreeSince < kDisagreementSeconds;
    } else {
        m_disagreeSince = -1;
    }
    m_disturbed = fieldChanged || disagrees;
    if (m_disturbed) {
        return;
    }
    if (age >= kReferenceSeconds) {
        m_fieldNorm = Blend(m_fieldNorm, norm, dt, kReferenceFollowSeconds);
        m_fieldDip = Blend(m_fieldDip, dip, dt, kReferenceFollowSeconds);
    }
    const double tau = std::min(kHeadingSeconds / (m_tuning.gain * m_tuning.magWeight),
                                kStartSeconds + kGrowth * age);
    const double k = std::min(1.0 / tau, kMaxStepShare / dt);
    const double ki = 0.25 * k * k;
    // Turning about the vertical alone leaves roll and pitch as they are.
    Correct({0, 0, -k * error}, dt, ki / k);
}

}  // namespace attfilter
