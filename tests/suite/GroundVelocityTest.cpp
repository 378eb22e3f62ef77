// A GNSS receiver's velocity over ground: RMC read, fixes put on the PC clock, the course
// turned into the attitude filter's frame, and the receiver read from a virtual port.
#include "mtobj/GroundVelocity.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "TelegramSender.h"
#include "comlane/SerialDevice.h"
#include "interfaces/Tickwise.h"
#include "mtobj/sentences/Fields.h"

namespace {

using telegram_test::Nmea;

TEST(GroundVelocityTest, ReadsRmcAndRefusesWhatCannotBeUsed) {
    std::string why;
    const auto fix = mtobj::ParseRmc(
        Nmea("GPRMC,235959.80,A,5230.1,N,00410.2,E,11.66,271.5,101226,2.5,W,D"), &why);
    ASSERT_TRUE(fix) << why;
    EXPECT_NEAR(fix->secondsOfDay, 86399.8, 1e-9);
    EXPECT_NEAR(fix->speed, 11.66 * 1852.0 / 3600.0, 1e-9);
    EXPECT_EQ(fix->course, 271.5);
    ASSERT_TRUE(fix->variation);
    EXPECT_EQ(*fix->variation, -2.5);  // west

    // An NMEA 2.1 receiver (no mode), no variation, no checksum; at rest without a course.
    const auto old = mtobj::ParseRmc("$GNRMC,120000,A,5230.1,N,00410.2,E,0.05,,101226,,");
    ASSERT_TRUE(old);
    EXPECT_FALSE(old->variation);
    EXPECT_EQ(old->course, 0.0);

    for (const std::string& line :
         {Nmea("GPRMC,120000.00,V,,,,,0.0,,101226,,,N"),                     // no fix
          Nmea("GPRMC,120000.00,A,5230.1,N,00410.2,E,5.0,90.0,101226,,,E"),  // estimated
          Nmea("GPRMC,120000.00,A,5230.1,N,00410.2,E,5.0,,101226,,,A"),      // under way, no course
          Nmea("GPRMC,126000.00,A,5230.1,N,00410.2,E,5.0,90.0,101226,,,A"),  // no such time
          Nmea("GPRMC,120000.00,A,5230.1,N,00410.2,E,1e3,90.0,101226,,,A"),  // no number
          Nmea("GPRMC,120000.00,A,5230.1,N,00410.2,E,5.0,361,101226,,,A"),   // no course
          Nmea("GPRMC,120000.00,A,5230.1,N,00410.2,E,5.0,90.0,101226,3,X,A"),  // no side
          Nmea("GPRMC,120000.00,A,5230.1,N"),                                  // cut short
          Nmea("GPVTG,90.0,T,,M,5.0,N,9.3,K,A"), std::string("$GPRMC,120000,A*00"),
          std::string()}) {
        EXPECT_FALSE(mtobj::ParseRmc(line, &why)) << line;
        EXPECT_FALSE(why.empty());
    }
}

TEST(GroundVelocityTest, PutsFixesOnThePcClockAndTurnsThemIntoTheFilterFrame) {
    // Fixes stamped at their time plus the shortest lag seen, whatever the PC clock's offset
    // from UTC (none, 40 s behind, across midnight), so the lags' jitter does not move them.
    const double day = 20000.0 * 86400.0;
    const double lags[] = {0.12, 0.08, 0.15, 0.09};
    for (const double offset : {0.0, -40.0}) {
        mtobj::CFixClock clock;
        for (int i = 0; i < 4; ++i) {
            const double fix = 86398.8 + 0.5 * i;  // the last one after midnight
            const double moment =
                clock.Moment(std::fmod(fix, 86400.0), day + fix + offset + lags[i]);
            EXPECT_NEAR(moment, day + fix + offset + (i == 0 ? 0.12 : 0.08), 1e-6) << i;
        }
    }

    // Due east is the filter frame's -y (west). With 10 degrees east variation true 100 is
    // magnetic 90, and a heading offset of 5 (added to the filter's heading) leaves 85.
    const mtobj::LevelVelocity east = mtobj::FilterFrameVelocity(5.0, 90.0, 0.0, 0.0);
    EXPECT_NEAR(east.north, 0.0, 1e-12);
    EXPECT_NEAR(east.west, -5.0, 1e-12);
    const mtobj::LevelVelocity v = mtobj::FilterFrameVelocity(5.0, 100.0, 10.0, 5.0);
    EXPECT_NEAR(std::atan2(-v.west, v.north) * 180.0 / M_PI, 85.0, 1e-9);
}

// The receiver on a virtual port, first silent (GGA only: named after a second), then RMC at
// 5 Hz, stamped with the fix's time (the PC clock keeps UTC here) among other and broken
// lines; and a port that is not there, named.
TEST(GroundVelocityTest, ReadsAReceiverOnAPortAndNamesOneThatGivesNoFix) {
    constexpr const char* kPort = "COM8";
    ASSERT_TRUE(comlane::CPortMap::Map(kPort, "pty"));
    testing::internal::CaptureStderr();
    std::vector<mtobj::GroundReading> readings;
    {
        mtobj::CGnssReceiver missing("/nonexistent/ttyGNSS", 4800);
        mtobj::CGnssReceiver receiver(kPort, 9600, 1.0);
        const auto cycle = [](int i) {
            std::string gga = Nmea("GPGGA,120000,5230.1,N,00410.2,E,1,08,0.9,5.0,M,46.9,M,,");
            if (i < 8) {
                return gga;
            }
            char time[16] = {};  // the fix 0.1 s before it is sent
            mtobj::telegrams::fields::TimeOfDay(time, CTickwise::GetPCMilliSecs() - 100.0);
            return Nmea(std::string("GPRMC,") + time +
                        ",A,5230.1,N,00410.2,E,9.72,045.0,101226,,,A") +
                   gga + "$GPRMC,cut short\r\n";
        };
        telegram_test::CSender sender(kPort, 200.0, cycle, 25);
        for (int i = 0; i < 200 && readings.size() < 8; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            receiver.Take(readings);
        }
        ASSERT_GE(readings.size(), 8U) << receiver.Counters();
        EXPECT_NE(receiver.Counters().find("(last: RMC with fields missing)"), std::string::npos)
            << receiver.Counters();
    }
    const std::string said = testing::internal::GetCapturedStderr();
    const double now = CTickwise::GetPCMilliSecs() / 1000.0;
    for (std::size_t i = 0; i < readings.size(); ++i) {
        EXPECT_NEAR(readings[i].speed, 5.0, 0.01);
        EXPECT_EQ(readings[i].course, 45.0);
        EXPECT_TRUE(readings[i].moment < now && readings[i].moment > now - 10.0);
        if (i > 0) {
            EXPECT_NEAR(readings[i].moment - readings[i - 1].moment, 0.2, 0.1);
        }
    }
    for (const char* part : {"the GNSS receiver's port /nonexistent/ttyGNSS cannot be opened",
                             "no RMC fix from the GNSS receiver on COM8 for 1 s (lines read ",
                             "the GNSS receiver on COM8 sends fixes again"}) {
        EXPECT_NE(said.find(part), std::string::npos) << said;
    }
}

}  // namespace
