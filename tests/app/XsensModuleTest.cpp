#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "SensorTestSupport.h"
#include "app/MotionTrackerSink.h"
#include "app/XsensModule.h"
#include "mtobj/MTObj.h"
#include "mtobj/VesselMotion.h"
#include "platform/Messages.h"
#include "platform/Registry.h"

namespace {

using sensor_test::AttitudeRecord;
using sensor_test::RecordingOutput;

constexpr double kLatency115200 = 270 * 1000.0 / 115200 + static_cast<double>(1.39F);

VARIANT Floats(std::vector<float> values) {
    return VARIANT(std::move(values));
}

VARIANT MatrixOf(double heading, double pitch, double roll) {
    const auto m = mtobj::VesselMotion::Matrix({heading, pitch, roll});
    return Floats({m.begin(), m.end()});
}

float AngleDiff(float a, float b) {
    return std::fabs(std::fmod(a - b + 540.0F, 360.0F) - 180.0F);
}

// A sensor link on the simulated sensor, with its sink advised and recording outputs.
class SensorLinkTest : public ::testing::Test {
protected:
    explicit SensorLinkTest(std::uint16_t mode = 2) : m_mode(mode) {}

    void SetUp() override {
        CoInitialize(nullptr);
        AfxSetMainWnd(&messages);
        link = std::make_unique<CXsensModule>(
            nullptr, m_mode,
            TelegramOutputFactory{[this](int, short, unsigned) { return Make(); },
                                  [this] { return Make(); }});
        ASSERT_TRUE(link->Initialise());
        ASSERT_EQ(CMotionTrackerSink::CreateInstance(nullptr, IID_IUnknown,
                                                     reinterpret_cast<void**>(&sink)),
                  S_OK);
        ASSERT_EQ(link->AdviseSink(sink, &cookie), S_OK);
        EXPECT_NE(cookie, 0U);
        ASSERT_EQ(link->GetTracker()->QueryInterface(IID_IMotionTrackerSimulation,
                                                     reinterpret_cast<void**>(&sim)),
                  S_OK);
        link->OpenSensorPort(1, 115200);
        link->SetFilterSettings(1.0F, 1.0F);
        // Samples come only from the test: the sensor's own sampling stays off.
        sim->RefuseSetting(18, E_FAIL);
    }
    void TearDown() override {
        if (link) {
            link->UnadviseSink(cookie);
        }
        sim.Release();
        link.reset();
        AfxSetMainWnd(nullptr);
        CoUninitialize();
    }

    std::unique_ptr<ITelegramOutput> Make() {
        return std::make_unique<RecordingOutput>(journal, created++);
    }
    void Inject(std::vector<VARIANT> arrays) { ASSERT_EQ(sim->InjectBatch(arrays), S_OK); }
    std::vector<AttitudeRecord> Attitudes() {
        std::lock_guard lock(journal.mutex);
        return journal.attitudes;
    }

    std::uint16_t m_mode;
    sensor_test::FakeClock clock;
    CRecordingMessageTarget messages;
    RecordingOutput::Journal journal;
    int created = 0;
    std::unique_ptr<CXsensModule> link;
    CComPtr<IUnknown> sink;
    DWORD cookie = 0;
    CComPtr<IMotionTrackerSimulation> sim;
};

TEST_F(SensorLinkTest, RateAndLatencyFollowTheSettings) {
    EXPECT_DOUBLE_EQ(link->GetSamplePeriod(), 40.0);
    EXPECT_EQ(link->GetBufferCapacity(), 500U);
    EXPECT_NEAR(link->GetLatency(), 3.7338, 1e-4);
    EXPECT_DOUBLE_EQ(link->GetLatency(), kLatency115200);
    sensor_test::PromptRecorder prompts;
    link->SetSampleRate(100);
    EXPECT_DOUBLE_EQ(link->GetSamplePeriod(), 10.0);
    EXPECT_EQ(link->GetBufferCapacity(), 2000U);
    // Changing the baud rate gives the same latency as opening the port at it.
    link->SetSensorBaudRate(57600);
    EXPECT_DOUBLE_EQ(link->GetLatency(), 270 * 1000.0 / 57600 + static_cast<double>(1.39F));
    link->SetSensorBaudRate(115200);
    EXPECT_DOUBLE_EQ(link->GetLatency(), kLatency115200);
}

TEST_F(SensorLinkTest, StampsFromArrivalThenOnePeriodApart) {
    link->AddTelegramWorker(2, 2, 115200);
    clock.Set(1.0e6);
    Inject({MatrixOf(10, 1, 2), MatrixOf(11, 1, 2), MatrixOf(12, 1, 2)});
    auto got = Attitudes();
    ASSERT_EQ(got.size(), 1U);  // three samples, one output step
    const double first = 1.0e6 - kLatency115200;
    EXPECT_NEAR(got[0].time, first + 80.0, 1e-9);
    EXPECT_NEAR(got[0].heading, 12.0F, 0.01F);
    // Later batches continue the stamps, whatever the clock says.
    clock.Set(1.0e6 + 5000);
    Inject({MatrixOf(13, 1, 2)});
    got = Attitudes();
    ASSERT_EQ(got.size(), 2U);
    EXPECT_NEAR(got[1].time, first + 120.0, 1e-9);
    // A start re-anchors to the arrival of the next sample.
    link->StartSensor();
    link->StopSensor();
    clock.Set(2.0e6);
    Inject({MatrixOf(14, 1, 2)});
    got = Attitudes();
    ASSERT_EQ(got.size(), 3U);
    EXPECT_NEAR(got[2].time, 2.0e6 - kLatency115200, 1e-9);
    link->Reconnect();
    clock.Set(3.0e6);
    Inject({MatrixOf(14, 1, 2), MatrixOf(14, 1, 2)});
    EXPECT_NEAR(Attitudes().back().time, 3.0e6 - kLatency115200 + 40, 1e-9);
}

TEST_F(SensorLinkTest, OutputGateAtEveryFrequency) {
    link->AddTelegramWorker(2, 2, 115200);
    // "Max Output", 25, 10, 5, 2 and 1 Hz, with a batch every 40 ms for 2.4 s.
    for (const double interval : {0.0, 40.0, 100.0, 200.0, 500.0, 1000.0}) {
        SCOPED_TRACE(interval);
        link->SetOutputInterval(interval);
        std::vector<int> outputs;
        const std::size_t before = Attitudes().size();
        const double start = 1.0e7 * (1 + interval);  // far from the last output
        for (int k = 0; k < 60; ++k) {
            clock.Set(start + 40.0 * k);
            Inject({MatrixOf(1, 1, 1)});
            if (Attitudes().size() != before + outputs.size()) {
                outputs.push_back(k);
            }
        }
        // The first batch after a pause gives an output; then one per interval, never more
        // than one per batch.
        ASSERT_FALSE(outputs.empty());
        EXPECT_EQ(outputs[0], 0);
        const double expected = interval == 0 ? 60.0 : 2400.0 / interval;
        EXPECT_NEAR(static_cast<double>(outputs.size()), expected, 1.0);
        for (std::size_t i = 1; i < outputs.size(); ++i) {
            EXPECT_LE((outputs[i] - outputs[i - 1]) * 40.0, std::max(40.0, interval * 1.25));
        }
    }
}

TEST_F(SensorLinkTest, AFasterRateTakesEffectAtTheNextBatch) {
    link->AddTelegramWorker(2, 2, 115200);
    link->SetOutputInterval(1000.0);
    clock.Set(7.0e7);
    Inject({MatrixOf(1, 1, 1)});
    ASSERT_EQ(Attitudes().size(), 1U);
    link->SetOutputInterval(40.0);  // 1 Hz to 25 Hz: not a second's wait for the old grid
    for (int k = 1; k <= 5; ++k) {
        clock.Set(7.0e7 + 40.0 * k);
        Inject({MatrixOf(1, 1, 1)});
        EXPECT_EQ(Attitudes().size(), 1U + k);
    }
}

// A minute of the simulated sensor's batches (at most one every 16 ms, late by a jittered
// delay of up to 12 ms) at each sensor rate and chosen rate: outputs counted against the
// samples that came, not against a wall clock.
TEST_F(SensorLinkTest, TheChosenRateIsDeliveredWheneverTheSensorIsAtLeastThatFast) {
    link->AddTelegramWorker(2, 2, 115200);
    std::vector<VARIANT> sample{MatrixOf(10, 1, 2)};
    double start = 5.0e7;
    // Sensors of 25, 100 and 512 Hz, and one of 8 Hz that is slower than every choice.
    for (const double sensorHz : {25.0, 100.0, 512.0, 8.0}) {
        for (const double chosenHz : {1.0, 10.0, 25.0}) {
            SCOPED_TRACE(::testing::Message() << sensorHz << " Hz sensor, " << chosenHz << " Hz");
            link->SetOutputInterval(1000.0 / chosenHz);
            const std::size_t before = Attitudes().size();
            const double period = 1000.0 / sensorHz;
            std::uint32_t jitter = 12345;
            double lastBatch = -1e9;
            long sampleIndex = 0;
            long batches = 0;
            start += 1.0e6;  // a pause between the runs
            while (true) {
                jitter = jitter * 1664525U + 1013904223U;
                const double delay = static_cast<double>(jitter >> 8) / (1 << 24) * 12.0;
                const double due = std::max(start + sampleIndex * period, lastBatch + 16.0);
                const double now = due + delay;
                if (now - start >= 60000.0) {
                    break;
                }
                std::vector<VARIANT> batch;
                while (start + sampleIndex * period <= now) {
                    batch.push_back(sample[0]);
                    ++sampleIndex;
                }
                clock.Set(now);
                Inject(batch);
                lastBatch = now;
                ++batches;
            }
            const double delivered = static_cast<double>(Attitudes().size() - before);
            const double wanted = 60.0 * std::min(chosenHz, sensorHz);
            // Within 1 %, and one output for where the minute's edges cut the grid.
            EXPECT_NEAR(delivered, wanted, 0.01 * wanted + 1.0) << batches << " batches";
            EXPECT_LE(delivered, static_cast<double>(batches));  // one per batch at most
        }
    }
}

TEST_F(SensorLinkTest, AttitudesReachEveryWorkerInIdOrder) {
    std::map<int, int> tagOfId;
    for (int i = 0; i < 4; ++i) {
        tagOfId[link->AddTelegramWorker(2 + i % 2, static_cast<short>(2 + i), 115200)] = i + 1;
    }
    ASSERT_EQ(tagOfId.size(), 4U);
    link->SetMagneticVariation(-3.5F);
    Inject({MatrixOf(123.4, -5.5, 7.25)});
    const auto got = Attitudes();
    ASSERT_EQ(got.size(), 4U);
    auto it = tagOfId.begin();
    for (const AttitudeRecord& r : got) {
        EXPECT_EQ(r.worker, (it++)->second);
        EXPECT_NEAR(r.heading, 123.4F, 0.01F);
        EXPECT_NEAR(r.pitch, -5.5F, 1e-3F);
        EXPECT_NEAR(r.roll, 7.25F, 1e-3F);
        EXPECT_EQ(r.variation, -3.5F);
    }
    const int id = tagOfId.begin()->first;
    EXPECT_TRUE(link->ModifyTelegramWorker(id, 5, 7, 9600));
    int unknown = 0;
    while (tagOfId.count(unknown) != 0) {
        ++unknown;
    }
    EXPECT_FALSE(link->ModifyTelegramWorker(unknown, 5, 7, 9600));
    EXPECT_TRUE(link->RemoveTelegramWorker(id));
    EXPECT_FALSE(link->RemoveTelegramWorker(id));
    link->SetSensorPortWorkerPort(4, 38400);
    std::lock_guard lock(journal.mutex);
    const auto& calls = journal.calls;
    const int tag = tagOfId.begin()->second;
    const auto pos = std::find(calls.begin(), calls.end(), std::to_string(tag) + " SetPort 7 9600");
    ASSERT_NE(pos, calls.end());
    EXPECT_EQ(*(pos + 1), std::to_string(tag) + " SetTelegramType 5");
    EXPECT_EQ(*(pos + 2), std::to_string(tag) + " Stop");
    EXPECT_EQ(calls.front(), "0 Start");  // the sensor-port worker, started by the constructor
    EXPECT_EQ(calls.back(), "0 SetPort 4 38400");
}

TEST_F(SensorLinkTest, WithoutWorkersTheMapStillHandsOutIds) {
    CXsensModule bare(nullptr, 2, {});
    const int id = bare.AddTelegramWorker(2, 2, 115200);
    EXPECT_FALSE(bare.ModifyTelegramWorker(id, 3, 2, 9600));
    EXPECT_TRUE(bare.RemoveTelegramWorker(id));
}

TEST_F(SensorLinkTest, SmoothingWorksInMatrixModeAndAcrossNorth) {
    link->AddTelegramWorker(2, 2, 115200);
    link->SetSmoothing(true);
    // Interpolation: the orientation now, a latency after the newest stamp.
    clock.Set(5.0e6);
    Inject({MatrixOf(40, 2, 3), MatrixOf(40, 2, 3)});
    auto got = Attitudes();
    ASSERT_EQ(got.size(), 1U);
    EXPECT_NEAR(got[0].heading, 40.0F, 1e-3F);
    EXPECT_NEAR(got[0].pitch, 2.0F, 1e-3F);
    EXPECT_NEAR(got[0].roll, 3.0F, 1e-3F);
    EXPECT_DOUBLE_EQ(got[0].time, 5.0e6);
    // A window across the 0/360 crossing averages near north, never the opposite way.
    link->SetTimeWindow(200);
    std::vector<VARIANT> batch;
    for (int i = 0; i < 5; ++i) {
        batch.push_back(MatrixOf(i % 2 == 0 ? 359.0 : 1.0, 2, 3));
    }
    link->SetFilterSettings(1.0F, 1.0F);  // re-anchors: the new samples stand alone in the window
    clock.Set(6.0e6);
    Inject(batch);
    got = Attitudes();
    ASSERT_EQ(got.size(), 2U);
    EXPECT_LT(AngleDiff(got[1].heading, 0.0F), 1.0F);
    EXPECT_NEAR(got[1].pitch, 2.0F, 0.01F);
}

TEST_F(SensorLinkTest, BadSamplesAreSkippedWithoutMovingTheClock) {
    link->AddTelegramWorker(2, 2, 115200);
    clock.Set(1.0e6);
    std::vector<float> nan(9, 0.5F);
    nan[4] = std::nanf("");
    std::vector<float> longer(12, 0.0F);
    const auto m = mtobj::VesselMotion::Matrix({77, 3, 4});
    std::copy(m.begin(), m.end(), longer.begin());
    Inject({Floats(std::vector<float>(8, 0.1F)), VARIANT(), VARIANT(std::vector<double>(9, 0.1)),
            VARIANT(std::string("junk")), Floats({}), Floats(nan), Floats(longer)});
    const auto got = Attitudes();
    ASSERT_EQ(got.size(), 1U);
    EXPECT_NEAR(got[0].time, 1.0e6 - kLatency115200, 1e-9);  // the only sample taken
    EXPECT_NEAR(got[0].heading, 77.0F, 0.01F);
    // Nothing but bad samples: no output at all.
    Inject({Floats({1, 2, 3})});
    EXPECT_EQ(Attitudes().size(), 1U);
}

TEST_F(SensorLinkTest, SensorFaultsNeverLeaveTheLink) {
    sensor_test::PromptRecorder prompts;
    link->AddTelegramWorker(2, 2, 115200);
    sim->ThrowFrom(14, true);
    Inject({MatrixOf(1, 1, 1)});
    EXPECT_TRUE(Attitudes().empty());
    sim->ThrowFrom(14, false);
    sim->RefuseSetting(14, E_FAIL);
    Inject({MatrixOf(1, 1, 1)});  // a failing fetch ends the event instead of spinning
    EXPECT_TRUE(Attitudes().empty());
    sim->RefuseSetting(14, S_OK);
    for (int slot : {7, 9, 12, 16, 18, 19, 27, 31, 32, 35, 36, 37}) {
        sim->ThrowFrom(slot, true);
    }
    link->ApplySensorSettings();
    link->StartSensor();
    link->Reconnect();
    link->SetSampleRate(50);
    link->SetSensorBaudRate(57600);
    short port;
    long baud;
    std::string id;
    float gain, weight;
    short rate;
    link->GetSensorSettings(port, baud, id, gain, weight, rate);
    EXPECT_EQ(prompts.texts, (std::vector<std::string>{"Get Filter Settings Failed",
                                                       "Get Motion Tracker Baudrate Failed",
                                                       "Get Motion Tracker Sample rate Failed"}));
    link->StopSensor();
    link->OpenSensorPort(1, 115200);
    EXPECT_EQ(link->GetDeviceId(), "");
}

TEST_F(SensorLinkTest, SettingsAndTheirMessages) {
    sensor_test::PromptRecorder prompts;
    EXPECT_EQ(link->GetDeviceId(), "00300001");
    EXPECT_NE(link->GetSensorToken(), 0U);
    link->SetSampleRate(33);
    link->SetSensorBaudRate(12345);
    ASSERT_EQ(prompts.texts.size(), 2U);
    EXPECT_EQ(prompts.texts[0], "Invalid Motion Tracker Sample Rate = 33");
    EXPECT_EQ(prompts.types[0], MB_ICONINFORMATION);
    EXPECT_EQ(prompts.texts[1], "Invalid Motion Tracker Baud Rate = 12345");
    link->SetSampleRate(200);
    EXPECT_EQ(prompts.texts.back(), "MTObj Reported: \n\nSaving MTS data successfull");
    CRegKey saved;
    ASSERT_EQ(
        saved.Open(HKEY_CURRENT_USER, std::string(mtobj::kSettingsKey) + "\\Devices\\00300001"),
        ERROR_SUCCESS);
    EXPECT_EQ(saved.QueryDWORD("SampleRate"), 200U);
    sim->RefuseSetting(37, E_FAIL);
    link->SetSensorBaudRate(57600);
    EXPECT_EQ(prompts.texts.back(), "MTObj Reported: \n\nSaving MTS data NOT successfull");
    sim->RefuseSetting(16, E_FAIL);
    link->SetFilterSettings(0.5F, 0.8F);
    short port;
    long baud;
    std::string id;
    float gain, weight;
    short rate;
    link->GetSensorSettings(port, baud, id, gain, weight, rate);
    EXPECT_EQ(prompts.texts.back(), "Get Filter Settings Failed");
    EXPECT_EQ(port, 1);
    EXPECT_EQ(baud, 57600);
    EXPECT_EQ(id, "00300001");
    EXPECT_EQ(gain, 0.5F);  // the stored values stay
    EXPECT_EQ(weight, 0.8F);
    EXPECT_EQ(rate, 200);
    EXPECT_DOUBLE_EQ(link->GetSamplePeriod(), 5.0);
    // The sensor answers only on its own port.
    link->OpenSensorPort(2, 115200);
    EXPECT_EQ(link->GetDeviceId(), "");
}

TEST(SensorLinkSetupTest, UnregisteredSensorFailsInitialiseWithATrace) {
    sensor_test::TraceCapture traces;
    CoInitialize(nullptr);
    mtobj::UnregisterClass();
    {
        CXsensModule link;
        EXPECT_FALSE(link.Initialise());
        EXPECT_TRUE(traces.Has("Initialise", "Failed to create IID_IMotionTracker"));
        DWORD cookie = 7;
        EXPECT_EQ(link.AdviseSink(nullptr, &cookie), E_POINTER);
        EXPECT_EQ(cookie, 0U);
        link.StartSensor();  // nothing to start; no crash
        link.StopSensor();
        float p, r, h;
        double t;
        EXPECT_TRUE(link.GetOrientationDataLatest(t, p, r, h));  // the zeroed matrix
        EXPECT_FALSE(link.GetOrientationData(1000, p, r, h));
        EXPECT_TRUE(traces.Has("GetOrientationData",
                               "Failed :: Sample Time PC millisecs 1000.00000000000000"));
    }
    mtobj::RegisterClass();
    CoUninitialize();
}

TEST(SensorLinkSetupTest, PublishesItselfForTheSink) {
    EXPECT_EQ(g_pSensorDataHandler.load(), nullptr);
    {
        CXsensModule link;
        EXPECT_EQ(g_pSensorDataHandler.load(), &link);
    }
    EXPECT_EQ(g_pSensorDataHandler.load(), nullptr);
}

// ---- The other output modes ---------------------------------------------------------------

class QuaternionModeTest : public SensorLinkTest {
protected:
    QuaternionModeTest() : SensorLinkTest(0) {}
};

TEST_F(QuaternionModeTest, QuaternionsFillTheBuffer) {
    link->AddTelegramWorker(2, 2, 115200);
    float p, r, h;
    double t;
    EXPECT_FALSE(link->GetOrientationDataLatest(t, p, r, h));
    const auto q = mtobj::VesselMotion::Quaternion({0, 0, 0});
    Inject({Floats({q.begin(), q.end()}), Floats({q.begin(), q.end()}), Floats({1, 2, 3})});
    EXPECT_EQ(link->GetBufferCount(), 2U);
    ASSERT_TRUE(link->GetOrientationDataLatest(t, p, r, h));
    EXPECT_NEAR(t, 1.0e6 - kLatency115200 + 40, 1e-9);
    EXPECT_EQ(Attitudes().size(), 1U);
}

class EulerModeTest : public SensorLinkTest {
protected:
    EulerModeTest() : SensorLinkTest(1) {}
};

TEST_F(EulerModeTest, EulerSamplesAreKeptNotBuffered) {
    float p, r, h;
    double t;
    Inject({Floats({10, -5, 30})});
    EXPECT_EQ(link->GetBufferCount(), 0U);
    EXPECT_FALSE(link->GetOrientationDataLatest(t, p, r, h));  // only the buffer answers here
}

class ExtraDataModeTest : public SensorLinkTest {
protected:
    ExtraDataModeTest() : SensorLinkTest(3) {}
};

TEST_F(ExtraDataModeTest, SecondArrayIsFetchedAndDropped) {
    Inject({Floats({1, 0, 0, 0}), Floats({9, 9, 9}), Floats({1, 0, 0, 0}), Floats({9, 9, 9})});
    std::int16_t flag = 1;
    VARIANT rest;
    ASSERT_EQ(link->GetTracker()->GetNextSample(&flag, &rest, 0), S_OK);
    EXPECT_EQ(flag, 0);  // all four arrays consumed
    EXPECT_EQ(link->GetBufferCount(), 0U);
}

// ---- With the sensor running on its own thread ------------------------------------------------

TEST(SensorLinkLiveTest, AttitudesFollowTheSensorsTrueMotion) {
    CoInitialize(nullptr);
    CRecordingMessageTarget messages;
    AfxSetMainWnd(&messages);
    RecordingOutput::Journal journal;
    CComPtr<IMotionTrackerSimulation> sim;
    std::atomic<int> checked{0};
    std::atomic<int> wrong{0};
    std::mutex seenMutex;
    std::string firstWrong;
    // The telegram worker sees each attitude on the data path, right after the batch whose
    // newest sample it comes from.
    journal.onAttitude = [&](const AttitudeRecord& r) {
        double seconds = -1;
        DWORD seed = 0;
        sim->GetLastSampleSeconds(&seconds);
        sim->GetSeed(&seed);
        const mtobj::Attitude truth = mtobj::VesselMotion(seed).At(seconds);
        if (std::fabs(r.pitch - truth.pitch) > 1e-3 || std::fabs(r.roll - truth.roll) > 1e-3 ||
            AngleDiff(r.heading, static_cast<float>(truth.heading)) > 0.02F) {
            std::lock_guard lock(seenMutex);
            if (wrong++ == 0) {
                firstWrong = std::to_string(r.heading) + " vs " + std::to_string(truth.heading);
            }
        }
        ++checked;
    };
    {
        CXsensModule link(nullptr, 2, RecordingOutput::Factory(journal));
        ASSERT_TRUE(link.Initialise());
        CComPtr<IUnknown> sink;
        CMotionTrackerSink::CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&sink));
        DWORD cookie = 0;
        ASSERT_EQ(link.AdviseSink(sink, &cookie), S_OK);
        link.GetTracker()->QueryInterface(IID_IMotionTrackerSimulation,
                                          reinterpret_cast<void**>(&sim));
        link.OpenSensorPort(1, 115200);
        link.SetFilterSettings(1.0F, 1.0F);
        link.AddTelegramWorker(2, 2, 115200);
        sensor_test::PromptRecorder prompts;
        link.SetSampleRate(100);
        link.StartSensor();
        for (int i = 0; i < 200 && checked.load() < 40; ++i) {
            journal.attitudeArrived.Wait(100);
        }
        link.StopSensor();
        link.UnadviseSink(cookie);
        sim.Release();
    }
    EXPECT_GE(checked.load(), 40);
    EXPECT_EQ(wrong.load(), 0) << firstWrong;
    EXPECT_EQ(messages.Pending(), 0U);  // a live sensor is never reported silent
    AfxSetMainWnd(nullptr);
    CoUninitialize();
}

}  // namespace

namespace {

TEST(SensorLinkLiveTest, ASilentSensorIsReconnectedByTheWindowsAnswer) {
    CoInitialize(nullptr);
    CRecordingMessageTarget messages;
    AfxSetMainWnd(&messages);
    RecordingOutput::Journal journal;
    {
        CXsensModule link(nullptr, 2, RecordingOutput::Factory(journal));
        ASSERT_TRUE(link.Initialise());
        CComPtr<IUnknown> sink;
        CMotionTrackerSink::CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&sink));
        DWORD cookie = 0;
        ASSERT_EQ(link.AdviseSink(sink, &cookie), S_OK);
        CComPtr<IMotionTrackerSimulation> sim;
        link.GetTracker()->QueryInterface(IID_IMotionTrackerSimulation,
                                          reinterpret_cast<void**>(&sim));
        link.OpenSensorPort(1, 115200);
        link.SetFilterSettings(1.0F, 1.0F);
        link.HealthCheck().SetSilenceTimeout(100);
        link.AddTelegramWorker(2, 2, 115200);
        link.StartSensor();
        sim->FallSilent();
        // The window answers the reconnect request as the main dialog does.
        const auto request = messages.Next(10000);
        ASSERT_TRUE(request.has_value());
        EXPECT_EQ(request->message, WM_TAVIMO_RECONNECT_SENSOR);
        sim->Resume();
        link.Reconnect();
        {
            std::lock_guard lock(journal.mutex);
            journal.attitudes.clear();
        }
        journal.attitudeArrived.Reset();
        ASSERT_TRUE(journal.attitudeArrived.Wait(10000));  // attitudes flow again
        EXPECT_EQ(link.HealthCheck().AttemptCount(), 0);   // samples again: the count is reset
        link.StopSensor();
        link.UnadviseSink(cookie);
    }
    AfxSetMainWnd(nullptr);
    CoUninitialize();
}

}  // namespace
