// The whole module as a vessel's attitude hub: a gyrocompass and motion sensor send HDT and
// TSS1 at 4800 baud into the sensor port (a virtual port read as telegrams), and the
// tavimo binary sends the same heading and attitude on as TSS1 and HDT on two more.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>

#include "ProcessRunner.h"
#include "TelegramSender.h"
#include "TestSupport.h"
#include "app/Config.h"
#include "app/Settings.h"
#include "comlane/SerialDevice.h"
#include "mtobj/MTObj.h"
#include "platform/Registry.h"

namespace {

double HeadingOf(int i) {
    return std::fmod(100.125 + 0.5 * i, 360.0);
}
int RollOf(int i) {  // hundredths
    return (i * 37) % 800 - 400;
}
int PitchOf(int i) {
    return (i * 53) % 400 - 200;
}

std::string Cycle(int i) {
    char hdt[32];
    std::snprintf(hdt, sizeof hdt, "HEHDT,%.3f,T", HeadingOf(i));
    char tss1[48];
    std::snprintf(tss1, sizeof tss1, ":000000  0000U%c%04d %c%04d\r\n", RollOf(i) < 0 ? '-' : ' ',
                  std::abs(RollOf(i)), PitchOf(i) < 0 ? '-' : ' ', std::abs(PitchOf(i)));
    return telegram_test::Nmea(hdt) + tss1;
}

TEST(TelegramHubTest, GyroTelegramsInAt4800BaudGoOutAsTss1AndHdt) {
    {
        CRegKey key;
        ASSERT_EQ(key.Create(HKEY_CURRENT_USER, mtobj::kSettingsKey), ERROR_SUCCESS);
        key.SetString("Port", "COM4");
        key.SetString("Kind", "telegrams");
    }
    comlane::CPortMap::Entries();
    ASSERT_TRUE(comlane::CPortMap::Map("COM4", "pty"));
    platform::RegistryClose();  // the module's process reads what was written

    const std::string file = tavimo_test::TempRoot() + "/Hub.xml";
    std::ofstream(file) << CTavimoSettingsStore::DefaultConfiguration();
    {
        CConfig config;
        ASSERT_TRUE(config.Load(CComBSTR(file)));
        for (const auto& [key, value] :
             {std::pair{"SensorPort/Path", "COM4"}, std::pair{"SensorPort/Baud_Rate", "4800"},
              std::pair{"PrimaryPort/Telegram", "TSS1"}, std::pair{"PrimaryPort/Path", "COM2"},
              std::pair{"SecondaryPort/Telegram", "HDT"}, std::pair{"SecondaryPort/Path", "COM3"},
              std::pair{"MagneticVariation", "0"},
              std::pair{"TelegramOutputFrequency", "Max Output"}}) {
            ASSERT_TRUE(config.SetValue(CComBSTR(key), CComBSTR(value))) << key;
        }
        ASSERT_TRUE(config.Save(CComBSTR("")));
    }

    telegram_test::CSender gyro("COM4", 100.0, Cycle);
    ProcessRunner tavimo(TAVIMO_BINARY, {file});
    ASSERT_TRUE(tavimo.Start());
    telegram_test::CLineReaderPort tss1("COM2"), hdt("COM3");
    ASSERT_TRUE(tss1.IsOpen() && hdt.IsOpen()) << tavimo.Output();
    std::set<int> headingCycles;
    for (int n = 0; n < 20; ++n) {
        const std::string line = hdt.NextLine();
        double heading = -1;
        unsigned sum = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "$HCHDT,%lf,T*%2x", &heading, &sum), 2)
            << "'" << line << "'\n"
            << tavimo.Output();
        bool found = false;
        for (int i = 0; i <= gyro.Sent() + 1 && !found; ++i) {
            if (std::fabs(heading - HeadingOf(i)) < 0.0011) {
                headingCycles.insert(i);
                found = true;
            }
        }
        EXPECT_TRUE(found) << line << " carries no heading the gyrocompass sent";
    }
    EXPECT_GE(headingCycles.size(), 10U);  // the heading follows the gyrocompass
    for (int n = 0; n < 20; ++n) {
        const std::string line = tss1.NextLine();
        char s1 = 0, s2 = 0;
        int roll = 0, pitch = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), ":000000  0000U%c%4d %c%4d", &s1, &roll, &s2, &pitch),
                  4)
            << "'" << line << "'";
        roll *= s1 == '-' ? -1 : 1;
        pitch *= s2 == '-' ? -1 : 1;
        bool found = false;
        for (int i = 0; i <= gyro.Sent() + 1 && !found; ++i) {
            // Hundredths truncated from single precision: the same or one less in magnitude.
            found = std::abs(roll - RollOf(i)) <= 1 && std::abs(pitch - PitchOf(i)) <= 1 &&
                    std::abs(roll) <= std::abs(RollOf(i)) &&
                    std::abs(pitch) <= std::abs(PitchOf(i));
        }
        EXPECT_TRUE(found) << line << " carries no roll and pitch the motion sensor sent";
    }
    // Ended as the Exit command ends it, the module writes back the sensor baud rate it ran
    // at: 4800 is on the window's list.
    tavimo.Terminate();
    CConfig config;
    CComBSTR baud("");
    ASSERT_TRUE(config.Load(CComBSTR(file)));
    ASSERT_TRUE(config.GetValue(CComBSTR("SensorPort/Baud_Rate"), baud));
    EXPECT_EQ(baud.str(), "4800");
}

}  // namespace
