// The whole module: the tavimo binary started on a fresh configuration file, with the
// simulated sensor, sends its telegrams on the virtual ports at the chosen rate.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ProcessRunner.h"
#include "TestSupport.h"
#include "app/Config.h"
#include "app/Settings.h"

namespace {
using Clock = std::chrono::steady_clock;

std::string PortLink(const char* name) {
    return std::string(std::getenv("XDG_RUNTIME_DIR")) + "/tavimo/ports/" + name;
}

// Opens a virtual port as any serial client would, once the module has published it.
int OpenPort(const char* name) {
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < deadline) {
        const int fd = open(PortLink(name).c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0) {
            termios tio{};
            tcgetattr(fd, &tio);
            cfmakeraw(&tio);
            tcsetattr(fd, TCSANOW, &tio);
            return fd;
        }
        poll(nullptr, 0, 50);
    }
    return -1;
}

// Reads whole lines for the given time.
std::vector<std::string> ReadLines(int fd, std::chrono::milliseconds duration) {
    std::vector<std::string> lines;
    std::string pending;
    const auto end = Clock::now() + duration;
    while (Clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof(buffer));
        if (n <= 0) {
            continue;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t eol; (eol = pending.find("\r\n")) != std::string::npos;) {
            lines.push_back(pending.substr(0, eol));
            pending.erase(0, eol + 2);
        }
    }
    return lines;
}

bool ChecksumValid(const std::string& line) {
    const std::size_t star = line.find('*');
    if (line.empty() || line[0] != '$' || star == std::string::npos || star + 3 != line.size()) {
        return false;
    }
    unsigned sum = 0;
    for (std::size_t i = 1; i < star; ++i) {
        sum ^= static_cast<unsigned char>(line[i]);
    }
    char expected[3];
    std::snprintf(expected, sizeof(expected), "%02x", sum);
    return line.substr(star + 1) == expected;
}

class ModuleTest : public testing::Test {
protected:
    void SetUp() override {
        m_config = tavimo_test::TempRoot() + "/Vessel.xml";
        std::ofstream(m_config) << CTavimoSettingsStore::DefaultConfiguration();
    }
    void Set(const char* key, const char* value) {
        CConfig config;
        ASSERT_TRUE(config.Load(CComBSTR(m_config)));
        ASSERT_TRUE(config.SetValue(CComBSTR(key), CComBSTR(value)));
        ASSERT_TRUE(config.Save(CComBSTR("")));
    }
    std::string m_config;
};
}  // namespace

TEST_F(ModuleTest, SendsHdtAndTss1OnTheVirtualPortsAtTheChosenRate) {
    Set("TelegramOutputFrequency", "5 Hz");
    ProcessRunner tavimo(TAVIMO_BINARY, {m_config});
    ASSERT_TRUE(tavimo.Start());
    const int hdt = OpenPort("COM2");
    const int tss = OpenPort("COM3");
    ASSERT_GE(hdt, 0) << tavimo.Output();
    ASSERT_GE(tss, 0) << tavimo.Output();
    // Wait for the sensor to connect (1 s) and settle, then count for four seconds.
    ReadLines(hdt, std::chrono::milliseconds(2000));
    ReadLines(tss, std::chrono::milliseconds(10));
    const auto start = Clock::now();
    std::vector<std::string> headings = ReadLines(hdt, std::chrono::milliseconds(4000));
    std::vector<std::string> motions = ReadLines(tss, std::chrono::milliseconds(10));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    close(hdt);
    close(tss);

    ASSERT_FALSE(headings.empty()) << tavimo.Output();
    const double rate = static_cast<double>(headings.size()) / seconds;
    EXPECT_GT(rate, 3.5);
    EXPECT_LT(rate, 6.5);
    double previous = -1.0;
    int changes = 0;
    for (const std::string& line : headings) {
        ASSERT_EQ(line.rfind("$HCHDT,", 0), 0u) << line;
        EXPECT_TRUE(ChecksumValid(line)) << line;
        const double heading = std::atof(line.c_str() + 7);
        EXPECT_GE(heading, 0.0);
        EXPECT_LT(heading, 360.0);
        if (previous >= 0.0 && heading != previous) {
            ++changes;
        }
        previous = heading;
    }
    EXPECT_GT(changes, 0);  // the heading follows the vessel
    ASSERT_FALSE(motions.empty());
    for (const std::string& line : motions) {
        ASSERT_EQ(line.size(), 25u) << line;  // ":000000  0000USRRRR SPPPP"
        EXPECT_EQ(line.rfind(":000000  0000U", 0), 0u) << line;
        // Roll and pitch of a vessel in a seaway: a few degrees, in hundredths.
        EXPECT_LT(std::abs(std::atoi(line.substr(15, 4).c_str())), 3000) << line;
        EXPECT_LT(std::abs(std::atoi(line.substr(21, 4).c_str())), 3000) << line;
    }

    // SIGTERM ends it as the Exit command does: the settings are written back.
    tavimo.Terminate();
    CConfig config;
    CComBSTR frequency("");
    ASSERT_TRUE(config.Load(CComBSTR(m_config)));
    ASSERT_TRUE(config.GetValue(CComBSTR("TelegramOutputFrequency"), frequency));
    EXPECT_EQ(frequency.str(), "5 Hz");
}

// Values the module does not understand are named once at start, with the file, the node,
// the text and what is used instead, and the file keeps the user's text through the exit.
TEST_F(ModuleTest, ValuesNotUnderstoodAreNamedAndTheFileKeepsThem) {
    Set("TelegramOutputFrequency", "12 Hz");
    Set("PrimaryPort/Telegram", "HDTT");
    Set("FilterGain", "abc");
    Set("Logging/Enable", "yes");
    ProcessRunner tavimo(TAVIMO_BINARY, {"-platform", "offscreen", m_config});
    ASSERT_TRUE(tavimo.Start());
    const int tss = OpenPort("COM3");  // the module is up once its outputs are
    ASSERT_GE(tss, 0) << tavimo.Output();
    close(tss);
    tavimo.Terminate();
    const std::string said = tavimo.Output();
    for (const std::string& line :
         {m_config + ": TelegramOutputFrequency \"12 Hz\" is not 1 Hz, 2 Hz, 5 Hz, 10 Hz, 25 Hz or "
                     "Max Output (a telegram for every sample, as many as the sensor gives); "
                     "using Max Output",
          m_config + ": PrimaryPort/Telegram \"HDTT\" is not one of None, HDM, HDT, TSS1",
          m_config + ": FilterGain \"abc\" is not a gain of 0.1 to 100; using 0.20",
          m_config + ": Logging/Enable \"yes\" is not TRUE or FALSE; using FALSE"}) {
        EXPECT_NE(said.find(line), std::string::npos) << line << "\n" << said;
    }
    CConfig config;
    ASSERT_TRUE(config.Load(CComBSTR(m_config)));
    for (const auto& [key, text] :
         {std::pair{"TelegramOutputFrequency", "12 Hz"}, std::pair{"PrimaryPort/Telegram", "HDTT"},
          std::pair{"FilterGain", "abc"}, std::pair{"Logging/Enable", "yes"}}) {
        CComBSTR value("");
        ASSERT_TRUE(config.GetValue(CComBSTR(key), value));
        EXPECT_EQ(value.str(), text) << key;
    }
}

// An edit made while the module runs is never lost: without a reload the file is kept and
// the settings in use go beside it; SIGHUP reads the edit in and the module runs by it.
TEST_F(ModuleTest, AnEditWhileRunningIsKeptAndSighupReadsItIn) {
    Set("TelegramOutputFrequency", "5 Hz");
    {
        ProcessRunner tavimo(TAVIMO_BINARY, {"-platform", "offscreen", m_config});
        ASSERT_TRUE(tavimo.Start());
        const int tss = OpenPort("COM3");
        ASSERT_GE(tss, 0) << tavimo.Output();
        close(tss);
        Set("TelegramOutputFrequency", "10 Hz");  // edited by hand meanwhile
        tavimo.Terminate();
        EXPECT_NE(tavimo.Output().find(m_config + " changed on disk since Tavimo read it: it is "
                                                  "kept as it is"),
                  std::string::npos)
            << tavimo.Output();
    }
    CConfig config;
    CComBSTR frequency("");
    ASSERT_TRUE(config.Load(CComBSTR(m_config)));
    ASSERT_TRUE(config.GetValue(CComBSTR("TelegramOutputFrequency"), frequency));
    EXPECT_EQ(frequency.str(), "10 Hz");
    EXPECT_TRUE(std::filesystem::exists(m_config + ".tavimo"));

    ProcessRunner tavimo(TAVIMO_BINARY, {"-platform", "offscreen", m_config});
    ASSERT_TRUE(tavimo.Start());
    const int hdt = OpenPort("COM2");
    ASSERT_GE(hdt, 0) << tavimo.Output();
    Set("TelegramOutputFrequency", "2 Hz");
    ::kill(tavimo.Pid(), SIGHUP);
    ReadLines(hdt, std::chrono::milliseconds(3000));  // the reload and the outputs' restart
    const auto start = Clock::now();
    const auto lines = ReadLines(hdt, std::chrono::milliseconds(4000));
    const double rate = static_cast<double>(lines.size()) /
                        std::chrono::duration<double>(Clock::now() - start).count();
    close(hdt);
    EXPECT_GT(rate, 1.0);
    EXPECT_LT(rate, 3.0);
    tavimo.Terminate();
    EXPECT_NE(tavimo.Output().find("Reloaded " + m_config), std::string::npos) << tavimo.Output();
    CConfig after;
    CComBSTR kept("");
    ASSERT_TRUE(after.Load(CComBSTR(m_config)));
    ASSERT_TRUE(after.GetValue(CComBSTR("TelegramOutputFrequency"), kept));
    EXPECT_EQ(kept.str(), "2 Hz");
}
