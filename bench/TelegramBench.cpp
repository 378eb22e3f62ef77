// Telegram output: formatting cost per telegram type, heap allocations on the send path,
// latency from SetAttitude to the last byte on the far side of a pseudo-terminal, and
// the telegrams per second one worker sustains.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "app/AttitudeTelegramWorker.h"
#include "comlane/SerialDevice.h"

// Every heap allocation of the process is counted: the send path is to make none.
#include "AllocationCounter.h"

namespace {
using Clock = std::chrono::steady_clock;

using bench::PrivateEnvironment;
using bench::ReadExactly;

// The worker's port, for its counts.
class BenchWorker : public CAttitudeTelegramWorker {
public:
    using CAttitudeTelegramWorker::CAttitudeTelegramWorker;
    CTelegrax* Port() const { return m_pPort; }
};

int OpenFarEnd(int com) {
    return ::open(comlane::CPortMap::LinkPath("COM" + std::to_string(com)).c_str(),
                  O_RDWR | O_NOCTTY | O_NONBLOCK);
}

// Every sentence of the table, written from a turning, rolling moment with heave.
void BM_Format(benchmark::State& state, const telegrams::Sentence* sentence) {
    char out[telegrams::kMaxTelegramLength];
    const mtobj::Motion motion{.heave = 0.42, .verticalAcceleration = -0.3, .status = 'U'};
    telegrams::Moment moment{.time = 1.8e12, .rateOfTurn = 12.5F, .motion = &motion};
    for (auto _ : state) {
        moment.trueHeading = moment.trueHeading >= 359.0F ? 0.0F : moment.trueHeading + 0.731F;
        moment.magneticHeading = moment.trueHeading;
        moment.roll = moment.trueHeading / 20.0F - 9.0F;
        moment.pitch = 4.5F - moment.trueHeading / 40.0F;
        moment.time += 10.0;
        std::size_t n = sentence->format(out, moment);
        benchmark::DoNotOptimize(out);
        benchmark::DoNotOptimize(n);
    }
    state.SetLabel("ns per telegram = time per iteration");
}
const bool g_formatRegistered = [] {
    for (const telegrams::Sentence* sentence : mtobj::telegrams::Sentences()) {
        if (sentence->format != nullptr) {
            benchmark::RegisterBenchmark((std::string("Format/") + sentence->name).c_str(),
                                         BM_Format, sentence);
        }
    }
    return true;
}();

// One whole send cycle on the caller's thread (format, telegram object, write to the
// pseudo-terminal) and the heap allocations it makes, per telegram type.
void BM_SendCycle(benchmark::State& state) {
    PrivateEnvironment();
    const int type = static_cast<int>(state.range(0));
    BenchWorker worker(type, 2, 115200);
    worker.OpenPort();  // on this thread: the worker's own thread is not started
    const int far = OpenFarEnd(2);
    if (worker.Port() == nullptr || far < 0) {
        state.SkipWithError("no virtual port");
        return;
    }
    char sink[4096];
    long allocations = 0;
    long telegramsSent = 0;
    const unsigned long sentBefore = worker.Port()->GetSentCount();
    for (auto _ : state) {
        worker.SetAttitude(1.0, 1.5f, -2.25f, 123.456f, 3.0f);
        const long before = AllocationCount();
        worker.SendTelegrams();
        allocations += AllocationCount() - before;
        state.PauseTiming();
        while (::read(far, sink, sizeof(sink)) > 0) {
        }
        state.ResumeTiming();
    }
    telegramsSent = static_cast<long>(worker.Port()->GetSentCount() - sentBefore);
    const int perCycle = type >= TELEGRAM_HDT_TSS1 ? 2 : 1;
    state.counters["allocs_per_telegram"] =
        static_cast<double>(allocations) / (static_cast<double>(state.iterations()) * perCycle);
    state.counters["sent"] = static_cast<double>(telegramsSent);
    state.counters["dropped"] = static_cast<double>(worker.Port()->GetDroppedCount());
    state.SetLabel(g_szOutputTelegramNames[type]);
    ::close(far);
}
BENCHMARK(BM_SendCycle)->DenseRange(1, 7)->Iterations(20000);

// SetAttitude to the telegram's last byte readable on the far side, at 115200 settings:
// median and 99th percentile over 10,000 attitudes.
void BM_Latency(benchmark::State& state) {
    PrivateEnvironment();
    for (auto _ : state) {
        auto* worker = new BenchWorker(TELEGRAM_HDT, 2, 115200);
        worker->StartThread();
        int far = -1;
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while ((!worker->HasPort() || (far = OpenFarEnd(2)) < 0) && Clock::now() < deadline) {
            std::this_thread::yield();
        }
        char out[telegrams::kMaxTelegramLength];
        const std::size_t length = telegrams::FormatHDT(out, 123.0f);
        std::vector<double> micros;
        micros.reserve(10000);
        bool ok = far >= 0;
        const auto begin = Clock::now();
        for (int i = 0; ok && i < 10000; ++i) {
            const float heading = 100.0f + static_cast<float>(i % 200) * 0.5f;  // same length
            const auto t0 = Clock::now();
            worker->SetAttitude(i, 1.0f, 2.0f, heading, 0.0f);
            ok = ReadExactly(far, length);
            micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
        worker->StopThread();
        delete worker;
        if (far >= 0) {
            ::close(far);
        }
        if (!ok) {
            state.SkipWithError("telegram lost");
            return;
        }
        // Each attitude waits for its telegram: every one arrives, none is dropped.
        state.counters["lossless_telegrams_per_s"] = 10000.0 / seconds;
        std::printf(
            "closed loop (next attitude once the telegram is read): %.0f telegrams/s, "
            "none lost\n",
            10000.0 / seconds);
        std::sort(micros.begin(), micros.end());
        state.counters["median_us"] = micros[micros.size() / 2];
        state.counters["p99_us"] = micros[micros.size() * 99 / 100];
        state.counters["max_us"] = micros.back();
        std::printf(
            "latency SetAttitude -> last byte (HDT, 10000 attitudes): median %.1f us, "
            "p99 %.1f us, max %.1f us\n",
            micros[micros.size() / 2], micros[micros.size() * 99 / 100], micros.back());
    }
}
BENCHMARK(BM_Latency)->Iterations(1)->Unit(benchmark::kMillisecond);

// Attitudes at a set rate (0: as fast as the caller can give them) for two seconds, with
// a client reading the far end: telegrams per second sent and read, and how many the port
// dropped. The highest rate without a drop is what one worker sustains.
void BM_Throughput(benchmark::State& state) {
    PrivateEnvironment();
    const int type = static_cast<int>(state.range(0));
    const long rate = static_cast<long>(state.range(1));
    for (auto _ : state) {
        auto* worker = new BenchWorker(type, 3, 115200);
        worker->StartThread();
        int far = -1;
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while ((!worker->HasPort() || (far = OpenFarEnd(3)) < 0) && Clock::now() < deadline) {
            std::this_thread::yield();
        }
        std::atomic<bool> stop{false};
        std::atomic<long> bytes{0};
        std::thread reader([&] {
            char buffer[65536];
            while (!stop.load()) {
                pollfd p{far, POLLIN, 0};
                if (::poll(&p, 1, 50) == 1) {
                    const ssize_t r = ::read(far, buffer, sizeof(buffer));
                    if (r > 0) {
                        bytes += r;
                    }
                }
            }
        });
        // The machine is shared: a client that is scheduled late falls behind and the port
        // rightly drops. A real-time client (where allowed) measures the worker instead.
        sched_param realtime{};
        realtime.sched_priority = 10;
        const bool clientRealtime =
            pthread_setschedparam(reader.native_handle(), SCHED_FIFO, &realtime) == 0;
        const unsigned long sentBefore = worker->Port()->GetSentCount();
        const auto start = Clock::now();
        long attitudes = 0;
        while (Clock::now() - start < std::chrono::seconds(2)) {
            worker->SetAttitude(attitudes, 1.0f, 2.0f, 100.0f + (attitudes % 100) * 0.5f, 0.0f);
            ++attitudes;
            if (rate > 0) {
                std::this_thread::sleep_until(start + std::chrono::nanoseconds(1000000000L / rate) *
                                                          attitudes);
            }
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const unsigned long sent = worker->Port()->GetSentCount() - sentBefore;
        const unsigned long dropped = worker->Port()->GetDroppedCount();
        worker->StopThread();
        // Let the reader take what is still in flight, then stop it.
        const long expected =
            static_cast<long>(sent) * static_cast<long>(type >= TELEGRAM_HDT_TSS1 ? 48 : 21);
        const auto drainEnd = Clock::now() + std::chrono::seconds(2);
        while (bytes.load() < expected && Clock::now() < drainEnd) {
            std::this_thread::yield();
        }
        stop = true;
        reader.join();
        delete worker;
        ::close(far);
        state.counters["telegrams_per_s"] = static_cast<double>(sent) / seconds;
        state.counters["dropped"] = static_cast<double>(dropped);
        state.counters["attitudes_per_s"] = static_cast<double>(attitudes) / seconds;
        state.counters["bytes_read"] = static_cast<double>(bytes.load());
        state.counters["client_realtime"] = clientRealtime ? 1 : 0;
        std::printf(
            "throughput %s at %ld attitudes/s asked: %.0f telegrams/s sent and read, %lu "
            "dropped, %.0f attitudes/s offered, %ld bytes read%s\n",
            g_szOutputTelegramNames[type], rate, static_cast<double>(sent) / seconds, dropped,
            static_cast<double>(attitudes) / seconds, bytes.load(),
            clientRealtime ? " (real-time client)" : "");
    }
}
BENCHMARK(BM_Throughput)
    ->ArgsProduct({{TELEGRAM_HDT, TELEGRAM_HDT_TSS1}, {1000, 5000, 10000, 20000, 0}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
}  // namespace
