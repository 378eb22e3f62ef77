#include <gtest/gtest.h>

#include "utilon/CommandLineInfoEx.h"

namespace {
CCommandLineInfoEx Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "tavimo");
    CCommandLineInfoEx info;
    ParseCommandLine(info, args);
    return info;
}
}  // namespace

TEST(CommandLineInfoExTest, EmptyLineHasNoOptions) {
    CCommandLineInfoEx info = Parse({});
    EXPECT_EQ(info.GetOption("embedded"), 0);
    EXPECT_TRUE(info.m_strFileName.empty());
}

TEST(CommandLineInfoExTest, SwitchesAndTheirValues) {
    CCommandLineInfoEx info = Parse({"/port", "COM2", "/debug"});
    std::string value;
    EXPECT_NE(info.GetOption("PORT", value), 0);
    EXPECT_EQ(value, "com2");
    EXPECT_NE(info.GetOption("debug", value), 0);
    EXPECT_EQ(value, "TRUE");
    // The switch's value is also the first plain parameter the framework sees.
    EXPECT_EQ(info.m_strFileName, "COM2");
}

TEST(CommandLineInfoExTest, ValueGoesToTheLastPendingSwitchOnly) {
    CCommandLineInfoEx info = Parse({"/a", "/b", "x", "y"});
    std::string value;
    info.GetOption("a", value);
    EXPECT_EQ(value, "TRUE");
    info.GetOption("b", value);
    EXPECT_EQ(value, "x");
    EXPECT_EQ(info.GetOption("y"), 0);
}

TEST(CommandLineInfoExTest, CaseIsFoldedInNamesAndValues) {
    CCommandLineInfoEx info = Parse({"-Verbose", "-file", "/Data/A.TXT", "-Embedded"});
    std::string value;
    EXPECT_NE(info.GetOption("VERBOSE", value), 0);
    EXPECT_EQ(value, "TRUE");
    info.GetOption("file", value);
    EXPECT_EQ(value, "/data/a.txt");
    EXPECT_NE(info.GetOption("embedded"), 0);
    EXPECT_EQ(info.m_strFileName, "/Data/A.TXT");  // the framework keeps the case
    EXPECT_FALSE(info.m_bRunEmbedded);             // "Embedded" is not the framework's switch
}

TEST(CommandLineInfoExTest, ConfigurationFileAndEmbeddedSwitch) {
    CCommandLineInfoEx info = Parse({"Vessel.xml", "-Embedded"});
    EXPECT_EQ(info.m_strFileName, "Vessel.xml");
    EXPECT_NE(info.GetOption("Embedded"), 0);
}
