#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "mtobj/RawMotion.h"

namespace {
using attfilter::Quat;
using attfilter::Vec3;
using mtobj::CRawMotion;
using mtobj::RawScenario;

constexpr double kDeg = std::numbers::pi / 180.0;
constexpr double kG = 9.80665;

RawScenario Flat() {
    RawScenario s = mtobj::AtRest({});
    s.noise = false;
    s.gyroBiasLimit = 0;
    return s;
}

Quat Multiply(const Quat& a, const Quat& b) {
    return {a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3],
            a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2],
            a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1],
            a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0]};
}

double Std(const std::vector<double>& v) {
    double m = 0;
    for (double x : v) {
        m += x;
    }
    m /= static_cast<double>(v.size());
    double s = 0;
    for (double x : v) {
        s += (x - m) * (x - m);
    }
    return std::sqrt(s / static_cast<double>(v.size() - 1));
}
}  // namespace

// The gyroscope must measure the motion the attitude truth describes: integrating its rates
// from the first orientation lands on the last one, through a sea and a turn.
TEST(RawMotionPhysics, IntegratedGyroscopeFollowsTheTrueAttitude) {
    RawScenario s = Flat();
    s.rollAmplitude = 20;
    s.pitchAmplitude = 10;
    s.yawAmplitude = 2;
    s.turnStart = 3;
    s.turnDuration = 10;
    s.turnRate = -4;
    const double rate = 1000;
    CRawMotion motion(s, rate);
    Quat q = motion.OrientationAt(0);
    mtobj::RawTruth truth;
    for (int i = 0; i < 20000; ++i) {
        // Midpoint rate over each step.
        const Vec3 w = motion.BodyRateAt((i + 0.5) / rate);
        const double angle = std::sqrt(w.x * w.x + w.y * w.y + w.z * w.z) / rate;
        const double s2 = std::sin(angle / 2) / (angle > 0 ? angle * rate : 1);
        q = Multiply(q, {std::cos(angle / 2), w.x * s2, w.y * s2, w.z * s2});
        if (i % 5000 == 4999) {
            truth = motion.TruthAt((i + 1) / rate);
            const attfilter::EulerAngles a = attfilter::AnglesOf(q);
            EXPECT_NEAR(std::remainder(a.heading - truth.attitude.heading, 360), 0, 0.001);
            EXPECT_NEAR(a.pitch, truth.attitude.pitch, 0.001);
            EXPECT_NEAR(a.roll, truth.attitude.roll, 0.001);
        }
    }
    // The turn happened: 40° to port (plus the yaw wobble).
    EXPECT_NEAR(std::remainder(motion.TruthAt(20).attitude.heading, 360), -40, 2.5);
}

TEST(RawMotionPhysics, AtRestTheAccelerometerReadsGravityUpAndTheFieldPointsNorthAndDown) {
    RawScenario s = Flat();
    CRawMotion level(s, 100);
    const attfilter::RawSample a = level.Next();
    EXPECT_NEAR(a.accel.x, 0, 1e-6);
    EXPECT_NEAR(a.accel.y, 0, 1e-6);
    EXPECT_NEAR(a.accel.z, kG, 1e-6);
    const double h = 0.5 * std::cos(66 * kDeg);
    const double v = 0.5 * std::sin(66 * kDeg);
    EXPECT_NEAR(a.mag.x, h, 1e-9);
    EXPECT_NEAR(a.mag.y, 0, 1e-9);
    EXPECT_NEAR(a.mag.z, -v, 1e-9);
    EXPECT_DOUBLE_EQ(a.gyro.x, 0);

    // Heading east: north lies to port. Bow 10° up and port 5° up: gravity leans back and
    // to starboard, so the up axis reads toward bow and port.
    s.heading = 90;
    s.trim = 10;
    s.list = 5;
    CRawMotion tilted(s, 100);
    mtobj::RawTruth truth;
    const attfilter::RawSample b = tilted.Next(&truth);
    EXPECT_NEAR(truth.attitude.pitch, 10, 1e-9);
    EXPECT_NEAR(b.accel.x, kG * std::sin(10 * kDeg), 1e-6);
    EXPECT_NEAR(b.accel.y, kG * std::sin(truth.attitude.roll * kDeg), 1e-6);
    EXPECT_GT(b.accel.y, 0);
    EXPECT_NEAR(std::sqrt(b.mag.x * b.mag.x + b.mag.y * b.mag.y + b.mag.z * b.mag.z), 0.5, 1e-9);
    s.trim = s.list = 0;
    CRawMotion east(s, 100);
    const attfilter::RawSample c = east.Next();
    EXPECT_NEAR(c.mag.x, 0, 1e-9);
    EXPECT_NEAR(c.mag.y, h, 1e-9);
}

TEST(RawMotionPhysics, IronDistortsTheFieldAndASteelMassPassesInItsWindowOnly) {
    RawScenario s = Flat();
    s.hardIron = {0.1, -0.2, 0.05};
    s.softIron = {1.2, 0, 0, 0, 0.8, 0, 0, 0, 1};
    s.disturbanceStart = 2;
    s.disturbanceDuration = 4;
    s.disturbanceField = {0, 0.1, 0};
    CRawMotion motion(s, 10);
    const double h = 0.5 * std::cos(66 * kDeg);
    const Vec3 before = motion.FieldAt(1);
    EXPECT_NEAR(before.x, 1.2 * h + 0.1, 1e-9);
    EXPECT_NEAR(before.y, -0.2, 1e-9);
    const Vec3 middle = motion.FieldAt(4);
    EXPECT_NEAR(middle.y, -0.2 + 0.8 * 0.1, 1e-9);
    const Vec3 after = motion.FieldAt(6.5);
    EXPECT_NEAR(after.y, -0.2, 1e-9);
}

TEST(RawMotionPhysics, VesselAccelerationsReachTheAccelerometer) {
    // A steady turn to starboard at 10 knots and 3 °/s: the centripetal acceleration
    // v·ω points to starboard (-y).
    RawScenario turn = Flat();
    turn.speedKnots = 10;
    turn.turnStart = 0;
    turn.turnDuration = 60;
    turn.turnRate = 3;
    CRawMotion turning(turn, 100);
    const Vec3 f = turning.SpecificForceAt(30);
    EXPECT_NEAR(f.y, -10 * 1852.0 / 3600.0 * 3 * kDeg, 1e-4);
    EXPECT_NEAR(f.x, 0, 1e-6);
    EXPECT_NEAR(turning.BodyRateAt(30).z, -3 * kDeg, 1e-9);

    // Heave of 1.5 m at 8 s swings the vertical force by ±1.5·(2π/8)².
    RawScenario heave = Flat();
    heave.heaveAmplitude = 1.5;
    CRawMotion heaving(heave, 100);
    double low = 1e9, high = -1e9;
    for (double t = 0; t < 8; t += 0.01) {
        const double z = heaving.SpecificForceAt(t).z;
        low = std::min(low, z);
        high = std::max(high, z);
    }
    const double swing = 1.5 * std::pow(2 * std::numbers::pi / 8, 2);
    EXPECT_NEAR(high, kG + swing, 1e-3);
    EXPECT_NEAR(low, kG - swing, 1e-3);

    // Rolling 20° at 10 s with the sensor 5 m above the roll centre: at the port-up extreme
    // the mast top accelerates back to port by 5·A·ω² beyond what gravity shows.
    RawScenario roll = Flat();
    roll.rollAmplitude = 20;
    roll.rollPeriod = 10;
    RawScenario atCentre = roll;
    atCentre.leverArm = {0, 0, 0};
    CRawMotion mast(roll, 100), centre(atCentre, 100);
    double t = 0, best = -1;
    for (double u = 0; u < 10; u += 0.001) {
        const double r = mast.TruthAt(u).attitude.roll;
        if (r > best) {
            best = r;
            t = u;
        }
    }
    const double extra = mast.SpecificForceAt(t).y - centre.SpecificForceAt(t).y;
    const double w = 2 * std::numbers::pi / 10;
    EXPECT_NEAR(extra, 5 * 20 * kDeg * w * w, 0.01);
    // The centre alone feels gravity only.
    EXPECT_NEAR(centre.SpecificForceAt(t).y, kG * std::sin(best * kDeg), 1e-4);
}

TEST(RawMotionNoise, HasTheNoiseOfAGoodMemsSensorAtEveryRate) {
    for (double rate : {25.0, 100.0, 512.0}) {
        RawScenario s = Flat();
        s.noise = true;
        CRawMotion motion(s, rate);
        std::vector<double> gyro, accel, mag;
        for (int i = 0; i < 4000; ++i) {
            const attfilter::RawSample r = motion.Next();
            gyro.push_back(r.gyro.x);
            accel.push_back(r.accel.y);
            mag.push_back(r.mag.z);
        }
        // 0.005 °/s/√Hz, 100 µg/√Hz, 0.5 % of 0.5 gauss.
        EXPECT_NEAR(Std(gyro) / kDeg, 0.005 * std::sqrt(rate), 0.1 * 0.005 * std::sqrt(rate));
        EXPECT_NEAR(Std(accel), 100e-6 * kG * std::sqrt(rate), 0.1 * 100e-6 * kG * std::sqrt(rate));
        EXPECT_NEAR(Std(mag), 0.0025, 0.00025);
        EXPECT_NEAR(motion.Next().seconds, 4000 / rate, 1e-9);
    }
    // The fixed bias stays within its limit and comes from its seed.
    RawScenario s = Flat();
    s.gyroBiasLimit = 0.5;
    const Vec3 b = CRawMotion(s, 100).FixedGyroBias();
    for (double axis : {b.x, b.y, b.z}) {
        EXPECT_LE(std::abs(axis), 0.5 * kDeg);
    }
    EXPECT_GT(std::abs(b.x) + std::abs(b.y) + std::abs(b.z), 0);
}

TEST(RawMotionNoise, TheSameSeedRepeatsAndAnotherDiffers) {
    RawScenario s;
    CRawMotion a(s, 100), b(s, 100);
    s.seed = 2;
    CRawMotion c(s, 100);
    bool differs = false;
    for (int i = 0; i < 500; ++i) {
        const attfilter::RawSample x = a.Next();
        const attfilter::RawSample y = b.Next();
        const attfilter::RawSample z = c.Next();
        ASSERT_EQ(x.gyro.x, y.gyro.x);
        ASSERT_EQ(x.accel.z, y.accel.z);
        ASSERT_EQ(x.mag.y, y.mag.y);
        differs = differs || x.gyro.x != z.gyro.x;
    }
    EXPECT_TRUE(differs);
}

// The irregular sea as the sensor measures it: the gyroscope integrates to the true attitude
// through a turn with its heel, and the accelerometer, turned into the level frame with
// gravity taken off, integrates to how fast the sensor's place moves.
TEST(RawMotionIrregularSea, TheSensorsMeasureTheMotionItDescribes) {
    RawScenario s = mtobj::DrawScenario(mtobj::SeaKind::Heavy, 5);
    s.noise = false;
    s.gyroBiasLimit = 0;
    s.turns = {{2, 6, 4}};
    s.turnHeel = 0.4;
    const double rate = 1000;
    CRawMotion motion(s, rate);
    Quat q = motion.OrientationAt(0);
    for (int i = 0; i < 10000; ++i) {
        const Vec3 w = motion.BodyRateAt((i + 0.5) / rate);
        const double angle = std::sqrt(w.x * w.x + w.y * w.y + w.z * w.z) / rate;
        const double s2 = std::sin(angle / 2) / (angle > 0 ? angle * rate : 1);
        q = Multiply(q, {std::cos(angle / 2), w.x * s2, w.y * s2, w.z * s2});
    }
    const mtobj::RawTruth truth = motion.TruthAt(10);
    const attfilter::EulerAngles a = attfilter::AnglesOf(q);
    EXPECT_NEAR(std::remainder(a.heading - truth.attitude.heading, 360), 0, 0.001);
    EXPECT_NEAR(a.pitch, truth.attitude.pitch, 0.001);
    EXPECT_NEAR(a.roll, truth.attitude.roll, 0.001);

    // Without the turn the way is steady: the integrated specific force is the change of the
    // velocity of the sensor's place (surge, sway, heave and the lever arm swung).
    s.turns.clear();
    const CRawMotion straight(s, rate);
    const auto velocity = [&straight](double t) {
        const Vec3 a = straight.PositionAt(t - 1e-3), b = straight.PositionAt(t + 1e-3);
        return Vec3{(b.x - a.x) / 2e-3, (b.y - a.y) / 2e-3, (b.z - a.z) / 2e-3};
    };
    Vec3 v = velocity(0);
    for (int i = 0; i < 20000; ++i) {
        const double t = (i + 0.5) / rate;
        Quat o = straight.OrientationAt(t);
        const Vec3 f = straight.SpecificForceAt(t);
        const Quat p = Multiply(Multiply(o, {0, f.x, f.y, f.z}), {o[0], -o[1], -o[2], -o[3]});
        v = {v.x + p[1] / rate, v.y + p[2] / rate, v.z + (p[3] - kG) / rate};
    }
    const Vec3 end = velocity(20);
    EXPECT_NEAR(v.x, end.x, 0.01);
    EXPECT_NEAR(v.y, end.y, 0.01);
    EXPECT_NEAR(v.z, end.z, 0.01);
}

// Each motion has the size asked for (significant: twice the standard deviation; heave's
// four times), and heave at a point 10 m to port of the sensor rolling about it is 10 sin roll.
TEST(RawMotionIrregularSea, MotionsHaveTheirSignificantSizesAndHeaveFollowsThePoint) {
    RawScenario s = mtobj::DrawScenario(mtobj::SeaKind::Heavy, 7);
    s.leverArm = {0, 0, 0};
    const CRawMotion motion(s, 100);
    std::vector<double> roll, pitch, heave;
    for (double t = 0; t < 3600; t += 0.5) {
        const mtobj::RawTruth truth = motion.TruthAt(t);
        roll.push_back(truth.attitude.roll);
        pitch.push_back(truth.attitude.pitch);
        heave.push_back(motion.HeaveAt(t));
    }
    EXPECT_NEAR(2 * Std(roll), s.sea.rollSignificant, 0.15 * s.sea.rollSignificant);
    EXPECT_NEAR(2 * Std(pitch), s.sea.pitchSignificant, 0.15 * s.sea.pitchSignificant);
    EXPECT_NEAR(4 * Std(heave), s.sea.heaveSignificant, 0.15 * s.sea.heaveSignificant);

    RawScenario rolling = Flat();
    rolling.rollAmplitude = 15;
    rolling.leverArm = {0, 0, 0};
    const CRawMotion roller(rolling, 100);
    for (double t : {1.0, 2.5, 4.0, 7.0}) {
        const double r = roller.TruthAt(t).attitude.roll * kDeg;
        EXPECT_NEAR(roller.HeaveAt(t, {0, 10, 0}), 10 * std::sin(r), 1e-9) << t;
        EXPECT_NEAR(roller.HeaveAt(t), 0, 1e-9) << t;
    }
}
