// A raw sensor's calibration: kept in the registry per device (through a restart), undone
// and reset; made with tavimo-calibrate from captures of the simulator's raw mode; and
// applied by the device when it starts.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>

#include "RawCapture.h"
#include "TestSupport.h"
#include "mtobj/CalibrationStore.h"
#include "platform/Registry.h"

namespace {

using namespace iio_test;

// Runs tavimo-calibrate; its exit code and what it wrote.
int Calibrate(const std::string& arguments, std::string* output = nullptr) {
    platform::RegistryClose();  // the tool writes the registry; read it anew afterwards
    const std::string command = std::string(TAVIMO_CALIBRATE_BIN) + " " + arguments + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    std::string text;
    std::array<char, 512> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) {
        text += buffer.data();
    }
    const int status = ::pclose(pipe);
    platform::RegistryClose();
    if (output != nullptr) {
        *output = text;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

attfilter::SensorCalibration Sample(double heading) {
    attfilter::SensorCalibration c;
    c.gyroBias = {0.001, -0.002, 0.003};
    c.accelOffset = {0.05, -0.04, 0.1};
    c.hardIron = {0.11, -0.07, 0.02};
    c.softIron = {1.1, 0.02, 0, 0.02, 0.95, 0, 0, 0, 1.0 / 3};
    c.magCalibrated = true;
    c.rollOffset = 0.4;
    c.pitchOffset = -0.3;
    c.headingOffset = heading;
    return c;
}

void ExpectSame(const attfilter::SensorCalibration& a, const attfilter::SensorCalibration& b) {
    EXPECT_EQ(a.gyroBias.x, b.gyroBias.x);
    EXPECT_EQ(a.gyroBias.z, b.gyroBias.z);
    EXPECT_EQ(a.accelOffset.y, b.accelOffset.y);
    EXPECT_EQ(a.hardIron.x, b.hardIron.x);
    EXPECT_EQ(a.softIron, b.softIron);
    EXPECT_EQ(a.magCalibrated, b.magCalibrated);
    EXPECT_EQ(a.rollOffset, b.rollOffset);
    EXPECT_EQ(a.pitchOffset, b.pitchOffset);
    EXPECT_EQ(a.headingOffset, b.headingOffset);
}

TEST(CalibrationStoreTest, KeptPerDeviceThroughARestartUndoneAndReset) {
    EXPECT_FALSE(mtobj::LoadCalibration("lsm9ds1"));
    EXPECT_FALSE(mtobj::UndoCalibration("lsm9ds1"));
    ASSERT_TRUE(mtobj::SaveCalibration("lsm9ds1", Sample(2.5)));
    ASSERT_TRUE(mtobj::SaveCalibration("other", Sample(-7)));
    platform::RegistryClose();  // as the module ends and starts again
    auto loaded = mtobj::LoadCalibration("lsm9ds1");
    ASSERT_TRUE(loaded);
    ExpectSame(*loaded, Sample(2.5));
    ExpectSame(*mtobj::LoadCalibration("other"), Sample(-7));

    ASSERT_TRUE(mtobj::SaveCalibration("lsm9ds1", Sample(10)));
    ExpectSame(*mtobj::PreviousCalibration("lsm9ds1"), Sample(2.5));
    EXPECT_EQ(mtobj::UndoSteps("lsm9ds1"), 2);
    ASSERT_TRUE(mtobj::UndoCalibration("lsm9ds1"));
    ExpectSame(*mtobj::LoadCalibration("lsm9ds1"), Sample(2.5));
    ASSERT_TRUE(mtobj::UndoCalibration("lsm9ds1"));  // a step further: before the first
    EXPECT_FALSE(mtobj::LoadCalibration("lsm9ds1"));
    EXPECT_FALSE(mtobj::UndoCalibration("lsm9ds1"));  // nothing before that
    EXPECT_EQ(mtobj::UndoSteps("lsm9ds1"), 0);

    ASSERT_TRUE(mtobj::SaveCalibration("lsm9ds1", Sample(10)));
    ASSERT_TRUE(mtobj::ResetCalibration("lsm9ds1"));
    EXPECT_FALSE(mtobj::LoadCalibration("lsm9ds1"));
    ASSERT_TRUE(mtobj::UndoCalibration("lsm9ds1"));
    ExpectSame(*mtobj::LoadCalibration("lsm9ds1"), Sample(10));

    // A value spoiled in the registry: the calibration is not used, and the reason says which.
    CRegKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, mtobj::CalibrationKey("lsm9ds1")), ERROR_SUCCESS);
    key.SetString("HardIronY", "north");
    std::string reason;
    EXPECT_FALSE(mtobj::LoadCalibration("lsm9ds1", &reason));
    EXPECT_NE(reason.find("HardIronY"), std::string::npos) << reason;
}

TEST(CalibrationToolTest, AFullCircleFitBringsHeadingRightAllRoundAndAHalfIsRefused) {
    const std::string dir = tavimo_test::TempRoot();
    const std::string full = dir + "/full-circle.txt";
    const std::string half = dir + "/half-circle.txt";
    ASSERT_TRUE(WriteRawCapture(full, "magsensor", TurningWithIron(370), 50, 370.0 / 3 + 15));
    ASSERT_TRUE(WriteRawCapture(half, "magsensor", TurningWithIron(180), 50, 70));

    // Uncalibrated, the iron turns the heading by degrees.
    const std::string west = dir + "/west.txt";
    auto steady = TurningWithIron(0);
    steady.heading = 270;
    ASSERT_TRUE(WriteRawCapture(west, "magsensor", steady, 50, 40));
    const auto before = ReplayAgainstTruth(west, steady, 50, 25, 20);
    ASSERT_GT(before.compared, 400U);
    EXPECT_GT(before.worst, 3.0);

    // As a crew does it: the gyroscope's bias at rest first, then the turn.
    const auto still = StillWithIron();
    ASSERT_TRUE(WriteRawCapture(dir + "/still.txt", "magsensor", still, 100, 10));
    std::string out;
    ASSERT_EQ(Calibrate("rest magsensor --from " + dir + "/still.txt", &out), 0) << out;
    ASSERT_TRUE(mtobj::LoadCalibration("magsensor"));
    EXPECT_FALSE(mtobj::LoadCalibration("magsensor")->magCalibrated);

    EXPECT_EQ(Calibrate("mag magsensor --from " + half, &out), 1) << out;
    EXPECT_NE(out.find("refused"), std::string::npos) << out;
    EXPECT_FALSE(mtobj::LoadCalibration("magsensor")->magCalibrated);

    ASSERT_EQ(Calibrate("mag magsensor --from " + full, &out), 0) << out;
    EXPECT_NE(out.find("residual"), std::string::npos) << out;
    EXPECT_NE(out.find("circle covered"), std::string::npos) << out;
    const auto stored = mtobj::LoadCalibration("magsensor");
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->magCalibrated);

    // The device applies it when it starts: the heading is right all round the compass.
    for (double heading = 0; heading < 360; heading += 30) {
        auto fixed = TurningWithIron(0);
        fixed.heading = heading;
        const std::string path = dir + "/steady.txt";
        ASSERT_TRUE(WriteRawCapture(path, "magsensor", fixed, 50, 40));
        const auto after = ReplayAgainstTruth(path, fixed, 50, 25, 20);
        EXPECT_GT(after.compared, 400U);
        EXPECT_LT(after.worst, 1.0) << "heading " << heading;
    }

    // The heading offset of a sensor not along the keel is added to its heading.
    ASSERT_EQ(Calibrate("heading magsensor 12.5", &out), 0) << out;
    steady.heading = 200;
    ASSERT_TRUE(WriteRawCapture(dir + "/steady.txt", "magsensor", steady, 50, 40));
    const auto turned = ReplayAgainstTruth(dir + "/steady.txt", steady, 50, 25, 20, {12.5, 0, 0});
    EXPECT_LT(turned.worst, 1.0);
    ASSERT_EQ(Calibrate("show magsensor", &out), 0);
    EXPECT_NE(out.find("12.500"), std::string::npos) << out;

    // Undone: the fit without the offset again.
    ASSERT_EQ(Calibrate("undo magsensor", &out), 0) << out;
    EXPECT_EQ(mtobj::LoadCalibration("magsensor")->headingOffset, 0.0);
}

TEST(CalibrationToolTest, GyroscopeBiasAndLevelAtRest) {
    mtobj::RawScenario still;
    still.rollAmplitude = still.pitchAmplitude = still.yawAmplitude = 0;
    still.heaveAmplitude = 0;
    still.speedKnots = 0;
    still.list = 1.5;  // the sensor sits 1.5 degrees off level on a level vessel
    still.trim = -0.8;
    still.seed = 4;
    const std::string path = tavimo_test::TempRoot() + "/still.txt";
    ASSERT_TRUE(WriteRawCapture(path, "imu", still, 100, 10));
    std::string out;
    ASSERT_EQ(Calibrate("rest imu --from " + path, &out), 0) << out;
    const mtobj::CRawMotion motion(still, 100);
    const auto bias = motion.FixedGyroBias();
    auto c = mtobj::LoadCalibration("imu");
    ASSERT_TRUE(c);
    constexpr double kTolerance = 0.02 * kRad;  // rad/s
    EXPECT_NEAR(c->gyroBias.x, bias.x, kTolerance);
    EXPECT_NEAR(c->gyroBias.y, bias.y, kTolerance);
    EXPECT_NEAR(c->gyroBias.z, bias.z, kTolerance);
    // A capture that never turned is no circle, whatever the field's noise looks like.
    EXPECT_EQ(Calibrate("mag imu --from " + path, &out), 1);
    EXPECT_NE(out.find("the sensor did not turn (covered"), std::string::npos) << out;
    ASSERT_EQ(Calibrate("level imu --from " + path, &out), 0) << out;
    c = mtobj::LoadCalibration("imu");
    EXPECT_NEAR(c->rollOffset, 1.5, 0.1);
    EXPECT_NEAR(c->pitchOffset, -0.8, 0.1);
    // The gyroscope bias is kept beside the level.
    EXPECT_NEAR(c->gyroBias.x, bias.x, kTolerance);

    EXPECT_EQ(Calibrate("reset imu", &out), 0);
    EXPECT_FALSE(mtobj::LoadCalibration("imu"));
    EXPECT_EQ(Calibrate("undo imu", &out), 0);
    EXPECT_TRUE(mtobj::LoadCalibration("imu"));
}

// A step checks what it was fed before it stores: a broken record is dropped and counted, a
// turn is no bias, and a stored calibration the filter cannot use is refused when loaded.
TEST(CalibrationToolTest, ARestStepStoresOnlyWhatAStillSensorCanHave) {
    mtobj::RawScenario still;
    still.rollAmplitude = still.pitchAmplitude = still.yawAmplitude = 0;
    still.heaveAmplitude = 0;
    still.speedKnots = 0;
    still.seed = 7;
    const std::string glitch = tavimo_test::TempRoot() + "/glitch.txt";
    ASSERT_TRUE(WriteRawCapture(glitch, "imu2", still, 100, 15));
    {
        // One absurd record, at the time of the last.
        const std::string text = tavimo_test::ReadFile(glitch);
        const std::size_t last = text.rfind('\n', text.size() - 2) + 1;
        std::ofstream append(glitch, std::ios::app);
        append << text.substr(last, text.find(' ', last) - last)
               << " A 0 0 9.8 G 1e308 0 0 M 0.2 0 -0.4\n";
    }
    std::string out;
    ASSERT_EQ(Calibrate("rest imu2 --from " + glitch, &out), 0) << out;
    EXPECT_NE(out.find("1 of 1501 samples dropped"), std::string::npos) << out;
    const auto stored = mtobj::LoadCalibration("imu2");
    ASSERT_TRUE(stored);
    const auto bias = mtobj::CRawMotion(still, 100).FixedGyroBias();
    EXPECT_NEAR(stored->gyroBias.x, bias.x, 0.02 * kRad);

    // Turning steadily at 2.86 °/s: steady rates, but the field turns with the sensor.
    mtobj::RawScenario turning = still;
    turning.turns = {{-20, 1000, 2.86}};
    const std::string turn = tavimo_test::TempRoot() + "/turning.txt";
    ASSERT_TRUE(WriteRawCapture(turn, "imu2", turning, 100, 10));
    EXPECT_EQ(Calibrate("rest imu2 --from " + turn, &out), 1) << out;
    EXPECT_NE(out.find("the sensor turned"), std::string::npos) << out;
    EXPECT_EQ(mtobj::LoadCalibration("imu2")->gyroBias.x, stored->gyroBias.x);  // kept

    // A calibration beyond any sensor, as an older build could store it, is not used.
    attfilter::SensorCalibration absurd = Sample(0);
    absurd.gyroBias.x = 6.6e304;
    ASSERT_TRUE(mtobj::SaveCalibration("imu3", absurd));
    std::string reason;
    EXPECT_FALSE(mtobj::LoadCalibration("imu3", &reason));
    EXPECT_NE(reason.find("beyond the 5 °/s a sensor can have"), std::string::npos) << reason;
}

TEST(CalibrationToolTest, RecordCapturesWhatALiveDeviceDelivers) {
    FakeIioTree tree;
    tree.AddDevice("iio:device2", "lsm9ds1", kNine);
    FifoWriter writer(tree.Dev() / "iio:device2", tree.Folder("iio:device2"), kNine, RawFeed());
    const std::string path = tavimo_test::TempRoot() + "/recorded.txt";
    std::string out;
    ASSERT_EQ(Calibrate("record lsm9ds1 1 " + path, &out), 0) << out;
    std::string reason;
    const auto capture = mtobj::ReadCapture(path, &reason);
    ASSERT_TRUE(capture) << reason;
    EXPECT_EQ(capture->deviceId, "lsm9ds1");
    ASSERT_GE(capture->records.size(), 50U);
    EXPECT_TRUE(capture->records[10].hasAccel && capture->records[10].hasGyro &&
                capture->records[10].hasMag);
}

TEST(CalibrationToolTest, WrongCommandLinesAreRefused) {
    std::string out;
    EXPECT_EQ(Calibrate("", &out), 2);
    EXPECT_NE(out.find("usage"), std::string::npos);
    EXPECT_EQ(Calibrate("--help", &out), 0);
    EXPECT_NE(out.find("positive turns the heading clockwise"), std::string::npos);
    EXPECT_EQ(Calibrate("fly imu", &out), 2);
    EXPECT_EQ(Calibrate("heading imu north", &out), 2);
    EXPECT_EQ(Calibrate("heading imu 400", &out), 2);
    EXPECT_EQ(Calibrate("rest imu --seconds -3", &out), 1);
    EXPECT_EQ(Calibrate("rest imu --from /no/such/capture", &out), 1);
    EXPECT_NE(out.find("No such file"), std::string::npos) << out;
    EXPECT_EQ(Calibrate("undo never-calibrated", &out), 1);
    // A live device that is not there.
    tavimo_test::ScopedEnv noDevices("TAVIMO_IIO_SYSFS", tavimo_test::TempRoot() + "/no-iio");
    EXPECT_EQ(Calibrate("rest missing --seconds 1", &out), 1);
    EXPECT_NE(out.find("no IIO devices"), std::string::npos) << out;
}

}  // namespace
