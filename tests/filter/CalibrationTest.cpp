#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "FilterRun.h"

namespace {
using attfilter::EulerAngles;
using attfilter::MagneticFit;
using attfilter::RawSample;
using attfilter::SensorCalibration;
using attfilter::Vec3;

constexpr double kDeg = std::numbers::pi / 180.0;

// A sensor in a steel hull, its gyroscope without a fixed bias.
mtobj::RawScenario IronHull() {
    mtobj::RawScenario s = mtobj::IronHull();
    s.gyroBiasLimit = 0;
    return s;
}

// The samples of a turn through `degrees` at 3 °/s.
std::vector<RawSample> Turn(mtobj::RawScenario s, double degrees) {
    s.turnStart = 5;
    s.turnRate = 3;
    s.turnDuration = degrees / 3;
    return mtobj::CRawMotion(s, 50).Record(s.turnDuration + 15);
}

std::vector<RawSample> Still(const mtobj::RawScenario& s, double seconds) {
    return mtobj::CRawMotion(mtobj::AtRest(s), 100).Record(seconds);
}

// The worst heading error all round the compass with a calibration applied.
double WorstHeadingError(const mtobj::RawScenario& hull, const SensorCalibration& calibration) {
    double worst = 0;
    for (double heading = 0; heading < 360; heading += 30) {
        FilterRun run;
        run.scenario = hull;
        run.scenario.heading = heading;
        run.calibration = calibration;
        run.seconds = 40;
        run.from = 20;
        worst = std::max(worst, run.Run().maxHeading);
    }
    return worst;
}
}  // namespace

TEST(MagnetometerFit, AFullCircleRemovesHardAndSoftIron) {
    const mtobj::RawScenario hull = IronHull();
    const MagneticFit fit = attfilter::FitMagnetometer(Turn(hull, 370));
    ASSERT_TRUE(fit.accepted) << fit.reason;
    // What is left is the magnetometer's own noise (0.5 % of the field on each axis).
    EXPECT_LT(fit.residual, 0.02);
    EXPECT_GE(fit.coverageDegrees, 350);
    EXPECT_NEAR(fit.hardIron.x, 0.12, 0.01);
    EXPECT_NEAR(fit.hardIron.y, -0.09, 0.01);
    // The vertical hard iron shows only through the vessel's lean (3° here): roughly.
    EXPECT_NEAR(fit.hardIron.z, 0.05, 0.015);

    SensorCalibration none;
    SensorCalibration calibrated;
    calibrated.hardIron = fit.hardIron;
    calibrated.softIron = fit.softIron;
    calibrated.magCalibrated = true;
    // Uncalibrated the heading is off by tens of degrees; calibrated, by under one.
    EXPECT_GT(WorstHeadingError(hull, none), 10);
    EXPECT_LT(WorstHeadingError(hull, calibrated), 1.0);

    // Turning with the uncalibrated magnetometer, the field's strength swings with the
    // heading: the filter flags it rather than trust it; calibrated, it does not.
    for (const SensorCalibration* c : {&none, &calibrated}) {
        FilterRun run;
        run.scenario = hull;
        run.scenario.turnStart = 30;
        run.scenario.turnDuration = 120;
        run.scenario.turnRate = 3;
        run.calibration = *c;
        run.seconds = 160;
        bool flagged = false;
        run.each = [&](const attfilter::CAttitudeFilter& f, const mtobj::RawTruth&) {
            flagged = flagged || f.MagneticDisturbance();
        };
        run.Run();
        EXPECT_EQ(flagged, c == &none);
    }
}

TEST(MagnetometerFit, RefusesAPartialCircleAndTooLittleData) {
    const mtobj::RawScenario hull = IronHull();
    const MagneticFit half = attfilter::FitMagnetometer(Turn(hull, 180));
    EXPECT_FALSE(half.accepted);
    EXPECT_LT(half.coverageDegrees, 330);
    EXPECT_NE(half.reason.find("circle"), std::string::npos) << half.reason;

    std::vector<RawSample> few = Turn(hull, 370);
    few.resize(20);
    const MagneticFit tooFew = attfilter::FitMagnetometer(few);
    EXPECT_FALSE(tooFew.accepted);
    EXPECT_NE(tooFew.reason.find("too few"), std::string::npos) << tooFew.reason;

    // Still water, no turn at all: the field stands still.
    const MagneticFit still = attfilter::FitMagnetometer(Still({}, 10));
    EXPECT_FALSE(still.accepted);
    EXPECT_FALSE(still.reason.empty());

    // Field readings without any accelerometer reading cannot be levelled.
    std::vector<RawSample> magOnly = Turn(hull, 370);
    for (RawSample& s : magOnly) {
        s.hasAccel = false;
    }
    EXPECT_FALSE(attfilter::FitMagnetometer(magOnly).accepted);
}

TEST(MagnetometerFit, RefusesBrokenReadingsWithAReason) {
    EXPECT_FALSE(attfilter::FitMagnetometer({}).accepted);
    std::vector<RawSample> broken = Turn(IronHull(), 370);
    for (std::size_t i = 0; i < broken.size(); ++i) {
        broken[i].mag = {std::nan(""), 1e300, 0};
    }
    const MagneticFit fit = attfilter::FitMagnetometer(broken);
    EXPECT_FALSE(fit.accepted);
    EXPECT_FALSE(fit.reason.empty());
    // Nothing at rest: nothing to estimate, and no crash.
    EXPECT_EQ(attfilter::EstimateGyroBias({}).x, 0);
    EXPECT_EQ(attfilter::EstimateAccelOffset({}).z, 0);
    EXPECT_EQ(attfilter::LevelOffsets({}).roll, 0);
}

TEST(MagnetometerFit, RefusesAFieldDisturbedWhileTurning) {
    mtobj::RawScenario hull = IronHull();
    // A steel mass passes twice during the turn.
    hull.disturbanceStart = 40;
    hull.disturbanceDuration = 30;
    hull.disturbanceField = {0.1, -0.12, 0};
    const MagneticFit fit = attfilter::FitMagnetometer(Turn(hull, 370));
    EXPECT_FALSE(fit.accepted);
    EXPECT_GT(fit.residual, 0.03);
}

TEST(RestCalibration, RecoversGyroscopeBiasAccelerometerOffsetAndLevel) {
    mtobj::RawScenario s = mtobj::AtRest({});
    s.gyroBiasLimit = 0.5;
    s.seed = 11;
    s.accelOffset = {0, 0, 0.12};
    // The sensor sits 2° port up and 1.5° bow down on a level vessel.
    s.list = 2;
    s.trim = -1.5;
    mtobj::CRawMotion motion(s, 100);
    const std::vector<RawSample> still = Still(s, 10);

    const Vec3 bias = attfilter::EstimateGyroBias(still);
    const Vec3 truth = motion.FixedGyroBias();
    EXPECT_NEAR(bias.x, truth.x, 0.01 * kDeg);
    EXPECT_NEAR(bias.y, truth.y, 0.01 * kDeg);
    EXPECT_NEAR(bias.z, truth.z, 0.01 * kDeg);
    EXPECT_GT(std::abs(truth.x) + std::abs(truth.y) + std::abs(truth.z), 0.1 * kDeg);

    const Vec3 offset = attfilter::EstimateAccelOffset(still);
    EXPECT_NEAR(offset.z, 0.12, 0.005);
    EXPECT_NEAR(offset.x, 0, 0.005);

    SensorCalibration calibration;
    calibration.gyroBias = bias;
    calibration.accelOffset = offset;
    // Level offsets are taken with the accelerometer's offset removed.
    std::vector<RawSample> corrected;
    corrected.reserve(still.size());
    for (const RawSample& sample : still) {
        corrected.push_back(calibration.Apply(sample));
    }
    const EulerAngles level = attfilter::LevelOffsets(corrected);
    // At one attitude an offset across gravity cannot be told from a lean: the vertical
    // offset, taken along the leaning sensor's up, leaves some hundredths of a degree.
    EXPECT_NEAR(level.roll, 2, 0.03);
    EXPECT_NEAR(level.pitch, -1.5, 0.03);
    EXPECT_EQ(level.heading, 0);
    calibration.rollOffset = level.roll;
    calibration.pitchOffset = level.pitch;

    // Through the filter, the vessel now reads level.
    double worst = 0;
    FilterRun onVessel;
    onVessel.scenario = s;
    onVessel.calibration = calibration;
    onVessel.seconds = 30;
    onVessel.each = [&](const attfilter::CAttitudeFilter& f, const mtobj::RawTruth& t) {
        if (t.seconds > 10) {
            const EulerAngles a = calibration.Apply(f.Attitude());
            worst = std::max({worst, std::abs(a.roll), std::abs(a.pitch)});
        }
    };
    onVessel.Run();
    EXPECT_LT(worst, 0.1);
}

TEST(SensorCalibrationApply, CorrectsEachPartPresentAndWrapsHeading) {
    SensorCalibration c;
    c.gyroBias = {0.01, 0.02, 0.03};
    c.accelOffset = {0.1, 0, -0.1};
    c.hardIron = {0.1, -0.1, 0};
    c.softIron = {2, 0, 0, 0, 1, 0, 0, 0.5, 1};
    RawSample raw;
    raw.hasGyro = raw.hasMag = true;
    raw.gyro = {0.01, 0.02, 0.03};
    raw.accel = {5, 5, 5};
    raw.mag = {0.3, 0.1, 0.2};
    const RawSample out = c.Apply(raw);
    EXPECT_DOUBLE_EQ(out.gyro.z, 0);
    EXPECT_DOUBLE_EQ(out.accel.x, 5);  // no accelerometer in this sample: left as it is
    EXPECT_DOUBLE_EQ(out.mag.x, 0.4);
    EXPECT_DOUBLE_EQ(out.mag.y, 0.2);
    EXPECT_DOUBLE_EQ(out.mag.z, 0.3);

    c.rollOffset = 1;
    c.pitchOffset = -2;
    c.headingOffset = 3;
    const EulerAngles a = c.Apply(EulerAngles{358.5, 4, 5});
    EXPECT_NEAR(a.heading, 1.5, 1e-9);
    EXPECT_NEAR(a.pitch, 6, 1e-9);
    EXPECT_NEAR(a.roll, 4, 1e-9);
    c.headingOffset = -10;
    EXPECT_NEAR(c.Apply(EulerAngles{5, 0, 0}).heading, 355, 1e-9);
}
