// Calibration while a raw sensor runs, as the Advanced dialog takes it: the device collects
// the step's samples from what it reads, computes, stores and applies the new calibration at
// once (or refuses it and keeps the old), and says how far its heading can be trusted.
// Captures of the simulator's raw mode played as fast as possible stand in for the sensor.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "RawCapture.h"
#include "TestSupport.h"
#include "mtobj/CalibrationStore.h"

namespace {

using namespace iio_test;
using mtobj::CalibrationState;
using mtobj::CalibrationStep;
using mtobj::HeadingStanding;

constexpr int kOutputRate = 25;
constexpr double kCaptureRate = 50;

// A replay device over a capture, running in mode 1 (Euler angles: heading read directly).
std::unique_ptr<mtobj::ISensorDevice> Running(const std::string& path) {
    auto device = mtobj::MakeReplayDevice("fast:" + path, "COM1");
    EXPECT_EQ(device->Open("COM1", 115200), S_OK);
    mtobj::SensorConfig config;
    config.outputMode = 1;
    config.sampleRate = kOutputRate;
    device->Configure(config);
    EXPECT_EQ(device->Start(), S_OK);
    return device;
}

// Reads until `done` holds (checked after every batch) or 30 s pass; the arrays read.
template <typename Done>
std::vector<std::vector<float>> ReadUntil(mtobj::ISensorDevice& device, Done done) {
    std::vector<std::vector<float>> arrays;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done() && std::chrono::steady_clock::now() < end) {
        double newest = 0;
        device.ReadBatch(arrays, newest, 20);
    }
    return arrays;
}

// Reads the capture to its end (five reads in a row bring nothing), at most 5000 reads.
void PlayOut(mtobj::ISensorDevice& device, std::vector<std::vector<float>>& arrays) {
    int quiet = 0;
    for (int i = 0; i < 5000 && quiet < 5; ++i) {
        double newest = 0;
        quiet = device.ReadBatch(arrays, newest, 20) ? 0 : quiet + 1;
    }
}

// Waits at most 30 s for `done`.
template <typename Done>
void WaitUntil(Done done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool Ended(const mtobj::ISensorDevice& device) {
    const auto state = device.CalibrationStatus().state;
    return state == CalibrationState::Applied || state == CalibrationState::Refused ||
           state == CalibrationState::Cancelled;
}

TEST(CalibrationSessionTest, RestThenFullCircleWhileRunningFixTheHeadingAndUndoGoesBack) {
    const std::string dir = tavimo_test::TempRoot();
    const std::string still = dir + "/session-still.txt";
    ASSERT_TRUE(WriteRawCapture(still, "turner", StillWithIron(), kCaptureRate, 12));
    attfilter::SensorCalibration fitted;

    // The gyroscope at rest: the bias the simulator put in, stored and in force.
    {
        auto device = Running(still);
        ASSERT_TRUE(device->Calibratable());
        EXPECT_EQ(device->Standing(), HeadingStanding::MagNotCalibrated);
        ASSERT_EQ(device->BeginCalibrationStep(CalibrationStep::Rest, 0), S_OK);
        ReadUntil(*device, [&] { return Ended(*device); });
        const auto progress = device->CalibrationStatus();
        ASSERT_EQ(progress.state, CalibrationState::Applied) << progress.text;
        EXPECT_DOUBLE_EQ(progress.askedSeconds, 5.0);  // the rest step's default
        EXPECT_GE(progress.collectedSeconds, 4.9);
        const auto stored = mtobj::LoadCalibration("turner");
        ASSERT_TRUE(stored);
        const auto bias = mtobj::CRawMotion(StillWithIron(), kCaptureRate).FixedGyroBias();
        EXPECT_NEAR(stored->gyroBias.x, bias.x, 0.02 * kRad);
        EXPECT_NEAR(stored->gyroBias.y, bias.y, 0.02 * kRad);
        EXPECT_NEAR(stored->gyroBias.z, bias.z, 0.02 * kRad);
        EXPECT_FALSE(stored->magCalibrated);
        EXPECT_NE(progress.text.find("stored and applied"), std::string::npos) << progress.text;
    }

    // Half a circle: refused with its reason, the calibration before stays.
    const std::string half = dir + "/session-half.txt";
    ASSERT_TRUE(WriteRawCapture(half, "turner", TurningWithIron(180), kCaptureRate, 70));
    {
        auto device = Running(half);
        ASSERT_EQ(device->BeginCalibrationStep(CalibrationStep::Mag, 65), S_OK);
        ReadUntil(*device, [&] { return Ended(*device); });
        const auto progress = device->CalibrationStatus();
        ASSERT_EQ(progress.state, CalibrationState::Refused) << progress.text;
        EXPECT_NE(progress.text.find("refused"), std::string::npos) << progress.text;
        EXPECT_NE(progress.text.find("circle covered"), std::string::npos) << progress.text;
        EXPECT_GT(progress.coverageDegrees, 150.0);
        EXPECT_LT(progress.coverageDegrees, 250.0);
        EXPECT_FALSE(mtobj::LoadCalibration("turner")->magCalibrated);
        EXPECT_EQ(device->Standing(), HeadingStanding::MagNotCalibrated);
    }

    // The full circle, the heading going on meanwhile: applied at once, the running heading
    // right after the filter settled on the new field.
    const std::string full = dir + "/session-full.txt";
    const auto turning = TurningWithIron(370);
    const double seconds = 5 + 370.0 / 3 + 30;
    ASSERT_TRUE(WriteRawCapture(full, "turner", turning, kCaptureRate, seconds));
    {
        auto device = Running(full);
        ASSERT_EQ(device->BeginCalibrationStep(CalibrationStep::Mag, 5 + 370.0 / 3), S_OK);
        auto arrays = ReadUntil(*device, [&] {
            return device->CalibrationStatus().state != CalibrationState::Collecting;
        });
        // Played as fast as possible, the capture would run out while the fit computes: wait
        // for it (a live sensor goes on at its pace meanwhile).
        WaitUntil([&] { return Ended(*device); });
        const auto progress = device->CalibrationStatus();
        ASSERT_EQ(progress.state, CalibrationState::Applied) << progress.text;
        EXPECT_NE(progress.text.find("residual"), std::string::npos) << progress.text;
        EXPECT_GE(progress.coverageDegrees, 350.0);
        EXPECT_EQ(device->FinishCalibrationStep(), E_FAIL);  // nothing left to finish
        // Played out to the end: the last heading delivered against the truth there.
        const std::size_t before = arrays.size();
        PlayOut(*device, arrays);
        ASSERT_GT(arrays.size(), before + std::size_t{20} * kOutputRate);
        const mtobj::CRawMotion motion(turning, kCaptureRate);
        const double end = static_cast<double>(arrays.size() - 1) / kOutputRate;
        EXPECT_LT(AngleDiff(ReadBack(arrays.back(), 1).heading, TruthOf(motion, end).heading), 1.0);
        EXPECT_EQ(device->Standing(), HeadingStanding::Trusted);
        const auto stored = mtobj::LoadCalibration("turner");
        ASSERT_TRUE(stored);
        EXPECT_TRUE(stored->magCalibrated);
        // The rest step's bias stays beside the fit.
        EXPECT_NE(stored->gyroBias.x, 0.0);

        // Undone: back to the rest step's calibration, in the store and in force.
        ASSERT_EQ(device->UndoLastCalibration(), S_OK);
        EXPECT_FALSE(mtobj::LoadCalibration("turner")->magCalibrated);
        std::string current;
        std::string previous;
        ASSERT_EQ(device->CalibrationText(&current, &previous), S_OK);
        EXPECT_NE(current.find("NOT calibrated"), std::string::npos) << current;
        // Undo goes back a step at a time: what came before the rest step is the previous now.
        EXPECT_EQ(previous.find("magnetometer        calibrated"), std::string::npos) << previous;
        fitted = *stored;
    }

    // The fit brings the heading within a degree all round (the device applies it at start).
    ASSERT_TRUE(mtobj::SaveCalibration("turner", fitted));  // the fit again
    for (double heading = 0; heading < 360; heading += 90) {
        auto steady = TurningWithIron(0);
        steady.heading = heading;
        const std::string path = dir + "/session-steady.txt";
        ASSERT_TRUE(WriteRawCapture(path, "turner", steady, kCaptureRate, 40));
        const auto after = ReplayAgainstTruth(path, steady, kCaptureRate, 25, 20);
        EXPECT_GT(after.compared, 400U);
        EXPECT_LT(after.worst, 1.0) << "heading " << heading;
    }
}

TEST(CalibrationSessionTest, StepsAreCancelledRefusedOutOfRangeAndOffsetsAppliedAtOnce) {
    const std::string path = tavimo_test::TempRoot() + "/session-level.txt";
    auto still = StillWithIron();
    still.list = 1.5;
    still.trim = -0.8;
    still.heading = 100;
    ASSERT_TRUE(WriteRawCapture(path, "leveller", still, kCaptureRate, 200));
    auto device = Running(path);

    EXPECT_EQ(device->BeginCalibrationStep(CalibrationStep::None, 0), E_INVALIDARG);
    EXPECT_EQ(device->BeginCalibrationStep(CalibrationStep::Rest, 601), E_INVALIDARG);
    EXPECT_EQ(device->SetHeadingOffset(360), E_INVALIDARG);
    EXPECT_EQ(device->SetHeadingOffset(std::nan("")), E_INVALIDARG);
    EXPECT_EQ(device->CancelCalibrationStep(), S_FALSE);

    // Cancelled halfway: nothing stored.
    ASSERT_EQ(device->BeginCalibrationStep(CalibrationStep::Level, 30), S_OK);
    ReadUntil(*device, [&] { return device->CalibrationStatus().collectedSeconds > 5; });
    EXPECT_EQ(device->CalibrationStatus().state, CalibrationState::Collecting);
    ASSERT_EQ(device->CancelCalibrationStep(), S_OK);
    EXPECT_EQ(device->CalibrationStatus().state, CalibrationState::Cancelled);
    EXPECT_FALSE(mtobj::LoadCalibration("leveller"));

    // Finished early: computed from what was collected.
    ASSERT_EQ(device->BeginCalibrationStep(CalibrationStep::Level, 300), S_OK);
    ReadUntil(*device, [&] { return device->CalibrationStatus().collectedSeconds > 3; });
    ASSERT_EQ(device->FinishCalibrationStep(), S_OK);
    ReadUntil(*device, [&] { return Ended(*device); });
    ASSERT_EQ(device->CalibrationStatus().state, CalibrationState::Applied)
        << device->CalibrationStatus().text;
    EXPECT_LT(device->CalibrationStatus().collectedSeconds, 10.0);
    auto stored = mtobj::LoadCalibration("leveller");
    ASSERT_TRUE(stored);
    EXPECT_NEAR(stored->rollOffset, 1.5, 0.1);
    EXPECT_NEAR(stored->pitchOffset, -0.8, 0.1);

    // A heading offset: stored beside the level and in the very next attitudes.
    ASSERT_EQ(device->SetHeadingOffset(12.5), S_OK);
    stored = mtobj::LoadCalibration("leveller");
    EXPECT_EQ(stored->headingOffset, 12.5);
    EXPECT_NEAR(stored->rollOffset, 1.5, 0.1);
    std::vector<std::vector<float>> arrays;
    double newest = 0;
    ASSERT_TRUE(device->ReadBatch(arrays, newest, 1000));
    arrays.clear();
    ASSERT_TRUE(device->ReadBatch(arrays, newest, 1000));
    // The magnetometer is not calibrated here: its heading is off, but by the same amount
    // before and after; so compare with the offset undone.
    const double with = ReadBack(arrays.back(), 1).heading;
    ASSERT_EQ(device->UndoLastCalibration(), S_OK);
    arrays.clear();
    ASSERT_TRUE(device->ReadBatch(arrays, newest, 1000));
    arrays.clear();
    ASSERT_TRUE(device->ReadBatch(arrays, newest, 1000));
    EXPECT_NEAR(AngleDiff(with, ReadBack(arrays.back(), 1).heading), 12.5, 0.5);

    // Reset forgets it (the store keeps it for undo); a stop ends a step in progress.
    ASSERT_EQ(device->ForgetCalibration(), S_OK);
    EXPECT_FALSE(mtobj::LoadCalibration("leveller"));
    ASSERT_EQ(device->BeginCalibrationStep(CalibrationStep::Rest, 100), S_OK);
    device->Stop();
    EXPECT_EQ(device->CalibrationStatus().state, CalibrationState::Cancelled);
    EXPECT_EQ(device->BeginCalibrationStep(CalibrationStep::Rest, 0), E_FAIL);  // not running
    EXPECT_FALSE(mtobj::LoadCalibration("leveller"));
}

TEST(CalibrationSessionTest, HeadingStandingFollowsTheMagnetometer) {
    // A calibrated sensor (no iron here) passed by a steel mass for 20 s from 30 s on.
    auto s = StillWithIron();
    s.hardIron = {};
    s.softIron = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    s.rollAmplitude = 2;
    s.disturbanceStart = 30;
    s.disturbanceDuration = 20;
    s.disturbanceField = {0.15, 0.2, -0.05};
    const std::string path = tavimo_test::TempRoot() + "/session-steel.txt";
    ASSERT_TRUE(WriteRawCapture(path, "passed", s, kCaptureRate, 80));
    attfilter::SensorCalibration calibrated;
    calibrated.magCalibrated = true;
    ASSERT_TRUE(mtobj::SaveCalibration("passed", calibrated));

    auto device = Running(path);
    EXPECT_EQ(device->Standing(), HeadingStanding::Trusted);
    bool trustedBefore = false;
    bool disturbed = false;
    bool trustedAfter = false;
    ReadUntil(*device, [&] {
        const auto standing = device->Standing();
        disturbed = disturbed || standing == HeadingStanding::MagDisturbed;
        trustedBefore = trustedBefore || (!disturbed && standing == HeadingStanding::Trusted);
        trustedAfter = disturbed && standing == HeadingStanding::Trusted;
        return trustedAfter;
    });
    EXPECT_TRUE(trustedBefore);
    EXPECT_TRUE(disturbed);
    EXPECT_TRUE(trustedAfter);

    // Without a magnetometer the heading is the gyroscope's alone.
    auto noMag = StillWithIron();
    const std::string gyroOnly = tavimo_test::TempRoot() + "/session-nomag.txt";
    {
        mtobj::CRawMotion motion(noMag, kCaptureRate);
        std::vector<mtobj::SensorRecord> records{mtobj::SensorRecord{.restart = true}};
        for (int i = 0; i < 500; ++i) {
            auto r = mtobj::RecordOf(motion.Next());
            r.hasMag = false;
            records.push_back(r);
        }
        mtobj::CCaptureWriter writer;
        ASSERT_TRUE(writer.Open(gyroOnly, "nomag", nullptr) && writer.Write(records));
    }
    auto blind = Running(gyroOnly);
    ReadUntil(*blind, [&] { return blind->Standing() == HeadingStanding::NoMagnetometer; });
    EXPECT_EQ(blind->Standing(), HeadingStanding::NoMagnetometer);
}

TEST(CalibrationSessionTest, DevicesThatFuseTheirOwnOrSimulateNeedNone) {
    // A fused device's capture: its quaternions are used as they stand.
    const std::string path = tavimo_test::TempRoot() + "/session-fused.txt";
    std::vector<mtobj::SensorRecord> records;
    for (int i = 0; i < 100; ++i) {
        mtobj::SensorRecord r;
        r.seconds = i * 0.02;
        r.hasQuaternion = true;
        r.quaternion = mtobj::QuaternionOfAttitude({30, 1, 2});
        records.push_back(r);
    }
    mtobj::CCaptureWriter writer;
    ASSERT_TRUE(writer.Open(path, "bno055", nullptr) && writer.Write(records));
    auto fused = Running(path);
    auto simulated = mtobj::MakeSimulatedDevice(1, "COM1");
    ASSERT_EQ(simulated->Open("COM1", 115200), S_OK);
    for (mtobj::ISensorDevice* device : {fused.get(), simulated.get()}) {
        EXPECT_FALSE(device->Calibratable());
        EXPECT_EQ(device->BeginCalibrationStep(CalibrationStep::Rest, 0), E_NOTIMPL);
        EXPECT_EQ(device->SetHeadingOffset(3), E_NOTIMPL);
        EXPECT_EQ(device->UndoLastCalibration(), E_NOTIMPL);
        EXPECT_EQ(device->CalibrationText(nullptr, nullptr), E_NOTIMPL);
        EXPECT_EQ(device->Standing(), HeadingStanding::Trusted);
    }
    std::vector<std::vector<float>> arrays;
    PlayOut(*fused, arrays);
    EXPECT_GT(arrays.size(), 10U);
    EXPECT_EQ(fused->Standing(), HeadingStanding::Trusted);
    EXPECT_FALSE(mtobj::LoadCalibration("bno055"));

    // Kernel devices: one that fuses its orientation needs none, a raw one can be calibrated.
    FakeIioTree tree;
    tree.AddDevice("iio:device0", "bno085", kFused32);
    tree.AddDevice("iio:device1", "lsm9ds1", kNine);
    auto orientation = mtobj::MakeIioDevice("bno085", "COM1");
    auto raw = mtobj::MakeIioDevice("lsm9ds1", "COM1");
    EXPECT_FALSE(raw->Calibratable());  // not open yet
    ASSERT_EQ(orientation->Open("COM1", 115200), S_OK);
    ASSERT_EQ(raw->Open("COM1", 115200), S_OK);
    EXPECT_FALSE(orientation->Calibratable());
    EXPECT_TRUE(raw->Calibratable());
}

}  // namespace
