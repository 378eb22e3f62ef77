// Faults injected into the real program from outside: SIGKILL while it saves its
// settings, SIGKILL while a store is being written, the reader of an output port that
// goes away and comes back, and a sensor that falls silent (with and without a service
// manager watching).
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "ProcessRunner.h"
#include "TelegramReader.h"
#include "TestSupport.h"
#include "app/Settings.h"
#include "comlane/SerialDevice.h"
#include "logmill/Logmill.h"
#include "mtobj/MTObj.h"
#include "platform/Registry.h"

namespace {
constexpr int kBoundMs = 30000;
using Clock = std::chrono::steady_clock;

// Waits (polling the file system, bounded) until a path exists.
bool WaitForPath(const std::string& path, int timeoutMs = kBoundMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        std::error_code ec;
        if (std::filesystem::exists(path, ec)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// The element paths of a document ("Tavimo/SensorPort/Path" ...), or nothing when the
// text is not a whole XML document.
std::optional<std::set<std::string>> ElementPaths(const std::string& text) {
    xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), "config.xml", nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (doc == nullptr) {
        return std::nullopt;
    }
    std::set<std::string> paths;
    std::function<void(xmlNodePtr, const std::string&)> walk = [&](xmlNodePtr node,
                                                                   const std::string& prefix) {
        for (; node != nullptr; node = node->next) {
            if (node->type == XML_ELEMENT_NODE) {
                const std::string path = prefix + reinterpret_cast<const char*>(node->name);
                paths.insert(path);
                walk(node->children, path + "/");
            }
        }
    };
    walk(xmlDocGetRootElement(doc), "");
    xmlFreeDoc(doc);
    return paths;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string PortLink(int com) {
    return comlane::CPortMap::LinkPath("COM" + std::to_string(com));
}

// The numbers a store writer printed: the writes it saw committed.
long LastCommitted(const std::string& output) {
    long last = 0;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) {
            last = std::stol(line);
        }
    }
    return last;
}

bool IntegrityOk(const std::string& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    sqlite3_stmt* st = nullptr;
    bool ok = sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK &&
              sqlite3_step(st) == SQLITE_ROW &&
              std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))) == "ok";
    sqlite3_finalize(st);
    sqlite3_close(db);
    return ok;
}

// Starts the store writer, lets it commit a varying number of writes, kills it with
// SIGKILL and gives the last write it reported.
long KillWriterMidway(const std::string& store, int round) {
    ProcessRunner writer(STORE_WRITER_BINARY, {store});
    EXPECT_TRUE(writer.Start());
    const long wanted = 20 + 37 * round;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kBoundMs);
    while (LastCommitted(writer.Output()) < wanted && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ::kill(writer.Pid(), SIGKILL);
    EXPECT_EQ(writer.Wait(kBoundMs), -SIGKILL) << writer.Output();
    return LastCommitted(writer.Output());
}
}  // namespace

TEST(FaultTest, SigkillWhileSavingSettingsLeavesAWholeValidFile) {
    const std::string config = tavimo_test::TempRoot() + "/Tavimo.xml";
    const auto shipped = ElementPaths(CTavimoSettingsStore::DefaultConfiguration());
    ASSERT_TRUE(shipped.has_value());
    // SIGTERM makes the program save its settings; SIGKILL follows at a spread of delays,
    // so some rounds cut the save short and some the start-up before it.
    for (int round = 0; round < 10; ++round) {
        ProcessRunner run(TAVIMO_BINARY, {config, "-Embedded"});
        ASSERT_TRUE(run.Start());
        ASSERT_TRUE(WaitForPath(PortLink(2))) << run.Output();
        ::kill(run.Pid(), SIGTERM);
        std::this_thread::sleep_for(std::chrono::microseconds(round * 1500));
        ::kill(run.Pid(), SIGKILL);
        ASSERT_TRUE(run.Wait(kBoundMs).has_value());
        const auto paths = ElementPaths(ReadFile(config));
        ASSERT_TRUE(paths.has_value()) << "round " << round << ": not a whole document";
        EXPECT_EQ(*paths, *shipped) << "round " << round;
        CTavimoSettings settings;
        EXPECT_TRUE(CTavimoSettingsStore(config).LoadSettings(settings)) << round;
        // No temporary file is left to pile up beside the configuration.
        int files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(tavimo_test::TempRoot())) {
            files += entry.path().filename().string().rfind("Tavimo.xml", 0) == 0 ? 1 : 0;
        }
        EXPECT_LE(files, 2) << round;
        std::filesystem::remove(PortLink(2));  // a killed process leaves its links behind
        std::filesystem::remove(PortLink(3));
    }
}

TEST(FaultTest, TheRegistrySurvivesSigkillDuringWrites) {
    const std::string path = std::getenv("TAVIMO_REGISTRY");
    for (int round = 0; round < 5; ++round) {
        const long committed = KillWriterMidway("registry", round);
        ASSERT_GT(committed, 0);
        ASSERT_TRUE(IntegrityOk(path)) << round;
        platform::RegistryClose();
        CRegKey key;
        ASSERT_EQ(key.Open(HKEY_CURRENT_USER, "Software\\Tavimo\\FaultTest"), ERROR_SUCCESS);
        // Every write reported as done is there; the one cut short is there whole or not at all.
        const DWORD last = key.QueryDWORD("Last").value_or(0);
        EXPECT_GE(last, static_cast<DWORD>(committed)) << round;
        EXPECT_LE(last, static_cast<DWORD>(committed + 1)) << round;
        for (long i = 1; i <= committed; ++i) {
            ASSERT_EQ(key.QueryString("Value" + std::to_string(i)).value_or("").size(),
                      static_cast<std::size_t>(64 + i % 512))
                << round << " value " << i;
        }
        key.Close();
        RegDeleteTree(HKEY_CURRENT_USER, "Software\\Tavimo\\FaultTest");
    }
    // And the program still starts and registers on it.
    ProcessRunner reg(TAVIMO_BINARY, {"-RegServer"});
    ASSERT_TRUE(reg.Start());
    EXPECT_EQ(reg.Wait(kBoundMs), 0) << reg.Output();
}

TEST(FaultTest, TheAlarmStoreSurvivesSigkillDuringWrites) {
    std::size_t before = 0;
    for (int round = 0; round < 5; ++round) {
        const long committed = KillWriterMidway("alarms", round);
        ASSERT_GT(committed, 0);
        ASSERT_TRUE(IntegrityOk(logmill::AlarmStorePath())) << round;
        const auto alarms = logmill::ReadAlarms();
        // Every raised alarm is kept, in order; the one cut short whole or not at all.
        ASSERT_GE(alarms.size(), before + committed) << round;
        ASSERT_LE(alarms.size(), before + committed + 1) << round;
        for (long i = 1; i <= committed; ++i) {
            EXPECT_EQ(alarms[before + i - 1].text, "alarm " + std::to_string(i)) << round;
        }
        before = alarms.size();
    }
}

TEST(FaultTest, AnOutputPortReaderThatGoesAwayAndComesBackGetsTelegramsAgain) {
    const std::string config = tavimo_test::TempRoot() + "/Tavimo.xml";
    ProcessRunner run(TAVIMO_BINARY, {config, "-Embedded"});
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(WaitForPath(PortLink(2))) << run.Output();
    ASSERT_TRUE(WaitForPath(PortLink(3))) << run.Output();
    {
        TelegramReader hdt(PortLink(2));
        ASSERT_TRUE(hdt.ReadValid(5, kBoundMs)) << hdt.Report();
    }
    // COM2's reader is gone while the other port is read: unread telegrams back up in
    // the line, and the other output must not stall for it.
    {
        TelegramReader tss(PortLink(3));
        ASSERT_TRUE(tss.ReadValid(200, kBoundMs)) << tss.Report();
    }
    // The reader comes back: telegrams again, every one well formed.
    TelegramReader hdt(PortLink(2));
    ASSERT_TRUE(hdt.ReadValid(20, kBoundMs)) << hdt.Report();
    // The port itself disappears (its link is removed) and the program runs on.
    std::filesystem::remove(PortLink(2));
    TelegramReader tss(PortLink(3));
    ASSERT_TRUE(tss.ReadValid(20, kBoundMs)) << tss.Report();
    EXPECT_FALSE(run.Wait(0).has_value()) << run.Output();
    ::kill(run.Pid(), SIGTERM);
    EXPECT_EQ(run.Wait(kBoundMs), 0) << run.Output();
}

TEST(FaultTest, ASensorThatFallsSilentIsReconnectedFiveTimesThenReportedLost) {
    const std::string config = tavimo_test::TempRoot() + "/Tavimo.xml";
    ProcessRunner run(TAVIMO_BINARY, {config, "-Embedded"},
                      {{"TAVIMO_SIMULATED_SENSOR_SILENT_AFTER_MS", "1500"}, {"TAVIMO_TRACE", "1"}});
    ASSERT_TRUE(run.Start());
    const auto status = run.Wait(60000);
    ASSERT_TRUE(status.has_value()) << "still running after a minute of silence";
    EXPECT_NE(*status, 0);
    EXPECT_GT(*status, 0) << "ended by a signal, not by its own exit";
    const std::string trace =
        ReadFile(std::string(std::getenv("XDG_STATE_HOME")) + "/tavimo/Tavimo.log");
    for (int attempt = 1; attempt <= 5; ++attempt) {
        EXPECT_NE(trace.find("Attempting reconnection: " + std::to_string(attempt)),
                  std::string::npos)
            << attempt;
    }
    EXPECT_EQ(trace.find("Attempting reconnection: 6"), std::string::npos);
    EXPECT_NE(trace.find("Failed to re-establish a valid connection"), std::string::npos);
    const auto alarms = logmill::ReadAlarms();
    ASSERT_EQ(alarms.size(), 1u);
    EXPECT_EQ(alarms[0].text, "No longer receiving valid data from the motion sensor hardware.");
}

// A sensor that cannot be opened is the health check's case like a silent one: tried again
// a second apart, each attempt said, then lost (with -Embedded: the alarm and status 3).
TEST(FaultTest, ASensorThatCannotBeOpenedIsTriedAgainThenReportedLost) {
    {
        CRegKey sensor;
        ASSERT_EQ(sensor.Create(HKEY_CURRENT_USER, mtobj::kSettingsKey), ERROR_SUCCESS);
        sensor.SetString("Port", "COM1");
        sensor.SetString("Kind", "iio:not-there");
    }
    platform::RegistryClose();
    const std::string config = tavimo_test::TempRoot() + "/Unopenable.xml";
    ProcessRunner run(TAVIMO_BINARY, {config, "-Embedded"}, {{"TAVIMO_TRACE", "1"}});
    ASSERT_TRUE(run.Start());
    const auto status = run.Wait(60000);
    {
        CRegKey sensor;
        sensor.Create(HKEY_CURRENT_USER, mtobj::kSettingsKey);
        sensor.SetString("Kind", "simulated");
    }
    ASSERT_TRUE(status.has_value()) << "still running a minute after the sensor failed to open";
    EXPECT_EQ(*status, 3) << run.Output();
    const std::string said = run.Output();
    for (int attempt = 1; attempt <= 5; ++attempt) {
        EXPECT_NE(said.find("The sensor on COM1 cannot be opened: trying again in 1 s (attempt " +
                            std::to_string(attempt) + " of 5)"),
                  std::string::npos)
            << said;
    }
    EXPECT_EQ(logmill::ReadAlarms().size(), 1U);
}

namespace {
// The service manager's side of the notify protocol: a datagram socket of the test's own.
class ServiceManagerSocket {
public:
    ServiceManagerSocket() : m_path(tavimo_test::TempRoot() + "/notify") {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        m_path.copy(address.sun_path, sizeof(address.sun_path) - 1);
        ::unlink(m_path.c_str());
        m_bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~ServiceManagerSocket() {
        ::close(m_fd);
        ::unlink(m_path.c_str());
    }
    const std::string& Path() const { return m_path; }
    bool Bound() const { return m_bound; }
    // The next message within timeoutMs, or nothing.
    std::optional<std::string> Next(int timeoutMs) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1) {
            return std::nullopt;
        }
        char buffer[512];
        const ssize_t n = ::recv(m_fd, buffer, sizeof(buffer), 0);
        return n > 0 ? std::optional<std::string>(std::string(buffer, static_cast<std::size_t>(n)))
                     : std::nullopt;
    }
    // Reads until `text` came (true) or the bound passed.
    bool WaitFor(const std::string& text, int boundMs) {
        const auto end = Clock::now() + std::chrono::milliseconds(boundMs);
        while (Clock::now() < end) {
            if (Next(100) == text) {
                return true;
            }
        }
        return false;
    }

private:
    std::string m_path;
    int m_fd = -1;
    bool m_bound = false;
};
}  // namespace

TEST(FaultTest, UnderAServiceManagerItIsReadyAtTheFirstTelegramAndStopsPingingWhenDataStops) {
    ServiceManagerSocket manager;
    ASSERT_TRUE(manager.Bound());
    const std::string config = tavimo_test::TempRoot() + "/Tavimo.xml";
    // The watchdog is looked after every 200 ms; the sensor falls silent after 4 s.
    ProcessRunner run(TAVIMO_BINARY, {config, "-Embedded"},
                      {{"NOTIFY_SOCKET", manager.Path()},
                       {"WATCHDOG_USEC", "400000"},
                       {"TAVIMO_SIMULATED_SENSOR_SILENT_AFTER_MS", "4000"}});
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(manager.WaitFor("READY=1", kBoundMs)) << run.Output();
    ASSERT_TRUE(manager.WaitFor("WATCHDOG=1", kBoundMs)) << run.Output();
    // Silent sensor, module still running: the pings stop (a quiet second and a half, where
    // they came five times a second), and the module is still there to be restarted.
    bool quiet = false;
    const auto end = Clock::now() + std::chrono::milliseconds(kBoundMs);
    auto lastPing = Clock::now();
    while (!quiet && Clock::now() < end) {
        if (const auto message = manager.Next(100); message == "WATCHDOG=1") {
            lastPing = Clock::now();
        }
        quiet = Clock::now() - lastPing > std::chrono::milliseconds(1500);
    }
    EXPECT_TRUE(quiet) << "the watchdog was still pinged with the sensor silent";
    EXPECT_FALSE(run.Wait(0).has_value()) << "the module ended before the pings stopped";
    ::kill(run.Pid(), SIGTERM);
    run.Wait(kBoundMs);
}
