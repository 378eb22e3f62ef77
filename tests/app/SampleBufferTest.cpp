#include <gtest/gtest.h>

#include <cmath>

#include "SensorTestSupport.h"
#include "app/SampleBuffer.h"
#include "app/XsensModule.h"
#include "mtobj/VesselMotion.h"

namespace {

Quaternion Unit(float a, float b, float c, float d) {
    Quaternion q{a, b, c, d};
    Normalise(q);
    return q;
}

void ExpectQuat(const Quaternion& q, const Quaternion& expected, float tolerance = 1e-6F) {
    EXPECT_NEAR(q.q0, expected.q0, tolerance);
    EXPECT_NEAR(q.q1, expected.q1, tolerance);
    EXPECT_NEAR(q.q2, expected.q2, tolerance);
    EXPECT_NEAR(q.q3, expected.q3, tolerance);
}

float AngleDiff(float a, float b) {
    float d = std::fmod(a - b + 540.0F, 360.0F) - 180.0F;
    return std::fabs(d);
}

class SampleBufferTest : public ::testing::Test {
protected:
    sensor_test::TraceCapture traces;
    CErrorLog log;
    CSampleBuffer buffer{log};
    const Quaternion a = Unit(1, 0.1F, 0, 0);
    const Quaternion b = Unit(1, 0, 0.2F, 0);
    const Quaternion c = Unit(1, 0, 0, 0.3F);
};

TEST(QuaternionTest, HamiltonProductAndInverse) {
    const Quaternion i{0, 1, 0, 0}, j{0, 0, 1, 0}, k{0, 0, 0, 1};
    ExpectQuat(i * j, k);
    ExpectQuat(j * i, k * -1.0);
    ExpectQuat(j * k, i);
    const Quaternion q{1, 2, 3, 4};
    ExpectQuat(q * Quaternion{5, 6, 7, 8}, {-60, 12, 30, 24});
    ExpectQuat(q * q.Inverse(), {1, 0, 0, 0});
    EXPECT_DOUBLE_EQ(q.Norm(), std::sqrt(30.0));
    // Sums are stored in single precision after each step.
    const Quaternion sum = Quaternion{1e8F, 0, 0, 0} + Quaternion{1, 0, 0, 0};
    EXPECT_EQ(sum.q0, 1e8F);
}

TEST_F(SampleBufferTest, KeepsTheNewestUpToItsCapacity) {
    buffer.SetCapacity(500);
    for (int i = 0; i < 501; ++i) {
        EXPECT_TRUE(buffer.AppendSample(a, i * 40.0));
    }
    EXPECT_EQ(buffer.Count(), 500U);
    Quaternion q;
    double t = 0;
    ASSERT_TRUE(buffer.GetLatestSample(q, t));
    EXPECT_EQ(t, 500 * 40.0);
    // The first sample (t = 0) is gone: a request there lies before the oldest.
    EXPECT_FALSE(buffer.GetInterpolated(q, 0.0, 0.0));
    EXPECT_TRUE(buffer.GetInterpolated(q, 40.0, 0.0));
    buffer.SetCapacity(10);
    EXPECT_EQ(buffer.Count(), 10U);
}

TEST_F(SampleBufferTest, InterpolatesBetweenNeighboursAndHitsSamplesExactly) {
    buffer.AppendSample(a, 0);
    buffer.AppendSample(b, 40);
    buffer.AppendSample(c, 80);
    Quaternion q;
    ASSERT_TRUE(buffer.GetInterpolated(q, 60, 0));
    ExpectQuat(q, Unit(0.5F * b.q0 + 0.5F * c.q0, 0.5F * b.q1 + 0.5F * c.q1,
                       0.5F * b.q2 + 0.5F * c.q2, 0.5F * b.q3 + 0.5F * c.q3));
    ASSERT_TRUE(buffer.GetInterpolated(q, 40, 0));
    ExpectQuat(q, b);
    ASSERT_TRUE(buffer.GetInterpolated(q, 80, 0));  // the newest: extrapolated by 0 ms
    ExpectQuat(q, c);
    EXPECT_FALSE(buffer.GetInterpolated(q, -1, 0));  // before the oldest
    EXPECT_TRUE(traces.Has("Get", "Sample Time PC millisecs 60.00000000000000"));
}

TEST_F(SampleBufferTest, ExtrapolatesFromTheTwoNewestUnlessTooClose) {
    buffer.AppendSample(b, 0);
    buffer.AppendSample(c, 40);
    Quaternion q;
    ASSERT_TRUE(buffer.GetInterpolated(q, 140, 0));
    Quaternion step = c + (c - b) * 2.5;
    Normalise(step);
    ExpectQuat(q, step, 2e-6F);
    EXPECT_TRUE(traces.Has("Get Extrapolating", "Sample Time PC millisecs 140.0"));
    EXPECT_FALSE(buffer.GetInterpolated(q, 140, 40.0));  // gap not above the minimum
    buffer.AppendSample(a, 40);                          // two newest at one time
    EXPECT_FALSE(buffer.GetInterpolated(q, 50, 0));
    CSampleBuffer single(log);
    single.AppendSample(a, 0);
    EXPECT_FALSE(single.GetInterpolated(q, 0, 0));
}

TEST_F(SampleBufferTest, WindowNeedsThreeSamples) {
    const double t = 1000;
    buffer.AppendSample(a, t - 120);
    buffer.AppendSample(b, t - 80);
    buffer.AppendSample(c, t - 40);
    buffer.AppendSample(a, t);
    Quaternion q;
    ASSERT_TRUE(buffer.GetInWindow(q, t, 100));
    Quaternion mean = a + b + c;
    Normalise(mean);
    ExpectQuat(q, mean);
    traces.Clear();
    EXPECT_FALSE(buffer.GetInWindow(q, t, 60));
    EXPECT_TRUE(traces.Has("Get in window",
                           " not enough data found in buffer n=2 Buff Size = 4 t= 1000.000000"));
    // Samples after t count too: the window has no upper end.
    EXPECT_TRUE(buffer.GetInWindow(q, t - 50, 40));
}

TEST_F(SampleBufferTest, WindowEdgeCases) {
    Quaternion q;
    EXPECT_FALSE(buffer.GetInWindow(q, 0, 100));
    buffer.AppendSample(b, 0);
    ASSERT_TRUE(buffer.GetInWindow(q, 500, 100));
    ExpectQuat(q, b);
    EXPECT_TRUE(traces.Has("Get in Window", "Only one sample in buffer"));
    // Opposite signs of one orientation cancel: no direction, no answer (never NaN).
    buffer.AppendSample(b * -1.0, 1);
    buffer.AppendSample(Quaternion{0, 0, 0, 0}, 2);
    EXPECT_FALSE(buffer.GetInWindow(q, 2, 100));
    EXPECT_FALSE(std::isnan(q.q0));
}

TEST(AngleRuleTest, QuaternionRule) {
    float pitch, roll, heading;
    CXsensModule::AnglesFromQuaternion({1, 0, 0, 0}, pitch, roll, heading);
    EXPECT_EQ(pitch, 0.0F);
    EXPECT_EQ(roll, 0.0F);
    EXPECT_EQ(heading, 0.0F);
    // |B| just above 0.9999: pitch at the pole, roll 0.
    const float s = std::sqrt(0.99995F / 2.0F);
    CXsensModule::AnglesFromQuaternion({s, 0, -s, 0}, pitch, roll, heading);
    EXPECT_NEAR(pitch, 90.0F, 1e-4F);
    EXPECT_EQ(roll, 0.0F);
    CXsensModule::AnglesFromQuaternion({s, 0, s, 0}, pitch, roll, heading);
    EXPECT_NEAR(pitch, -90.0F, 1e-4F);
    CXsensModule::AnglesFromQuaternion({s, s, 0, 0}, pitch, roll, heading);
    EXPECT_NEAR(roll, 90.0F, 1e-4F);
    EXPECT_EQ(pitch, 0.0F);
    // Heading is minus twice the angle of q3 against q0, in [0, 360).
    const float h = 30.0F * 3.14159265F / 360.0F;
    CXsensModule::AnglesFromQuaternion({std::cos(h), 0, 0, -std::sin(h)}, pitch, roll, heading);
    EXPECT_NEAR(heading, 30.0F, 1e-4F);
    CXsensModule::AnglesFromQuaternion({std::cos(h), 0, 0, std::sin(h)}, pitch, roll, heading);
    EXPECT_NEAR(heading, 330.0F, 1e-4F);
}

TEST(AngleRuleTest, MatrixRuleReadsTheSimulatorsAttitude) {
    float pitch, roll, heading;
    const float zero[9] = {};
    CXsensModule::AnglesFromMatrix(zero, pitch, roll, heading);
    EXPECT_EQ(pitch, 0.0F);
    EXPECT_EQ(roll, 0.0F);
    EXPECT_GE(heading, 0.0F);
    EXPECT_LT(heading, 360.0F);
    for (std::uint32_t seed : {1U, 7U, 1234U}) {
        const mtobj::VesselMotion motion(seed);
        for (double t = 0; t < 120; t += 0.731) {
            const mtobj::Attitude truth = motion.At(t);
            const auto m = mtobj::VesselMotion::Matrix(truth);
            CXsensModule::AnglesFromMatrix(m.data(), pitch, roll, heading);
            ASSERT_NEAR(pitch, truth.pitch, 1e-3) << seed << " " << t;
            ASSERT_NEAR(roll, truth.roll, 1e-3) << seed << " " << t;
            ASSERT_LT(AngleDiff(heading, static_cast<float>(truth.heading)), 0.02F)
                << seed << " " << t;
        }
    }
    // An element rounded just past 1 still gives an angle, not NaN.
    const float over[9] = {0, 0, 1.0000001F, 0, 0, 0, 0, 0, 0};
    CXsensModule::AnglesFromMatrix(over, pitch, roll, heading);
    EXPECT_FLOAT_EQ(pitch, 90.0F);
}

TEST(AngleRuleTest, MatrixQuaternionGivesTheMatrixAnglesBack) {
    float pitch, roll, heading;
    for (float p = -85; p <= 85; p += 8.5F) {
        for (float r = -80; r <= 80; r += 10) {
            for (float h = 0; h < 360; h += 22.5F) {
                const Quaternion q = CXsensModule::QuaternionFromAngles(p, r, h);
                EXPECT_NEAR(q.Norm(), 1.0, 1e-6);
                CXsensModule::AnglesFromQuaternion(q, pitch, roll, heading);
                const double sp = std::sin(p * M_PI / 180), sr = std::sin(r * M_PI / 180);
                if (sp * sp + sr * sr > 1.0) {
                    continue;  // beyond what the rule can hold: clamped, checked below
                }
                if (std::fabs(sp) > 0.9999 || std::fabs(sr) > 0.9999) {
                    continue;
                }
                ASSERT_NEAR(pitch, p, 2e-3) << p << " " << r << " " << h;
                ASSERT_NEAR(roll, r, 2e-3) << p << " " << r << " " << h;
                ASSERT_LT(AngleDiff(heading, h), 2e-3F) << p << " " << r << " " << h;
            }
        }
    }
    // The case a standard conversion gets wrong by degrees.
    const Quaternion q = CXsensModule::QuaternionFromAngles(15, 30, 90);
    CXsensModule::AnglesFromQuaternion(q, pitch, roll, heading);
    EXPECT_NEAR(heading, 90, 1e-3);
    EXPECT_NEAR(pitch, 15, 1e-3);
    EXPECT_NEAR(roll, 30, 1e-3);
    // Past the rule's reach (pitch 80, roll 60) the tilt keeps its direction and stays finite.
    const Quaternion clamped = CXsensModule::QuaternionFromAngles(80, 60, 10);
    EXPECT_NEAR(clamped.Norm(), 1.0, 1e-6);
    CXsensModule::AnglesFromQuaternion(clamped, pitch, roll, heading);
    EXPECT_GT(pitch, 0);
    EXPECT_GT(roll, 0);
    EXPECT_NEAR(heading, 10, 1e-3);
}

}  // namespace
