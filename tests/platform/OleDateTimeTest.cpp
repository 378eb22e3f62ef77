#include <gtest/gtest.h>

#include <cmath>

#include "platform/OleDateTime.h"

TEST(OleDateTimeTest, KnownDatesAndParts) {
    COleDateTime epoch(1899, 12, 30, 0, 0, 0);
    EXPECT_DOUBLE_EQ(epoch.m_dt, 0.0);
    COleDateTime unix(1970, 1, 1, 0, 0, 0);
    EXPECT_DOUBLE_EQ(unix.m_dt, 25569.0);
    COleDateTime t(2026, 12, 8, 13, 57, 24);
    EXPECT_EQ(t.GetYear(), 2026);
    EXPECT_EQ(t.GetMonth(), 12);
    EXPECT_EQ(t.GetDay(), 8);
    EXPECT_EQ(t.GetHour(), 13);
    EXPECT_EQ(t.GetMinute(), 57);
    EXPECT_EQ(t.GetSecond(), 24);
    EXPECT_EQ(t.GetDayOfWeek(), 3);  // a Tuesday
    EXPECT_EQ(t.Format("%Y-%m-%d %H:%M:%S"), "2026-12-08 13:57:24");
}

TEST(OleDateTimeTest, InvalidDatesAreMarked) {
    COleDateTime t(2026, 2, 29, 0, 0, 0);
    EXPECT_EQ(t.GetStatus(), COleDateTime::invalid);
    EXPECT_EQ(t.Format(), "");
    COleDateTime leap(2024, 2, 29, 23, 59, 59);
    EXPECT_EQ(leap.GetStatus(), COleDateTime::valid);
}

TEST(OleDateTimeTest, MillisecondsRoundTripExactly) {
    const double ms = 1796738244123.0;  // 2026-12-08T13:57:24.123Z
    COleDateTime t = COleDateTime::FromUnixMilliseconds(ms);
    EXPECT_EQ(t.GetMillisecond(), 123);
    EXPECT_EQ(std::llround(t.ToUnixMilliseconds()), 1796738244123LL);
}
