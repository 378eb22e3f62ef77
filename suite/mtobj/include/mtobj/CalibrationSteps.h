// The steps of a raw sensor's calibration as a crew takes them (gyroscope and accelerometer
// at rest, the magnetometer over a full circle, the level), each turning the raw samples it
// collected into a new calibration or a refusal with its reason; and what a running device
// says about a step in progress and about the heading it delivers. The command line
// (tavimo-calibrate) and the running device (from the Advanced dialog) share it.
#pragma once

#include <string>
#include <vector>

#include "filter/Calibration.h"

namespace mtobj {

enum class CalibrationStep {
    None = 0,
    Rest = 1,   // gyroscope bias and accelerometer offset, the sensor still
    Level = 2,  // roll and pitch offsets, the vessel at rest and level
    Mag = 3,    // magnetometer hard and soft iron, the vessel turning through a full circle
};

// "rest", "level", "mag" ("" for None).
const char* StepName(CalibrationStep step);
// How long a step collects unless asked otherwise: 5 s at rest and level, 90 s for the circle.
double DefaultStepSeconds(CalibrationStep step);

struct StepOutcome {
    bool accepted = false;
    attfilter::SensorCalibration calibration;  // the new calibration when accepted
    std::string quality;                       // the magnetometer fit's residual and coverage
    std::string reason;                        // why it was refused, for the user
};

// The calibration that `current` becomes by the step over the raw (uncorrected) samples it
// collected; refused with a reason when the samples lack what the step needs or the
// magnetometer fit is poor or covers too little of the circle.
StepOutcome CalibrateStep(CalibrationStep step, const attfilter::SensorCalibration& current,
                          std::vector<attfilter::RawSample> samples);

// A step taken by a running device, as it stands.
enum class CalibrationState {
    Idle = 0,        // no step taken since the device started
    Collecting = 1,  // collecting samples
    Computing = 2,   // samples collected, the new calibration being computed and stored
    Applied = 3,     // stored and applied to the running attitude
    Refused = 4,     // refused (text says why); the calibration before stays
    Cancelled = 5,   // cancelled, or ended by the device stopping; nothing changed
};

struct CalibrationProgress {
    CalibrationStep step = CalibrationStep::None;
    CalibrationState state = CalibrationState::Idle;
    double collectedSeconds = 0;  // of the samples' own time
    double askedSeconds = 0;
    double coverageDegrees = 0;  // of the circle turned so far (the magnetometer step)
    // Applied: the quality and the new calibration's description; refused: the reason.
    std::string text;
};

// How far the heading a device delivers can be trusted.
enum class HeadingStanding {
    Trusted = 0,
    MagNotCalibrated = 1,  // from a magnetometer never calibrated
    MagDisturbed = 2,      // the magnetometer disagrees: heading from the gyroscope alone
    NoMagnetometer = 3,    // the sensor has none: heading from the gyroscope alone
};

// A short text for the standing, as the main window shows it ("" when trusted).
const char* StandingText(HeadingStanding standing);

}  // namespace mtobj
