// Sensor acquisition costs: the data path per sample in the module's mode (rotation
// matrix) with two telegram outputs, the buffer's two queries on a full twenty-second
// buffer at 512 Hz, and the process's CPU time with the simulated sensor at 512 Hz.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <random>

#include "app/MotionTrackerSink.h"
#include "app/XsensModule.h"
#include "interfaces/ErrorLog.h"
#include "mtobj/MTObj.h"
#include "mtobj/VesselMotion.h"
#include "platform/Sync.h"

namespace {

// Stands in for a telegram worker's hand-over: store the attitude under its lock and
// signal its event, as the worker's SetAttitude does.
class HandOverOutput : public ITelegramOutput {
public:
    bool Start() override { return true; }
    void Stop() override {}
    void SetAttitude(double time, float roll, float pitch, float heading,
                     float variation) override {
        CSingleLock lock(m_lock);
        m_time = time;
        m_values[0] = roll, m_values[1] = pitch, m_values[2] = heading, m_values[3] = variation;
        m_event.Set();
    }
    void SetPort(short, unsigned) override {}
    void SetTelegramType(int) override {}

private:
    CCriticalSection m_lock;
    CEvent m_event;
    double m_time = 0;
    float m_values[4] = {};
};

struct LinkOnSimulator {
    LinkOnSimulator() {
        CoInitialize(nullptr);
        CXsensModule::SetTelegramOutputFactory(
            {[](int, short, unsigned) { return std::make_unique<HandOverOutput>(); }, nullptr});
        link = std::make_unique<CXsensModule>();
        link->Initialise();
        CMotionTrackerSink::CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&sink));
        link->AdviseSink(sink, &cookie);
        link->GetTracker()->QueryInterface(IID_IMotionTrackerSimulation,
                                           reinterpret_cast<void**>(&sim));
        link->OpenSensorPort(1, 460800);
        link->SetFilterSettings(1.0F, 1.0F);
        link->AddTelegramWorker(2, 2, 115200);
        link->AddTelegramWorker(6, 3, 115200);
    }
    ~LinkOnSimulator() {
        link->UnadviseSink(cookie);
        sim.Release();
        link.reset();
        CXsensModule::SetTelegramOutputFactory({});
        CoUninitialize();
    }
    std::unique_ptr<CXsensModule> link;
    CComPtr<IUnknown> sink;
    DWORD cookie = 0;
    CComPtr<IMotionTrackerSimulation> sim;
};

// One data event with a batch of samples (8 is a batch at 512 Hz), an output step each.
void BM_OnDataAvailableMode2TwoWorkers(benchmark::State& state) {
    LinkOnSimulator rig;
    const int batch = static_cast<int>(state.range(0));
    const mtobj::VesselMotion motion(1);
    std::vector<VARIANT> samples;
    for (int i = 0; i < batch; ++i) {
        const auto m = mtobj::VesselMotion::Matrix(motion.At(i / 512.0));
        samples.emplace_back(std::vector<float>(m.begin(), m.end()));
    }
    for (auto _ : state) {
        rig.sim->InjectBatch(samples);
    }
    state.counters["per_sample"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * batch,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_OnDataAvailableMode2TwoWorkers)->Arg(1)->Arg(8)->Unit(benchmark::kMicrosecond);

// A full buffer: twenty seconds at 512 Hz, one sample every 1000/512 ms.
struct FullBuffer {
    FullBuffer() : buffer(log) {
        const double period = 1000.0 / 512;
        buffer.SetCapacity(static_cast<std::uint32_t>(20000.0 / period));
        const mtobj::VesselMotion motion(3);
        for (std::uint32_t i = 0; i < buffer.Capacity(); ++i) {
            const auto q = mtobj::VesselMotion::Quaternion(motion.At(i * period / 1000));
            buffer.AppendSample({q[0], q[1], q[2], q[3]}, i * period);
            newest = i * period;
        }
    }
    CErrorLog log;
    CSampleBuffer buffer;
    double newest = 0;
};

// Query times: 0 = now (just after the newest sample, as the output step asks),
// 1 = anywhere in the twenty seconds.
std::vector<double> QueryTimes(const FullBuffer& full, int where) {
    std::vector<double> times(1024);
    std::mt19937 random(7);
    std::uniform_real_distribution<double> anywhere(0.0, full.newest);
    for (double& t : times) {
        t = where == 0 ? full.newest + 3.7 : anywhere(random);
    }
    return times;
}

void BM_GetInterpolated(benchmark::State& state) {
    FullBuffer full;
    const auto times = QueryTimes(full, static_cast<int>(state.range(0)));
    Quaternion q;
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(full.buffer.GetInterpolated(q, times[i++ & 1023], 0.0));
    }
    state.SetLabel(state.range(0) == 0 ? "t = now" : "t anywhere in 20 s");
}
BENCHMARK(BM_GetInterpolated)->Arg(0)->Arg(1);

void BM_GetInWindow(benchmark::State& state) {
    FullBuffer full;
    const auto times = QueryTimes(full, static_cast<int>(state.range(0)));
    const double window = static_cast<double>(state.range(1));
    Quaternion q;
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(full.buffer.GetInWindow(q, times[i++ & 1023], window));
    }
    state.SetLabel((state.range(0) == 0 ? "t = now, window " : "t anywhere in 20 s, window ") +
                   std::to_string(state.range(1)) + " ms");
}
BENCHMARK(BM_GetInWindow)->Args({0, 100})->Args({0, 1000})->Args({1, 100});

// The simulated sensor at 512 Hz through the sensor link with "Max Output": CPU time of
// the whole process per second of running.
void BM_LiveAcquisitionCpu(benchmark::State& state) {
    LinkOnSimulator rig;
    rig.link->SetSampleRate(512);
    for (auto _ : state) {
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        const auto start = std::chrono::steady_clock::now();
        rig.link->StartSensor();
        CEvent never;
        never.Wait(3000);  // the run being measured
        rig.link->StopSensor();
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        getrusage(RUSAGE_SELF, &after);
        auto seconds = [](const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
        const double cpu = seconds(after.ru_utime) - seconds(before.ru_utime) +
                           seconds(after.ru_stime) - seconds(before.ru_stime);
        DWORD arrays = 0, events = 0;
        rig.sim->GetCounts(&arrays, &events);
        state.counters["cpu_percent_of_core"] = 100.0 * cpu / wall;
        state.counters["samples_per_s"] = arrays / wall;
        state.counters["events_per_s"] = events / wall;
    }
}
BENCHMARK(BM_LiveAcquisitionCpu)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
