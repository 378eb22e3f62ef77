// Tavimo's own attitude filter: gyroscope, accelerometer and magnetometer samples in, an
// orientation out. A library of its own with no operating-system or Qt dependency, so that the
// devices, the calibration tool, the tests and the benchmarks all run the same code.
//
// Conventions, held by every test:
// - body axes: x toward the bow, y toward port, z up (a device's mount matrix is applied
//   before its samples reach the filter);
// - units: rad/s, m/s² (specific force: an accelerometer at rest reads +g on the up axis),
//   gauss (any one unit for the field will do: only its direction is used);
// - attitude: heading clockwise from north in [0, 360), pitch positive bow up, roll positive
//   port side up (starboard down), all in degrees.
#pragma once

#include <array>
#include <cmath>

namespace attfilter {

struct Vec3 {
    double x = 0;
    double y = 0;
    double z = 0;
};

// One reading of a raw inertial sensor at one time. Devices that deliver the three sensors
// apart (three IIO devices) hand over a sample with only the parts they have.
struct RawSample {
    double seconds = 0;  // sample time on the PC clock
    bool hasGyro = false;
    bool hasAccel = false;
    bool hasMag = false;
    Vec3 gyro;   // rad/s
    Vec3 accel;  // m/s²
    Vec3 mag;    // gauss
};

// Heading, pitch and roll in degrees, in the conventions above. Pitch is the angle of the bow
// axis above the horizontal and roll the angle of the port axis above it, as a marine motion
// sensor measures them; heading is the direction of the bow axis' horizontal projection.
struct EulerAngles {
    double heading = 0;
    double pitch = 0;
    double roll = 0;
};

// Unit quaternion (w, x, y, z) turning body axes into the local level frame: x north, y west,
// z up (so a level vessel heading north has the identity).
using Quat = std::array<double, 4>;

// The attitude of an orientation, and the orientation of an attitude (|roll| and |pitch| below
// 90 degrees, and sin²roll + sin²pitch <= 1, as on any vessel); each undoes the other.
EulerAngles AnglesOf(const Quat& bodyToLevel);
Quat OrientationOf(const EulerAngles& angles);
// The turn of a row-major rotation matrix (w >= 0), and one turn after another (a * b turns
// by b first).
Quat QuaternionOf(const std::array<double, 9>& rotation);
Quat QuaternionProduct(const Quat& a, const Quat& b);

// The two settings of the Advanced dialog, each 0.1 to 100.
struct FilterTuning {
    double gain = 1.0;       // how strongly accelerometer and magnetometer correct the gyroscope
    double magWeight = 1.0;  // the magnetometer's share of that correction
};

// A Kalman filter built for a vessel, over the attitude's error, the gyroscope's bias, the
// sensor's horizontal velocity, the vessel's mean velocity and the sensor's lever arm.
//
// A sea swings the measured vertical by degrees with the waves (sway, surge, and the
// accelerations of a sensor mounted metres from the point the vessel rolls about), so the
// accelerometer is not taken as the vertical. It is integrated instead, in the level frame,
// into the sensor's velocity, and that velocity must stay with the vessel's mean velocity
// (which turns as the vessel turns, by its speed through the water: so a turn's centripetal
// acceleration is explained), plus what the lever arm swings. The waves leave a zero-mean
// velocity of a metre a second or so; a tilt error leaves a velocity that grows without bound
// (g times the error each second), and so it is found whatever the sea, with no gate on any
// estimate of the filter's own. The magnetometer corrects heading only, and not while
// disturbed. Not thread-safe: one thread feeds and reads it.
class CAttitudeFilter {
public:
    explicit CAttitudeFilter(const FilterTuning& tuning = {});

    // Tuning outside 0.1..100 is clamped into it.
    void SetTuning(const FilterTuning& tuning);
    FilterTuning Tuning() const;
    // Forgets the attitude and the estimated gyroscope bias; the next samples start it anew.
    void Reset();
    // With the magnetometer off (a sensor without one, or one not to be trusted yet) the
    // filter starts from the accelerometer alone with heading 0 and keeps heading on the
    // gyroscope; roll and pitch are the same either way. On by default; switching resets.
    void UseMagnetometer(bool use);
    bool UsesMagnetometer() const { return m_useMag; }
    // A gyroscope whose bias was taken at rest (and is removed before its samples reach the
    // filter) leaves only a small bias to find, so the filter trusts it sooner; an
    // uncalibrated one may be off by half a degree a second. Off by default; switching resets.
    void SetGyroCalibrated(bool calibrated);
    bool GyroCalibrated() const { return m_gyroCalibrated; }
    // Feeds one sample; samples come in time order (an older one is ignored, but after a run
    // of 50 older ones the filter takes up their times, as after a clock set back).
    void Update(const RawSample& sample);
    // The vessel's velocity over ground as a GNSS receiver measured it at `seconds` (the PC
    // time the reading holds for, not the time it arrived), at its antenna (`antenna`: body
    // axes from the sensor, m), in the filter's level frame (m/s toward north and west: a
    // true course is turned by the magnetic variation first, as the filter's north is the
    // magnetometer's), with its one-sigma uncertainty (m/s). The reading is compared with the
    // filter's own velocity of that moment, so a receiver's latency of up to a second does
    // not pass for acceleration, and with it a turn's acceleration no longer passes for tilt.
    // The first reading taken moves the filter's velocities, which start from the vessel's
    // at the start, onto the ground. False, and nothing changes: before roll and pitch are
    // within kGroundVelocityTilt (a stale reading while they are degrees off would lead them
    // astray), for a time ahead of the newest sample or more than a second before it, and for
    // values that are not numbers, a sigma not above zero or a speed beyond 100 m/s. Fed from
    // the thread that feeds the samples.
    bool MeasureGroundVelocity(double seconds, double north, double west, const Vec3& antenna,
                               double sigma);
    static constexpr double kGroundVelocityTilt = 0.3;  // degrees, TiltUncertainty

    // True once a first attitude was formed from accelerometer and magnetometer (from the
    // accelerometer alone with the magnetometer off).
    bool HasAttitude() const;
    EulerAngles Attitude() const;
    // The orientation as a unit quaternion (w, x, y, z), body to local level.
    std::array<double, 4> Quaternion() const;
    // The gyroscope bias estimated while running (rad/s).
    Vec3 GyroBias() const;
    // True while the magnetometer disagrees with the filter's heading so much (a passing
    // steel mass, an uncalibrated sensor) that it is not trusted; heading then runs on the
    // gyroscope alone.
    bool MagneticDisturbance() const;
    // Where the sensor sits from the point the vessel rolls and pitches about (body axes, m),
    // as learnt from how the sensor's velocity follows the rotation.
    Vec3 LeverArm() const;
    // The vessel's mean speed along its heading (m/s, through the water as the turns show it;
    // 0 until a turn has shown it).
    double Speed() const;
    // The filter's own one-sigma uncertainty of roll and pitch (degrees, the larger).
    double TiltUncertainty() const;
    // The velocity the waves give the vessel beside its way (m/s, RMS), as learnt.
    double WaveVelocity() const { return std::sqrt(m_waveSpread); }

    // The error states: attitude (rotation in the level frame), gyroscope bias (body axes),
    // the sensor's horizontal velocity and the vessel's mean velocity (level axes), its speed
    // along the heading, the lever arm (body axes).
    static constexpr int kStates = 14;

private:
    using Vector = std::array<double, kStates>;

    void Start(double seconds);
    // Turns the attitude on to `seconds` at the mean rate `turning` over the interval;
    // `newest` is the gyroscope's reading of that moment.
    void Propagate(const Vec3& turning, const Vec3& newest, double seconds);
    void CorrectWithVelocity(const Vec3& accel, double dt);
    // Takes the sensor's velocity up anew where the vessel is (`swing`: the lever arm's
    // velocity); `astray` also gives the attitude room to be found again.
    void TakeUpVelocity(const Vec3& swing, bool astray);
    void CorrectWithMag(const Vec3& mag, double dt);
    // One scalar measurement y = h·error with noise variance r; `share` (0..1) scales how
    // much of the optimal correction each error state takes, and the bias correction keeps to
    // the unit direction `biasAlong`, or out of `notBias` (body axes), where one is given.
    // Returns hᵀ P h, the variance the states' uncertainty gave y (before the correction).
    double Measure(const Vector& h, double y, double r, const Vector& share,
                   const Vec3* biasAlong = nullptr, const Vec3* notBias = nullptr);

    // The filter's velocity, orientation and rate of each of the last samples, for readings
    // of the ground velocity that hold for a moment already past.
    struct Moment {
        double seconds = 0;
        double vx = 0, vy = 0;
        std::array<double, 4> q{1, 0, 0, 0};
        Vec3 rate;
    };
    static constexpr std::size_t kMoments = 512;
    std::array<Moment, kMoments> m_moments{};
    std::size_t m_momentCount = 0;
    std::size_t m_nextMoment = 0;
    bool m_onGround = false;  // the velocities are over ground, not from the start's
    void RememberMoment(double seconds);
    void ShiftMoments(double dx, double dy);

    std::array<double, 4> m_q{1, 0, 0, 0};
    Vec3 m_bias;
    FilterTuning m_tuning;
    double m_lastSeconds = -1;
    bool m_started = false;
    bool m_disturbed = false;
    bool m_useMag = true;
    bool m_gyroCalibrated = false;

    // Covariance of the error states, row-major.
    std::array<double, kStates * kStates> m_p{};
    int m_older = 0;  // older samples in a row
    double m_startSeconds = 0;
    double m_gyroSeconds = -1;   // time of the last gyroscope sample integrated
    double m_accelSeconds = -1;  // time of the last accelerometer sample integrated
    double m_magSeconds = -1;    // time of the last magnetometer correction
    Vec3 m_lastAccel;            // newest readings, for the first attitude
    Vec3 m_lastMag;
    bool m_haveAccel = false;
    bool m_haveMag = false;
    Vec3 m_rate;      // the newest rate, bias removed (rad/s)
    Vec3 m_lastGyro;  // the newest gyroscope reading (rad/s) and its time
    double m_lastGyroSeconds = -1;
    bool m_haveGyro = false;
    Vec3 m_force;  // the newest specific force in the level frame (m/s²)
    // The velocity states: the sensor's horizontal velocity and the vessel's mean velocity
    // (level x, y, taken up from zero), the speed along the heading, the lever arm.
    double m_vx = 0, m_vy = 0;
    double m_meanX = 0, m_meanY = 0;
    double m_speed = 0;
    double m_turning = 0;      // the rate about the vertical over seconds (rad/s)
    double m_lastingTurn = 0;  // and over a quarter of a minute
    Vec3 m_lever;
    bool m_velocityLost = false;  // readings were missing: the velocity is taken up anew
    double m_waveSpread = 0;      // what the waves leave of the velocity (mean square, m²/s²)
    double m_headingSpread = 0;   // mean square of the magnetometer's heading innovation
    double m_fieldNorm = 0;       // reference field strength and dip (rad)
    double m_fieldDip = 0;
    double m_normRatio = 1;          // low-passed field strength over its reference
    double m_dipDeparture = 0;       // low-passed dip minus its reference (rad)
    double m_headingInnovation = 0;  // low-passed magnetometer heading minus filter's (rad)
    double m_disagreeSince = -1;     // since when the magnetometer disagrees in heading alone
    double m_disagreeValue = 0;      // and by how much it did then (rad)
    double m_disagreeFirst = 0;      // since when it disagrees without a break
    bool m_fieldSteady = true;       // and whether the field kept its strength and dip since
    Vec3 m_trustedBias;              // the bias while the field last agreed
};

}  // namespace attfilter
