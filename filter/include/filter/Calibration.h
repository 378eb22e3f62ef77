// Calibration and installation of a raw inertial sensor, as a crew does it: gyroscope bias and
// accelerometer offset at rest, the magnetometer's hard and soft iron fitted while the vessel
// turns through a full circle, and the installation's roll, pitch and heading offsets.
// Operating-system free like the filter; the device and the calibration tool store it.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "filter/AttitudeFilter.h"

namespace attfilter {

struct SensorCalibration {
    Vec3 gyroBias;     // rad/s, subtracted
    Vec3 accelOffset;  // m/s², subtracted
    // Field corrected = softIron * (raw - hardIron); softIron row-major.
    Vec3 hardIron;
    std::array<double, 9> softIron{1, 0, 0, 0, 1, 0, 0, 0, 1};
    bool magCalibrated = false;  // false: headings from the magnetometer are flagged
    // Installation (degrees): subtracted from the filter's roll and pitch; added to heading
    // for a sensor whose bow axis is not along the keel.
    double rollOffset = 0;
    double pitchOffset = 0;
    double headingOffset = 0;

    // The sample with the sensor corrections applied.
    RawSample Apply(const RawSample& raw) const;
    // The filter's attitude turned into the vessel's.
    EulerAngles Apply(const EulerAngles& sensor) const;
};

// What a MEMS sensor's errors can be at most: a gyroscope bias of 5 °/s on an axis, an
// accelerometer offset of 1.5 m/s², a hard iron of 2 gauss, a soft iron that scales the field
// by a tenth to tenfold; installation offsets of 45° in roll and pitch. A calibration beyond
// them came from samples that were not what the step needed (a turn, a broken record).
constexpr double kLargestGyroBias = 5.0 * 3.14159265358979323846 / 180.0;  // rad/s
constexpr double kLargestAccelOffset = 1.5;                                // m/s²
constexpr double kLargestHardIron = 2.0;                                   // gauss
// Why the calibration cannot be used: a value that is not finite or beyond what a sensor can
// have, in words a user reads; "" when it can.
std::string CalibrationProblem(const SensorCalibration& c);

// A raw sample whose every reading lies within what any sensor reports (rates up to
// 2000 °/s, accelerations up to 16 g, fields up to 16 gauss, all finite): anything beyond
// is a broken record.
bool Plausible(const RawSample& s);
// Why samples meant to be taken at rest were not: rates or accelerations that vary beyond a
// still sensor's noise, a specific force that is not gravity, or a turn that the
// magnetometer's field shows; "" when they were still.
std::string RestProblem(const std::vector<RawSample>& still);

// The outcome of a fit: accepted only when good enough to trust.
struct MagneticFit {
    bool accepted = false;
    std::string reason;          // why it was refused, for the user
    double residual = 0;         // RMS departure of the corrected field from a circle, relative
    double coverageDegrees = 0;  // how much of the circle the samples covered
    Vec3 hardIron;
    std::array<double, 9> softIron{1, 0, 0, 0, 1, 0, 0, 0, 1};
};

// Fits hard and soft iron from samples (gyroscope, accelerometer and magnetometer) taken while
// the vessel or the sensor turns through a full circle; refuses a poor fit or a partial circle.
// The field is levelled with the attitude filter's roll and pitch (magnetometer off), which
// needs the gyroscope to hold roll through the turn: without it the accelerometer alone
// levels, and the centripetal acceleration of a turn at speed passes for hard iron.
MagneticFit FitMagnetometer(const std::vector<RawSample>& samples);
// Gyroscope bias and accelerometer offset from samples taken at rest (a few seconds still).
// The accelerometer offset leaves gravity on the measured down direction.
Vec3 EstimateGyroBias(const std::vector<RawSample>& still);
Vec3 EstimateAccelOffset(const std::vector<RawSample>& still);
// Roll and pitch offsets from samples at rest with the vessel level (heading left 0).
EulerAngles LevelOffsets(const std::vector<RawSample>& still);

}  // namespace attfilter
