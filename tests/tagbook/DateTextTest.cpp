#include <gtest/gtest.h>

#include "tagbook/DateText.h"

namespace {
std::string Read(const std::string& text) {
    COleDateTime value;
    if (!tagbook::ParseDateTimeText(text, value)) {
        return "refused";
    }
    return value.Format("%Y-%m-%d %H:%M:%S");
}
}  // namespace

TEST(DateTextTest, FormsAUserTypes) {
    EXPECT_EQ(Read("Tue 08 Dec 2026, 14:15:03"), "2026-12-08 14:15:03");
    EXPECT_EQ(Read("8 December 2026 2:15 PM"), "2026-12-08 14:15:00");
    EXPECT_EQ(Read("Dec 8 2026 12:05 am"), "2026-12-08 00:05:00");
    EXPECT_EQ(Read("08/12/2026 14:15:03"), "2026-12-08 14:15:03");
    EXPECT_EQ(Read("8-12-26"), "2026-12-08 00:00:00");
    EXPECT_EQ(Read("8.12.1999"), "1999-12-08 00:00:00");
    EXPECT_EQ(Read("2026-12-08T14:15:03.5"), "2026-12-08 14:15:03");
    EXPECT_EQ(Read("2026/02/29"), "refused");
    EXPECT_EQ(Read("2024/02/29"), "2024-02-29 00:00:00");
    EXPECT_EQ(Read("14:15:03"), "1899-12-30 14:15:03");
}

TEST(DateTextTest, RefusesWhatIsNotADate) {
    for (const char* text :
         {"", "   ", "abc", "12", "31/04/2026", "2026-13-01", "25:00", "10:61", "13:00 PM",
          "8 Dec 2026 14:15 xyz", "8 Dec 2026;", "99999999999/1/1", "8 Dec", "14:15:", "Tue"}) {
        EXPECT_EQ(Read(text), "refused") << text;
    }
}

TEST(DateTextTest, FractionOfASecondIsKept) {
    COleDateTime value;
    ASSERT_TRUE(tagbook::ParseDateTimeText("2026-12-08 00:00:00.250", value));
    EXPECT_EQ(value.GetMillisecond(), 250);
}
