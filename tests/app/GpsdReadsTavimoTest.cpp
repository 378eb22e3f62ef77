// gpsd, a real consumer, reads the heading from an attitude telegram worker whose port is a
// network endpoint, over TCP and over UDP, all on the loopback.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
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

// A port the system has just handed out and taken back: free for the next moment.
unsigned FreePort(int type) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    const sockaddr_in a = tavimo_test::Loopback(0);
    ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof(a));
    const unsigned port = tavimo_test::LocalPort(fd);
    ::close(fd);
    return port;
}

// gpsd in the foreground on a loopback port of its own, with a private control socket,
// reading one source; stopped when the object goes.
class Gpsd {
public:
    explicit Gpsd(const std::string& source) : m_port(FreePort(SOCK_STREAM)) {
        m_folder = std::filesystem::temp_directory_path() /
                   ("tavimo-gpsd-" + std::to_string(getpid()) + "-" + std::to_string(m_port));
        std::filesystem::create_directories(m_folder);
        const std::string control = (m_folder / "control").string();
        const std::string port = std::to_string(m_port);
        std::vector<std::string> args{kGpsd, "-N", "-n", "-b", "-F", control, "-S", port, source};
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        m_started = posix_spawn(&m_pid, kGpsd, nullptr, nullptr, argv.data(), environ) == 0;
    }
    ~Gpsd() {
        if (m_started) {
            kill(m_pid, SIGTERM);
            int status = 0;
            const bool ended = WaitFor([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; });
            if (!ended) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, &status, 0);
            }
        }
        std::error_code ec;
        std::filesystem::remove_all(m_folder, ec);
    }
    Gpsd(const Gpsd&) = delete;
    Gpsd& operator=(const Gpsd&) = delete;
    bool Started() const { return m_started; }
    unsigned Port() const { return m_port; }

private:
    unsigned m_port;
    std::filesystem::path m_folder;
    pid_t m_pid = 0;
    bool m_started = false;
};

// Feeds the worker an attitude every 50 ms while gpsd's JSON is read, until gpsd reports a
// heading or 30 s have passed; gpsd's report lines are returned.
std::string HeadingReport(CAttitudeTelegramWorker& worker, Gpsd& gpsd, float heading) {
    std::unique_ptr<TcpClient> watcher;
    const bool connected = WaitFor([&] {
        watcher = std::make_unique<TcpClient>(gpsd.Port());
        return watcher->Connected();
    });
    if (!connected) {
        return "gpsd did not take a client";
    }
    watcher->Send("?WATCH={\"enable\":true,\"json\":true};\n");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        worker.SetAttitude(1.0, 0.0F, 0.0F, heading, 0.0F);
        const std::string& got = watcher->ReadAvailable();
        if (got.find("\"class\":\"ATT\"") != std::string::npos) {
            watcher->Read(got.size() + 1, 200);  // the rest of the line
            return watcher->Got();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return watcher->Got();
}

void ExpectHeading(const std::string& report, const std::string& source) {
    const auto att = report.find("\"class\":\"ATT\"");
    ASSERT_NE(att, std::string::npos) << report;
    const auto line = report.substr(att, report.find('\n', att) - att);
    EXPECT_NE(line.find("\"device\":\"" + source + "\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"heading\":123.450"), std::string::npos) << line;
}

class GpsdReadsTavimoTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kGpsd)) {
            GTEST_SKIP() << kGpsd << " is missing: scripts/install-deps.sh installs gpsd";
        }
    }
};

TEST_F(GpsdReadsTavimoTest, OverTcp) {
    const unsigned port = FreePort(SOCK_STREAM);
    ASSERT_TRUE(comlane::CPortMap::Map("COM11", "tcp:127.0.0.1:" + std::to_string(port)));
    CAttitudeTelegramWorker worker(TELEGRAM_HDT, 11, 4800);
    ASSERT_TRUE(worker.StartThread());
    // gpsd connects to Tavimo's server as a client once it starts: the server listens first.
    ASSERT_TRUE(WaitFor([&] { return TcpClient(port).Connected(); }));
    const std::string source = "tcp://127.0.0.1:" + std::to_string(port);
    Gpsd gpsd(source);
    ASSERT_TRUE(gpsd.Started());
    ExpectHeading(HeadingReport(worker, gpsd, 123.45F), source);
    worker.StopThread();
    comlane::CPortMap::Unmap("COM11");
}

TEST_F(GpsdReadsTavimoTest, OverUdp) {
    const unsigned port = FreePort(SOCK_DGRAM);
    ASSERT_TRUE(comlane::CPortMap::Map("COM12", "udp:127.0.0.1:" + std::to_string(port)));
    CAttitudeTelegramWorker worker(TELEGRAM_HDT_TSS1, 12, 4800);
    ASSERT_TRUE(worker.StartThread());
    const std::string source = "udp://127.0.0.1:" + std::to_string(port);
    Gpsd gpsd(source);  // gpsd listens for the datagrams
    ASSERT_TRUE(gpsd.Started());
    ExpectHeading(HeadingReport(worker, gpsd, 123.45F), source);
    worker.StopThread();
    comlane::CPortMap::Unmap("COM12");
}

}  // namespace
