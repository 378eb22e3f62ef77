#include <gtest/gtest.h>

#include "utilon/Text.h"

TEST(TextTest, BeforeAfterBetween) {
    EXPECT_EQ(Before("COM12:115200", ":"), "COM12");
    EXPECT_EQ(Before("COM12", ":"), "COM12");
    EXPECT_EQ(After("COM12:115200", ":"), "115200");
    EXPECT_EQ(After("COM12:", ":"), "");
    EXPECT_EQ(After("COM12", ":"), "");
    EXPECT_EQ(Between("Name[Real:m=2]", "[", "]"), "Real:m=2");
    EXPECT_EQ(Between("no open]", "[", "]"), "");
    EXPECT_EQ(Between("[no close", "[", "]"), "");
    EXPECT_EQ(Between("]x[", "[", "]"), "");
    // The closing search starts one character after the opening marker starts.
    EXPECT_EQ(Between("abab", "ab", "b"), "");
}

TEST(TextTest, ChompWithAndWithoutSkippingEmptyFields) {
    std::string text = "a,,b";
    EXPECT_EQ(Chomp(text, ",", 1), "a");
    EXPECT_EQ(Chomp(text, ",", 1), "b");
    EXPECT_EQ(text, "");
    text = "a,,b";
    EXPECT_EQ(Chomp(text, ",", 0), "a");
    EXPECT_EQ(Chomp(text, ",", 0), "");
    EXPECT_EQ(Chomp(text, ",", 0), "b");
    EXPECT_EQ(Chomp(text, ",", 0), "");
    text = ",,";
    EXPECT_EQ(Chomp(text, ",", 1), "");
    EXPECT_EQ(text, "");
}
