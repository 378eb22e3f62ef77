// Tavimo as a relay of another instrument's telegrams, beside gpsd doing the same relay:
//   ParseLines       lines read per second (line reader, sentence parsers, combiner)
//   RelayLatency     from the last byte of an HDT line written into a virtual port to the
//                    last byte of the telegram that carries it on the way out:
//     _SideBySide    Tavimo (the sensor port on the telegram device, through the sensor link,
//                    to an "HDT" output on a virtual port at "Max Output") and gpsd 3.22
//                    (reading the same HDT from a pseudo-terminal and relaying it to a client
//                    on loopback, ?WATCH={"nmea":true}), line by line in turn
//     _DeviceOnly    the telegram device's own share: to the sample it hands on
// gpsd's packet reader takes heading talkers it knows ("HC"), not "HE": the lines are $HCHDT.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BenchEnvironment.h"
#include "app/MotionTrackerSink.h"
#include "app/XsensModule.h"
#include "comlane/SerialDevice.h"
#include "mtobj/MTObj.h"
#include "mtobj/SensorDevice.h"
#include "mtobj/TelegramSentences.h"
#include "platform/Registry.h"
#include "platform/Sync.h"

extern char** environ;

namespace {

const bool g_privateEnvironment = tavimo_bench::PrivateEnvironment("relay-bench");

using Clock = std::chrono::steady_clock;
constexpr int kLines = 2000;
constexpr DWORD kPauseMs = 5;  // between lines: a sender at up to 200 Hz
constexpr int kWaitMs = 2000;  // for one relayed line

std::string Hdt(double heading) {
    char body[32];
    std::snprintf(body, sizeof body, "HCHDT,%07.3f,T", heading);
    unsigned sum = 0;
    for (const char* c = body; *c != '\0'; ++c) {
        sum ^= static_cast<unsigned char>(*c);
    }
    char line[48];
    std::snprintf(line, sizeof line, "$%s*%02X\r\n", body, sum);
    return line;
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t at = 0;
    for (int tries = 0; at < text.size() && tries < 1000; ++tries) {
        const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
        if (n > 0) {
            at += static_cast<std::size_t>(n);
        } else {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
    }
    return at == text.size();
}

// Reads from fd until `wanted` has come in a whole line; false after timeoutMs.
bool AwaitLine(int fd, std::string& pending, const std::string& wanted, int timeoutMs) {
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::size_t at = pending.find(wanted);
        if (at != std::string::npos) {
            const std::size_t end = pending.find('\n', at);
            if (end != std::string::npos) {
                pending.erase(0, end + 1);
                return true;
            }
        } else if (pending.size() > 4096) {
            pending.erase(0, pending.size() - 256);
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) != 1) {
            return false;
        }
        char buffer[1024];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            return false;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
    }
}

// Warms a relay up: lines until one comes through (a sender's first headings tell it what
// the sender sends).
bool WarmUp(int in, int out) {
    std::string pending;
    for (int i = 0; i < 50; ++i) {
        const std::string line = Hdt(1.0 + i);
        WriteAll(in, line);
        char value[16];
        std::snprintf(value, sizeof value, ",%07.3f,", 1.0 + i);
        if (AwaitLine(out, pending, value, 200)) {
            return true;
        }
    }
    return false;
}

void BM_ParseLines(benchmark::State& state) {
    using namespace mtobj::telegrams;
    std::string block;
    for (int i = 0; i < 16; ++i) {
        block += Hdt(10.0 + i) + ":000000  0000U 0225 -0150\r\n" +
                 "$PRDID,  -1.500,   2.250,   5.250*67\r\n" + "$HCHDG,101.1,2.0,W,7.1,E\r\n";
    }
    CLineReader reader;
    CSampleCombiner combiner;
    std::int64_t lines = 0;
    std::int64_t samples = 0;
    double time = 0;
    for (auto _ : state) {
        reader.Feed(
            block.data(), block.size(),
            [&](const CLineReader::Line& line) {
                ++lines;
                const ParseResult result = ParseLine(line.text);
                if (result.reading) {
                    time += 5.0;
                    samples += combiner.Add(*result.reading, time).sample ? 1 : 0;
                }
            },
            [](EDrop, std::string_view) {});
    }
    benchmark::DoNotOptimize(samples);
    state.SetItemsProcessed(lines);
    state.counters["lines_per_s"] =
        benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ParseLines);

// The device's own share of the relay: from the last byte of an HDT line written into the
// sensor port to the sample that ReadBatch hands the sensor object.
void BM_RelayLatency_DeviceOnly(benchmark::State& state) {
    comlane::CPortMap::Entries();
    comlane::CPortMap::Map("COM6", "pty");
    auto device = mtobj::MakeTelegramDevice("COM6");
    const bool opened = SUCCEEDED(device->Open("COM6", 115200));
    device->Configure(mtobj::SensorConfig{});
    const int in =
        ::open(comlane::CPortMap::LinkPath("COM6").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (!opened || in < 0 || FAILED(device->Start())) {
        state.SkipWithError("the telegram device did not open");
        return;
    }
    std::vector<double> micros;
    std::vector<std::vector<float>> arrays;
    CEvent pause;
    for (auto _ : state) {
        for (int i = 0; i < kLines; ++i) {
            WriteAll(in, Hdt(std::fmod(0.5 + i * 0.173, 360.0)));
            const auto sent = Clock::now();
            arrays.clear();
            double newest = 0;
            if (device->ReadBatch(arrays, newest, kWaitMs) && i >= 3) {
                micros.push_back(
                    std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
            }
            pause.Wait(kPauseMs);
        }
    }
    const double median = tavimo_bench::Percentile(micros, 0.5);
    const double p99 = tavimo_bench::Percentile(micros, 0.99);
    state.counters["median_us"] = median;
    state.counters["p99_us"] = p99;
    std::printf(
        "telegram device alone (last input byte -> sample handed on), %zu HDT lines: "
        "median %.1f us, p99 %.1f us\n",
        micros.size(), median, p99);
    device->Close();
    ::close(in);
}
BENCHMARK(BM_RelayLatency_DeviceOnly)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// A free TCP port on loopback, for gpsd to listen on.
int FreeLoopbackPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0) {
        port = ntohs(a.sin_port);
    }
    ::close(s);
    return port;
}

int ConnectLoopback(int port) {
    for (int i = 0; i < 100; ++i) {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            return s;
        }
        ::close(s);
        CEvent().Wait(50);
    }
    return -1;
}

// The sensor link on the telegram device (sensor port COM4), with an "HDT" output on COM2
// at "Max Output"; in is COM4's far end, out COM2's.
struct TavimoRelay {
    TavimoRelay() {
        CoInitialize(nullptr);
        {
            CRegKey key;
            key.Create(HKEY_CURRENT_USER, mtobj::kSettingsKey);
            key.SetString("Port", "COM4");
            key.SetString("Kind", "telegrams");
            comlane::CPortMap::Entries();
            comlane::CPortMap::Map("COM4", "pty");
        }
        link = std::make_unique<CXsensModule>();
        link->Initialise();
        CMotionTrackerSink::CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&sink));
        link->AdviseSink(sink, &cookie);
        link->OpenSensorPort(4, 115200);
        link->SetFilterSettings(1.0F, 1.0F);
        link->SetOutputInterval(0);
        link->AddTelegramWorker(2, 2, 115200);
        in = ::open(comlane::CPortMap::LinkPath("COM4").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        for (int i = 0; i < 500 && out < 0; ++i) {
            out =
                ::open(comlane::CPortMap::LinkPath("COM2").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            if (out < 0) {
                CEvent().Wait(10);
            }
        }
        link->StartSensor();
        ready = in >= 0 && out >= 0 && WarmUp(in, out);
    }
    ~TavimoRelay() {
        link->StopSensor();
        link->UnadviseSink(cookie);
        link.reset();
        for (const int fd : {in, out}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        CoUninitialize();
    }
    std::unique_ptr<CXsensModule> link;
    CComPtr<IUnknown> sink;
    DWORD cookie = 0;
    int in = -1;
    int out = -1;
    bool ready = false;
};

// gpsd reading a pseudo-terminal and relaying its NMEA to a watcher on loopback; in is the
// pseudo-terminal's near end, out the watcher's socket.
struct GpsdRelay {
    GpsdRelay() {
        const char* gpsd = "/usr/sbin/gpsd";
        if (::access(gpsd, X_OK) != 0) {
            why = "gpsd is not installed (scripts/install-deps.sh installs it)";
            return;
        }
        std::string error;
        if (!pty.OpenPseudoTerminal({}, &error)) {
            why = "no pseudo-terminal: " + error;
            return;
        }
        const std::string port = std::to_string(FreeLoopbackPort());
        const std::string control = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/gpsd.sock";
        // Foreground (-N), reading without a client (-n), never writing to the device (-b),
        // listening on loopback only (no -G) on a port of its own (-S).
        std::vector<std::string> args = {gpsd, "-N", "-n",    "-b",      "-S",
                                         port, "-F", control, pty.Path()};
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int spawned = posix_spawn(&pid, gpsd, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            pid = -1;
            why = "gpsd could not be started";
            return;
        }
        in = pty.Handle();
        out = ConnectLoopback(std::stoi(port));
        std::string pending;
        if (out < 0 || !WriteAll(out, "?WATCH={\"enable\":true,\"nmea\":true}\n") ||
            !AwaitLine(out, pending, "\"class\":\"WATCH\"", 5000)) {
            why = "gpsd did not answer on loopback";
        } else if (!WarmUp(in, out)) {
            why = "gpsd did not relay HDT from the pseudo-terminal";
        }
    }
    ~GpsdRelay() {
        if (out >= 0) {
            ::close(out);
        }
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            int status = 0;
            ::waitpid(pid, &status, 0);
        }
    }
    comlane::CSerialDevice pty;
    pid_t pid = -1;
    int in = -1;
    int out = -1;
    std::string why;
};

// One relay's latencies, in microseconds.
struct Latencies {
    std::vector<double> micros;
    std::string pending;
    int lost = 0;

    void Measure(int in, int out, int i) {
        const double heading = std::fmod(0.5 + i * 0.173, 360.0);
        char value[16];
        std::snprintf(value, sizeof value, ",%07.3f,", heading);
        WriteAll(in, Hdt(heading));
        const auto sent = Clock::now();
        if (AwaitLine(out, pending, value, kWaitMs)) {
            micros.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
        } else {
            ++lost;
        }
    }
    void Report(benchmark::State& state, const char* key, const char* name) {
        const double median = tavimo_bench::Percentile(micros, 0.5);
        const double p99 = tavimo_bench::Percentile(micros, 0.99);
        state.counters[std::string(key) + "_median_us"] = median;
        state.counters[std::string(key) + "_p99_us"] = p99;
        state.counters[std::string(key) + "_lost"] = lost;
        std::printf(
            "%s: last input byte -> last output byte, %zu HDT lines: median %.1f us, "
            "p99 %.1f us, max %.1f us, %d not relayed\n",
            name, micros.size(), median, p99, micros.empty() ? 0.0 : micros.back(), lost);
    }
};

// Both relays in one run, line by line in turn (who goes first alternates), so that the
// machine's load falls on both alike.
void BM_RelayLatency_SideBySide(benchmark::State& state) {
    TavimoRelay tavimo;
    GpsdRelay gpsd;
    if (!tavimo.ready) {
        state.SkipWithError("the telegram relay did not start");
        return;
    }
    if (!gpsd.why.empty()) {
        state.SkipWithError(gpsd.why.c_str());
        return;
    }
    Latencies ours;
    Latencies theirs;
    CEvent pause;
    for (auto _ : state) {
        for (int i = 0; i < kLines; ++i) {
            if (i % 2 == 0) {
                ours.Measure(tavimo.in, tavimo.out, i);
                theirs.Measure(gpsd.in, gpsd.out, i);
            } else {
                theirs.Measure(gpsd.in, gpsd.out, i);
                ours.Measure(tavimo.in, tavimo.out, i);
            }
            pause.Wait(kPauseMs);
        }
    }
    ours.Report(state, "tavimo", "Tavimo (telegram device -> sensor link -> HDT output)");
    theirs.Report(state, "gpsd", "gpsd 3.22 (pty -> gpsd -> NMEA watcher on loopback)");
}
BENCHMARK(BM_RelayLatency_SideBySide)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
