#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "utilon/Numbers.h"

TEST(RoundTest, HalvesGoAwayFromZero) {
    EXPECT_EQ(Round(2.5), 3.0);
    EXPECT_EQ(Round(-2.5), -3.0);
    EXPECT_EQ(Round(1.5), 2.0);
    EXPECT_EQ(Round(-1.5), -2.0);
    EXPECT_EQ(Round(0.49), 0.0);
    EXPECT_EQ(Round(-0.5), -1.0);
    EXPECT_TRUE(std::signbit(Round(0.0)));  // ceil(-0.5): a zero with the sign bit set
    EXPECT_TRUE(std::isnan(Round(std::nan(""))));
}

TEST(RoundTest, PlacesWorkOnTheDoubleProduct) {
    EXPECT_EQ(Round(1.005, 2), 1.0);  // 100.49999... rounds down
    EXPECT_DOUBLE_EQ(Round(3.14159, 3), 3.142);
    EXPECT_DOUBLE_EQ(Round(-3.14159, 2), -3.14);
    EXPECT_TRUE(std::isnan(Round(1.0, 400)));  // the factor overflows: inf / inf
}

TEST(FloatToStrTest, FixedAndTrimmedForms) {
    EXPECT_EQ(FloatToStr(3.0, -1), "3");
    EXPECT_EQ(FloatToStr(3.0, 2), "3.00");
    EXPECT_EQ(FloatToStr(-0.25, -1), "-0.25");
    EXPECT_EQ(FloatToStr(12.5, -1), "12.5");
    EXPECT_EQ(FloatToStr(100.0, -1), "100");
    EXPECT_EQ(FloatToStr(2.0 / 3.0, 0), "1");
    EXPECT_EQ(FloatToStr(1e300, 2).size(), 304u);  // long texts are not cut
}

TEST(StrToFloatTest, ReportsWhereTheNumberEnds) {
    int end = -1;
    EXPECT_DOUBLE_EQ(StrToFloat("12.5kts", &end), 12.5);
    EXPECT_EQ(end, 4);
    EXPECT_EQ(StrToFloat("abc", &end), 0.0);
    EXPECT_EQ(end, 0);
    EXPECT_EQ(StrToFloat("", nullptr), 0.0);
}

TEST(IsNumericTest, WholeTextMustBeOneNumber) {
    double v = 0.0;
    EXPECT_NE(IsNumeric(" \t12.5\t ", &v), 0);
    EXPECT_EQ(v, 12.5);
    EXPECT_NE(IsNumeric("0", &v), 0);
    EXPECT_EQ(v, 0.0);
    EXPECT_EQ(IsNumeric("12a", nullptr), 0);
    EXPECT_EQ(IsNumeric("abc", nullptr), 0);
    EXPECT_EQ(IsNumeric("-0", nullptr), 0);  // zero counts only when it starts with the digit
    EXPECT_EQ(IsNumeric(nullptr, nullptr), 0);
    EXPECT_EQ(IsNumeric("", nullptr), 0);
    EXPECT_EQ(IsNumeric("   ", nullptr), 0);
    EXPECT_NE(IsNumeric("-1e3", &v), 0);
    EXPECT_EQ(v, -1000.0);
}

TEST(IntToStrTest, DecimalText) {
    EXPECT_EQ(IntToStr(-42), "-42");
    EXPECT_EQ(IntToStr(std::numeric_limits<int>::min()), "-2147483648");
}
