// The IIO sensor device on a fake device tree: a fused device's attitude, the sample rate it
// is set to, bad input of every kind, a device that vanishes and comes back, and a capture
// of a live run that replays to the same arrays.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "DeviceTestSupport.h"
#include "FakeIioTree.h"
#include "RawCapture.h"
#include "mtobj/RecordDevice.h"
#include "mtobj/SensorCapture.h"

namespace {

using namespace iio_test;

const std::vector<FakeChannel> kFused{{"in_rot_quaternion", "le:s16/16X4>>0", 1.0 / 16384},
                                      Timestamp()};

// A fused device's scans: the true attitude of VesselMotion(seed) at `rate` Hz, as a
// quaternion in x, y, z, w order, stamped on a device clock of its own.
FifoWriter::Generator FusedMotion(const mtobj::VesselMotion& motion, double rate,
                                  std::size_t count = 100000) {
    return [&motion, rate, count](std::size_t k, FakeScan& s) {
        if (k >= count) {
            return false;
        }
        s.seconds = static_cast<double>(k) / rate;
        const Quat q = mtobj::QuaternionOfAttitude(motion.At(s.seconds));
        const double t = s.seconds;
        s.value = [q, t](const std::string& channel, unsigned item) {
            if (channel == "in_timestamp") {
                return 7.0e9 + t * 1e9;
            }
            return item < 3 ? q[item + 1] : q[0];
        };
        return true;
    };
}

std::unique_ptr<mtobj::ISensorDevice> Device(const std::string& kind) {
    std::string reason;
    const auto k = mtobj::ParseDeviceKind(kind, &reason);
    EXPECT_TRUE(k) << reason;
    auto device = mtobj::MakeDevice(*k, 1, "COM1", &reason);
    EXPECT_TRUE(reason.empty()) << reason;
    return device;
}

mtobj::SensorConfig Config(int mode, int rate = 50) {
    mtobj::SensorConfig c;
    c.outputMode = static_cast<std::int16_t>(mode);
    c.sampleRate = static_cast<std::int16_t>(rate);
    return c;
}

TEST(IioAttitudeTest, AFusedQuaternionIsTurnedIntoTheVesselsAttitude) {
    // Turns built one after another: the quaternion turns the vessel's axes into
    // east-north-up, so with none the bow points east.
    const Quat none{1, 0, 0, 0};
    const Quat bowNorth = About(2, 90);
    const struct {
        Quat q;
        mtobj::Attitude expected;
    } cases[] = {
        {none, {90, 0, 0}},
        {bowNorth, {0, 0, 0}},
        {About(2, -45), {135, 0, 0}},
        {Multiply(bowNorth, About(1, -30)), {0, 30, 0}},  // bow raised about the port axis
        {Multiply(bowNorth, About(0, 20)), {0, 0, 20}},   // port side raised about the bow
        // Both: the roll is the port axis' angle above the horizontal.
        {Multiply(Multiply(About(2, 90 - 250), About(1, -30)), About(0, 20)),
         {250, 30, std::asin(std::sin(20 * kRad) * std::cos(30 * kRad)) / kRad}},
    };
    for (const auto& c : cases) {
        const auto a = mtobj::AttitudeOfQuaternion(c.q);
        EXPECT_LT(Error(a, c.expected), 1e-9)
            << a.heading << " " << a.pitch << " " << a.roll << " expected " << c.expected.heading
            << " " << c.expected.pitch << " " << c.expected.roll;
    }
    // And back, all round the compass.
    for (double h = 0; h < 360; h += 15) {
        for (double p : {-40.0, -10.0, 0.0, 5.0, 30.0}) {
            for (double r : {-45.0, -20.0, 0.0, 3.0, 40.0}) {
                const mtobj::Attitude truth{h, p, r};
                const auto a = mtobj::AttitudeOfQuaternion(mtobj::QuaternionOfAttitude(truth));
                EXPECT_LT(Error(a, truth), 1e-9) << h << " " << p << " " << r;
                EXPECT_GE(a.heading, 0.0);
                EXPECT_LT(a.heading, 360.0);
            }
        }
    }
}

TEST(IioDeviceKindTest, KindsNeedTheirArgument) {
    std::string reason;
    EXPECT_TRUE(mtobj::ParseDeviceKind("iio:bmi160+ak8975", &reason));
    EXPECT_TRUE(mtobj::ParseDeviceKind("replay:/tmp/c.txt", &reason));
    EXPECT_TRUE(mtobj::ParseDeviceKind("replay:fast:/tmp/c.txt", &reason));
    EXPECT_FALSE(mtobj::ParseDeviceKind("iio", &reason));
    EXPECT_NE(reason.find("iio:NAME"), std::string::npos);
    EXPECT_FALSE(mtobj::ParseDeviceKind("replay:", &reason));
    EXPECT_FALSE(mtobj::ParseDeviceKind("replay:fast:", &reason));
    EXPECT_FALSE(mtobj::ParseDeviceKind("iio2:x", &reason));
}

TEST(IioDeviceTest, FusedDeviceDeliversTheTrueAttitudeInEveryMode) {
    FakeIioTree tree;
    tree.AddDevice("iio:device3", "bno055", kFused);
    const mtobj::VesselMotion motion(7);
    for (int mode : {2, 0, 1}) {
        auto device = Device("iio:bno055");
        ASSERT_EQ(device->Open("COM1", 115200), S_OK);
        EXPECT_EQ(device->DeviceId(), "bno055");
        ASSERT_EQ(device->Configure(Config(mode)), S_OK);
        FifoWriter writer(tree.Dev() / "iio:device3", tree.Folder("iio:device3"), kFused,
                          FusedMotion(motion, 100));
        ASSERT_EQ(device->Start(), S_OK);
        EXPECT_EQ(ReadFile(tree.Folder("iio:device3") / "buffer" / "enable"), "1");
        EXPECT_EQ(ReadFile(tree.Folder("iio:device3") / "scan_elements" / "in_rot_quaternion_en"),
                  "1");
        // 50 Hz out of 100 Hz in: the i-th array is the attitude at i / 50 s of the device's
        // time (the mapping of its clock onto the PC clock may move a tick a little).
        const auto arrays = ReadArrays(*device, 60);
        ASSERT_GE(arrays.size(), 60U);
        for (std::size_t i = 0; i < arrays.size(); ++i) {
            ASSERT_EQ(arrays[i].size(), mode == 2 ? 9U : mode == 0 ? 4U : 3U);
            double best = 1e9;
            for (double dt = -0.15; dt <= 0.15; dt += 0.0005) {
                const auto truth = motion.At(static_cast<double>(i) / 50 + dt);
                if (mode == 0) {
                    // The quaternion the simulator delivers for the same attitude.
                    const auto q = mtobj::VesselMotion::Quaternion(truth);
                    double worst = 0;
                    for (std::size_t k = 0; k < 4; ++k) {
                        worst = std::max<double>(worst, std::fabs(q[k] - arrays[i][k]));
                    }
                    best = std::min(best, worst / kRad);  // about degrees
                } else {
                    best = std::min(best, Error(ReadBack(arrays[i], mode), truth));
                }
            }
            EXPECT_LT(best, 0.05) << "mode " << mode << " array " << i;
        }
        device->Close();
        EXPECT_EQ(ReadFile(tree.Folder("iio:device3") / "buffer" / "enable"), "0");
    }
}

TEST(IioDeviceTest, SampleRateIsTheNearestTheDeviceHas) {
    FakeIioTree tree;
    tree.AddDevice("iio:device0", "fused", kFused, "12.5 26 52 104 208");
    tree.AddDevice("iio:device1", "ranged", kFused, "[10 1 60]");
    const struct {
        std::string name, dir;
        int rate;
        std::string expected;
    } cases[] = {{"fused", "iio:device0", 50, "52"},
                 {"fused", "iio:device0", 512, "208"},
                 {"fused", "iio:device0", 25, "26"},
                 {"ranged", "iio:device1", 100, "60"},
                 {"ranged", "iio:device1", 25, "25"}};
    for (const auto& c : cases) {
        auto device = Device("iio:" + c.name);
        ASSERT_EQ(device->Open("COM1", 115200), S_OK);
        device->Configure(Config(2, c.rate));
        ASSERT_EQ(device->Start(), S_OK);
        EXPECT_EQ(ReadFile(tree.Folder(c.dir) / "sampling_frequency"), c.expected)
            << c.name << " " << c.rate;
        device->Close();
    }
}

TEST(IioDeviceTest, BadInputIsRefusedWithItsReason) {
    Traces traces;
    FakeIioTree tree;
    tree.AddDevice("iio:device0", "good", kFused);
    // Only two of three accelerometer axes.
    tree.AddDevice("iio:device1", "twoaxes",
                   {{"in_accel_x", "le:s16/16>>0", 0.01}, {"in_accel_y", "le:s16/16>>0", 0.01}});
    // A type text the kernel never writes.
    tree.AddDevice("iio:device2", "badtype", {{"in_rot_quaternion", "le:s17/16X4>>0", 1}});
    // A scale that cannot be read.
    tree.AddDevice("iio:device4", "noscale", Vector("in_magn", "le:s16/16>>0", 0.001));
    fs::remove(tree.Folder("iio:device4") / "in_magn_x_scale");
    WriteFile(tree.Folder("iio:device4") / "in_magn_y_scale", "garbage");
    // A mount matrix that is not a rotation.
    tree.AddDevice("iio:device5", "badmount", kFused);
    WriteFile(tree.Folder("iio:device5") / "mount_matrix", "2, 0, 0; 0, 1, 0; 0, 0, 1");
    // Its buffer is not there.
    tree.AddDevice("iio:device6", "nobuffer", kFused);
    fs::remove(tree.Dev() / "iio:device6");
    // Orientation beside raw channels in one merge.
    tree.AddDevice("iio:device7", "accel",
                   {{"in_accel_x", "le:s16/16>>0", 0.01},
                    {"in_accel_y", "le:s16/16>>0", 0.01},
                    {"in_accel_z", "le:s16/16>>0", 0.01},
                    Timestamp()});
    // A name of a megabyte that would climb out of its registry key.
    tree.AddDevice("iio:device9", "\\..\\" + std::string(1'000'000, 'n'), kFused);
    // A scan index no kernel writes, which must not reach a cast to int.
    tree.AddDevice("iio:device8", "hugeindex", kFused);
    WriteFile(tree.Folder("iio:device8") / "scan_elements" / "in_rot_quaternion_index", "1e30");
    const struct {
        std::string kind;
        std::string says;
        bool opens;
    } cases[] = {
        {"iio:hugeindex", "no _index of 0 to 1023", true},
        {"iio:missing", "no IIO device named 'missing'", false},
        {"iio:twoaxes", "in_accel has 2 of its three axes", false},
        {"iio:badtype", "does not fit its storage", true},
        {"iio:noscale", "scale of in_magn_x cannot be read", true},
        {"iio:badmount", "is not a rotation", false},
        {"iio:nobuffer", "No such file", true},
        {"iio:good+accel", "stands alone", false},
        {"iio:a+b+c+d", "one to three", false},
    };
    for (const auto& c : cases) {
        auto device = Device(c.kind);
        const HRESULT open = device->Open("COM1", 115200);
        if (c.opens && open == S_OK) {
            // Channels are enabled at the start: a layout that only shows then fails there.
            device->Configure(Config(2));
            EXPECT_NE(device->Start(), S_OK) << c.kind;
        } else {
            EXPECT_NE(open, S_OK) << c.kind;
        }
        EXPECT_TRUE(traces.Has(c.says)) << c.kind << " should say: " << c.says << "\n"
                                        << traces.All();
        std::vector<std::vector<float>> arrays;
        double newest = 0;
        EXPECT_FALSE(device->ReadBatch(arrays, newest, 50)) << c.kind;
        EXPECT_TRUE(arrays.empty());
    }
    // Names are listed bounded and escaped.
    EXPECT_TRUE(traces.Has("%5C..%5Cnnnn")) << traces.All().substr(0, 2000);
    EXPECT_LT(traces.All().size(), 100'000U);
    // The device on another port does not answer on COM1.
    std::string reason;
    auto other =
        mtobj::MakeDevice(*mtobj::ParseDeviceKind("iio:good", &reason), 1, "COM2", &reason);
    EXPECT_EQ(other->Open("COM1", 115200), E_FAIL);
}

TEST(IioDeviceTest, GarbledScansGiveNoAttitudeAndTheRestStaysTrue) {
    Traces traces;
    FakeIioTree tree;
    tree.AddDevice("iio:device0", "bno055", kFused);
    const mtobj::VesselMotion motion(11);
    auto good = FusedMotion(motion, 100);
    // Every third scan is garbled: a quaternion of zero length, or its time gone back.
    FifoWriter::Generator garbled = [good](std::size_t k, FakeScan& s) {
        good(k, s);
        if (k % 3 == 1) {
            const bool back = k % 2 == 0;
            s.value = [inner = s.value, back](const std::string& channel, unsigned item) {
                if (channel == "in_timestamp") {
                    return inner(channel, item) - (back ? 1e9 : 0.0);
                }
                return back ? inner(channel, item) : 0.0;
            };
        }
        return true;
    };
    auto device = Device("iio:bno055");
    ASSERT_EQ(device->Open("COM1", 115200), S_OK);
    device->Configure(Config(2, 100));
    FifoWriter writer(tree.Dev() / "iio:device0", tree.Folder("iio:device0"), kFused, garbled);
    ASSERT_EQ(device->Start(), S_OK);
    const auto arrays = ReadArrays(*device, 100);
    ASSERT_GE(arrays.size(), 50U);
    const double span = writer.NewestSeconds() + 0.5;
    for (const auto& a : arrays) {
        const auto got = ReadBack(a, 2);
        double best = 1e9;
        for (double t = 0; t <= span; t += 0.001) {
            best = std::min(best, Error(got, motion.At(t)));
        }
        EXPECT_LT(best, 0.05);
    }
    EXPECT_TRUE(traces.Has("not a unit quaternion")) << traces.All();
    EXPECT_TRUE(traces.Has("time stamp went back")) << traces.All();
}

TEST(IioDeviceTest, EveryWholeScanBeforeTheEndIsDeliveredAndAShortOneIsDropped) {
    Traces traces;
    FakeIioTree tree;
    tree.AddDevice("iio:device0", "bno055", kFused);
    const mtobj::VesselMotion motion(13);
    const std::string capture = tavimo_test::TempRoot() + "/short-capture.txt";
    {
        tavimo_test::ScopedEnv record("TAVIMO_CAPTURE", capture);
        auto device = Device("iio:bno055");
        ASSERT_EQ(device->Open("COM1", 115200), S_OK);
        device->Configure(Config(2, 100));
        // 50 scans at once, then 5 bytes of one more, then the end: likely all in one read.
        FifoWriter writer(tree.Dev() / "iio:device0", tree.Folder("iio:device0"), kFused,
                          FusedMotion(motion, 100, 50), false, 5);
        ASSERT_EQ(device->Start(), S_OK);
        ReadArrays(*device, 1000, 1.5);
        device->Close();
    }
    const auto read = mtobj::ReadCapture(capture, nullptr);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->records.size(), 51U);  // the start, then every whole scan
    EXPECT_TRUE(traces.Has("short scan of 5 bytes")) << traces.All();
    EXPECT_TRUE(traces.Has("vanished")) << traces.All();
}

TEST(IioDeviceTest, ScansThatComeInBurstsKeepTheirOwnTimes) {
    FakeIioTree tree;
    tree.AddDevice("iio:device0", "bno055", kFused);
    const mtobj::VesselMotion motion(17);
    auto device = Device("iio:bno055");
    ASSERT_EQ(device->Open("COM1", 115200), S_OK);
    device->Configure(Config(2, 100));
    // 200 scans at 100 Hz written ten at a time every 100 ms, as a device with a hardware
    // FIFO hands them over.
    FifoWriter writer(tree.Dev() / "iio:device0", tree.Folder("iio:device0"), kFused,
                      [feed = FusedMotion(motion, 100, 200)](std::size_t k, FakeScan& s) {
                          const bool more = feed(k, s);
                          s.seconds = static_cast<double>(k / 10) * 0.1 + 0.099;
                          return more;
                      });
    ASSERT_EQ(device->Start(), S_OK);
    const auto arrays = ReadArrays(*device, 200, 5);
    // About one attitude a scan, the i-th that of a scan near the i-th (the mapping of the
    // device's clock onto the PC clock settles on the smallest delay: a first read that
    // caught part of a burst moves the ticks by a few scans): were a burst stamped at its
    // arrival, its scans would fall onto one tick.
    ASSERT_GE(arrays.size(), 180U);
    for (std::size_t i = 0; i < arrays.size(); ++i) {
        double best = 1e9;
        for (double dt = -0.15; dt <= 0.15; dt += 0.0005) {
            best = std::min(
                best, Error(ReadBack(arrays[i], 2), motion.At(static_cast<double>(i) / 100 + dt)));
        }
        EXPECT_LT(best, 0.01) << i;
    }
}

TEST(IioDeviceTest, AVanishedDeviceIsOpenedAgainWhenItComesBack) {
    Traces traces;
    FakeIioTree tree;
    tree.AddDevice("iio:device0", "bno055", kFused);
    const mtobj::VesselMotion motion(3);
    auto device = Device("iio:bno055");
    ASSERT_EQ(device->Open("COM1", 115200), S_OK);
    device->Configure(Config(2));
    {
        FifoWriter writer(tree.Dev() / "iio:device0", tree.Folder("iio:device0"), kFused,
                          FusedMotion(motion, 100, 100));  // one second, then unplugged
        ASSERT_EQ(device->Start(), S_OK);
        EXPECT_GE(ReadArrays(*device, 20).size(), 20U);
        writer.Stop();
        tree.Remove("iio:device0");
        // Whatever was in the buffer, then nothing.
        ReadArrays(*device, 1000, 0.5);
        EXPECT_TRUE(ReadArrays(*device, 1, 1.0).empty());
        EXPECT_TRUE(traces.Has("vanished")) << traces.All();
    }
    // The reconnect of the health check while it is away fails; it comes back as another
    // number, and the next reconnect finds it.
    EXPECT_NE(device->Start(), S_OK);
    tree.AddDevice("iio:device5", "bno055", kFused);
    FifoWriter writer(tree.Dev() / "iio:device5", tree.Folder("iio:device5"), kFused,
                      FusedMotion(motion, 100));
    ASSERT_EQ(device->Start(), S_OK);
    EXPECT_GE(ReadArrays(*device, 20).size(), 20U);
    device->Close();
}

TEST(IioDeviceTest, StopWakesAReadInProgress) {
    FakeIioTree tree;
    tree.AddDevice("iio:device0", "quiet", kFused);
    auto device = Device("iio:quiet");
    ASSERT_EQ(device->Open("COM1", 115200), S_OK);
    ASSERT_EQ(device->Start(), S_OK);
    std::atomic<bool> returned{false};
    std::thread reader([&] {
        std::vector<std::vector<float>> arrays;
        double newest = 0;
        device->ReadBatch(arrays, newest, 60000);
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    device->Stop();  // returns only once the read has ended
    EXPECT_TRUE(returned.load());
    reader.join();
    device->Close();
}

TEST(IioCaptureTest, ALiveRunRecordedReplaysToTheSameArrays) {
    FakeIioTree tree;
    tree.AddDevice("iio:device0", "bno055", kFused);
    const mtobj::VesselMotion motion(5);
    const std::string capture = tavimo_test::TempRoot() + "/fused-capture.txt";
    std::vector<std::vector<float>> live;
    {
        tavimo_test::ScopedEnv record("TAVIMO_CAPTURE", capture);
        auto device = Device("iio:bno055");
        ASSERT_EQ(device->Open("COM1", 115200), S_OK);
        device->Configure(Config(0, 100));
        FifoWriter writer(tree.Dev() / "iio:device0", tree.Folder("iio:device0"), kFused,
                          FusedMotion(motion, 100, 150));
        ASSERT_EQ(device->Start(), S_OK);
        live = ReadArrays(*device, 1000, 3);  // the 1.5 s of scans, and a little more
        device->Close();
    }
    ASSERT_GE(live.size(), 100U);
    std::string reason;
    const auto read = mtobj::ReadCapture(capture, &reason);
    ASSERT_TRUE(read) << reason;
    EXPECT_EQ(read->deviceId, "bno055");
    EXPECT_GE(read->records.size(), 150U);  // a restart and every sample
    for (const char* pace : {"replay:fast:", "replay:"}) {
        auto replay = Device(pace + capture);
        ASSERT_EQ(replay->Open("COM1", 115200), S_OK);
        EXPECT_EQ(replay->DeviceId(), "bno055");
        replay->Configure(Config(0, 100));
        ASSERT_EQ(replay->Start(), S_OK);
        const auto again = ReadArrays(*replay, live.size() + 1, 3);
        EXPECT_EQ(again, live) << pace;
        replay->Close();
    }
}

TEST(IioCaptureTest, ARawRunRecordedReplaysToTheSameArrays) {
    FakeIioTree tree;
    tree.AddDevice("iio:device0", "lsm9ds1", kNine);
    const std::string capture = tavimo_test::TempRoot() + "/raw-capture.txt";
    std::vector<std::vector<float>> live;
    {
        tavimo_test::ScopedEnv record("TAVIMO_CAPTURE", capture);
        auto device = Device("iio:lsm9ds1");
        ASSERT_EQ(device->Open("COM1", 115200), S_OK);
        auto config = Config(2, 100);
        config.extraData = true;  // the calibrated samples beside each attitude
        device->Configure(config);
        FifoWriter writer(
            tree.Dev() / "iio:device0", tree.Folder("iio:device0"), kNine,
            [feed = RawFeed()](std::size_t k, FakeScan& s) { return k < 200 && feed(k, s); });
        ASSERT_EQ(device->Start(), S_OK);
        live = ReadArrays(*device, 1000, 3.5);  // the 2 s of scans, and a little more
        device->Close();
    }
    ASSERT_GE(live.size(), 2U * 150);
    auto replay = Device("replay:fast:" + capture);
    ASSERT_EQ(replay->Open("COM1", 115200), S_OK);
    EXPECT_EQ(replay->DeviceId(), "lsm9ds1");
    auto config = Config(2, 100);
    config.extraData = true;
    replay->Configure(config);
    ASSERT_EQ(replay->Start(), S_OK);
    EXPECT_EQ(ReadArrays(*replay, live.size() + 1, 2), live);
}

TEST(IioCaptureTest, ARawSensorGivesTheHeaveAtTheMonitoringPointAndWhenItHasSettled) {
    // Four minutes of a sea with 2 m of significant heave at 8 s, 9° of roll and 3.5° of pitch,
    // played as fast as it goes; the heave wanted at a transducer 8 m forward and 6 m down.
    mtobj::RawScenario sea = mtobj::DrawScenario(mtobj::SeaKind::Heavy, 5);
    sea.sea.heaveSignificant = 2;
    sea.sea.heavePeriod = 8;
    sea.sea.rollSignificant = 9;
    sea.sea.pitchSignificant = 3.5;
    const double rate = 50;
    const std::string capture = tavimo_test::TempRoot() + "/heave-capture.txt";
    ASSERT_TRUE(WriteRawCapture(capture, "lsm9ds1", sea, rate, 240));
    auto replay = Device("replay:fast:" + capture);
    const attfilter::Vec3 point{8, 0, -6};
    mtobj::HeaveSettings heave;
    heave.x = point.x;
    heave.y = point.y;
    heave.z = point.z;
    replay->SetHeaveSettings(heave);
    ASSERT_EQ(replay->Open("COM1", 115200), S_OK);
    replay->Configure(Config(2, static_cast<int>(rate)));
    ASSERT_EQ(replay->Start(), S_OK);
    EXPECT_FALSE(replay->CurrentMotion());
    const mtobj::CRawMotion truth(sea, rate);
    std::vector<std::vector<float>> arrays;
    int early = 0, earlySettled = 0, late = 0, lateSettled = 0;
    double sum = 0, squares = 0;
    for (int i = 0; i < 20000; ++i) {
        double newest = 0;
        if (!replay->ReadBatch(arrays, newest, 100)) {
            break;
        }
        const auto motion = replay->CurrentMotion();
        ASSERT_TRUE(motion);
        // The i-th attitude is the sample at i / rate s, and the motion the newest sample's.
        const double t = static_cast<double>(arrays.size() - 1) / rate;
        if (t < 120) {
            ++early;
            earlySettled += motion->status == 'U' ? 1 : 0;
        } else if (t >= 180) {
            ++late;
            lateSettled += motion->status == 'U' ? 1 : 0;
            const double error = motion->heave - truth.HeaveAt(t, point);
            sum += error;
            squares += error * error;
        }
    }
    replay->Close();
    EXPECT_GT(early, 0);
    EXPECT_EQ(earlySettled, 0);
    ASSERT_GT(late, 10);
    EXPECT_EQ(lateSettled, late);
    // Within twice 5 % of the significant heave, about the error's mean, on these few
    // moments (the benchmark measures the spread over many seas).
    EXPECT_LT(std::sqrt(squares / late - (sum / late) * (sum / late)), 0.2);
}

TEST(IioDeviceTest, WithoutTimeStampsSamplesAreStampedAtTheirArrival) {
    // A vessel lying still with a list and a trim; the device has no in_timestamp channel.
    mtobj::RawScenario still;
    still.rollAmplitude = still.pitchAmplitude = still.yawAmplitude = still.heaveAmplitude = 0;
    still.speedKnots = 0;
    still.list = 4;
    still.trim = -2;
    still.heading = 200;
    still.gyroBiasLimit = 0;
    std::vector<FakeChannel> channels(kNine.begin(), kNine.end() - 1);
    ASSERT_EQ(channels.back().name, "in_magn_z");
    FakeIioTree tree;
    tree.AddDevice("iio:device0", "untimed", channels);
    const std::string capture = tavimo_test::TempRoot() + "/untimed-capture.txt";
    std::vector<std::vector<float>> arrays;
    {
        tavimo_test::ScopedEnv record("TAVIMO_CAPTURE", capture);
        auto device = Device("iio:untimed");
        ASSERT_EQ(device->Open("COM1", 115200), S_OK);
        device->Configure(Config(2, 50));
        FifoWriter writer(
            tree.Dev() / "iio:device0", tree.Folder("iio:device0"), channels,
            [feed = RawFeed(still)](std::size_t k, FakeScan& s) { return k < 250 && feed(k, s); });
        ASSERT_EQ(device->Start(), S_OK);
        arrays = ReadArrays(*device, 100, 10);
        device->Close();
    }
    ASSERT_GE(arrays.size(), 80U);
    const mtobj::CRawMotion motion(still, kRate);
    for (std::size_t i = arrays.size() - 20; i < arrays.size(); ++i) {
        EXPECT_LT(Error(ReadBack(arrays[i], 2), TruthOf(motion, 1.0)), 1.0) << i;
    }
    // The stamps: in order, about one sample period apart (the device says 100 Hz).
    const auto read = mtobj::ReadCapture(capture, nullptr);
    ASSERT_TRUE(read);
    std::vector<double> times;
    for (const auto& r : read->records) {
        if (!r.restart) {
            times.push_back(r.seconds);
        }
    }
    ASSERT_GE(times.size(), 150U);
    const double mean = (times.back() - times.front()) / static_cast<double>(times.size() - 1);
    EXPECT_NEAR(mean, 0.01, 0.003);
}

TEST(IioMergeTest, ThreeDevicesAreMergedInTimeOrder) {
    FakeIioTree tree;
    tree.AddDevice("iio:device0", "acc", kAccel);
    tree.AddDevice("iio:device1", "gyr", kGyro);
    tree.AddDevice("iio:device2", "mag", kMag);
    const std::string capture = tavimo_test::TempRoot() + "/merged-capture.txt";
    {
        tavimo_test::ScopedEnv record("TAVIMO_CAPTURE", capture);
        auto device = Device("iio:acc+gyr+mag");
        ASSERT_EQ(device->Open("COM1", 115200), S_OK);
        EXPECT_EQ(device->DeviceId(), "acc+gyr+mag");
        device->Configure(Config(2, 100));
        const auto first200 = [](std::size_t k, FakeScan& s, const FifoWriter::Generator& feed) {
            return k < 200 && feed(k, s);
        };
        using namespace std::placeholders;
        FifoWriter accel(tree.Dev() / "iio:device0", tree.Folder("iio:device0"), kAccel,
                         std::bind(first200, _1, _2, RawFeed()));
        FifoWriter gyro(tree.Dev() / "iio:device1", tree.Folder("iio:device1"), kGyro,
                        std::bind(first200, _1, _2, RawFeed()));
        FifoWriter mag(tree.Dev() / "iio:device2", tree.Folder("iio:device2"), kMag,
                       std::bind(first200, _1, _2, RawFeed()));
        ASSERT_EQ(device->Start(), S_OK);
        // The 2 s of scans, and a little more.
        EXPECT_GE(ReadArrays(*device, 1000, 2.5).size(), 150U);
        device->Close();
    }
    const auto read = mtobj::ReadCapture(capture, nullptr);
    ASSERT_TRUE(read);
    // Each record one device's sample, all three interleaved in time order (the capture
    // reader refuses times that go back).
    int accel = 0, gyro = 0, mag = 0;
    std::string order;
    for (const auto& r : read->records) {
        if (r.restart) {
            continue;
        }
        EXPECT_EQ(r.hasAccel + r.hasGyro + r.hasMag, 1);
        accel += r.hasAccel;
        gyro += r.hasGyro;
        mag += r.hasMag;
        order += r.hasAccel ? 'a' : r.hasGyro ? 'g' : 'm';
    }
    // All but the last few, held back for the others to catch up when the writers stopped.
    EXPECT_GE(accel, 180);
    EXPECT_GE(gyro, 180);
    EXPECT_GE(mag, 180);
    // Never one device's samples by the hundred before another's.
    EXPECT_EQ(order.find(std::string(60, 'a')), std::string::npos) << order;
    EXPECT_EQ(order.find(std::string(60, 'g')), std::string::npos) << order;
    EXPECT_EQ(order.find(std::string(60, 'm')), std::string::npos) << order;
    // The parts of one chip stamp from one clock: their readings of a moment keep one time
    // on the PC clock (within microseconds), whichever scan arrived first, and the
    // gyroscope's goes first. (The mapping settles over the first reads: most, not all.)
    int moments = 0;
    for (std::size_t i = 0; i + 2 < read->records.size(); ++i) {
        const auto& g = read->records[i];
        const auto& b = read->records[i + 1];
        const auto& c = read->records[i + 2];
        moments += g.hasGyro && b.hasAccel + c.hasAccel + b.hasMag + c.hasMag == 2 &&
                   c.seconds - g.seconds < 1e-4;
    }
    EXPECT_GE(moments, 170) << order;
}

// A replay plays once: at its end it is silent, also when started again (as the health
// check's reconnect does); "loop:" plays it over and over.
TEST(IioCaptureTest, AReplayPlaysOnceUnlessItLoops) {
    const std::string capture = tavimo_test::TempRoot() + "/once.txt";
    mtobj::RawScenario sea;
    ASSERT_TRUE(WriteRawCapture(capture, "imu", sea, 100, 2));
    auto once = Device("replay:fast:" + capture);
    ASSERT_EQ(once->Open("COM1", 115200), S_OK);
    once->Configure(Config(2, 50));
    ASSERT_EQ(once->Start(), S_OK);
    const auto played = ReadArrays(*once, 1000, 1.5);
    ASSERT_GE(played.size(), 90U);
    ASSERT_LE(played.size(), 101U);
    once->Stop();
    ASSERT_EQ(once->Start(), S_OK);
    EXPECT_TRUE(ReadArrays(*once, 10, 0.5).empty());

    auto looping = Device("replay:loop:fast:" + capture);
    ASSERT_EQ(looping->Open("COM1", 115200), S_OK);
    looping->Configure(Config(2, 50));
    ASSERT_EQ(looping->Start(), S_OK);
    EXPECT_GE(ReadArrays(*looping, 300, 3).size(), 250U);
}

// A channel whose scale is wrong (here the accelerometer's, a thousandfold) is named in the
// first seconds, with how far it is off.
TEST(IioCaptureTest, AChannelWithAWrongScaleIsNamed) {
    Traces traces;
    const std::string capture = tavimo_test::TempRoot() + "/scaled.txt";
    std::string text = "tavimo-capture 1\ndevice scaled\n";
    for (int i = 0; i < 300; ++i) {
        text += std::to_string(100 + i * 0.01) + " A 0.1 0 9806.65 G 0.001 0 0 M 0.2 0 -0.4\n";
    }
    WriteFile(capture, text);
    auto device = Device("replay:fast:" + capture);
    ASSERT_EQ(device->Open("COM1", 115200), S_OK);
    device->Configure(Config(2, 50));
    ASSERT_EQ(device->Start(), S_OK);
    ReadArrays(*device, 1000, 1);
    EXPECT_TRUE(
        traces.Has("the accelerometer (in_accel) reads 9807 m/s² on average (a vessel "
                   "shows about 9.8): its scale is off by about 1e+03 times"))
        << traces.All();
    EXPECT_FALSE(traces.Has("the gyroscope (in_anglvel) reads"));
    EXPECT_FALSE(traces.Has("the magnetometer (in_magn) reads"));
}

TEST(IioCaptureTest, ReplayOfAMissingOrBrokenCaptureDoesNotOpen) {
    Traces traces;
    const std::string broken = tavimo_test::TempRoot() + "/broken.txt";
    WriteFile(broken, "tavimo-capture 1\ndevice x\n1 A 0 0\n");
    for (const std::string& kind :
         {"replay:" + tavimo_test::TempRoot() + "/none.txt", "replay:fast:" + broken}) {
        auto device = Device(kind);
        EXPECT_NE(device->Open("COM1", 115200), S_OK) << kind;
    }
    EXPECT_TRUE(traces.Has("No such file")) << traces.All();
    EXPECT_TRUE(traces.Has("line 3")) << traces.All();
}

}  // namespace
