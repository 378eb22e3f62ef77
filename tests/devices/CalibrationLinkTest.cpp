// Calibration through the sensor link, as the Advanced dialog does it: the sensor object's
// calibration interface over its running device, its delivery thread going on meanwhile.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "LiveSensorLink.h"
#include "RawCapture.h"
#include "TestSupport.h"
#include "mtobj/CalibrationStore.h"
#include "platform/Registry.h"

namespace {

using mtobj::CalibrationState;
using mtobj::CalibrationStep;
using mtobj::HeadingStanding;

// Waits at most 20 s for `done`.
template <typename Done>
bool WaitFor(Done done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The sensor port's device kind while it lives.
class SensorKind {
public:
    explicit SensorKind(const std::string& kind) {
        CRegKey key;
        key.Create(HKEY_CURRENT_USER, mtobj::kSettingsKey);
        key.SetString("Kind", kind);
    }
    ~SensorKind() {
        CRegKey key;
        key.Create(HKEY_CURRENT_USER, mtobj::kSettingsKey);
        key.DeleteValue("Kind");
    }
    SensorKind(const SensorKind&) = delete;
    SensorKind& operator=(const SensorKind&) = delete;
};

TEST(CalibrationLinkTest, ASimulatedSensorNeedsNoneAndAClosedPortSaysSo) {
    sensor_test::LiveSensorLink live{TelegramOutputFactory{}};
    ASSERT_TRUE(live.ready);
    std::string why;
    EXPECT_FALSE(live.link.CanCalibrate(&why));
    EXPECT_NE(why.find("needs no calibration"), std::string::npos) << why;
    EXPECT_EQ(live.link.BeginCalibrationStep(CalibrationStep::Rest), E_NOTIMPL);
    EXPECT_EQ(live.link.SetHeadingOffset(2), E_NOTIMPL);
    EXPECT_EQ(live.link.GetHeadingStanding(), HeadingStanding::Trusted);
    live.link.GetTracker()->ClosePort();
    EXPECT_FALSE(live.link.CanCalibrate(&why));
    EXPECT_NE(why.find("not connected"), std::string::npos) << why;
}

TEST(CalibrationLinkTest, ARunningRawSensorIsCalibratedWhileItsSamplesGoOn) {
    const std::string path = tavimo_test::TempRoot() + "/link-still.txt";
    ASSERT_TRUE(iio_test::WriteRawCapture(path, "linkimu", iio_test::StillWithIron(), 50, 60));
    SensorKind kind("replay:" + path);
    sensor_test::LiveSensorLink live{TelegramOutputFactory{}};
    ASSERT_TRUE(live.ready);
    std::string why;
    ASSERT_TRUE(live.link.CanCalibrate(&why)) << why;
    live.link.StartSensor();
    double time = 0;
    float pitch = 0;
    float roll = 0;
    float heading = 0;
    ASSERT_TRUE(
        WaitFor([&] { return live.link.GetOrientationDataLatest(time, pitch, roll, heading); }));
    EXPECT_EQ(live.link.GetHeadingStanding(), HeadingStanding::MagNotCalibrated);

    // A rest step of a second: the samples keep coming while it collects and computes.
    ASSERT_EQ(live.link.BeginCalibrationStep(CalibrationStep::Rest, 1.0), S_OK);
    const double before = time;
    ASSERT_TRUE(WaitFor([&] {
        const auto state = live.link.GetCalibrationProgress().state;
        return state != CalibrationState::Collecting && state != CalibrationState::Computing;
    }));
    const auto progress = live.link.GetCalibrationProgress();
    ASSERT_EQ(progress.state, CalibrationState::Applied) << progress.text;
    ASSERT_TRUE(live.link.GetOrientationDataLatest(time, pitch, roll, heading));
    EXPECT_GT(time, before + 500.0);  // PC ms: the sensor delivered through the step
    const auto stored = mtobj::LoadCalibration("linkimu");
    ASSERT_TRUE(stored);
    const auto bias = mtobj::CRawMotion(iio_test::StillWithIron(), 50).FixedGyroBias();
    EXPECT_NEAR(stored->gyroBias.z, bias.z, 0.05 * iio_test::kRad);

    // A heading offset, shown, undone and the calibration forgotten.
    ASSERT_EQ(live.link.SetHeadingOffset(5), S_OK);
    std::string current;
    std::string previous;
    ASSERT_TRUE(live.link.DescribeCalibration(current, previous));
    EXPECT_NE(current.find("5.000"), std::string::npos) << current;
    EXPECT_FALSE(previous.empty());
    ASSERT_EQ(live.link.UndoCalibration(), S_OK);
    EXPECT_EQ(mtobj::LoadCalibration("linkimu")->headingOffset, 0.0);
    ASSERT_EQ(live.link.ResetCalibration(), S_OK);
    ASSERT_TRUE(live.link.DescribeCalibration(current, previous));
    EXPECT_TRUE(current.empty());

    // A step cut short by the sensor stopping changes nothing.
    ASSERT_EQ(live.link.BeginCalibrationStep(CalibrationStep::Mag, 100), S_OK);
    live.link.StopSensor();
    EXPECT_EQ(live.link.GetCalibrationProgress().state, CalibrationState::Cancelled);
    EXPECT_FALSE(mtobj::LoadCalibration("linkimu"));
}

}  // namespace
