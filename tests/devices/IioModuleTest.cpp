// The whole module on kernel IIO devices: the sensor link and a telegram worker on a virtual
// port, the sensor a fake IIO tree whose buffers are FIFOs fed by the simulator's raw mode
// (or its true orientation, for a fused device). The telegrams carry the true attitude; a
// capture of the raw run replays through the module to the true attitude again.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>

#include "FakeIioTree.h"
#include "PortClient.h"
#include "RawCapture.h"
#include "SensorTestSupport.h"
#include "app/MotionTrackerHealthCheck.h"
#include "app/MotionTrackerSink.h"
#include "app/XsensModule.h"
#include "comlane/SerialDevice.h"
#include "mtobj/MTObj.h"
#include "mtobj/RawMotion.h"
#include "platform/Messages.h"
#include "platform/Registry.h"

namespace {

using namespace iio_test;
using Clock = std::chrono::steady_clock;

FifoWriter::Generator FusedSea() {
    auto motion = std::make_shared<mtobj::CRawMotion>(Sea(), kRate);
    return [motion](std::size_t k, FakeScan& s) {
        s.seconds = static_cast<double>(k) / kRate;
        const auto e = motion->TruthAt(s.seconds).attitude;
        const Quat q = mtobj::QuaternionOfAttitude({e.heading, e.pitch, e.roll});
        const double t = s.seconds;
        s.value = [q, t](const std::string& channel, unsigned item) {
            if (channel == "in_timestamp") {
                return 9.0e9 + t * 1e9;
            }
            return item < 3 ? q[item + 1] : q[0];
        };
        return true;
    };
}

// The module as the main window runs it: the sensor link on the sensor kind, its sensor at
// 50 Hz, PRDID telegrams on COM3 at 10 Hz.
class Module {
public:
    explicit Module(const std::string& kind) {
        {
            CRegKey key;
            key.Create(HKEY_CURRENT_USER, mtobj::kSettingsKey);
            key.SetString("Port", "COM1");
            key.SetString("Kind", kind);
        }
        CoInitialize(nullptr);
        AfxSetMainWnd(&messages);
        link = std::make_unique<CXsensModule>();
        EXPECT_TRUE(link->Initialise());
        CMotionTrackerSink::CreateInstance(nullptr, IID_IUnknown,
                                           reinterpret_cast<void**>(&m_sink));
        EXPECT_EQ(link->AdviseSink(m_sink, &m_cookie), S_OK);
        link->OpenSensorPort(1, 115200);
        link->SetFilterSettings(1.0F, 1.0F);
        link->SetSampleRate(50);
        link->SetOutputInterval(100);
        comlane::CPortMap::Entries();
        link->AddTelegramWorker(5, 3, 115200);  // "PRDID"
        EXPECT_TRUE(prdid.Open());
        link->StartSensor();
    }
    ~Module() {
        link->StopSensor();
        link->UnadviseSink(m_cookie);
        m_sink.Release();
        link.reset();
        AfxSetMainWnd(nullptr);
        CoUninitialize();
    }
    // Waits (at most timeoutMs) for the health check's next reconnect request.
    bool ReconnectRequested(DWORD timeoutMs) {
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < end) {
            const auto m = messages.Next(100);
            if (m && m->message == WM_TAVIMO_RECONNECT_SENSOR) {
                return true;
            }
        }
        return false;
    }

    CRecordingMessageTarget messages;
    sensor_test::PromptRecorder prompts;
    std::unique_ptr<CXsensModule> link;
    tavimo_test::PortClient prdid{comlane::CPortMap::LinkPath("COM3")};

private:
    CComPtr<IUnknown> m_sink;
    DWORD m_cookie = 0;
};

struct RunResult {
    int checked = 0;
    double worst = 0;
    std::string worstLine;
};

// Reads the module's PRDID telegrams for `seconds`; from `settle` seconds on, each is compared
// with the truth from 0.6 s before `newest()` (the motion time of the newest sample given to
// the device, or an estimate of it) to 0.1 s after: a telegram carries the attitude of a
// recent sample, not of one moment.
RunResult Check(Module& module, double seconds, double settle,
                const std::function<double()>& newest, const mtobj::RawScenario& scenario = Sea()) {
    RunResult result;
    const mtobj::CRawMotion truth(scenario, kRate);
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        const std::string line = module.prdid.NextLine();
        if (line.empty()) {
            ADD_FAILURE() << "no telegram for 10 s";
            break;
        }
        const double t = newest();
        double p = 0, r = 0, h = 0;
        unsigned sum = 0;
        if (t < settle ||
            std::sscanf(line.c_str(), "$PRDID,%lf,%lf,%lf*%2x", &p, &r, &h, &sum) != 4) {
            continue;
        }
        double best = 1e9;
        for (double s = t - 0.6; s <= t + 0.1; s += 0.002) {
            best = std::min(best, Error({h, p, r}, TruthOf(truth, s)));
        }
        if (best > result.worst) {
            result.worst = best;
            result.worstLine = line;
        }
        ++result.checked;
    }
    return result;
}

RunResult RunModule(const std::string& kind, double seconds, double settle,
                    const std::function<double()>& newest) {
    Module module(kind);
    return Check(module, seconds, settle, newest);
}

TEST(IioModuleTest, ARawNineAxisDeviceGivesTheTrueAttitudeAfterConvergence) {
    FakeIioTree tree;
    tree.AddDevice("iio:device0", "lsm9ds1", kNine);
    const std::string capture = tavimo_test::TempRoot() + "/sea-capture.txt";
    RunResult live;
    {
        tavimo_test::ScopedEnv record("TAVIMO_CAPTURE", capture);
        FifoWriter writer(tree.Dev() / "iio:device0", tree.Folder("iio:device0"), kNine, RawFeed());
        live = RunModule("iio:lsm9ds1", 32, 20, [&] { return writer.NewestSeconds(); });
    }
    EXPECT_GT(live.checked, 60);
    EXPECT_LT(live.worst, 0.5) << live.worstLine;

    // The capture of that run played through the module at its pace: the truth again.
    ASSERT_TRUE(mtobj::ReadCapture(capture, nullptr));
    const auto start = Clock::now();
    const auto replayed = RunModule("replay:" + capture, 30, 20, [&] {
        return std::chrono::duration<double>(Clock::now() - start).count();
    });
    EXPECT_GT(replayed.checked, 60);
    EXPECT_LT(replayed.worst, 0.5) << replayed.worstLine;
}

// An irregular heavy sea (spectra with random phases, sway and surge, the sensor metres from
// the centre of motion, a yaw wobble of over 3 °/s), the gyroscope uncalibrated, the filter at
// the gain of 1.0 the module is given: the telegrams carry the true attitude within 1.5° from
// 25 s on.
TEST(IioModuleTest, AnIrregularSeaWithAWobblingHeadingKeepsTheVertical) {
    const mtobj::RawScenario sea = mtobj::DrawScenario(mtobj::SeaKind::Heavy, 2);
    FakeIioTree tree;
    tree.AddDevice("iio:device0", "lsm9ds1", kNine);
    FifoWriter writer(tree.Dev() / "iio:device0", tree.Folder("iio:device0"), kNine, RawFeed(sea));
    Module module("iio:lsm9ds1");
    const auto run = Check(
        module, 40, 25, [&] { return writer.NewestSeconds(); }, sea);
    EXPECT_GT(run.checked, 100);
    EXPECT_LT(run.worst, 1.5) << run.worstLine;
}

TEST(IioModuleTest, ThreeDevicesOfOneChipAreMergedInTimeOrder) {
    FakeIioTree tree;
    tree.AddDevice("iio:device0", "acc", kAccel);
    tree.AddDevice("iio:device1", "gyr", kGyro);
    tree.AddDevice("iio:device2", "mag", kMag);
    FifoWriter accel(tree.Dev() / "iio:device0", tree.Folder("iio:device0"), kAccel, RawFeed());
    FifoWriter gyro(tree.Dev() / "iio:device1", tree.Folder("iio:device1"), kGyro, RawFeed());
    FifoWriter mag(tree.Dev() / "iio:device2", tree.Folder("iio:device2"), kMag, RawFeed());
    // No telegram can carry a sample newer than the newest any writer has written; the
    // merge may hand out samples past a writer that lags (by up to its hold), so the newest
    // of the three, not the oldest, is where a telegram's truth ends.
    const auto run = RunModule("iio:acc+gyr+mag", 32, 20, [&] {
        return std::max({accel.NewestSeconds(), gyro.NewestSeconds(), mag.NewestSeconds()});
    });
    EXPECT_GT(run.checked, 60);
    EXPECT_LT(run.worst, 0.5) << run.worstLine;
}

TEST(IioModuleTest, AFusedDeviceGivesItsAttitudeAsItStands) {
    FakeIioTree tree;
    tree.AddDevice("iio:device4", "bno055", kFused32);
    FifoWriter writer(tree.Dev() / "iio:device4", tree.Folder("iio:device4"), kFused32, FusedSea());
    const auto run = RunModule("iio:bno055", 6, 0.5, [&] { return writer.NewestSeconds(); });
    EXPECT_GT(run.checked, 30);
    EXPECT_LT(run.worst, 0.05) << run.worstLine;
}

}  // namespace

TEST(IioModuleTest, AVanishedDeviceIsOpenedAgainOnTheHealthChecksReconnect) {
    FakeIioTree tree;
    tree.AddDevice("iio:device4", "bno055", kFused32);
    auto writer = std::make_unique<FifoWriter>(
        tree.Dev() / "iio:device4", tree.Folder("iio:device4"), kFused32,
        [feed = FusedSea()](std::size_t k, FakeScan& s) { return k < 300 && feed(k, s); });
    Module module("iio:bno055");
    const auto before = Check(module, 2, 0.5, [&] { return writer->NewestSeconds(); });
    EXPECT_GT(before.checked, 10);
    EXPECT_LT(before.worst, 0.05) << before.worstLine;
    // Unplugged: its buffer ends and its folder goes. The health check asks for a reconnect,
    // which fails while it is away.
    writer.reset();
    tree.Remove("iio:device4");
    ASSERT_TRUE(module.ReconnectRequested(5000));
    module.link->Reconnect();
    // Plugged in again, under another number: the next reconnect finds it.
    tree.AddDevice("iio:device6", "bno055", kFused32);
    writer = std::make_unique<FifoWriter>(tree.Dev() / "iio:device6", tree.Folder("iio:device6"),
                                          kFused32, FusedSea());
    ASSERT_TRUE(module.ReconnectRequested(5000));
    module.link->Reconnect();
    const auto after = Check(module, 2, 0.3, [&] { return writer->NewestSeconds(); });
    EXPECT_GT(after.checked, 10);
    EXPECT_LT(after.worst, 0.05) << after.worstLine;
}
