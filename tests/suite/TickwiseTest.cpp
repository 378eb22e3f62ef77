#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "interfaces/Tickwise.h"

TEST(TickwiseTest, ClockStartsAtTheWallClockAndNeverGoesBack) {
    const double wall = std::chrono::duration<double, std::milli>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    double previous = CTickwise::GetPCMilliSecs();
    EXPECT_NEAR(previous, wall, 5000.0);
    for (int i = 0; i < 10000; ++i) {
        const double now = CTickwise::GetPCMilliSecs();
        ASSERT_GE(now, previous);
        previous = now;
    }
}

TEST(TickwiseTest, OleDatesAreExactToTheMillisecond) {
    EXPECT_DOUBLE_EQ(CTickwise::ConvertPCMilliSecsToDATE(0.0), 25569.0);
    EXPECT_DOUBLE_EQ(CTickwise::ConvertPCMilliSecsToDATE(86400000.0), 25570.0);
    for (double ms : {1796738244123.0, 1796738244999.0, 946684800001.0}) {
        const DATE date = CTickwise::ConvertPCMilliSecsToDATE(ms);
        EXPECT_EQ(std::llround(CTickwise::ConvertDATEToPCMilliSecs(date)), std::llround(ms));
        double utc = 0.0;
        EXPECT_TRUE(CTickwise::ConvertPCMilliSecsToUTCDate(ms, utc));
        EXPECT_DOUBLE_EQ(utc, date);
        EXPECT_TRUE(CTickwise::AdjustedPCMilliSecsToUTCDate(ms, utc));
        EXPECT_EQ(CTickwise::ConvertPCMilliSecsToOleDateTime(ms).GetMillisecond(),
                  static_cast<int>(std::llround(ms) % 1000));
    }
    const COleDateTime t = CTickwise::ConvertPCMilliSecsToOleDateTime(1796738244123.0);
    EXPECT_EQ(t.Format("%Y-%m-%d %H:%M:%S"), "2026-12-08 13:57:24");
}

TEST(TickwiseTest, TestClockReplacesAndRestores) {
    CTickwise::SetClockForTesting([] { return 1000.0; });
    EXPECT_EQ(CTickwise::GetPCMilliSecs(), 1000.0);
    CTickwise::SetClockForTesting(nullptr);
    EXPECT_GT(CTickwise::GetPCMilliSecs(), 1.0e12);
    CTickwise::SetTimeSource("GPS");
    EXPECT_EQ(CTickwise::GetTimeSource(), "GPS");
}
