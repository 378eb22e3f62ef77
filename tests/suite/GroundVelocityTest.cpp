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

TEST(GroundVelocityTest, PutsFixesOnThePcClock) {
    const double day = 20000.0 * 86400.0;
    mtobj::CFixClock clock;
    // A PC clock on UTC: the fix's own time, whatever its lag.
    EXPECT_DOUBLE_EQ(clock.Moment(43200.0, day + 43200.15), day + 43200.0);
    EXPECT_TRUE(clock.ClockKeepsUtc());
    // A fix just before midnight arriving just after.
    EXPECT_DOUBLE_EQ(clock.Moment(86399.9, day + 86400.05), day + 86399.9);

    // A PC clock 40 s behind: the fix's time plus the shortest lag seen, so the jitter of
    // later fixes' lags does not move their stamps.
    clock.Reset();
    const double behind = -40.0;
    const double lags[] = {0.12, 0.08, 0.15, 0.09};
    double previous = 0;
    for (int i = 0; i < 4; ++i) {
        const double fix = 1000.0 + i;
        const double moment = clock.Moment(fix, day + fix + behind + lags[i]);
        EXPECT_FALSE(clock.ClockKeepsUtc());
        const double shortest = i == 0 ? 0.12 : 0.08;
        EXPECT_NEAR(moment, day + fix + behind + shortest, 1e-6) << i;
        if (i > 0) {
            EXPECT_NEAR(moment - previous, 1.0, 0.041);
        }
        previous = moment;
    }
}

TEST(GroundVelocityTest, TurnsTheTrueCourseIntoTheFilterFrame) {
    // Due east at 5 m/s: west is the filter frame's y.
    mtobj::LevelVelocity v = mtobj::FilterFrameVelocity(5.0, 90.0, 0.0, 0.0);
    EXPECT_NEAR(v.north, 0.0, 1e-12);
    EXPECT_NEAR(v.west, -5.0, 1e-12);
    // With 10 degrees east variation, true 100 is magnetic 90; a heading offset of 5 (added
    // to the filter's heading) leaves 85 in the filter's frame.
    v = mtobj::FilterFrameVelocity(5.0, 100.0, 10.0, 5.0);
    EXPECT_NEAR(std::atan2(-v.west, v.north) * 180.0 / M_PI, 85.0, 1e-9);
    EXPECT_NEAR(std::hypot(v.north, v.west), 5.0, 1e-12);
    // The sigma grows with the speed: a degree or two of course is decimetres at speed.
    EXPECT_NEAR(mtobj::GroundVelocitySigma(0.0), 0.05, 1e-12);
    EXPECT_GT(mtobj::GroundVelocitySigma(6.0), 0.2);
}

// The receiver on a virtual port: RMC at 5 Hz, stamped with the fix's time (the PC clock
// keeps UTC here), other sentences passed over, broken lines counted.
TEST(GroundVelocityTest, ReadsAReceiverOnAPort) {
    constexpr const char* kPort = "COM8";
    ASSERT_TRUE(comlane::CPortMap::Map(kPort, "pty"));
    mtobj::CGnssReceiver receiver(kPort, 9600);
    const auto rmc = [](int) {
        const double fixMs = CTickwise::GetPCMilliSecs() - 100.0;  // 0.1 s of latency
        char time[16];
        const auto seconds = std::fmod(fixMs / 1000.0, 86400.0);
        std::snprintf(time, sizeof time, "%02d%02d%05.2f", static_cast<int>(seconds / 3600),
                      static_cast<int>(std::fmod(seconds, 3600.0) / 60), std::fmod(seconds, 60.0));
        return Nmea(std::string("GPRMC,") + time + ",A,5230.1,N,00410.2,E,9.72,045.0,101226,,,A") +
               Nmea("GPGGA,120000,5230.1,N,00410.2,E,1,08,0.9,5.0,M,46.9,M,,") +
               "$GPRMC,cut short\r\n";
    };
    telegram_test::CSender sender(kPort, 200.0, rmc, 15);
    std::vector<mtobj::GroundReading> readings;
    for (int i = 0; i < 100 && readings.size() < 8; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        receiver.Take(readings);
    }
    ASSERT_GE(readings.size(), 8U) << receiver.Counters();
    const double now = CTickwise::GetPCMilliSecs() / 1000.0;
    for (const mtobj::GroundReading& r : readings) {
        EXPECT_NEAR(r.speed, 5.0, 0.01);
        EXPECT_EQ(r.course, 45.0);
        EXPECT_FALSE(r.variation);
        EXPECT_LT(r.moment, now);
        EXPECT_GT(r.moment, now - 5.0);
    }
    for (std::size_t i = 1; i < readings.size(); ++i) {
        EXPECT_NEAR(readings[i].moment - readings[i - 1].moment, 0.2, 0.1);
    }
    EXPECT_NE(receiver.Counters().find("dropped 8 (last: RMC with fields missing)"),
              std::string::npos)
        << receiver.Counters();
}

// A port that is not there, and one that gives no fix (a wrong baud rate, a receiver that
// sends no RMC), is named rather than left silent; nothing is read from them.
TEST(GroundVelocityTest, AReceiverPortThatGivesNoFixIsNamed) {
    testing::internal::CaptureStderr();
    std::vector<mtobj::GroundReading> readings;
    {
        mtobj::CGnssReceiver receiver("/nonexistent/ttyGNSS", 4800);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        receiver.Take(readings);
    }
    {
        constexpr const char* kPort = "COM8";
        ASSERT_TRUE(comlane::CPortMap::Map(kPort, "pty"));
        mtobj::CGnssReceiver receiver(kPort, 4800, 1.0);
        telegram_test::CSender sender(
            kPort, 100.0,
            [](int) { return Nmea("GPGGA,120000,5230.1,N,00410.2,E,1,08,0.9,5.0,M,46.9,M,,"); },
            25);
        std::this_thread::sleep_for(std::chrono::milliseconds(2000));
        receiver.Take(readings);
    }
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(readings.empty());
    EXPECT_NE(said.find("the GNSS receiver's port /nonexistent/ttyGNSS cannot be opened"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("no RMC fix from the GNSS receiver on COM8 for 1 s (lines read "),
              std::string::npos)
        << said;
}

}  // namespace
