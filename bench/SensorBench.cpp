// Sensor acquisition costs: the data path per sample in the module's mode (rotation
// matrix) with two telegram outputs, the buffer's two queries on a full twenty-second
// buffer at 512 Hz, the process's CPU time with the simulated sensor at 512 Hz, and the
// timing of the whole path: the sample's age when its telegram's last byte is readable,
// idle and loaded, with and without real-time scheduling, beside gpsd relaying HDT.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "BenchEnvironment.h"
#include "app/MotionTrackerSink.h"
#include "app/Telegrams.h"
#include "app/XsensModule.h"
#include "comlane/SerialDevice.h"
#include "interfaces/ErrorLog.h"
#include "mtobj/MTObj.h"
#include "mtobj/VesselMotion.h"
#include "platform/Paths.h"
#include "platform/Scheduling.h"
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

using SteadyClock = std::chrono::steady_clock;

double SteadySeconds(SteadyClock::time_point t) {
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

// The HDT and TSS1 lines the module sends for one sample (rotation-matrix mode, no magnetic
// variation, latest sample), without their line ends: the key that ties a telegram pair
// read at the far end to the sample it carries.
std::string PairKey(const mtobj::Attitude& attitude) {
    const auto m = mtobj::VesselMotion::Matrix(attitude);
    float pitch, roll, heading;
    CXsensModule::AnglesFromMatrix(m.data(), pitch, roll, heading);
    char hdt[telegrams::kMaxTelegramLength];
    char tss[telegrams::kMaxTelegramLength];
    const std::size_t h = telegrams::FormatHDT(hdt, heading);
    const std::size_t t = telegrams::FormatTSS1(tss, roll, pitch);
    return std::string(hdt, h - 2) + "|" + std::string(tss, t - 2);
}

// Stamps each data event as the sensor fires it (advised before the sensor link's sink, so
// it runs first) with the telegram pair its newest sample will give, the event's time and
// the sample's true time (when the simulated sensor took it).
class TimingSink final : public CDispatchBase<IMotionTrackerSink> {
    TAVIMO_COM_REFCOUNT()
public:
    struct Stamp {
        SteadyClock::time_point event;
        double sampleSeconds = 0;  // steady clock
        bool ambiguous = false;    // another recent sample gave the same telegrams
    };
    explicit TimingSink(IMotionTrackerSimulation* sim) : m_sim(sim) {
        DWORD seed = 1;
        sim->GetSeed(&seed);
        m_motion = std::make_unique<mtobj::VesselMotion>(seed);
    }
    HRESULT QueryInterface(REFIID iid, void** object) override {
        return Query(iid, IID_IMotionTrackerSink, object);
    }
    HRESULT OnDataAvailable() override {
        const auto now = SteadyClock::now();
        double seconds = -1, steady = -1;
        m_sim->GetLastSampleSeconds(&seconds);
        m_sim->GetLastSampleSteadySeconds(&steady);
        const std::string key = PairKey(m_motion->At(seconds));
        std::lock_guard lock(m_mutex);
        auto [it, fresh] = m_stamps.try_emplace(key);
        it->second.ambiguous = !fresh && now - it->second.event < std::chrono::seconds(5);
        it->second.event = now;
        it->second.sampleSeconds = steady;
        return S_OK;
    }
    bool Find(const std::string& key, Stamp& stamp) {
        std::lock_guard lock(m_mutex);
        const auto it = m_stamps.find(key);
        if (it == m_stamps.end()) {
            return false;
        }
        stamp = it->second;
        return true;
    }

private:
    IMotionTrackerSimulation* m_sim;
    std::unique_ptr<mtobj::VesselMotion> m_motion;
    std::mutex m_mutex;
    std::map<std::string, Stamp> m_stamps;
};

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// The consumer at the far end of a port: above the module's real-time threads where the
// system allows, so that its read time is when the bytes became readable, not when a busy
// machine got round to it.
bool MakeConsumerRealTime() {
    sched_param parameter{};
    parameter.sched_priority = platform::kTimeCriticalPriority + 5;
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameter) == 0;
}

struct Percentiles {
    double median = 0, p99 = 0, max = 0;
    std::size_t count = 0;
};
Percentiles Summarise(std::vector<double> values) {
    Percentiles p;
    p.count = values.size();
    if (values.empty()) {
        return p;
    }
    std::sort(values.begin(), values.end());
    p.median = values[(values.size() - 1) / 2];
    p.p99 = values[static_cast<std::size_t>(0.99 * static_cast<double>(values.size() - 1))];
    p.max = values.back();
    return p;
}

// Two processes that keep both cores busy (plain loops at normal priority), for as long as
// the object lives.
class BusyLoad {
public:
    explicit BusyLoad(bool on) {
        for (int i = 0; on && i < 2; ++i) {
            const pid_t child = fork();
            if (child == 0) {
                volatile unsigned long spin = 0;
                for (;;) {
                    spin = spin + 1;
                }
            }
            if (child > 0) {
                m_children.push_back(child);
            }
        }
    }
    ~BusyLoad() {
        for (const pid_t child : m_children) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
    }
    BusyLoad(const BusyLoad&) = delete;
    BusyLoad& operator=(const BusyLoad&) = delete;

private:
    std::vector<pid_t> m_children;
};

// The sensor link on the simulated sensor (each sample at its due time) with "HDT,TSS1" on
// COM2 and, when asked, "PRDID" on COM3, at 115200 baud and "Max Output"; a consumer reads
// COM2 and ties each telegram pair to its sample.
struct WireMeasurement {
    std::vector<double> ageUs;            // read time of each telegram's last byte - sample time
    std::vector<double> eventToLastByte;  // sensor event to the pair's last byte (TSS1), us
    std::size_t ambiguous = 0;
    bool consumerRealTime = false;
    double cpuPercent = 0;  // the process, the consumer's own CPU taken out
    double samplesPerSecond = 0, eventsPerSecond = 0;
    std::string error;
};

WireMeasurement MeasureWire(std::int16_t rate, bool secondOutput, double seconds) {
    WireMeasurement result;
    CoInitialize(nullptr);
    auto link = std::make_unique<CXsensModule>();
    if (!link->Initialise()) {
        result.error = "no sensor";
        return result;
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
    link->SetSampleRate(rate);
    link->SetOutputInterval(0);
    // The port map's shipped defaults are written on first use; two workers opening their
    // ports at once could otherwise find the map's key before its entries.
    comlane::CPortMap::Entries();
    link->AddTelegramWorker(TELEGRAM_HDT_TSS1, 2, 115200);
    if (secondOutput) {
        link->AddTelegramWorker(TELEGRAM_PRDID, 3, 115200);
    }
    int com2 = -1, com3 = -1;
    CEvent wait;
    for (int i = 0; i < 500 && (com2 < 0 || (secondOutput && com3 < 0)); ++i) {
        if (com2 < 0) {
            com2 =
                ::open(comlane::CPortMap::LinkPath("COM2").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        }
        if (secondOutput && com3 < 0) {
            com3 =
                ::open(comlane::CPortMap::LinkPath("COM3").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        }
        wait.Wait(10);
    }
    std::atomic<bool> reading{true};
    double readerCpu = 0;
    std::thread reader([&] {
        result.consumerRealTime = MakeConsumerRealTime();
        const double cpu0 = ThreadCpuSeconds();
        std::string pending;
        std::string hdtLine;
        SteadyClock::time_point hdtRead;
        char buffer[1024];
        while (reading.load() && com2 >= 0) {
            pollfd p[2] = {{com2, POLLIN, 0}, {com3, POLLIN, 0}};
            if (::poll(p, com3 >= 0 ? 2 : 1, 100) <= 0) {
                continue;
            }
            if (com3 >= 0 && (p[1].revents & POLLIN) != 0) {
                while (::read(com3, buffer, sizeof buffer) > 0) {
                }
            }
            if ((p[0].revents & POLLIN) == 0) {
                continue;
            }
            const auto now = SteadyClock::now();
            ssize_t n;
            while ((n = ::read(com2, buffer, sizeof buffer)) > 0) {
                pending.append(buffer, static_cast<std::size_t>(n));
            }
            for (std::size_t end; (end = pending.find("\r\n")) != std::string::npos;) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 2);
                if (line.rfind("$HCHDT,", 0) == 0) {
                    hdtLine = line;
                    hdtRead = now;
                    continue;
                }
                TimingSink::Stamp stamp;
                if (hdtLine.empty() || !timing->Find(hdtLine + "|" + line, stamp)) {
                    continue;
                }
                hdtLine.clear();
                if (stamp.ambiguous) {
                    ++result.ambiguous;
                    continue;
                }
                result.ageUs.push_back((SteadySeconds(hdtRead) - stamp.sampleSeconds) * 1e6);
                result.ageUs.push_back((SteadySeconds(now) - stamp.sampleSeconds) * 1e6);
                result.eventToLastByte.push_back(
                    std::chrono::duration<double, std::micro>(now - stamp.event).count());
            }
        }
        readerCpu = ThreadCpuSeconds() - cpu0;
    });
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = SteadyClock::now();
    link->StartSensor();
    wait.Wait(static_cast<DWORD>(seconds * 1000));  // the run being measured
    link->StopSensor();
    const double wall = std::chrono::duration<double>(SteadyClock::now() - start).count();
    getrusage(RUSAGE_SELF, &after);
    reading = false;
    reader.join();
    auto cpuOf = [](const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
    const double cpu = cpuOf(after.ru_utime) - cpuOf(before.ru_utime) + cpuOf(after.ru_stime) -
                       cpuOf(before.ru_stime) - readerCpu;
    DWORD arrays = 0, events = 0;
    sim->GetCounts(&arrays, &events);
    result.cpuPercent = 100.0 * cpu / wall;
    result.samplesPerSecond = arrays / wall;
    result.eventsPerSecond = events / wall;
    if (com2 < 0 || (secondOutput && com3 < 0)) {
        result.error = "virtual ports not there";
    }
    for (const int fd : {com2, com3}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    point->Unadvise(timingCookie);
    link->UnadviseSink(cookie);
    sim.Release();
    point.Release();
    container.Release();
    link.reset();
    CoUninitialize();
    return result;
}

// The simulated sensor at 512 Hz, "Max Output", two telegram outputs ("HDT,TSS1" on COM2,
// "PRDID" on COM3) on virtual ports read by a client: from the sensor's data event to the
// last byte of each telegram pair read on COM2; and the process's CPU time (the reading
// client's own CPU taken out) per second of running.
void BM_EndToEnd512Hz(benchmark::State& state) {
    for (auto _ : state) {
        const WireMeasurement m = MeasureWire(512, true, 5.0);
        if (!m.error.empty()) {
            state.SkipWithError(m.error.c_str());
            return;
        }
        const Percentiles latency = Summarise(m.eventToLastByte);
        state.counters["latency_median_us"] = latency.median;
        state.counters["latency_p99_us"] = latency.p99;
        state.counters["pairs_matched"] = static_cast<double>(latency.count);
        state.counters["cpu_percent_of_core"] = m.cpuPercent;
        state.counters["samples_per_s"] = m.samplesPerSecond;
        state.counters["events_per_s"] = m.eventsPerSecond;
    }
}
BENCHMARK(BM_EndToEnd512Hz)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The age of the attitude a telegram carries when its last byte is readable at the far end:
// the consumer's read time minus the time the sensor took the sample (the simulator's own
// clock). "HDT,TSS1" on COM2 at 115200 baud, Max Output; arguments: sample rate, load (two
// busy processes), real-time scheduling of the module's threads (where the system grants
// it). Also the sensor event to the pair's last byte.
void BM_AgeAtTheWire(benchmark::State& state) {
    const auto rate = static_cast<std::int16_t>(state.range(0));
    const bool loaded = state.range(1) != 0;
    const bool realTime = state.range(2) != 0;
    for (auto _ : state) {
        platform::SetRealTimeWanted(realTime);
        WireMeasurement m;
        {
            BusyLoad load(loaded);
            m = MeasureWire(rate, false, rate >= 512 ? 6.0 : 10.0);
        }
        const bool granted =
            platform::CurrentSchedulingMode() == platform::ESchedulingMode::RealTime;
        platform::SetRealTimeWanted(false);
        if (!m.error.empty()) {
            state.SkipWithError(m.error.c_str());
            return;
        }
        const Percentiles age = Summarise(m.ageUs);
        const Percentiles event = Summarise(m.eventToLastByte);
        const double periodUs = 1e6 / rate;
        // What the line itself takes at 115200 baud (10 bits a character): the budget's part
        // that a virtual port, which has no line speed, does not spend.
        const double pairLineUs = 48 * 10 * 1e6 / 115200;
        state.counters["age_median_us"] = age.median;
        state.counters["age_p99_us"] = age.p99;
        state.counters["age_max_us"] = age.max;
        state.counters["event_to_last_byte_median_us"] = event.median;
        state.counters["event_to_last_byte_p99_us"] = event.p99;
        state.counters["event_to_last_byte_max_us"] = event.max;
        state.counters["telegrams"] = static_cast<double>(age.count);
        state.counters["ambiguous_pairs"] = static_cast<double>(m.ambiguous);
        state.counters["realtime_granted"] = realTime && granted ? 1 : 0;
        state.counters["consumer_realtime"] = m.consumerRealTime ? 1 : 0;
        std::printf(
            "age at the wire, %d Hz, %s, %s: age median %.0f us, p99 %.0f us, max %.0f us "
            "(%zu telegrams; budget at p99: period %.0f + 500 us = %.0f us on a pty, + %.0f us "
            "line time on a 115200 line); event to last byte median %.0f us, p99 %.0f us, "
            "max %.0f us\n",
            rate, loaded ? "two busy processes" : "idle",
            realTime ? (granted ? "real-time" : "real-time REFUSED (normal)") : "normal scheduling",
            age.median, age.p99, age.max, age.count, periodUs, periodUs + 500, pairLineUs,
            event.median, event.p99, event.max);
        std::fflush(stdout);
    }
}
BENCHMARK(BM_AgeAtTheWire)
    ->ArgNames({"rate", "loaded", "realtime"})
    ->ArgsProduct({{512, 100}, {0, 1}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The floor the kernel sets under every figure above: a telegram pair's 48 bytes written
// to a pseudo-terminal by a real-time thread (as the module's worker writes, one sample
// period apart) until readable by the real-time consumer on the far side. The pty hands the
// bytes over in a kernel worker at normal priority, which a busy machine makes wait; a
// serial line's transmit path has no such hand-over on the sending computer.
void BM_PseudoTerminalFloor(benchmark::State& state) {
    const bool loaded = state.range(0) != 0;
    for (auto _ : state) {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
            state.SkipWithError("no pseudo-terminal");
            return;
        }
        const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios raw{};
        ::tcgetattr(slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
        constexpr int kPairs = 3000;
        constexpr std::size_t kPairBytes = 48;
        std::atomic<double> writtenAt{0};
        std::atomic<bool> reading{true};
        std::vector<double> latencies;
        bool granted = false;
        {
            BusyLoad load(loaded);
            std::thread reader([&] {
                MakeConsumerRealTime();
                char buffer[512];
                std::size_t got = 0;
                while (reading.load()) {
                    pollfd p{slave, POLLIN, 0};
                    if (::poll(&p, 1, 100) != 1) {
                        continue;
                    }
                    const double now = SteadySeconds(SteadyClock::now());
                    const ssize_t n = ::read(slave, buffer, sizeof buffer);
                    got += n > 0 ? static_cast<std::size_t>(n) : 0;
                    if (got >= kPairBytes) {
                        got -= kPairBytes;
                        latencies.push_back((now - writtenAt.load()) * 1e6);
                    }
                }
            });
            std::thread writer([&] {
                sched_param priority{};
                priority.sched_priority = platform::kTimeCriticalPriority;
                granted = pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority) == 0;
                const char pair[kPairBytes] = {};
                const auto start = SteadyClock::now();
                for (int i = 0; i < kPairs; ++i) {
                    std::this_thread::sleep_until(start +
                                                  std::chrono::microseconds(1953) * (i + 1));
                    writtenAt = SteadySeconds(SteadyClock::now());
                    // HDT then TSS1: two writes, as the worker sends them.
                    [[maybe_unused]] const ssize_t a = ::write(master, pair, 21);
                    [[maybe_unused]] const ssize_t b = ::write(master, pair + 21, kPairBytes - 21);
                }
            });
            writer.join();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            reading = false;
            reader.join();
        }
        ::close(slave);
        ::close(master);
        const Percentiles floor = Summarise(latencies);
        state.counters["median_us"] = floor.median;
        state.counters["p99_us"] = floor.p99;
        state.counters["max_us"] = floor.max;
        state.counters["pairs"] = static_cast<double>(floor.count);
        state.counters["writer_realtime"] = granted ? 1 : 0;
        std::printf(
            "pseudo-terminal alone, %s: written to readable median %.0f us, p99 %.0f us, max "
            "%.0f us (%zu pairs; writer %s)\n",
            loaded ? "two busy processes" : "idle", floor.median, floor.p99, floor.max, floor.count,
            granted ? "real-time" : "normal");
        std::fflush(stdout);
    }
}
BENCHMARK(BM_PseudoTerminalFloor)
    ->ArgNames({"loaded"})
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The peer to beat: gpsd relaying HDT from a pseudo-terminal to a TCP client on loopback.
// A writer stands in for the sensor (each sentence written at its due time, real-time where
// granted, as the simulated sensor's thread); the age is the client's read time minus the
// sentence's due time. gpsd runs as shipped (normal scheduling). Arguments: rate, load.
std::string FindGpsd() {
    for (const char* path : {"/usr/sbin/gpsd", "/usr/bin/gpsd"}) {
        if (::access(path, X_OK) == 0) {
            return path;
        }
    }
    return {};
}

std::string NmeaSentence(const std::string& body) {
    unsigned checksum = 0;
    for (const char c : body) {
        checksum ^= static_cast<unsigned char>(c);
    }
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", checksum);
    return "$" + body + tail;
}

void BM_GpsdRelayHdt(benchmark::State& state) {
    const int rate = static_cast<int>(state.range(0));
    const bool loaded = state.range(1) != 0;
    const std::string gpsd = FindGpsd();
    if (gpsd.empty()) {
        state.SkipWithError("gpsd is not installed (scripts/install-deps.sh installs it)");
        return;
    }
    for (auto _ : state) {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
            state.SkipWithError("no pseudo-terminal");
            return;
        }
        const std::string slave = ::ptsname(master);
        ::chmod(slave.c_str(), 0666);  // gpsd, started as root, reads it as its own user
        const int port = 20000 + static_cast<int>(::getpid() % 20000);
        const std::string portText = std::to_string(port);
        const std::string socketPath = platform::RuntimeFolder() + "/gpsd-" + portText + ".sock";
        const pid_t daemon = fork();
        if (daemon == 0) {
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 1);
            ::dup2(null, 2);
            // Foreground, polling the device at once, read-only, on a private port and socket.
            ::execl(gpsd.c_str(), "gpsd", "-N", "-n", "-b", "-S", portText.c_str(), "-F",
                    socketPath.c_str(), slave.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        // The client: connects (gpsd needs a moment to listen) and asks for NMEA as received.
        int client = -1;
        for (int attempt = 0; attempt < 100 && client < 0; ++attempt) {
            client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<std::uint16_t>(port));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                ::close(client);
                client = -1;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
        if (client < 0) {
            kill(daemon, SIGTERM);
            waitpid(daemon, nullptr, 0);
            ::close(master);
            state.SkipWithError("gpsd did not listen");
            return;
        }
        const std::string watch = "?WATCH={\"enable\":true,\"nmea\":true};";
        [[maybe_unused]] const ssize_t asked = ::write(client, watch.data(), watch.size());
        // Headings step by 0.1° through 3600 values: a sentence names its index.
        const int count = static_cast<int>((rate >= 512 ? 6.0 : 10.0) * rate);
        std::vector<double> dueSeconds(static_cast<std::size_t>(count), 0.0);
        std::vector<double> ages;
        std::atomic<bool> reading{true};
        std::atomic<int> written{0};
        bool consumerRealTime = false;
        std::thread reader([&] {
            consumerRealTime = MakeConsumerRealTime();
            std::string pending;
            char buffer[4096];
            while (reading.load()) {
                pollfd p{client, POLLIN, 0};
                if (::poll(&p, 1, 100) != 1) {
                    continue;
                }
                const double now = SteadySeconds(SteadyClock::now());
                const ssize_t n = ::read(client, buffer, sizeof buffer);
                if (n <= 0) {
                    break;
                }
                pending.append(buffer, static_cast<std::size_t>(n));
                for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
                    const std::string line = pending.substr(0, end);
                    pending.erase(0, end + 1);
                    if (line.rfind("$HCHDT,", 0) != 0) {
                        continue;
                    }
                    const int tenths =
                        static_cast<int>(std::lround(std::strtod(line.c_str() + 7, nullptr) * 10));
                    // The newest sentence written with that heading.
                    const int done = written.load();
                    for (int i = done - 1; i >= 0 && i >= done - 3600; --i) {
                        if (i % 3600 == tenths) {
                            ages.push_back((now - dueSeconds[static_cast<std::size_t>(i)]) * 1e6);
                            break;
                        }
                    }
                }
            }
        });
        double writerLateUs = 0;
        {
            BusyLoad load(loaded);
            // gpsd settles on the device with the first sentences: a second of warm-up.
            std::this_thread::sleep_for(std::chrono::seconds(1));
            sched_param writerPriority{};
            writerPriority.sched_priority = platform::kTimeCriticalPriority;
            std::thread writer([&] {
                pthread_setschedparam(pthread_self(), SCHED_FIFO, &writerPriority);
                const auto start = SteadyClock::now();
                const auto period = std::chrono::nanoseconds(1000000000L / rate);
                for (int i = 0; i < count; ++i) {
                    const auto due = start + period * (i + 1);
                    std::this_thread::sleep_until(due);
                    char body[32];
                    std::snprintf(body, sizeof body, "HCHDT,%.1f,T", (i % 3600) / 10.0);
                    const std::string sentence = NmeaSentence(body);
                    dueSeconds[static_cast<std::size_t>(i)] = SteadySeconds(due);
                    written.store(i + 1);
                    writerLateUs +=
                        std::chrono::duration<double, std::micro>(SteadyClock::now() - due).count();
                    [[maybe_unused]] const ssize_t w =
                        ::write(master, sentence.data(), sentence.size());
                }
            });
            writer.join();
            std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the last ones
        }
        reading = false;
        reader.join();
        ::close(client);
        kill(daemon, SIGTERM);
        waitpid(daemon, nullptr, 0);
        ::close(master);
        ::unlink(socketPath.c_str());
        const Percentiles age = Summarise(ages);
        state.counters["age_median_us"] = age.median;
        state.counters["age_p99_us"] = age.p99;
        state.counters["age_max_us"] = age.max;
        state.counters["relayed"] = static_cast<double>(age.count);
        state.counters["written"] = count;
        state.counters["consumer_realtime"] = consumerRealTime ? 1 : 0;
        std::printf(
            "gpsd relaying HDT, %d Hz, %s: age median %.0f us, p99 %.0f us, max %.0f us (%zu of "
            "%d relayed; writer late %.0f us on average)\n",
            rate, loaded ? "two busy processes" : "idle", age.median, age.p99, age.max, age.count,
            count, writerLateUs / count);
        std::fflush(stdout);
    }
}
BENCHMARK(BM_GpsdRelayHdt)
    ->ArgNames({"rate", "loaded"})
    ->ArgsProduct({{512, 100}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
