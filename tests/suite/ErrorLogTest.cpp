#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "TestSupport.h"
#include "interfaces/ErrorLog.h"
#include "platform/Com.h"

namespace {
std::vector<faultbook::TraceRecord> Capture(const std::function<void()>& body) {
    std::vector<faultbook::TraceRecord> records;
    faultbook::SetTraceSink([&](const faultbook::TraceRecord& r) { records.push_back(r); });
    body();
    faultbook::SetTraceSink(nullptr);
    return records;
}

CErrorLog MakeLog(bool enabled) {
    CErrorLog log;
    log.SetModuleName("Tavimo");
    log.SetObjectName("CXsensModule");
    log.EnableTrace(enabled);
    return log;
}
}  // namespace

TEST(ErrorLogTest, DisabledLogWritesNothing) {
    unsetenv("TAVIMO_TRACE");
    faultbook::RefreshTraceSettings();
    CErrorLog log = MakeLog(false);
    auto records = Capture([&] {
        log.Trace("InitInstance");
        log.TraceNow("ProcessData", "WaitForSingleObject() returns %d", 258);
        log.LogError(E_FAIL, "Initialise", "CoInitialize failed");
    });
    EXPECT_TRUE(records.empty());
}

TEST(ErrorLogTest, EnabledLogWritesLinesToTheFile) {
    faultbook::RefreshTraceSettings();
    CErrorLog log = MakeLog(true);
    auto records = Capture([&] {
        log.Trace("InitInstance", "Before Parse Command Line");
        log.TraceNow("ProcessData", "WaitForSingleObject() returns %d\n", 258);
        log.LogError(static_cast<HRESULT>(0x8007000E), "OnInitDialog",
                     "Failed to Instantiate CXsensModule");
    });
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].context, "InitInstance");
    EXPECT_EQ(records[0].text, "Before Parse Command Line");
    EXPECT_EQ(records[1].text, "WaitForSingleObject() returns 258");
    EXPECT_EQ(records[2].text, "HRESULT 0x8007000E: Failed to Instantiate CXsensModule");
    std::ifstream in(faultbook::TraceFilePath());
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_NE(
        content.str().find("Tavimo CXsensModule ProcessData WaitForSingleObject() returns 258\n"),
        std::string::npos);
}

TEST(ErrorLogTest, EnvironmentSwitchEnablesEveryLog) {
    setenv("TAVIMO_TRACE", "1", 1);
    faultbook::RefreshTraceSettings();
    CErrorLog log = MakeLog(false);
    auto records = Capture([&] { log.Trace("InitInstance"); });
    unsetenv("TAVIMO_TRACE");
    faultbook::RefreshTraceSettings();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].object, "CXsensModule");
}

TEST(ErrorLogTest, LongTextsAreKeptWhole) {
    faultbook::RefreshTraceSettings();
    CErrorLog log = MakeLog(true);
    const std::string longText(5000, 'a');
    auto records = Capture([&] { log.TraceNow("Long", "%s", longText.c_str()); });
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, longText);
}

TEST(ErrorLogTest, UnwritableStateFolderDoesNotFailTheCaller) {
    setenv("XDG_STATE_HOME", "/proc/forbidden", 1);
    faultbook::RefreshTraceSettings();
    CErrorLog log = MakeLog(true);
    testing::internal::CaptureStderr();
    auto records = Capture([&] { log.TraceNow("Ctx", "still traced"); });
    EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot write the trace log"),
              std::string::npos);
    EXPECT_EQ(records.size(), 1u);
}

// A link planted where the trace log goes must not send the trace into the file it names.
TEST(ErrorLogTest, ALinkInPlaceOfTheTraceLogIsNotFollowed) {
    const std::filesystem::path root = tavimo_test::TestFolder();
    const std::filesystem::path victim = root / "not-ours.txt";
    tavimo_test::WriteFile(victim, "theirs\n");
    std::filesystem::create_directories(root / "state" / "tavimo");
    std::filesystem::create_symlink(victim, root / "state" / "tavimo" / "Tavimo.log");
    const char* before = std::getenv("XDG_STATE_HOME");
    const std::string saved = before != nullptr ? before : "";
    setenv("XDG_STATE_HOME", (root / "state").c_str(), 1);
    faultbook::RefreshTraceSettings();
    CErrorLog log = MakeLog(true);
    testing::internal::CaptureStderr();
    log.TraceNow("Ctx", "must not land in the victim");
    const std::string said = testing::internal::GetCapturedStderr();
    before != nullptr ? setenv("XDG_STATE_HOME", saved.c_str(), 1) : unsetenv("XDG_STATE_HOME");
    faultbook::RefreshTraceSettings();
    EXPECT_NE(said.find("it is a link or not a regular file"), std::string::npos) << said;
    EXPECT_EQ(tavimo_test::ReadFile(victim), "theirs\n");
}
