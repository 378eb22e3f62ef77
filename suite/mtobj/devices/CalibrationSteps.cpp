// The calibration steps: raw samples in, a new calibration or the reason for refusing it out.
#include "mtobj/CalibrationSteps.h"

#include <cstdio>
#include <utility>

namespace mtobj {
namespace {

using attfilter::RawSample;
using attfilter::SensorCalibration;

bool Has(const std::vector<RawSample>& samples, bool RawSample::*part) {
    for (const auto& s : samples) {
        if (s.*part) {
            return true;
        }
    }
    return false;
}

StepOutcome Refused(std::string reason) {
    StepOutcome outcome;
    outcome.reason = std::move(reason);
    return outcome;
}

}  // namespace

const char* StepName(CalibrationStep step) {
    switch (step) {
        case CalibrationStep::Rest:
            return "rest";
        case CalibrationStep::Level:
            return "level";
        case CalibrationStep::Mag:
            return "mag";
        case CalibrationStep::None:
            break;
    }
    return "";
}

double DefaultStepSeconds(CalibrationStep step) {
    return step == CalibrationStep::Mag ? 90.0 : 5.0;
}

const char* StandingText(HeadingStanding standing) {
    switch (standing) {
        case HeadingStanding::MagNotCalibrated:
            return "MAG not calibrated";
        case HeadingStanding::MagDisturbed:
            return "MAG disturbed";
        case HeadingStanding::NoMagnetometer:
            return "no MAG: gyro heading";
        case HeadingStanding::Trusted:
            break;
    }
    return "";
}

StepOutcome CalibrateStep(CalibrationStep step, const SensorCalibration& current,
                          std::vector<RawSample> samples) {
    if (samples.empty()) {
        return Refused("no raw samples (a fused device needs no calibration)");
    }
    // A broken record (not finite, beyond any sensor's range) is dropped, not averaged in.
    const std::size_t read = samples.size();
    std::erase_if(samples, [](const RawSample& s) { return !attfilter::Plausible(s); });
    const std::size_t dropped = read - samples.size();
    const std::string droppedText =
        dropped == 0 ? std::string()
                     : std::to_string(dropped) + " of " + std::to_string(read) +
                           " samples dropped (not finite or beyond any sensor's range)";
    if (samples.empty()) {
        return Refused(droppedText);
    }
    StepOutcome outcome;
    outcome.quality = droppedText;
    outcome.calibration = current;
    SensorCalibration& next = outcome.calibration;
    switch (step) {
        case CalibrationStep::Rest:
            if (!Has(samples, &RawSample::hasGyro) || !Has(samples, &RawSample::hasAccel)) {
                return Refused("rest needs gyroscope and accelerometer");
            }
            if (const std::string problem = attfilter::RestProblem(samples); !problem.empty()) {
                return Refused(problem);
            }
            next.gyroBias = attfilter::EstimateGyroBias(samples);
            next.accelOffset = attfilter::EstimateAccelOffset(samples);
            break;
        case CalibrationStep::Level: {
            if (!Has(samples, &RawSample::hasAccel)) {
                return Refused("level needs the accelerometer");
            }
            // The offsets of the vessel's level, measured through the sensor's own corrections.
            SensorCalibration sensorOnly = current;
            sensorOnly.rollOffset = sensorOnly.pitchOffset = sensorOnly.headingOffset = 0;
            for (auto& s : samples) {
                s = sensorOnly.Apply(s);
            }
            const attfilter::EulerAngles level = attfilter::LevelOffsets(samples);
            next.rollOffset = level.roll;
            next.pitchOffset = level.pitch;
            break;
        }
        case CalibrationStep::Mag: {
            if (!Has(samples, &RawSample::hasMag) || !Has(samples, &RawSample::hasAccel)) {
                return Refused("mag needs magnetometer and accelerometer");
            }
            // Fitted through the gyroscope's and accelerometer's corrections already made (the
            // magnetometer's own are what is fitted).
            SensorCalibration sensorOnly;
            sensorOnly.gyroBias = current.gyroBias;
            sensorOnly.accelOffset = current.accelOffset;
            for (auto& s : samples) {
                s = sensorOnly.Apply(s);
            }
            const attfilter::MagneticFit fit = attfilter::FitMagnetometer(samples);
            char quality[160];
            std::snprintf(quality, sizeof quality,
                          "fit over %zu samples: residual %.2f %%, circle covered %.0f degrees",
                          samples.size(), fit.residual * 100.0, fit.coverageDegrees);
            outcome.quality =
                droppedText.empty() ? quality : std::string(quality) + "; " + droppedText;
            if (!fit.accepted) {
                outcome.reason = "fit refused: " + fit.reason;
                return outcome;
            }
            next.hardIron = fit.hardIron;
            next.softIron = fit.softIron;
            next.magCalibrated = true;
            break;
        }
        case CalibrationStep::None:
            return Refused("no calibration step was asked for");
    }
    // Whatever the samples, nothing is stored that the filter cannot use.
    if (const std::string problem = attfilter::CalibrationProblem(next); !problem.empty()) {
        outcome.reason = problem;
        return outcome;
    }
    outcome.accepted = true;
    return outcome;
}

}  // namespace mtobj
