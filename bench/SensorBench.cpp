// Sensor acquisition costs: the data path per sample in the module's mode (rotation
// matrix) with two telegram outputs, the buffer's two queries on a full twenty-second
// buffer at 512 Hz, and the process's CPU time with the simulated sensor at 512 Hz.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "BenchEnvironment.h"
#include "app/MotionTrackerSink.h"
#include "app/XsensModule.h"
#include "comlane/SerialDevice.h"
#include "interfaces/ErrorLog.h"
#include "mtobj/MTObj.h"
#include "mtobj/VesselMotion.h"
#include "platform/Sync.h"

namespace {

// A private registry, runtime and state folder, so the benchmark's sensor settings and
// virtual ports are its own; set before anything reads the environment.
const bool g_privateEnvironment = tavimo_bench::PrivateEnvironment("sensor-bench");

struct LinkOnSimulator {
    // With the program's telegram workers ("HDT,TSS1" on COM2, "PRDID" on COM3, virtual
    // ports nobody reads) or with no outputs at all.
    explicit LinkOnSimulator(bool withWorkers) {
        CoInitialize(nullptr);
        link = std::make_unique<CXsensModule>(
            nullptr, 2, withWorkers ? DefaultTelegramOutputFactory() : TelegramOutputFactory{});
        link->Initialise();
        CMotionTrackerSink::CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&sink));
        link->AdviseSink(sink, &cookie);
        link->GetTracker()->QueryInterface(IID_IMotionTrackerSimulation,
                                           reinterpret_cast<void**>(&sim));
        link->OpenSensorPort(1, 460800);
        link->SetFilterSettings(1.0F, 1.0F);
        if (withWorkers) {
            comlane::CPortMap::Entries();  // the shipped port map, before two workers open ports
            link->AddTelegramWorker(6, 2, 115200);
            link->AddTelegramWorker(5, 3, 115200);
        }
    }
    ~LinkOnSimulator() {
        link->UnadviseSink(cookie);
        sim.Release();
        link.reset();
        CoUninitialize();
    }
    std::unique_ptr<CXsensModule> link;
    CComPtr<IUnknown> sink;
    DWORD cookie = 0;
    CComPtr<IMotionTrackerSimulation> sim;
};

// One data event with a batch of samples (8 is a batch at 512 Hz), an output step each.
void BM_OnDataAvailableMode2TwoWorkers(benchmark::State& state) {
    LinkOnSimulator rig(true);
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

// The simulated sensor at 512 Hz through the sensor link with "Max Output" and no telegram
// outputs: CPU time of the whole process per second of running for acquisition alone.
void BM_LiveAcquisitionCpu(benchmark::State& state) {
    LinkOnSimulator rig(false);
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

namespace {

// Stamps each data event as the sensor fires it (advised before the sensor link's sink,
// so it runs first) with the HDT heading text its newest sample will give.
class TimingSink final : public CDispatchBase<IMotionTrackerSink> {
    TAVIMO_COM_REFCOUNT()
public:
    explicit TimingSink(IMotionTrackerSimulation* sim) : m_sim(sim) {
        DWORD seed = 1;
        sim->GetSeed(&seed);
        m_motion = std::make_unique<mtobj::VesselMotion>(seed);
    }
    HRESULT QueryInterface(REFIID iid, void** object) override {
        return Query(iid, IID_IMotionTrackerSink, object);
    }
    HRESULT OnDataAvailable() override {
        const auto now = std::chrono::steady_clock::now();
        double seconds = -1;
        m_sim->GetLastSampleSeconds(&seconds);
        const auto m = mtobj::VesselMotion::Matrix(m_motion->At(seconds));
        float pitch, roll, heading;
        CXsensModule::AnglesFromMatrix(m.data(), pitch, roll, heading);
        char text[16];
        std::snprintf(text, sizeof text, "%07.3f", heading);
        std::lock_guard lock(m_mutex);
        m_sent[text] = now;
        return S_OK;
    }
    bool Find(const std::string& text, std::chrono::steady_clock::time_point& when) {
        std::lock_guard lock(m_mutex);
        const auto it = m_sent.find(text);
        if (it == m_sent.end()) {
            return false;
        }
        when = it->second;
        return true;
    }

private:
    IMotionTrackerSimulation* m_sim;
    std::unique_ptr<mtobj::VesselMotion> m_motion;
    std::mutex m_mutex;
    std::map<std::string, std::chrono::steady_clock::time_point> m_sent;
};

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// The simulated sensor at 512 Hz, "Max Output", two telegram outputs ("HDT,TSS1" on COM2,
// "PRDID" on COM3) on virtual ports read by a client: from the sensor's data event to the
// last byte of each HDT read on COM2; and the process's CPU time (the reading client's own
// CPU taken out) per second of running.
void BM_EndToEnd512Hz(benchmark::State& state) {
    CoInitialize(nullptr);
    auto link = std::make_unique<CXsensModule>();
    if (!link->Initialise()) {
        state.SkipWithError("no sensor");
        return;
    }
    CComPtr<IMotionTrackerSimulation> sim;
    link->GetTracker()->QueryInterface(IID_IMotionTrackerSimulation,
                                       reinterpret_cast<void**>(&sim));
    CComPtr<IConnectionPointContainer> container;
    link->GetTracker()->QueryInterface(IID_IConnectionPointContainer,
                                       reinterpret_cast<void**>(&container));
    CComPtr<IConnectionPoint> point;
    container->FindConnectionPoint(IID_IMotionTrackerSink, &point);
    CComPtr<TimingSink> timing(new TimingSink(sim));
    DWORD timingCookie = 0, cookie = 0;
    point->Advise(static_cast<IMotionTrackerSink*>(timing.get()), &timingCookie);
    CComPtr<IUnknown> sink;
    CMotionTrackerSink::CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&sink));
    link->AdviseSink(sink, &cookie);
    link->OpenSensorPort(1, 460800);
    link->SetFilterSettings(1.0F, 1.0F);
    link->SetSampleRate(512);
    link->SetOutputInterval(0);
    // The port map's shipped defaults are written on first use; two workers opening their
    // ports at once could otherwise find the map's key before its entries.
    comlane::CPortMap::Entries();
    link->AddTelegramWorker(6, 2, 115200);
    link->AddTelegramWorker(5, 3, 115200);
    int com2 = -1, com3 = -1;
    CEvent wait;
    for (int i = 0; i < 500 && (com2 < 0 || com3 < 0); ++i) {
        if (com2 < 0) {
            com2 =
                ::open(comlane::CPortMap::LinkPath("COM2").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        }
        if (com3 < 0) {
            com3 =
                ::open(comlane::CPortMap::LinkPath("COM3").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        }
        if (com2 < 0 || com3 < 0) {
            wait.Wait(10);
        }
    }
    if (com2 < 0 || com3 < 0) {
        state.SkipWithError("virtual ports not there");
        return;
    }
    std::vector<double> latenciesUs;
    std::atomic<bool> reading{true};
    double readerCpu = 0;
    std::thread reader([&] {
        const double cpu0 = ThreadCpuSeconds();
        std::string pending;
        char buffer[1024];
        while (reading.load()) {
            pollfd p[2] = {{com2, POLLIN, 0}, {com3, POLLIN, 0}};
            if (::poll(p, 2, 100) <= 0) {
                continue;
            }
            if ((p[1].revents & POLLIN) != 0) {
                while (::read(com3, buffer, sizeof buffer) > 0) {
                }
            }
            if ((p[0].revents & POLLIN) == 0) {
                continue;
            }
            const auto now = std::chrono::steady_clock::now();
            ssize_t n;
            while ((n = ::read(com2, buffer, sizeof buffer)) > 0) {
                pending.append(buffer, static_cast<std::size_t>(n));
            }
            for (std::size_t end; (end = pending.find("\r\n")) != std::string::npos;) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 2);
                if (line.rfind("$HCHDT,", 0) == 0 && line.size() > 14) {
                    std::chrono::steady_clock::time_point sent;
                    if (timing->Find(line.substr(7, 7), sent)) {
                        latenciesUs.push_back(
                            std::chrono::duration<double, std::micro>(now - sent).count());
                    }
                }
            }
        }
        readerCpu = ThreadCpuSeconds() - cpu0;
    });
    for (auto _ : state) {
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        const auto start = std::chrono::steady_clock::now();
        link->StartSensor();
        wait.Wait(5000);  // the run being measured
        link->StopSensor();
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        getrusage(RUSAGE_SELF, &after);
        reading = false;
        reader.join();
        auto seconds = [](const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
        const double cpu = seconds(after.ru_utime) - seconds(before.ru_utime) +
                           seconds(after.ru_stime) - seconds(before.ru_stime) - readerCpu;
        std::sort(latenciesUs.begin(), latenciesUs.end());
        auto at = [&](double q) {
            return latenciesUs.empty()
                       ? 0.0
                       : latenciesUs[static_cast<std::size_t>(q * (latenciesUs.size() - 1))];
        };
        DWORD arrays = 0, events = 0;
        sim->GetCounts(&arrays, &events);
        state.counters["latency_median_us"] = at(0.5);
        state.counters["latency_p99_us"] = at(0.99);
        state.counters["hdt_matched"] = static_cast<double>(latenciesUs.size());
        state.counters["cpu_percent_of_core"] = 100.0 * cpu / wall;
        state.counters["samples_per_s"] = arrays / wall;
        state.counters["events_per_s"] = events / wall;
    }
    ::close(com2);
    ::close(com3);
    point->Unadvise(timingCookie);
    link->UnadviseSink(cookie);
    sim.Release();
    point.Release();
    container.Release();
    link.reset();
    CoUninitialize();
}
BENCHMARK(BM_EndToEnd512Hz)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
