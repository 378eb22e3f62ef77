#include <gtest/gtest.h>

#include "platform/CommandLine.h"

TEST(CommandLineTest, FirstPlainParameterIsTheFileAndFrameworkSwitchesAreSeen) {
    CCommandLineInfo info;
    ParseCommandLine(info, {"tavimo", "Vessel.xml", "-Embedding", "other.xml"});
    EXPECT_EQ(info.m_strFileName, "Vessel.xml");
    EXPECT_TRUE(info.m_bRunEmbedded);
    EXPECT_FALSE(info.m_bRunAutomated);
    CCommandLineInfo automation;
    ParseCommandLine(automation, {"tavimo", "/AUTOMATION"});
    EXPECT_TRUE(automation.m_bRunAutomated);
    EXPECT_TRUE(automation.m_strFileName.empty());
}

TEST(CommandLineTest, AbsolutePathIsAFileNotASwitch) {
    CCommandLineInfo info;
    ParseCommandLine(info, {"tavimo", "/srv/survey/Tavimo.xml", "/Embedding"});
    EXPECT_EQ(info.m_strFileName, "/srv/survey/Tavimo.xml");
    EXPECT_TRUE(info.m_bRunEmbedded);
}

TEST(CommandLineTest, RawCommandLineJoinsTheArguments) {
    platform::SetCommandLine({"/usr/bin/tavimo", "-RegServer"});
    EXPECT_EQ(platform::GetCommandLineA(), "/usr/bin/tavimo -RegServer");
}
