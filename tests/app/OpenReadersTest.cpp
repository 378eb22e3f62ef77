// The open readers of the ship's network read Tavimo's outputs: gpsd (Debian's) the heading
// and, from PASHR, roll and pitch; a Signal K server (signalk-server from npm) the attitude,
// headings and rate of turn, from Signal K deltas over TCP and UDP and from NMEA over TCP.
// Everything runs on the loopback; each peer is stopped with its test.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "NetworkClient.h"
#include "app/AttitudeTelegramWorker.h"
#include "comlane/SerialDevice.h"

extern char** environ;

namespace {

using tavimo_test::TcpClient;
using tavimo_test::WaitFor;

constexpr const char* kGpsd = "/usr/sbin/gpsd";
constexpr const char* kNode = "/usr/bin/node";
constexpr double kPi = 3.14159265358979323846;

// A port the system has just handed out and taken back: free for the next moment.
unsigned FreePort(int type) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    const sockaddr_in a = tavimo_test::Loopback(0);
    const unsigned port = ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof(a)) == 0
                              ? tavimo_test::LocalPort(fd)
                              : 0;
    ::close(fd);
    return port;
}

// A peer program run in the foreground, with a scratch folder of its own and its output in
// a file there; stopped (SIGTERM, then SIGKILL) and its folder removed when the object goes.
class Peer {
public:
    explicit Peer(const std::string& name)
        : m_folder(std::filesystem::temp_directory_path() /
                   ("tavimo-" + name + "-" + std::to_string(getpid()) + "-" +
                    std::to_string(FreePort(SOCK_STREAM)))) {
        std::filesystem::create_directories(m_folder);
    }
    ~Peer() {
        if (m_started) {
            kill(m_pid, SIGTERM);
            int status = 0;
            if (!WaitFor([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; })) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, &status, 0);
            }
        }
        std::error_code ec;
        std::filesystem::remove_all(m_folder, ec);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    const std::filesystem::path& Folder() const { return m_folder; }
    // Starts the program args[0] with the environment and `more` added to it.
    bool Start(std::vector<std::string> args, std::vector<std::string> more = {}) {
        std::vector<char*> argv;
        argv.reserve(args.size() + 1);
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        for (char** e = environ; *e != nullptr; ++e) {
            more.emplace_back(*e);
        }
        std::vector<char*> envp;
        envp.reserve(more.size() + 1);
        for (std::string& e : more) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string output = (m_folder / "output").string();
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        m_started = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0;
        posix_spawn_file_actions_destroy(&actions);
        return m_started;
    }
    std::string Output() const {
        std::ifstream in(m_folder / "output");
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

private:
    std::filesystem::path m_folder;
    pid_t m_pid = 0;
    bool m_started = false;
};

// An output row: a worker of one telegram type on a COM name mapped to a network target.
class Output {
public:
    Output(int type, short com, const std::string& target) : m_com("COM" + std::to_string(com)) {
        m_mapped = comlane::CPortMap::Map(m_com, target);
        m_worker = std::make_unique<CAttitudeTelegramWorker>(type, com, 4800);
        m_started = m_worker->StartThread();
    }
    ~Output() {
        m_worker->StopThread();
        comlane::CPortMap::Unmap(m_com);
    }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    bool Ready() const { return m_mapped && m_started; }
    CAttitudeTelegramWorker& Worker() { return *m_worker; }

private:
    std::string m_com;
    bool m_mapped = false;
    bool m_started = false;
    std::unique_ptr<CAttitudeTelegramWorker> m_worker;
};

// The number after "key": in a JSON text, or nothing.
std::optional<double> JsonNumber(const std::string& text, const std::string& key) {
    const auto at = text.find("\"" + key + "\":");
    if (at == std::string::npos) {
        return std::nullopt;
    }
    char* end = nullptr;
    const char* start = text.c_str() + at + key.size() + 3;
    const double value = std::strtod(start, &end);
    return end == start ? std::nullopt : std::optional(value);
}

// ---- gpsd -------------------------------------------------------------------------------

// Runs gpsd on `source`, feeding the worker an attitude every 50 ms, until gpsd reports an
// ATT with `until` in it or 30 s have passed; gpsd's first such ATT line is returned.
std::string GpsdAttitude(CAttitudeTelegramWorker& worker, const std::string& source,
                         const std::string& until, float roll, float pitch, float heading) {
    // In the foreground, with a private control socket and a client port of its own.
    const unsigned port = FreePort(SOCK_STREAM);
    Peer gpsd("gpsd");
    if (!gpsd.Start({kGpsd, "-N", "-n", "-b", "-F", (gpsd.Folder() / "control").string(), "-S",
                     std::to_string(port), source})) {
        return "gpsd did not start";
    }
    std::unique_ptr<TcpClient> watcher;
    if (!WaitFor([&] {
            watcher = std::make_unique<TcpClient>(port);
            return watcher->Connected();
        })) {
        return "gpsd did not take a client: " + gpsd.Output();
    }
    watcher->Send("?WATCH={\"enable\":true,\"json\":true};\n");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        worker.SetAttitude(1.0, roll, pitch, heading, 0.0F);
        const std::string& got = watcher->ReadAvailable();
        for (std::size_t at = got.find("\"class\":\"ATT\""); at != std::string::npos;
             at = got.find("\"class\":\"ATT\"", at + 1)) {
            const std::size_t end = got.find('\n', at);
            if (end == std::string::npos) {
                break;
            }
            std::string line = got.substr(at, end - at);
            if (line.find(until) != std::string::npos) {
                return line;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return watcher->Got();
}

class GpsdReadsTavimoTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kGpsd)) {
            GTEST_SKIP() << kGpsd << " is missing: scripts/install-deps.sh installs gpsd";
        }
    }
};

// HDT over TCP: gpsd connects to Tavimo's server as a client.
TEST_F(GpsdReadsTavimoTest, HeadingOverTcp) {
    const unsigned port = FreePort(SOCK_STREAM);
    Output output(TELEGRAM_HDT, 11, "tcp:127.0.0.1:" + std::to_string(port));
    ASSERT_TRUE(output.Ready());
    ASSERT_TRUE(WaitFor([&] { return TcpClient(port).Connected(); }));
    const std::string source = "tcp://127.0.0.1:" + std::to_string(port);
    const std::string att =
        GpsdAttitude(output.Worker(), source, "\"heading\":", 0.0F, 0.0F, 123.45F);
    EXPECT_NE(att.find("\"device\":\"" + source + "\""), std::string::npos) << att;
    EXPECT_NE(att.find("\"heading\":123.450"), std::string::npos) << att;
}

// HDT with PASHR over TCP and over UDP: gpsd's ATT carries roll and pitch as sent (PASHR
// gives hundredths of a degree), with Tavimo's signs (roll positive port up, pitch bow up).
TEST_F(GpsdReadsTavimoTest, RollAndPitchFromPashrOverTcpAndUdp) {
    const unsigned tcp = FreePort(SOCK_STREAM);
    const unsigned udp = FreePort(SOCK_DGRAM);
    Output overTcp(TELEGRAM_HDT_PASHR, 11, "tcp:127.0.0.1:" + std::to_string(tcp));
    Output overUdp(TELEGRAM_HDT_PASHR, 12, "udp:127.0.0.1:" + std::to_string(udp));
    ASSERT_TRUE(overTcp.Ready() && overUdp.Ready());
    ASSERT_TRUE(WaitFor([&] { return TcpClient(tcp).Connected(); }));
    const std::pair<Output*, std::string> runs[] = {
        {&overTcp, "tcp://127.0.0.1:" + std::to_string(tcp)},
        {&overUdp, "udp://127.0.0.1:" + std::to_string(udp)}};
    for (const auto& [output, source] : runs) {
        const std::string att =
            GpsdAttitude(output->Worker(), source, "\"roll\":", 3.254F, -12.345F, 201.5F);
        EXPECT_NE(att.find("\"device\":\"" + source + "\""), std::string::npos) << att;
        EXPECT_NEAR(JsonNumber(att, "roll").value_or(NAN), 3.25, 1e-6) << att;
        EXPECT_NEAR(JsonNumber(att, "pitch").value_or(NAN), -12.35, 1e-6) << att;
        EXPECT_NEAR(JsonNumber(att, "heading").value_or(NAN), 201.5, 1e-6) << att;
    }
}

// ---- Signal K ---------------------------------------------------------------------------

// The signalk-server that scripts/install-peers.sh put in the peers folder (or the one
// named by TAVIMO_SIGNALK_SERVER).
std::string SignalKServer() {
    if (const char* named = std::getenv("TAVIMO_SIGNALK_SERVER")) {
        return named;
    }
    return TAVIMO_PEERS_DIR "/signalk/node_modules/signalk-server/bin/signalk-server";
}

// A Signal K server on the loopback with three data connections: "Signal K" over TCP (it
// connects to Tavimo's server), "Signal K" over UDP (it listens) and NMEA 0183 over TCP.
// Discovery (mDNS), the MFD announcements and every other interface that would reach
// beyond this machine are off, and so are server updates.
class SignalK : public Peer {
public:
    SignalK() : Peer("signalk"), m_http(FreePort(SOCK_STREAM)) {}

    bool Start(unsigned deltaTcp, unsigned deltaUdp, unsigned nmeaTcp) {
        const auto connection = [](const char* id, const char* type, const std::string& sub) {
            return std::string(R"({"id":")") + id +
                   R"(","enabled":true,"pipeElements":[{"type":"providers/simple","options":)" +
                   R"({"logging":false,"type":")" + type + R"(","subOptions":)" + sub + "}}]}";
        };
        const std::string tcp = R"({"type":"tcp","host":"127.0.0.1","port":)";
        std::ofstream(Folder() / "settings.json")
            << R"({"mdns":false,"ssl":false,"interfaces":{"mfd_webapp":false,"appstore":false,)"
            << R"("tcp":false,"nmea-tcp":false,"playground":false,"logfiles":false,"wasm":false},)"
            << R"("pipedProviders":[)"
            << connection("tavimo-tcp", "SignalK", tcp + std::to_string(deltaTcp) + "}") << ","
            << connection("tavimo-udp", "SignalK",
                          R"({"type":"udp","port":)" + std::to_string(deltaUdp) + "}")
            << "," << connection("tavimo-nmea", "NMEA0183", tcp + std::to_string(nmeaTcp) + "}")
            << "]}";
        return Peer::Start({kNode, SignalKServer(), "-c", Folder().string()},
                           {"PORT=" + std::to_string(m_http), "SIGNALK_DISABLE_SERVER_UPDATES=true",
                            "SIGNALK_NODE_CONFIG_DIR=" + Folder().string()});
    }
    // The value of GET /signalk/v1/api/vessels/self/<path> (the text after "value":), or ""
    // while there is none.
    std::string Value(const std::string& path) const {
        TcpClient client(m_http);
        if (!client.Connected()) {
            return "";
        }
        client.Send("GET /signalk/v1/api/vessels/self/" + path +
                    " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
        client.WaitClosed(2000);
        const std::string& got = client.Got();
        const auto value = got.find("\"value\":");
        return got.rfind("HTTP/1.1 200", 0) == 0 && value != std::string::npos
                   ? got.substr(value + 8)
                   : "";
    }

private:
    unsigned m_http;
};

class SignalKReadsTavimoTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kNode) || !std::filesystem::exists(SignalKServer())) {
            GTEST_SKIP() << "signalk-server is not installed (" << SignalKServer()
                         << "): scripts/install-peers.sh installs it from npm, and could not "
                            "reach the npm registry";
        }
    }
};

// Feeds one output until the server's value at `path` has `key` near `expected` (or 60 s
// have passed); returns the last value text read.
std::string FeedUntil(const SignalK& server, CAttitudeTelegramWorker& worker,
                      const std::string& path, const std::string& key, double expected, float roll,
                      float pitch, float magnetic, float variation, float rate) {
    std::string value;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        worker.SetRateOfTurn(rate);
        worker.SetAttitude(1.8e12, roll, pitch, magnetic, variation);
        value = server.Value(path);
        const std::optional<double> got = key.empty()
                                              ? std::optional(std::strtod(value.c_str(), nullptr))
                                              : JsonNumber(value, key);
        if (!value.empty() && got && std::fabs(*got - expected) < 1e-5) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return value;
}

double Radians(double degrees) {
    return degrees * kPi / 180.0;
}

// Deltas over TCP, then over UDP, then HDT, HDG and ROT over the NMEA connection: each time
// the REST API answers what was sent last, in radians, with Signal K's signs (roll positive
// with a list to starboard, rate of turn positive to starboard).
TEST_F(SignalKReadsTavimoTest, DeltasOverTcpAndUdpAndNmeaOverTcp) {
    const unsigned deltaTcp = FreePort(SOCK_STREAM);
    const unsigned deltaUdp = FreePort(SOCK_DGRAM);
    const unsigned nmeaTcp = FreePort(SOCK_STREAM);
    Output overTcp(TELEGRAM_SIGNALK, 13, "tcp:127.0.0.1:" + std::to_string(deltaTcp));
    Output overUdp(TELEGRAM_SIGNALK, 14, "udp:127.0.0.1:" + std::to_string(deltaUdp));
    Output nmea(TELEGRAM_HDT_HDG_ROT, 15, "tcp:127.0.0.1:" + std::to_string(nmeaTcp));
    ASSERT_TRUE(overTcp.Ready() && overUdp.Ready() && nmea.Ready());
    ASSERT_TRUE(WaitFor([&] { return TcpClient(deltaTcp).Connected(); }));
    SignalK server;
    ASSERT_TRUE(server.Start(deltaTcp, deltaUdp, nmeaTcp));

    // Port side up 3.25°, bow down 2.5°, magnetic 125.45° with 2° west: true 123.45°.
    std::string attitude = FeedUntil(server, overTcp.Worker(), "navigation/attitude", "roll",
                                     Radians(3.25), 3.25F, -2.5F, 125.45F, 2.0F, 12.0F);
    EXPECT_NEAR(JsonNumber(attitude, "roll").value_or(NAN), Radians(3.25), 1e-5)
        << attitude << server.Output();
    EXPECT_NEAR(JsonNumber(attitude, "pitch").value_or(NAN), Radians(-2.5), 1e-5) << attitude;
    EXPECT_NEAR(JsonNumber(attitude, "yaw").value_or(NAN), Radians(123.45), 1e-5) << attitude;
    EXPECT_NEAR(std::strtod(server.Value("navigation/headingTrue").c_str(), nullptr),
                Radians(123.45), 1e-5);
    EXPECT_NEAR(std::strtod(server.Value("navigation/headingMagnetic").c_str(), nullptr),
                Radians(125.45), 1e-5);
    EXPECT_NEAR(std::strtod(server.Value("navigation/rateOfTurn").c_str(), nullptr),
                Radians(12.0 / 60.0), 1e-6);

    // Over UDP, starboard side up.
    attitude = FeedUntil(server, overUdp.Worker(), "navigation/attitude", "roll", Radians(-4.5),
                         -4.5F, 1.25F, 10.0F, 0.0F, -6.0F);
    EXPECT_NEAR(JsonNumber(attitude, "roll").value_or(NAN), Radians(-4.5), 1e-5) << attitude;
    EXPECT_NEAR(JsonNumber(attitude, "pitch").value_or(NAN), Radians(1.25), 1e-5) << attitude;

    // NMEA: true 200° from HDT, magnetic 198° (2° east) from HDG, turning to port 30°/min.
    const std::string rate = FeedUntil(server, nmea.Worker(), "navigation/rateOfTurn", "",
                                       Radians(-30.0 / 60.0), 0.0F, 0.0F, 198.0F, -2.0F, -30.0F);
    EXPECT_NEAR(std::strtod(rate.c_str(), nullptr), Radians(-0.5), 1e-5) << rate;
    EXPECT_NEAR(std::strtod(server.Value("navigation/headingTrue").c_str(), nullptr),
                Radians(200.0), 1e-5);
    EXPECT_NEAR(std::strtod(server.Value("navigation/headingMagnetic").c_str(), nullptr),
                Radians(198.0), 1e-5);
}

}  // namespace
