#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ProcessRunner.h"
#include "TestSupport.h"
#include "platform/Registry.h"

namespace {
bool SinkRegistered() {
    platform::RegistryClose();  // see what the other process wrote
    CRegKey key;
    return key.Open(HKEY_CLASSES_ROOT,
                    "CLSID\\{4E1A3625-CFF1-4F04-8934-B2CAF8FEEEB1}\\LocalServer32") ==
           ERROR_SUCCESS;
}

std::string TraceFilePath() {
    return std::string(std::getenv("XDG_STATE_HOME")) + "/tavimo/Tavimo.log";
}

std::string TraceFile() {
    std::ifstream in(TraceFilePath());
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
}  // namespace

TEST(StartupTest, RegServerAndUnregServerEndWithoutAWindow) {
    ProcessRunner reg(TAVIMO_BINARY, {"-RegServer"});
    ASSERT_TRUE(reg.Start());
    EXPECT_EQ(reg.Wait(30000), 0);
    ASSERT_TRUE(SinkRegistered());
    CRegKey key;
    ASSERT_EQ(
        key.Open(HKEY_CLASSES_ROOT, "CLSID\\{4E1A3625-CFF1-4F04-8934-B2CAF8FEEEB1}\\LocalServer32"),
        ERROR_SUCCESS);
    EXPECT_EQ(key.QueryString(""), std::string(TAVIMO_BINARY));
    // The type library beside the executable was registered too.
    EXPECT_EQ(key.Open(HKEY_CLASSES_ROOT, "TypeLib\\{0E0200D9-579E-45DB-A8A4-7A0F9B7B007E}\\1.0"),
              ERROR_SUCCESS);
    key.Close();

    ProcessRunner unreg(TAVIMO_BINARY, {"/unregserver"});  // any case
    ASSERT_TRUE(unreg.Start());
    EXPECT_EQ(unreg.Wait(30000), 0);
    EXPECT_FALSE(SinkRegistered());
    platform::RegistryClose();
    EXPECT_NE(key.Open(HKEY_CLASSES_ROOT, "TypeLib\\{0E0200D9-579E-45DB-A8A4-7A0F9B7B007E}\\1.0"),
              ERROR_SUCCESS);
}

TEST(StartupTest, RegServerFollowedByAnotherSwitchShowsTheWindowInstead) {
    ProcessRunner run(TAVIMO_BINARY, {"-RegServer", "-Embedded"}, {{"TAVIMO_TRACE", "1"}});
    ASSERT_TRUE(run.Start());
    EXPECT_FALSE(run.Wait(3000).has_value());  // the modal dialog keeps it running
    run.Terminate();
    EXPECT_FALSE(SinkRegistered());
    const std::string trace = TraceFile();
    EXPECT_NE(trace.find("Tavimo CTavimoApp InitInstance Before Parse Command Line"),
              std::string::npos);
    EXPECT_NE(trace.find("Tavimo CTavimoApp InitInstance before DoModal()"), std::string::npos);
}

TEST(StartupTest, ServeOnlyModeSaysItIsNotAvailableAndEndsAtOnce) {
    for (const char* mode : {"-Embedding", "/Automation"}) {
        SCOPED_TRACE(mode);
        std::remove(TraceFilePath().c_str());  // this run's lines only
        ProcessRunner run(TAVIMO_BINARY, {mode}, {{"TAVIMO_TRACE", "1"}});
        ASSERT_TRUE(run.Start());
        EXPECT_EQ(run.Wait(10000), 4);  // the documented status, not 0
        EXPECT_NE(run.Output().find("this build serves no outside clients"), std::string::npos)
            << run.Output();
        const std::string trace = TraceFile();
        EXPECT_NE(trace.find("Before Parse Command Line"), std::string::npos);
        EXPECT_NE(trace.find("Serve-only mode requested: not available"), std::string::npos);
        EXPECT_EQ(trace.find("After Parse Command Line"), std::string::npos);  // no window
    }
}

TEST(StartupTest, CorruptRegistryStillStartsAndSaysWhy) {
    const std::string path = tavimo_test::TempRoot() + "/broken.sqlite3";
    std::ofstream(path) << std::string(4096, 'z');
    ProcessRunner run(TAVIMO_BINARY, {"-RegServer"}, {{"TAVIMO_REGISTRY", path}});
    ASSERT_TRUE(run.Start());
    EXPECT_EQ(run.Wait(30000), 0);  // registration failures are not reported by the exit
    EXPECT_NE(run.Output().find("registry database"), std::string::npos);
}

// Qt's own options are Qt's: the module sees only what is left of the command line.
TEST(StartupTest, QtOptionsAreNotTheModulesArguments) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(tavimo_test::TempRoot()) / "qt-options";
    fs::create_directories(folder);
    const fs::path config = folder / "Named.xml";
    const fs::path before = fs::current_path();
    fs::current_path(folder);  // a file taken for the configuration would land here
    ProcessRunner run(TAVIMO_BINARY, {"-platform", "offscreen", config.string()});
    const bool started = run.Start();
    fs::current_path(before);
    ASSERT_TRUE(started);
    EXPECT_FALSE(run.Wait(3000).has_value());  // the window runs
    run.Terminate();
    EXPECT_FALSE(fs::exists(folder / "offscreen"));
    EXPECT_TRUE(fs::exists(config));

    // The raw-line scan sees "-RegServer" last once Qt's options are gone.
    ProcessRunner reg(TAVIMO_BINARY, {"-RegServer", "-platform", "offscreen"});
    ASSERT_TRUE(reg.Start());
    EXPECT_EQ(reg.Wait(30000), 0);
    EXPECT_TRUE(SinkRegistered());
}
