// Runs the attitude filter over a simulated raw sensor and measures its errors against the
// simulator's truth: what every filter and calibration test is built on.
#pragma once

#include <functional>

#include "filter/AttitudeFilter.h"
#include "filter/Calibration.h"
#include "mtobj/RawMotion.h"

struct FilterErrors {
    double rmsRoll = 0, rmsPitch = 0, rmsHeading = 0;  // degrees, from `from` on
    double maxRoll = 0, maxPitch = 0, maxHeading = 0;
    double settled = 0;  // the time after which every error stayed within `limit`
    int samples = 0;
};

struct FilterRun {
    mtobj::RawScenario scenario;
    double seconds = 60;
    double rate = 100;
    attfilter::FilterTuning tuning;
    attfilter::SensorCalibration calibration;  // applied to every sample and attitude
    // The crew's rest calibration first: ten seconds still, the gyroscope's bias taken from
    // them into the calibration, and the filter told so.
    bool gyroCalibratedAtRest = false;
    bool useMagnetometer = true;
    double from = 20;    // errors count from here
    double limit = 1.0;  // degrees, for `settled`
    // Called after every sample the filter took.
    std::function<void(const attfilter::CAttitudeFilter&, const mtobj::RawTruth&)> each;

    FilterErrors Run() const;
};

// a - b in degrees, into [-180, 180).
double AngleDifference(double a, double b);
