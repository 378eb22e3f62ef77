// The module's side of the service manager's notify protocol, read from a datagram socket
// the test binds itself and names in NOTIFY_SOCKET, as systemd does for a Type=notify unit.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/ServiceWatchdog.h"

namespace {

using Counts = CServiceActivity::Counts;

TEST(ServiceWatchdogJudge, AliveOnlyWhileSamplesArriveAndTelegramsLeave) {
    struct Case {
        const char* what;
        Counts before, now;
        bool ready, alive;
    };
    // Counts: samples, attitudes handed, sends answered, telegrams taken whole.
    const Case cases[] = {
        {"nothing yet", {0, 0, 0, 0}, {0, 0, 0, 0}, false, false},
        {"samples, output port still opening", {0, 0, 0, 0}, {5, 0, 0, 0}, true, true},
        {"samples handed, first telegram not out", {0, 0, 0, 0}, {5, 5, 0, 0}, false, false},
        {"first telegram out", {5, 5, 0, 0}, {9, 9, 2, 2}, true, true},
        {"flowing", {9, 9, 2, 2}, {20, 20, 13, 13}, true, true},
        {"nobody reads: dropped at once", {20, 20, 13, 13}, {30, 30, 23, 13}, true, true},
        {"sensor silent", {30, 30, 23, 13}, {30, 30, 23, 13}, true, false},
        {"write never returns: handed, none answered",
         {30, 30, 23, 13},
         {50, 50, 23, 13},
         true,
         false},
        {"no output holds a port", {50, 50, 23, 13}, {70, 50, 23, 13}, true, true},
        {"telegrams without samples", {70, 50, 23, 13}, {70, 50, 30, 20}, true, false},
    };
    for (const Case& c : cases) {
        const auto verdict = CServiceWatchdog::Judge(c.before, c.now);
        EXPECT_EQ(verdict.ready, c.ready) << c.what;
        EXPECT_EQ(verdict.alive, c.alive) << c.what;
    }
}

// A notification socket of the test's own, named in NOTIFY_SOCKET for the test's length.
class NotifySocket {
public:
    explicit NotifySocket(const char* watchdogUsec) {
        char pattern[] = "/tmp/tavimo-notify-XXXXXX";
        m_dir = mkdtemp(pattern);
        m_path = m_dir + "/notify";
        m_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        m_path.copy(address.sun_path, sizeof(address.sun_path) - 1);
        m_bound = bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        setenv("NOTIFY_SOCKET", m_path.c_str(), 1);
        unsetenv("WATCHDOG_PID");
        if (watchdogUsec != nullptr) {
            setenv("WATCHDOG_USEC", watchdogUsec, 1);
        } else {
            unsetenv("WATCHDOG_USEC");
        }
    }
    ~NotifySocket() {
        unsetenv("NOTIFY_SOCKET");
        unsetenv("WATCHDOG_USEC");
        close(m_fd);
        unlink(m_path.c_str());
        rmdir(m_dir.c_str());
    }
    bool Bound() const { return m_bound; }
    // The messages that arrive within timeoutMs (each datagram one message).
    std::vector<std::string> Read(int timeoutMs) {
        std::vector<std::string> messages;
        pollfd p{m_fd, POLLIN, 0};
        while (poll(&p, 1, timeoutMs) == 1) {
            char buffer[512];
            const ssize_t n = recv(m_fd, buffer, sizeof(buffer), 0);
            if (n <= 0) {
                break;
            }
            messages.emplace_back(buffer, static_cast<std::size_t>(n));
            timeoutMs = 0;  // take what is there, then stop
        }
        return messages;
    }
    // Waits (bounded) until a message equal to `text` arrives; the messages read meanwhile.
    bool WaitFor(const std::string& text, int boundMs, std::vector<std::string>* seen = nullptr) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
        while (std::chrono::steady_clock::now() < end) {
            for (const std::string& message : Read(50)) {
                if (seen != nullptr) {
                    seen->push_back(message);
                }
                if (message == text) {
                    return true;
                }
            }
        }
        return false;
    }

private:
    std::string m_dir;
    std::string m_path;
    int m_fd = -1;
    bool m_bound = false;
};

// The data path's counts moved by hand: n samples, each handed to an output, and `sent`
// telegrams leaving.
void Flow(int samples, int sent) {
    for (int i = 0; i < samples; ++i) {
        CServiceActivity::SampleArrived();
        CServiceActivity::AttitudeHanded();
    }
    for (int i = 0; i < sent; ++i) {
        CServiceActivity::TelegramAnswered(true);
    }
}

TEST(ServiceWatchdogNotify, ReadyAtFirstTelegramThenPingsStopWhenTheDataPathStalls) {
    NotifySocket manager("2000000");
    ASSERT_TRUE(manager.Bound());
    CServiceWatchdog watchdog;  // looks by hand: every message is the answer to one look

    Flow(3, 0);  // samples handed to an output, no telegram out yet
    watchdog.Look();
    EXPECT_TRUE(manager.Read(0).empty());
    EXPECT_FALSE(watchdog.IsReady());

    Flow(3, 1);
    watchdog.Look();
    EXPECT_EQ(manager.Read(200), (std::vector<std::string>{"READY=1", "WATCHDOG=1"}));
    EXPECT_TRUE(watchdog.IsReady());

    Flow(5, 5);
    watchdog.Look();
    EXPECT_EQ(manager.Read(200), std::vector<std::string>{"WATCHDOG=1"});

    // A write that never ends: attitudes keep coming, no telegram leaves.
    Flow(5, 0);
    watchdog.Look();
    EXPECT_TRUE(manager.Read(0).empty());
    // The sensor falls silent.
    watchdog.Look();
    EXPECT_TRUE(manager.Read(0).empty());

    Flow(2, 2);  // the path works again: pings again, readiness is not repeated
    watchdog.Look();
    EXPECT_EQ(manager.Read(200), std::vector<std::string>{"WATCHDOG=1"});
}

TEST(ServiceWatchdogNotify, WithoutManagerNothingStartsOrIsSent) {
    unsetenv("NOTIFY_SOCKET");
    CServiceWatchdog watchdog;
    EXPECT_FALSE(watchdog.Start());
    Flow(2, 2);
    watchdog.Look();
    EXPECT_FALSE(watchdog.IsReady());  // nobody was told
    watchdog.Stop();
}

TEST(ServiceWatchdogNotify, ItsThreadPingsWhileDataFlowsAndSaysStopping) {
    NotifySocket manager("100000");  // looks every 50 ms
    ASSERT_TRUE(manager.Bound());
    std::atomic<bool> flowing{true};
    std::thread path([&] {
        while (flowing.load()) {
            Flow(1, 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    CServiceWatchdog watchdog;
    ASSERT_TRUE(watchdog.Start());
    std::vector<std::string> seen;
    EXPECT_TRUE(manager.WaitFor("READY=1", 10000, &seen));
    EXPECT_TRUE(manager.WaitFor("WATCHDOG=1", 10000, &seen));
    flowing = false;
    path.join();
    watchdog.Stop();
    EXPECT_TRUE(manager.WaitFor("STOPPING=1", 10000, &seen));
    // Readiness comes once, before any ping.
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), "READY=1");
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "READY=1"), 1);
}

}  // namespace
