#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ConfigTestSupport.h"
#include "app/Config.h"
#include "app/Settings.h"
#include "interfaces/ErrorLog.h"
#include "utilon/CommandLineInfoEx.h"

namespace fs = std::filesystem;

namespace {
using tavimo_test::ReadFile;

std::string Node(const fs::path& file, const char* key) {
    CConfig config;
    BSTR value("<missing>");
    config.Load(file.string());
    config.GetValue(key, value);
    return value.str();
}

class SettingsTest : public ConfigFileTest {
protected:
    void SetUp() override {
        ConfigFileTest::SetUp();
        m_file = m_dir / "Tavimo.xml";
    }

    void Write(const std::string& body) {
        std::ofstream(m_file, std::ios::binary)
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Tavimo>" << body << "</Tavimo>\n";
    }

    fs::path m_file;
};
}  // namespace

TEST_F(SettingsTest, FreshFileIsTheShippedDefaultWithThisUsersLogFolder) {
    const fs::path file = m_dir / "new" / "folder" / "Tavimo.xml";
    CTavimoSettingsStore store(file.string());
    ASSERT_TRUE(store.CreateIfMissing());
    const std::string logFolder = std::string(std::getenv("XDG_DATA_HOME")) + "/tavimo";
    EXPECT_EQ(CTavimoSettingsStore::DefaultLogFolder(), logFolder);
    EXPECT_EQ(Node(file, "Logging/FilePath"), logFolder);
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);

    CTavimoSettings settings;
    settings.m_bApplySmoothing = true;  // the file's FALSE replaces what the window held
    ASSERT_TRUE(store.LoadSettings(settings));
    EXPECT_FLOAT_EQ(settings.m_fFilterGain, 0.2f);
    EXPECT_DOUBLE_EQ(settings.m_dMagneticVariation, 0.0);
    EXPECT_FLOAT_EQ(settings.m_fMagnetometerWeight, 1.0f);
    EXPECT_EQ(settings.m_strSensorPort, "COM1");
    EXPECT_EQ(settings.m_strSensorBaud, "115200");
    EXPECT_EQ(settings.m_strPrimaryTelegram, "HDT");
    EXPECT_EQ(settings.m_strPrimaryPort, "COM2");
    EXPECT_EQ(settings.m_strSecondaryTelegram, "TSS1");
    EXPECT_EQ(settings.m_strSecondaryPort, "COM3");
    EXPECT_EQ(settings.m_strSecondaryBaud, "115200");
    EXPECT_TRUE(settings.m_bEnableOutputUI);
    EXPECT_FALSE(settings.m_bLogging);
    EXPECT_EQ(settings.m_strLogFolder, logFolder);
    EXPECT_FALSE(settings.m_bApplySmoothing);
    EXPECT_EQ(settings.m_nTimeWindow, 0);
    EXPECT_EQ(settings.m_strFrequency, "Max Output");
    EXPECT_EQ(settings.m_nMSIOPort, 100);
    EXPECT_EQ(settings.m_nMSIOBaud, 115200);
    float offset = -1.0f;
    EXPECT_TRUE(store.GetHeadingOffset(offset));
    EXPECT_FLOAT_EQ(offset, 0.0f);

    // Every node the settings write is in the shipped file: a save changes each of them.
    settings.m_fFilterGain = 0.5f;
    settings.m_dMagneticVariation = -3.25;
    settings.m_fMagnetometerWeight = 0.75f;
    settings.m_strSensorPort = "COM5";
    settings.m_strSensorBaud = "57600";
    settings.m_strPrimaryTelegram = "TSS2";
    settings.m_strPrimaryPort = "COM6";
    settings.m_strPrimaryBaud = "9600";
    settings.m_strSecondaryTelegram = "None";
    settings.m_strSecondaryPort = "COM7";
    settings.m_strSecondaryBaud = "19200";
    settings.m_bLogging = true;
    settings.m_strLogFolder = "/srv/survey logs & <euler>";
    settings.m_bApplySmoothing = true;
    settings.m_nTimeWindow = 250;
    settings.m_strFrequency = "10 Hz";
    settings.m_nMSIOPort = 12;
    settings.m_nMSIOBaud = 38400;
    settings.m_bEnableOutputUI = false;  // never written
    ASSERT_TRUE(store.SaveSettings(settings));
    EXPECT_EQ(Node(file, "FilterGain"), "0.50");
    EXPECT_EQ(Node(file, "MagneticVariation"), "-3.250000000000000");
    EXPECT_EQ(Node(file, "MagnetometerWeight"), "0.75");
    EXPECT_EQ(Node(file, "Logging/Enable"), "TRUE");
    EXPECT_EQ(Node(file, "ApplySmoothing"), "TRUE");
    EXPECT_EQ(Node(file, "TimeWindow"), "250");
    EXPECT_EQ(Node(file, "MSIOPort/Path"), "12");
    EXPECT_EQ(Node(file, "UserInterface/EnableOutputUI"), "TRUE");

    CTavimoSettings reread;
    ASSERT_TRUE(store.LoadSettings(reread));
    EXPECT_FLOAT_EQ(reread.m_fFilterGain, 0.5f);
    EXPECT_DOUBLE_EQ(reread.m_dMagneticVariation, -3.25);
    EXPECT_FLOAT_EQ(reread.m_fMagnetometerWeight, 0.75f);
    EXPECT_EQ(reread.m_strSensorPort, "COM5");
    EXPECT_EQ(reread.m_strSensorBaud, "57600");
    EXPECT_EQ(reread.m_strPrimaryTelegram, "TSS2");
    EXPECT_EQ(reread.m_strPrimaryPort, "COM6");
    EXPECT_EQ(reread.m_strPrimaryBaud, "9600");
    EXPECT_EQ(reread.m_strSecondaryTelegram, "None");
    EXPECT_EQ(reread.m_strSecondaryPort, "COM7");
    EXPECT_EQ(reread.m_strSecondaryBaud, "19200");
    EXPECT_TRUE(reread.m_bLogging);
    EXPECT_EQ(reread.m_strLogFolder, "/srv/survey logs & <euler>");
    EXPECT_TRUE(reread.m_bApplySmoothing);
    EXPECT_EQ(reread.m_nTimeWindow, 250);
    EXPECT_EQ(reread.m_strFrequency, "10 Hz");
    EXPECT_EQ(reread.m_nMSIOPort, 12);
    EXPECT_EQ(reread.m_nMSIOBaud, 38400);
    EXPECT_TRUE(reread.m_bEnableOutputUI);
}

TEST_F(SettingsTest, AnExistingFileIsNeverReplacedByTheDefault) {
    std::ofstream(m_file) << "not xml at all";
    CTavimoSettingsStore store(m_file.string());
    EXPECT_TRUE(store.CreateIfMissing());
    EXPECT_EQ(ReadFile(m_file), "not xml at all");
    CTavimoSettings settings;
    EXPECT_FALSE(store.SaveSettings(settings));
    EXPECT_EQ(ReadFile(m_file), "not xml at all");
    EXPECT_NE(Trace().find("settings not saved"), std::string::npos) << Trace();
}

TEST_F(SettingsTest, FlagsNumbersAndMissingNodesFollowTheReadRules) {
    Write(
        "<Logging><Enable>true</Enable></Logging>"
        "<UserInterface><EnableOutputUI>1</EnableOutputUI></UserInterface>"
        "<FilterGain>fast</FilterGain><MagneticVariation>nan</MagneticVariation>"
        "<MagnetometerWeight>1e60</MagnetometerWeight>"
        "<TimeWindow>12.9ms</TimeWindow>"
        "<MSIOPort><Path>70000</Path><Baud_Rate>x</Baud_Rate></MSIOPort>"
        "<HeadingOffsetDegs>ninety</HeadingOffsetDegs>");
    CTavimoSettingsStore store(m_file.string());
    CTavimoSettings settings;
    settings.m_bApplySmoothing = true;  // no node: stays as the window held it
    settings.m_nTimeWindow = 40;
    settings.m_strPrimaryTelegram = "HDM";
    settings.m_fFilterGain = 0.9f;  // always reset before reading
    ASSERT_TRUE(store.LoadSettings(settings));
    EXPECT_TRUE(settings.m_bLogging);          // upper-cased before the comparison
    EXPECT_FALSE(settings.m_bEnableOutputUI);  // "1" is not "TRUE"
    EXPECT_TRUE(settings.m_bApplySmoothing);
    EXPECT_EQ(settings.m_strPrimaryTelegram, "HDM");
    EXPECT_FLOAT_EQ(settings.m_fFilterGain, 0.2f);            // no number: the default
    EXPECT_DOUBLE_EQ(settings.m_dMagneticVariation, 0.0);     // no NaN into the telegrams
    EXPECT_FLOAT_EQ(settings.m_fMagnetometerWeight, 100.0f);  // within what the window offers
    EXPECT_EQ(settings.m_nTimeWindow, 12);                    // the leading number, as ever
    EXPECT_EQ(settings.m_nMSIOPort, 32767);
    EXPECT_EQ(settings.m_nMSIOBaud, 115200);
    // Each of them is named, with what is used instead.
    std::string named;
    for (const SettingNotUnderstood& entry : settings.m_notUnderstood) {
        named += store.Describe(entry) + "\n";
    }
    for (const char* line :
         {": FilterGain \"fast\" is not a gain of 0.1 to 100; using 0.20",
          ": MagnetometerWeight \"1e60\" is not a weight of 0.1 to 100; using 100.00",
          ": TimeWindow \"12.9ms\" is not a whole number of 0 to 10000 ms; using 12",
          ": UserInterface/EnableOutputUI \"1\" is not TRUE or FALSE; using FALSE",
          ": MSIOPort/Baud_Rate \"x\" is not a baud rate; using 115200"}) {
        EXPECT_NE(named.find(m_file.string() + line), std::string::npos) << line << "\n" << named;
    }
    EXPECT_EQ(settings.m_strSensorPort, "COM1");
    float offset = 5.0f;
    EXPECT_TRUE(store.GetHeadingOffset(offset));
    EXPECT_FLOAT_EQ(offset, 0.0f);

    // The same settings object read again from a file that lacks Logging/Enable: off.
    Write("<ApplySmoothing>yes</ApplySmoothing>");
    settings.m_bLogging = true;
    settings.m_bEnableOutputUI = false;
    ASSERT_TRUE(store.LoadSettings(settings));
    EXPECT_FALSE(settings.m_bLogging);
    EXPECT_TRUE(settings.m_bEnableOutputUI);
    EXPECT_FALSE(settings.m_bApplySmoothing);
    EXPECT_FALSE(store.GetHeadingOffset(offset));

    // Saving to a file that lacks nodes changes what exists and adds nothing.
    settings.m_bApplySmoothing = true;
    ASSERT_TRUE(store.SaveSettings(settings));
    EXPECT_EQ(ReadFile(m_file),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<Tavimo><ApplySmoothing>TRUE</ApplySmoothing></Tavimo>\n");
}

TEST_F(SettingsTest, BrokenFilesGiveTheDefaults) {
    for (const std::string& content : {std::string(), std::string("COM4"),
                                       std::string("<Tavimo><FilterGain>0.5</FilterGain>")}) {
        SCOPED_TRACE(content);
        std::ofstream(m_file, std::ios::binary) << content;
        CTavimoSettingsStore store(m_file.string());
        CTavimoSettings settings;
        settings.m_fFilterGain = 0.9f;
        std::string reason;
        EXPECT_FALSE(store.LoadSettings(settings, &reason));
        EXPECT_FALSE(reason.empty());
        EXPECT_FLOAT_EQ(settings.m_fFilterGain, 0.2f);
        EXPECT_EQ(settings.m_strSensorPort, "COM1");
        EXPECT_EQ(settings.m_strFrequency, "Max Output");
        EXPECT_FALSE(store.SaveSettings(settings));
        EXPECT_EQ(ReadFile(m_file), content);
    }
}

TEST_F(SettingsTest, AFolderThatCannotBeMadeIsReportedWithItsReason) {
    std::ofstream(m_dir / "plain-file") << "x";
    CTavimoSettingsStore store((m_dir / "plain-file" / "sub" / "Tavimo.xml").string());
    std::string reason;
    EXPECT_FALSE(store.CreateIfMissing(&reason));
    EXPECT_NE(reason.find("does not exist and cannot be made"), std::string::npos) << reason;
    EXPECT_NE(reason.find((m_dir / "plain-file" / "sub").string()), std::string::npos);
    CTavimoSettings settings;
    EXPECT_FALSE(store.LoadSettings(settings, &reason));
    EXPECT_EQ(reason, "Not a directory");
}

TEST_F(SettingsTest, ReadOnlyFileKeepsTheSettingsInMemoryAndTracesTheFailedSave) {
    CTavimoSettingsStore store(m_file.string());
    ASSERT_TRUE(store.CreateIfMissing());
    ASSERT_EQ(::chmod(m_file.c_str(), 0444), 0);
    const std::string before = ReadFile(m_file);
    CTavimoSettings settings;
    ASSERT_TRUE(store.LoadSettings(settings));
    settings.m_dMagneticVariation = 12.5;
    EXPECT_FALSE(store.SaveSettings(settings));
    EXPECT_DOUBLE_EQ(settings.m_dMagneticVariation, 12.5);
    EXPECT_EQ(ReadFile(m_file), before);
    EXPECT_NE(Trace().find("is read-only: settings not saved"), std::string::npos) << Trace();
    EXPECT_NE(Trace().find("they stay in use in memory"), std::string::npos) << Trace();
}

TEST_F(SettingsTest, AFileThatWentAwayIsWrittenAfreshOnSave) {
    CTavimoSettingsStore store(m_file.string());
    CTavimoSettings settings;
    settings.m_strSensorPort = "COM9";
    ASSERT_TRUE(store.SaveSettings(settings));
    EXPECT_EQ(Node(m_file, "SensorPort/Path"), "COM9");
    EXPECT_EQ(Node(m_file, "HeadingOffsetDegs"), "0");
}

TEST_F(SettingsTest, TheFileComesFromTheCommandLineElseTavimoXml) {
    CCommandLineInfoEx named;
    ParseCommandLine(named, {"tavimo", "/srv/vessel/Tavimo.xml", "-Embedded"});
    EXPECT_EQ(CTavimoSettingsStore(CTavimoSettingsStore::FileNameFromCommandLine(named)).FileName(),
              "/srv/vessel/Tavimo.xml");
    CCommandLineInfoEx bare;
    ParseCommandLine(bare, {"tavimo", "-Embedded"});
    EXPECT_EQ(CTavimoSettingsStore(CTavimoSettingsStore::FileNameFromCommandLine(bare)).FileName(),
              "Tavimo.xml");
}

TEST_F(SettingsTest, TheHeaveNodesAreReadCheckedAndAddedOnlyOnceSet) {
    // An older file without them keeps its text byte for byte, and the defaults apply.
    Write("<TimeWindow>0</TimeWindow>");
    const std::string older = ReadFile(m_file);
    CTavimoSettingsStore store(m_file.string());
    CTavimoSettings settings;
    ASSERT_TRUE(store.LoadSettings(settings));
    EXPECT_EQ(settings.m_heave.period, 18.0);
    ASSERT_TRUE(store.SaveSettings(settings));
    EXPECT_EQ(ReadFile(m_file), older);

    // Set in the window: the nodes go in and read back.
    settings.m_heave.x = 8;
    settings.m_heave.z = -6.5;
    settings.m_heave.period = 12;
    settings.m_heave.gnssPort = "COM5";
    settings.m_heave.gnssBaud = 38400;
    settings.m_heave.antennaZ = 12.5;
    ASSERT_TRUE(store.SaveSettings(settings));
    EXPECT_EQ(Node(m_file, "Heave/MonitoringPoint/Z"), "-6.5");
    EXPECT_EQ(Node(m_file, "Heave/Gnss/Port"), "COM5");
    CTavimoSettings again;
    ASSERT_TRUE(store.LoadSettings(again));
    EXPECT_EQ(again.m_heave.x, 8.0);
    EXPECT_EQ(again.m_heave.z, -6.5);
    EXPECT_EQ(again.m_heave.period, 12.0);
    EXPECT_EQ(again.m_heave.gnssPort, "COM5");
    EXPECT_EQ(again.m_heave.gnssBaud, 38400);
    EXPECT_EQ(again.m_heave.antennaX, 0.0);
    EXPECT_EQ(again.m_heave.antennaZ, 12.5);

    // A value not understood, or out of range, is named and the default kept; the others count.
    Write(
        "<Heave><FilterPeriod>40</FilterPeriod><MonitoringPoint><X>8 m</X><Y>-2</Y>"
        "</MonitoringPoint><Gnss><Baud_Rate>9600.5</Baud_Rate><Antenna><Y>600</Y></Antenna>"
        "</Gnss></Heave>");
    CTavimoSettings mistaken;
    ASSERT_TRUE(store.LoadSettings(mistaken));
    std::string said;
    for (const SettingNotUnderstood& entry : mistaken.m_notUnderstood) {
        said += store.Describe(entry) + "\n";
    }
    EXPECT_EQ(mistaken.m_heave.period, 18.0);
    EXPECT_EQ(mistaken.m_heave.x, 0.0);
    EXPECT_EQ(mistaken.m_heave.y, -2.0);
    EXPECT_NE(said.find("Heave/FilterPeriod \"40\" is not a period of 5 to 30 seconds; using 18"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("Heave/MonitoringPoint/X \"8 m\""), std::string::npos) << said;
    EXPECT_EQ(mistaken.m_heave.gnssBaud, 4800);
    EXPECT_NE(said.find("Heave/Gnss/Baud_Rate \"9600.5\" is not a baud rate; using 4800"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("Heave/Gnss/Antenna/Y \"600\""), std::string::npos) << said;
}
