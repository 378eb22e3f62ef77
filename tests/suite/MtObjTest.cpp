#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <mutex>
#include <thread>

#include "interfaces/MotionTrackerSink.h"
#include "mtobj/MTObj.h"
#include "mtobj/SensorDevice.h"
#include "mtobj/VesselMotion.h"
#include "platform/Registry.h"
#include "platform/Sync.h"

namespace {

CComPtr<IMotionTracker> Create() {
    CComPtr<IMotionTracker> tracker;
    EXPECT_EQ(CoCreateInstance(CLSID_MTObj, nullptr, CLSCTX_ALL, IID_IMotionTracker,
                               reinterpret_cast<void**>(&tracker)),
              S_OK);
    return tracker;
}

// A sink that fetches every queued array on the sensor's thread, as the sensor link does.
class FetchingSink final : public CDispatchBase<IMotionTrackerSink> {
    TAVIMO_COM_REFCOUNT()
public:
    explicit FetchingSink(IMotionTracker* tracker) : m_tracker(tracker) {}
    HRESULT QueryInterface(REFIID iid, void** object) override {
        return Query(iid, IID_IMotionTrackerSink, object);
    }
    HRESULT OnDataAvailable() override {
        std::int16_t flag = 1;
        while (flag != 0) {
            VARIANT v;
            m_tracker->GetNextSample(&flag, &v, 0);
            if (flag == 1) {
                std::lock_guard lock(m_mutex);
                arrays.push_back(*v.FloatArray());
                thread = std::this_thread::get_id();
            }
        }
        arrived.Set();
        return S_OK;
    }
    // Waits until at least n arrays have come.
    bool WaitFor(std::size_t n) {
        for (int i = 0; i < 100; ++i) {
            {
                std::lock_guard lock(m_mutex);
                if (arrays.size() >= n) {
                    return true;
                }
            }
            arrived.Wait(100);
        }
        return false;
    }
    std::mutex m_mutex;
    std::vector<std::vector<float>> arrays;
    std::thread::id thread;
    CEvent arrived;

private:
    IMotionTracker* m_tracker;
};

// The vtable index of a virtual operation (Itanium ABI: one more than its byte offset).
template <class F>
std::ptrdiff_t SlotOf(F f) {
    std::ptrdiff_t raw = 0;
    static_assert(sizeof(f) >= sizeof(raw));
    std::memcpy(&raw, &f, sizeof(raw));
    return (raw - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}

TEST(MotionTrackerInterfaceTest, OperationsStandInTheirSlots) {
    // Slots are counted from the first own operation, slot 7, after IDispatch's last.
    const auto base = SlotOf(&IMotionTracker::SetOutputMode);
    EXPECT_EQ(base, SlotOf(&IDispatch::Invoke) + 1);
    auto slot = [base](std::ptrdiff_t s) { return s - base + 7; };
    EXPECT_EQ(slot(SlotOf(&IMotionTracker::SetExtraData)), 9);
    EXPECT_EQ(slot(SlotOf(&IMotionTracker::OpenPort)), 10);
    EXPECT_EQ(slot(SlotOf(&IMotionTracker::SetFilterSettings)), 12);
    EXPECT_EQ(slot(SlotOf(&IMotionTracker::GetNextSample)), 14);
    EXPECT_EQ(slot(SlotOf(&IMotionTracker::GetFilterSettings)), 16);
    EXPECT_EQ(slot(SlotOf(&IMotionTracker::StartProcess)), 18);
    EXPECT_EQ(slot(SlotOf(&IMotionTracker::StopProcess)), 19);
    EXPECT_EQ(slot(SlotOf(&IMotionTracker::GetDeviceId)), 27);
    EXPECT_EQ(slot(SlotOf(&IMotionTracker::SetSampleRate)), 31);
    EXPECT_EQ(slot(SlotOf(&IMotionTracker::GetSampleRate)), 32);
    EXPECT_EQ(slot(SlotOf(&IMotionTracker::SetBaudRate)), 35);
    EXPECT_EQ(slot(SlotOf(&IMotionTracker::GetBaudRate)), 36);
    EXPECT_EQ(slot(SlotOf(&IMotionTracker::SaveSettings)), 37);
    EXPECT_EQ(slot(SlotOf(&IMotionTracker::GetToken)), 66);
    // The sink's event is its first own operation too.
    EXPECT_EQ(SlotOf(&IMotionTrackerSink::OnDataAvailable), base);
}

class MtObjTest : public ::testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
};

TEST(VesselMotionTest, RepeatableFromItsSeedAndConsistentAcrossModes) {
    const mtobj::VesselMotion a(5), b(5), c(6);
    bool differs = false;
    for (double t = 0; t < 60; t += 1.7) {
        const auto x = a.At(t), y = b.At(t), z = c.At(t);
        EXPECT_EQ(x.heading, y.heading);
        EXPECT_EQ(x.roll, y.roll);
        differs |= x.heading != z.heading;
        EXPECT_GE(x.heading, 0);
        EXPECT_LT(x.heading, 360);
        const auto m = mtobj::VesselMotion::Matrix(x);
        // Orthonormal rows.
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                const double dot =
                    m[3 * i] * m[3 * j] + m[3 * i + 1] * m[3 * j + 1] + m[3 * i + 2] * m[3 * j + 2];
                EXPECT_NEAR(dot, i == j ? 1.0 : 0.0, 1e-6);
            }
        }
        // The quaternion is the same rotation: its third column is (m2, m5, m8).
        const auto q = mtobj::VesselMotion::Quaternion(x);
        EXPECT_NEAR(2 * (q[1] * q[3] + q[0] * q[2]), m[2], 1e-5);
        EXPECT_NEAR(2 * (q[2] * q[3] - q[0] * q[1]), m[5], 1e-5);
        EXPECT_NEAR(1 - 2 * (q[1] * q[1] + q[2] * q[2]), m[8], 1e-5);
    }
    EXPECT_TRUE(differs);
}

TEST_F(MtObjTest, SettingsAcceptedAndRefused) {
    CComPtr<IMotionTracker> t = Create();
    ASSERT_TRUE(t);
    for (std::int16_t rate : {25, 50, 100, 200, 256, 320, 400, 512}) {
        EXPECT_EQ(t->SetSampleRate(rate), S_OK) << rate;
        std::int16_t back = 0;
        t->GetSampleRate(&back);
        EXPECT_EQ(back, rate);
    }
    for (std::int16_t rate : {0, 24, 30, 513, -25}) {
        EXPECT_EQ(t->SetSampleRate(rate), E_INVALIDARG) << rate;
    }
    for (LONG baud : {9600, 19200, 28800, 38400, 57600, 115200}) {
        EXPECT_EQ(t->SetBaudRate(baud), S_OK) << baud;
    }
    EXPECT_EQ(t->SetBaudRate(12345), E_INVALIDARG);
    EXPECT_EQ(t->SetOutputMode(3, 0), E_INVALIDARG);
    EXPECT_EQ(t->SetFilterSettings(0.5F, 3, 0.25F), S_OK);
    EXPECT_EQ(t->SetFilterSettings(0.5F, 3, std::nanf("")), E_INVALIDARG);
    // The Advanced dialog offers 0.1 to 100 for both; the filter takes all of it.
    EXPECT_EQ(t->SetFilterSettings(100.0F, 3, 100.0F), S_OK);
    EXPECT_EQ(t->SetFilterSettings(0.1F, 3, 42.5F), S_OK);
    EXPECT_EQ(t->SetFilterSettings(100.5F, 3, 1.0F), E_INVALIDARG);
    EXPECT_EQ(t->SetFilterSettings(1.0F, 3, 100.5F), E_INVALIDARG);
    EXPECT_EQ(t->SetFilterSettings(0.5F, 3, 0.25F), S_OK);
    float gain = 0, weight = 0;
    std::int16_t parameter = 0;
    t->GetFilterSettings(&gain, &parameter, &weight);
    EXPECT_EQ(gain, 0.5F);
    EXPECT_EQ(parameter, 3);
    EXPECT_EQ(weight, 0.25F);
    // Not open: no id, no sampling.
    BSTR id;
    EXPECT_EQ(t->GetDeviceId(&id), S_OK);
    EXPECT_EQ(id.Length(), 0U);
    EXPECT_EQ(t->StartProcess(), E_FAIL);
    EXPECT_TRUE(FAILED(t->OpenPort(2, 115200)));
    EXPECT_EQ(t->OpenPort(1, 115200), S_OK);
    t->GetDeviceId(&id);
    EXPECT_EQ(id.str(), "00300001");
    EXPECT_EQ(t->Reserved13(), E_NOTIMPL);
    DWORD first = 0, second = 0;
    t->GetToken(&first);
    Create()->GetToken(&second);
    EXPECT_NE(first, second);
}

TEST_F(MtObjTest, RegistryNamesThePortAndTheSeedAndKeepsSavedSettings) {
    CRegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, mtobj::kSettingsKey), ERROR_SUCCESS);
    key.SetString("Port", "COM3");
    key.SetDWORD("Seed", 42);
    {
        CComPtr<IMotionTracker> t = Create();
        EXPECT_TRUE(FAILED(t->OpenPort(1, 115200)));
        ASSERT_EQ(t->OpenPort(3, 57600), S_OK);
        CComPtr<IMotionTrackerSimulation> sim;
        t.QueryInterface(IID_IMotionTrackerSimulation, &sim);
        DWORD seed = 0;
        sim->GetSeed(&seed);
        EXPECT_EQ(seed, 42U);
        t->SetSampleRate(320);
        t->SetFilterSettings(0.75F, 2, 0.5F);
        EXPECT_EQ(t->SaveSettings(CComBSTR("someone else")), E_INVALIDARG);
        EXPECT_EQ(t->SaveSettings(CComBSTR("0030002A")), S_OK);
    }
    CComPtr<IMotionTracker> again = Create();
    std::int16_t rate = 0;
    again->GetSampleRate(&rate);
    EXPECT_EQ(rate, 320);
    float gain = 0, weight = 0;
    std::int16_t parameter = 0;
    again->GetFilterSettings(&gain, &parameter, &weight);
    EXPECT_EQ(gain, 0.75F);
    EXPECT_EQ(parameter, 2);
    EXPECT_EQ(weight, 0.5F);
    key.DeleteValue("Port");
    key.DeleteValue("Seed");
}

TEST(DeviceKindTest, ParsesTheKindsAndRefusesOthers) {
    std::string reason;
    for (const char* text : {"", "simulated"}) {
        const auto kind = mtobj::ParseDeviceKind(text, &reason);
        ASSERT_TRUE(kind.has_value()) << text;
        EXPECT_EQ(kind->Text(), "simulated");
    }
    EXPECT_FALSE(mtobj::ParseDeviceKind("simulated:fast", &reason));
    EXPECT_NE(reason.find("no argument"), std::string::npos);
    EXPECT_FALSE(mtobj::ParseDeviceKind("gyro", &reason));
    EXPECT_NE(reason.find("'gyro'"), std::string::npos);
}

TEST_F(MtObjTest, AnUnknownKindInTheRegistryNeverFallsBackToTheSimulator) {
    CRegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, mtobj::kSettingsKey), ERROR_SUCCESS);
    key.SetString("Kind", "gyro:/dev/nothing");
    {
        CComPtr<IMotionTracker> t = Create();
        EXPECT_TRUE(FAILED(t->OpenPort(1, 115200)));
        EXPECT_TRUE(FAILED(t->StartProcess()));
        CComBSTR id;
        ASSERT_EQ(t->GetDeviceId(&id), S_OK);
        EXPECT_EQ(id.str(), "");
    }
    key.SetString("Kind", "simulated");
    EXPECT_EQ(Create()->OpenPort(1, 115200), S_OK);
    key.DeleteValue("Kind");
}

TEST_F(MtObjTest, DeliversBatchesFromItsOwnThreadInEveryMode) {
    CComPtr<IMotionTracker> t = Create();
    ASSERT_EQ(t->OpenPort(1, 115200), S_OK);
    t->SetSampleRate(512);
    CComPtr<IMotionTrackerSimulation> sim;
    t.QueryInterface(IID_IMotionTrackerSimulation, &sim);
    CComPtr<IConnectionPointContainer> container;
    t.QueryInterface(IID_IConnectionPointContainer, &container);
    CComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(IID_IMotionTrackerSink, &point), S_OK);
    CComPtr<FetchingSink> sink(new FetchingSink(t));
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(static_cast<IMotionTrackerSink*>(sink.get()), &cookie), S_OK);
    for (std::int16_t mode : {0, 1, 2}) {
        SCOPED_TRACE(mode);
        t->SetOutputMode(mode, 0);
        t->SetExtraData(mode == 0 ? 1 : 0);
        {
            std::lock_guard lock(sink->m_mutex);
            sink->arrays.clear();
        }
        ASSERT_EQ(t->StartProcess(), S_OK);
        ASSERT_TRUE(sink->WaitFor(40));
        t->StopProcess();
        std::lock_guard lock(sink->m_mutex);
        EXPECT_NE(sink->thread, std::this_thread::get_id());
        const std::size_t length = mode == 0 ? 4 : mode == 1 ? 3 : 9;
        for (std::size_t i = 0; i < sink->arrays.size(); ++i) {
            // With extra data, every sample is followed by its extra array.
            const std::size_t expected = mode == 0 && i % 2 == 1 ? 9 : length;
            ASSERT_EQ(sink->arrays[i].size(), expected) << i;
        }
    }
    // The newest sample matches the closed-form motion at its time.
    double seconds = -1;
    sim->GetLastSampleSeconds(&seconds);
    ASSERT_GT(seconds, 0);
    const auto truth = mtobj::VesselMotion::Matrix(mtobj::VesselMotion(1).At(seconds));
    {
        std::lock_guard lock(sink->m_mutex);
        const auto& last = sink->arrays.back();
        for (int i = 0; i < 9; ++i) {
            EXPECT_EQ(last[i], truth[i]);
        }
    }
    // Silent: sampling goes on but nothing is announced; then it resumes.
    sim->FallSilent();
    t->StartProcess();
    DWORD arrays = 0, events = 0;
    sim->GetCounts(&arrays, &events);
    sink->arrived.Reset();
    EXPECT_FALSE(sink->arrived.Wait(150));
    DWORD arraysLater = 0, eventsLater = 0;
    sim->GetCounts(&arraysLater, &eventsLater);
    EXPECT_EQ(eventsLater, events);
    sim->Resume();
    EXPECT_TRUE(sink->arrived.Wait(10000));
    t->StopProcess();
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
}

TEST_F(MtObjTest, TestHooksRefuseOrThrowAndRegistrationCanBeRevoked) {
    CComPtr<IMotionTracker> t = Create();
    CComPtr<IMotionTrackerSimulation> sim;
    t.QueryInterface(IID_IMotionTrackerSimulation, &sim);
    sim->RefuseSetting(31, E_ACCESSDENIED);
    EXPECT_EQ(t->SetSampleRate(100), E_ACCESSDENIED);
    sim->RefuseSetting(31, S_OK);
    EXPECT_EQ(t->SetSampleRate(100), S_OK);
    sim->ThrowFrom(35, true);
    EXPECT_ANY_THROW(t->SetBaudRate(9600));
    sim->ThrowFrom(35, false);
    EXPECT_EQ(t->SetBaudRate(9600), S_OK);
    mtobj::UnregisterClass();
    void* none = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_MTObj, nullptr, CLSCTX_ALL, IID_IMotionTracker, &none),
              REGDB_E_CLASSNOTREG);
    mtobj::RegisterClass();
    EXPECT_TRUE(Create());
}

}  // namespace
