#include "FilterRun.h"

#include <algorithm>
#include <cmath>
#include <vector>

double AngleDifference(double a, double b) {
    return std::remainder(a - b, 360.0);
}

FilterErrors FilterRun::Run() const {
    attfilter::SensorCalibration calibration = this->calibration;
    attfilter::CAttitudeFilter filter(tuning);
    filter.UseMagnetometer(useMagnetometer);
    if (gyroCalibratedAtRest) {
        mtobj::CRawMotion rest(mtobj::AtRest(scenario), rate);
        const std::vector<attfilter::RawSample> quiet = rest.Record(10);
        calibration.gyroBias = attfilter::EstimateGyroBias(quiet);
        filter.SetGyroCalibrated(true);
    }
    mtobj::CRawMotion motion(scenario, rate);
    FilterErrors e;
    double sum[3] = {0, 0, 0};
    const auto count = static_cast<long>(seconds * rate);
    for (long i = 0; i < count; ++i) {
        mtobj::RawTruth truth;
        filter.Update(calibration.Apply(motion.Next(&truth)));
        if (!filter.HasAttitude()) {
            e.settled = truth.seconds;
            continue;
        }
        if (each) {
            each(filter, truth);
        }
        const attfilter::EulerAngles a = calibration.Apply(filter.Attitude());
        const double err[3] = {a.roll - truth.attitude.roll, a.pitch - truth.attitude.pitch,
                               AngleDifference(a.heading, truth.attitude.heading)};
        if (std::abs(err[0]) > limit || std::abs(err[1]) > limit || std::abs(err[2]) > limit) {
            e.settled = truth.seconds;
        }
        if (truth.seconds < from) {
            continue;
        }
        for (int k = 0; k < 3; ++k) {
            sum[k] += err[k] * err[k];
        }
        e.maxRoll = std::max(e.maxRoll, std::abs(err[0]));
        e.maxPitch = std::max(e.maxPitch, std::abs(err[1]));
        e.maxHeading = std::max(e.maxHeading, std::abs(err[2]));
        ++e.samples;
    }
    if (e.samples > 0) {
        e.rmsRoll = std::sqrt(sum[0] / e.samples);
        e.rmsPitch = std::sqrt(sum[1] / e.samples);
        e.rmsHeading = std::sqrt(sum[2] / e.samples);
    }
    return e;
}
