// Network ports beside a virtual port, through the port broker, all on this machine:
//  - Latency: one HDT telegram from SendTelegram until a local reader has read all of it
//    (a UDP datagram, a TCP segment, or the far end of a pseudo-terminal), median and p99.
//  - Fan-out: the caller's cost of one SendTelegram at 512 Hz ("Max Output" at the
//    sensor's top rate) with 1, 8 and 32 reading TCP clients, and per client; the same
//    telegram on a pseudo-terminal with one reader, and as a UDP datagram, for comparison.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "comlane/SerialDevice.h"
#include "interfaces/CommsManager.h"
#include "interfaces/PortManager.h"

namespace {
using bench::PrivateEnvironment;
using bench::ReadExactly;
using Clock = std::chrono::steady_clock;

const std::string kHdt = "$HCHDT,123.450,T*2e\r\n";

sockaddr_in Loopback(unsigned port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

unsigned LocalPort(int fd) {
    sockaddr_in a{};
    socklen_t length = sizeof(a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    return ntohs(a.sin_port);
}

enum class Kind { Pty, Udp, Tcp };

// One port of the given kind with its readers: the far end of a pseudo-terminal, a UDP
// socket, or TCP clients.
struct Setup {
    CPortManager manager;
    CTelegrax* port = nullptr;
    std::vector<int> readers;

    Setup(Kind kind, int clients) {
        PrivateEnvironment();
        manager.AddPortAgent(new CCommsManager);
        int udp = -1;
        if (kind == Kind::Udp) {
            udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            const sockaddr_in a = Loopback(0);
            ::bind(udp, reinterpret_cast<const sockaddr*>(&a), sizeof(a));
            readers.push_back(udp);
        }
        const std::string target = kind == Kind::Pty ? "pty"
                                   : kind == Kind::Udp
                                       ? "udp:127.0.0.1:" + std::to_string(LocalPort(udp))
                                       : "tcp:127.0.0.1:0";
        comlane::CPortMap::Map("COM20", target);
        port = manager.GetPort("COM20");
        if (port == nullptr) {
            return;
        }
        if (kind == Kind::Pty) {
            readers.push_back(::open(comlane::CPortMap::LinkPath("COM20").c_str(),
                                     O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        } else if (kind == Kind::Tcp) {
            port->WaitNetworkReady(10000);
            const std::string path = port->GetDevicePath();
            const unsigned tcpPort = static_cast<unsigned>(std::stoul(path.substr(14)));
            for (int i = 0; i < clients; ++i) {
                const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                const sockaddr_in a = Loopback(tcpPort);
                ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof(a));
                readers.push_back(fd);
            }
            const auto deadline = Clock::now() + std::chrono::seconds(10);
            while (port->GetNetworkCounters().clients < static_cast<std::size_t>(clients) &&
                   Clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        } else {
            port->WaitNetworkReady(10000);
        }
    }
    ~Setup() {
        if (port != nullptr) {
            manager.ReleasePort(port);
        }
        for (int fd : readers) {
            ::close(fd);
        }
        comlane::CPortMap::Unmap("COM20");
    }
    bool Ready() const {
        return port != nullptr &&
               std::all_of(readers.begin(), readers.end(), [](int fd) { return fd >= 0; });
    }
};

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

const char* KindName(Kind kind) {
    return kind == Kind::Pty ? "pty" : kind == Kind::Udp ? "udp" : "tcp";
}

// SendTelegram until the first reader has the whole telegram, 5,000 times.
void BM_TelegramToReader(benchmark::State& state) {
    const auto kind = static_cast<Kind>(state.range(0));
    Setup setup(kind, 1);
    if (!setup.Ready()) {
        state.SkipWithError("the port or its reader could not be made");
        return;
    }
    CTelegram telegram(eTelegramAscii);
    telegram.SetText(kHdt);
    std::vector<double> micros;
    micros.reserve(5000);
    for (auto _ : state) {
        const auto start = Clock::now();
        setup.port->SendTelegram(&telegram, 0);
        if (!ReadExactly(setup.readers[0], kHdt.size())) {
            state.SkipWithError("the reader did not get the telegram");
            return;
        }
        const std::chrono::duration<double, std::micro> took = Clock::now() - start;
        micros.push_back(took.count());
        state.SetIterationTime(took.count() / 1e6);
    }
    state.counters["median_us"] = Percentile(micros, 0.5);
    state.counters["p99_us"] = Percentile(micros, 0.99);
    state.SetLabel(KindName(kind));
}
BENCHMARK(BM_TelegramToReader)
    ->Arg(static_cast<int>(Kind::Pty))
    ->Arg(static_cast<int>(Kind::Udp))
    ->Arg(static_cast<int>(Kind::Tcp))
    ->Iterations(5000)
    ->UseManualTime();

// 1,024 telegrams at 512 Hz (two seconds) to every reader, which a thread of their own
// drains as a real client would; the time counted is the caller's time in SendTelegram.
void BM_FanOutAt512Hz(benchmark::State& state) {
    const auto kind = static_cast<Kind>(state.range(0));
    const int clients = static_cast<int>(state.range(1));
    Setup setup(kind, clients);
    if (!setup.Ready()) {
        state.SkipWithError("the port or its readers could not be made");
        return;
    }
    std::atomic<bool> stop{false};
    std::atomic<long> bytesRead{0};
    std::thread drain([&] {
        std::vector<pollfd> handles;
        for (int fd : setup.readers) {
            handles.push_back({fd, POLLIN, 0});
        }
        char buffer[4096];
        while (!stop.load()) {
            if (::poll(handles.data(), handles.size(), 50) <= 0) {
                continue;
            }
            for (const pollfd& h : handles) {
                if ((h.revents & POLLIN) != 0) {
                    const ssize_t n = ::read(h.fd, buffer, sizeof(buffer));
                    bytesRead.fetch_add(n > 0 ? n : 0);
                }
            }
        }
    });
    CTelegram telegram(eTelegramAscii);
    telegram.SetText(kHdt);
    std::vector<double> micros;
    constexpr int kTelegrams = 1024;
    micros.reserve(kTelegrams);
    const auto period = std::chrono::nanoseconds(1'000'000'000 / 512);
    for (auto _ : state) {
        auto next = Clock::now();
        for (int i = 0; i < kTelegrams; ++i) {
            std::this_thread::sleep_until(next);
            next += period;
            const auto start = Clock::now();
            setup.port->SendTelegram(&telegram, 0);
            const std::chrono::duration<double, std::micro> took = Clock::now() - start;
            micros.push_back(took.count());
        }
        double total = 0;
        for (double m : micros) {
            total += m;
        }
        state.SetIterationTime(total / 1e6);
    }
    // Everything sent reaches the readers: give them a moment to finish.
    const long expected =
        static_cast<long>(kTelegrams * kHdt.size()) * static_cast<long>(setup.readers.size());
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (bytesRead.load() < expected && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stop = true;
    drain.join();
    const double median = Percentile(micros, 0.5);
    state.counters["send_median_us"] = median;
    state.counters["send_p99_us"] = Percentile(micros, 0.99);
    state.counters["per_client_median_us"] = median / static_cast<double>(setup.readers.size());
    state.counters["delivered_fraction"] =
        static_cast<double>(bytesRead.load()) / static_cast<double>(expected);
    state.counters["dropped"] = static_cast<double>(setup.port->GetDroppedCount());
    state.SetLabel(std::string(KindName(kind)) + " x" + std::to_string(setup.readers.size()));
}
BENCHMARK(BM_FanOutAt512Hz)
    ->Args({static_cast<int>(Kind::Pty), 1})
    ->Args({static_cast<int>(Kind::Udp), 1})
    ->Args({static_cast<int>(Kind::Tcp), 1})
    ->Args({static_cast<int>(Kind::Tcp), 8})
    ->Args({static_cast<int>(Kind::Tcp), 32})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
