#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>

#include "SensorTestSupport.h"
#include "app/MotionTrackerSink.h"
#include "app/XsensModule.h"
#include "mtobj/MTObj.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<fs::path> Files(const fs::path& folder) {
    std::vector<fs::path> files;
    if (fs::exists(folder)) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

VARIANT Matrix(float base) {
    std::vector<float> m(9);
    for (int i = 0; i < 9; ++i) {
        m[i] = base + 0.125F * i;
    }
    return VARIANT(m);
}

class EulerLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        folder = fs::path(sensor_test::PrivateRoot()) /
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(folder);
        link = std::make_unique<CXsensModule>();
        ASSERT_TRUE(link->Initialise());
        CMotionTrackerSink::CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&sink));
        ASSERT_EQ(link->AdviseSink(sink, &cookie), S_OK);
        link->GetTracker()->QueryInterface(IID_IMotionTrackerSimulation,
                                           reinterpret_cast<void**>(&sim));
        link->OpenSensorPort(1, 115200);
        link->SetFilterSettings(1.0F, 1.0F);
    }
    void TearDown() override {
        link->UnadviseSink(cookie);
        sim.Release();
        link.reset();
        CoUninitialize();
    }
    void Inject(int count, float base = 0.0F) {
        std::vector<VARIANT> batch;
        for (int i = 0; i < count; ++i) {
            batch.push_back(Matrix(base));
        }
        sim->InjectBatch(batch);
    }

    sensor_test::FakeClock clock{5587040.0};
    fs::path folder;
    std::unique_ptr<CXsensModule> link;
    CComPtr<IUnknown> sink;
    DWORD cookie = 0;
    CComPtr<IMotionTrackerSimulation> sim;
};

TEST(EulerLogFormatTest, LineFields) {
    const float values[9] = {0.5F, -0.25F, 1, 2, 3, 4, 5, 6, 1234.5678F};
    const std::string line = FormatEulerLogLine(5587040.0, values, 9);
    const COleDateTime when = CTickwise::ConvertPCMilliSecsToOleDateTime(5587000.0);
    char time[16];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d.040", when.GetHour(), when.GetMinute(),
                  when.GetSecond());
    EXPECT_EQ(line,
              std::string(time) +
                  ",       5587.040,   0.500,-0.250,1.000,2.000,3.000,4.000,5.000,6.000,1234.568");
    // The millisecond part is truncated, not rounded.
    EXPECT_NE(FormatEulerLogLine(1999.9, values, 1).find(".999,"), std::string::npos);
}

TEST(EulerLogFormatTest, FileNames) {
    const std::regex stamped(R"(/var/log/tavimo/Euler_Log_\d{14}\.txt)");
    EXPECT_TRUE(std::regex_match(MakeTimestampedFileName("/var/log/tavimo/Euler_Log_"), stamped));
    EXPECT_TRUE(
        std::regex_match(MakeTimestampedFileName("abc"), std::regex(R"(/Data\d{14}\.txt)")));
    EXPECT_TRUE(std::regex_match(MakeTimestampedFileName("/data/run.log"),
                                 std::regex(R"(/data/run\d{14}\.log)")));
    // A dot in a folder's name leaves the file in that folder.
    EXPECT_TRUE(std::regex_match(MakeTimestampedFileName("/home/u/.local/Euler_Log_"),
                                 std::regex(R"(/home/u/\.local/Euler_Log_\d{14}\.txt)")));
}

TEST_F(EulerLogTest, OneLinePerSampleInAStampedFile) {
    Inject(1);
    EXPECT_TRUE(Files(folder).empty());  // logging is off
    link->SetEulerLogFolder(true, folder.string());
    Inject(3, 1.0F);
    const auto files = Files(folder);
    ASSERT_EQ(files.size(), 1U);
    EXPECT_TRUE(
        std::regex_match(files[0].filename().string(), std::regex(R"(Euler_Log_\d{14}\.txt)")));
    EXPECT_EQ(link->GetEulerLogFileName(), files[0].string());
    const auto lines = Lines(files[0]);
    ASSERT_EQ(lines.size(), 3U);
    // Time of day, seconds and the nine matrix elements: eleven fields.
    EXPECT_EQ(std::count(lines[0].begin(), lines[0].end(), ','), 10);
    // The first sample (not logged) anchored the stamps; the logged ones follow it.
    const double first = 5587040.0 - (270 * 1000.0 / 115200 + static_cast<double>(1.39F)) + 40;
    const float m[9] = {1.0F, 1.125F, 1.25F, 1.375F, 1.5F, 1.625F, 1.75F, 1.875F, 2.0F};
    EXPECT_EQ(lines[0], FormatEulerLogLine(first, m, 9));
    EXPECT_EQ(lines[2], FormatEulerLogLine(first + 80, m, 9));
}

TEST_F(EulerLogTest, RollsOverAfter32001Lines) {
    link->SetEulerLogFolder(true, folder.string());
    for (int i = 0; i < 32; ++i) {
        Inject(1000);
    }
    Inject(1);
    const auto files = Files(folder);
    ASSERT_EQ(files.size(), 1U);
    EXPECT_EQ(Lines(files[0]).size(), 32001U);
    // The file is closed: moving it away, the next sample starts a file of its own.
    fs::rename(files[0], folder / "full.txt");
    Inject(1);
    EXPECT_EQ(Lines(folder / "full.txt").size(), 32001U);
    const auto after = Files(folder);
    ASSERT_EQ(after.size(), 2U);
    EXPECT_EQ(Lines(link->GetEulerLogFileName()).size(), 1U);
}

TEST_F(EulerLogTest, SwitchingTheFolderClosesTheFile) {
    link->SetEulerLogFolder(true, folder.string());
    Inject(2);
    const auto files = Files(folder);
    ASSERT_EQ(files.size(), 1U);
    const fs::path other = folder.parent_path() / "euler2";
    fs::create_directories(other);
    link->SetEulerLogFolder(true, other.string());
    fs::rename(files[0], folder / "first.txt");
    Inject(1);
    EXPECT_EQ(Lines(folder / "first.txt").size(), 2U);
    ASSERT_EQ(Files(other).size(), 1U);
    EXPECT_EQ(Lines(Files(other)[0]).size(), 1U);
    link->SetEulerLogFolder(false, other.string());
    Inject(1);
    EXPECT_EQ(Lines(Files(other)[0]).size(), 1U);
}

TEST_F(EulerLogTest, UnwritableFoldersWriteNothingAndSayNothing) {
    sensor_test::PromptRecorder prompts;
    link->SetEulerLogFolder(true, (folder / "missing").string());
    Inject(3);
    EXPECT_FALSE(fs::exists(folder / "missing"));
    if (::geteuid() != 0) {  // the owner of everything could write anyway
        const fs::path locked = folder / "locked";
        fs::create_directories(locked);
        ::chmod(locked.c_str(), 0500);
        link->SetEulerLogFolder(true, locked.string());
        Inject(3);
        EXPECT_TRUE(Files(locked).empty());
        ::chmod(locked.c_str(), 0700);
    }
    EXPECT_TRUE(prompts.texts.empty());
}

TEST_F(EulerLogTest, FullDiskClosesTheFileAndTracesOnce) {
    sensor_test::TraceCapture traces;
    // Every name the next few seconds can give leads to a device that is always full.
    for (int k = 0; k < 6; ++k) {
        const std::time_t when = std::time(nullptr) + k;
        std::tm local{};
        localtime_r(&when, &local);
        char name[64];
        std::strftime(name, sizeof name, "Euler_Log_%Y%m%d%H%M%S.txt", &local);
        fs::create_symlink("/dev/full", folder / name);
    }
    link->SetEulerLogFolder(true, folder.string());
    Inject(5);
    int failures = 0;
    for (const auto& r : traces.Records()) {
        failures += r.context == "WriteEulerLog" ? 1 : 0;
    }
    EXPECT_EQ(failures, 1);
}

}  // namespace
