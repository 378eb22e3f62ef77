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

// Heading, pitch and roll in degrees, in the conventions above.
struct EulerAngles {
    double heading = 0;
    double pitch = 0;
    double roll = 0;
};

// The two settings of the Advanced dialog, each 0.1 to 100.
struct FilterTuning {
    double gain = 1.0;       // how strongly accelerometer and magnetometer correct the gyroscope
    double magWeight = 1.0;  // the magnetometer's share of that correction
};

class CAttitudeFilter {
public:
    explicit CAttitudeFilter(const FilterTuning& tuning = {});

    // Tuning outside 0.1..100 is clamped into it.
    void SetTuning(const FilterTuning& tuning);
    FilterTuning Tuning() const;
    // Forgets the attitude and the estimated gyroscope bias; the next samples start it anew.
    void Reset();
    // Feeds one sample; samples come in time order (an older one is ignored).
    void Update(const RawSample& sample);

    // True once a first attitude was formed from accelerometer and magnetometer.
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

private:
    std::array<double, 4> m_q{1, 0, 0, 0};
    Vec3 m_bias;
    FilterTuning m_tuning;
    double m_lastSeconds = -1;
    bool m_started = false;
    bool m_disturbed = false;
    // The implementation may add what it needs here.
};

}  // namespace attfilter
