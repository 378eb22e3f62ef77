#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "app/Telegrams.h"

namespace {
std::string HDT(float h) {
    char out[telegrams::kMaxTelegramLength];
    return std::string(out, telegrams::FormatHDT(out, h));
}
std::string HDM(float h) {
    char out[telegrams::kMaxTelegramLength];
    return std::string(out, telegrams::FormatHDM(out, h));
}
std::string PRDID(float p, float r, float h) {
    char out[telegrams::kMaxTelegramLength];
    return std::string(out, telegrams::FormatPRDID(out, p, r, h));
}
std::string TSS1(float r, float p) {
    char out[telegrams::kMaxTelegramLength];
    return std::string(out, telegrams::FormatTSS1(out, r, p));
}
std::string TSS2(float h, float r, float p) {
    char out[telegrams::kMaxTelegramLength];
    return std::string(out, telegrams::FormatTSS2(out, h, r, p));
}

// The same sentence through printf and a plain checksum loop: the oracle for the fast
// formatter.
std::string Reference(const char* format, double a, double b = 0, double c = 0) {
    char text[256];
    std::snprintf(text, sizeof(text), format, a, b, c);
    std::string s = text;
    unsigned x = 0;
    for (std::size_t i = 1; i + 1 < s.size(); ++i) {
        x ^= static_cast<unsigned char>(s[i]);
    }
    char tail[8];
    std::snprintf(tail, sizeof(tail), "%2.2x\r\n", x);
    return s + tail;
}
}  // namespace

TEST(TelegramsTest, HeadingSentencesByteForByte) {
    EXPECT_EQ(HDT(5.25f), "$HCHDT,005.250,T*2b\r\n");
    EXPECT_EQ(HDM(12.5f), "$HCHDM,012.500,M*2f\r\n");
    EXPECT_EQ(HDT(359.9996f), Reference("$HCHDT,%07.3f,T*", 359.9996f));
    EXPECT_EQ(HDT(359.9996f).substr(7, 7), "360.000");
    EXPECT_EQ(HDT(360.0f).substr(7, 7), "360.000");
    EXPECT_EQ(HDT(0.0f), Reference("$HCHDT,%07.3f,T*", 0.0));
    EXPECT_EQ(HDM(-5.25f).substr(7, 7), "-05.250");  // the sign counts in the 7
    EXPECT_EQ(HDM(-0.0f).substr(7, 7), "-00.000");
}

TEST(TelegramsTest, PrdidPadsWithSpaces) {
    EXPECT_EQ(PRDID(-1.5f, 2.25f, 5.25f), "$PRDID,  -1.500,   2.250,   5.250*67\r\n");
    EXPECT_EQ(PRDID(-89.9999f, 179.5f, 359.999f),
              Reference("$PRDID,%8.3f,%8.3f,%8.3f*", -89.9999f, 179.5f, 359.999f));
}

TEST(TelegramsTest, ChecksumIsLowerCaseHexOfEverythingBetweenDollarAndStar) {
    std::string text = "$HCHDM,012.500,M*";
    telegrams::AppendChecksum(text);
    EXPECT_EQ(text, "$HCHDM,012.500,M*2f\r\n");
    text = "$*";
    telegrams::AppendChecksum(text);
    EXPECT_EQ(text, "$*00\r\n");
    text = "";
    telegrams::AppendChecksum(text);
    EXPECT_EQ(text, "00\r\n");
    text = "$\xAA\x55*";  // 0xff: both digits a to f
    telegrams::AppendChecksum(text);
    EXPECT_EQ(text.substr(4), "ff\r\n");
}

TEST(TelegramsTest, FastFormattingMatchesPrintfEverywhere) {
    std::mt19937 random(20261208);
    std::uniform_real_distribution<float> angle(-400.0f, 400.0f);
    std::uniform_int_distribution<int> tie(-360000, 360000);
    for (int i = 0; i < 200000; ++i) {
        // Random angles, and exact thousandths-and-a-half that test the rounding of ties.
        const float a = i % 2 == 0 ? angle(random) : (tie(random) + 0.5f) / 1000.0f;
        ASSERT_EQ(HDT(a), Reference("$HCHDT,%07.3f,T*", a)) << a;
        ASSERT_EQ(PRDID(a, -a, a / 2), Reference("$PRDID,%8.3f,%8.3f,%8.3f*", a, -a, a / 2)) << a;
    }
    for (const float odd : {std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity(), -3.0e38f, 1.0e16f}) {
        EXPECT_EQ(HDT(odd), Reference("$HCHDT,%07.3f,T*", odd)) << odd;
        EXPECT_EQ(PRDID(odd, odd, odd), Reference("$PRDID,%8.3f,%8.3f,%8.3f*", odd, odd, odd));
    }
}

TEST(TelegramsTest, MotionTelegramsByteForByte) {
    EXPECT_EQ(TSS1(2.25f, -1.5f), ":000000  0000U 0225 -0150\r\n");
    EXPECT_EQ(TSS2(5.25f, 2.25f, -1.5f), ":00525  0000U 0225 -0150F\r\n");
    // Truncated from the single-precision value: 0.29 is 0.28999...
    EXPECT_EQ(TSS1(0.29f, 0.0f), ":000000  0000U 0028  0000\r\n");
    // The sign follows the test against 0, not the digits.
    EXPECT_EQ(TSS1(0.0f, -0.001f), ":000000  0000U 0000 -0000\r\n");
    // 100 degrees or more: five digits, one character longer.
    EXPECT_EQ(TSS1(0.0f, 120.0f), ":000000  0000U 0000  12000\r\n");
    EXPECT_EQ(TSS2(0.0f, 0.0f, 120.0f), ":00000  0000U 0000  12000F\r\n");
    EXPECT_EQ(TSS2(360.0f, 0.0f, 0.0f), ":36000  0000U 0000  0000F\r\n");
    EXPECT_EQ(TSS2(359.999f, -45.678f, 10.0f), ":35999  0000U-4567  1000F\r\n");
}

TEST(TelegramsTest, MotionFieldsStayInShapeForValuesThatAreNoAngle) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(TSS1(nan, 1.0f), ":000000  0000U-0000  0100\r\n");  // not a number: "-", 0
    EXPECT_EQ(TSS1(1.0e30f, -1.0e30f), ":000000  0000U 99999 -99999\r\n");
    EXPECT_EQ(TSS2(nan, 0.0f, 0.0f), ":00000  0000U 0000  0000F\r\n");
    EXPECT_EQ(TSS2(-1.0e30f, 0.0f, 0.0f), ":-99999  0000U 0000  0000F\r\n");
}

TEST(TelegramsTest, MotionTelegramsCarryHeaveAccelerationsAndAnHonestStatus) {
    char out[telegrams::kMaxTelegramLength];
    const auto tss1 = [&out](const mtobj::Motion& m) {
        return std::string(out, telegrams::FormatTSS1(out, 2.25f, -1.5f, &m));
    };
    // Heave positive up in centimetres, rounded; horizontal acceleration 1 m/s² is 26 counts
    // of 3.83 cm/s² (1A); vertical -1 m/s² is -1600 counts of 0.0625 cm/s² (F9C0).
    EXPECT_EQ(tss1({.heave = 1.236,
                    .verticalAcceleration = -1.0,
                    .horizontalAcceleration = 1.0,
                    .status = 'U'}),
              ":1AF9C0  0124U 0225 -0150\r\n");
    EXPECT_EQ(tss1({.heave = -0.124, .verticalAcceleration = 0.5, .status = 'u'}),
              ":000320 -0012u 0225 -0150\r\n");
    // A heave that rounds to nothing has no sign; the widest values are held at the fields'
    // ends, and a status that is no letter says settling.
    EXPECT_EQ(tss1({.heave = -0.004, .status = 'U'}), ":000000  0000U 0225 -0150\r\n");
    EXPECT_EQ(tss1({.heave = 250,
                    .verticalAcceleration = 30,
                    .horizontalAcceleration = 20,
                    .status = 'U'}),
              ":FF7FFF  9999U 0225 -0150\r\n");
    EXPECT_EQ(tss1({.heave = -250,
                    .verticalAcceleration = -30,
                    .horizontalAcceleration = -1,
                    .status = '\0'}),
              ":008000 -9999u 0225 -0150\r\n");
    const mtobj::Motion motion{.heave = 0.5, .status = 'u'};
    EXPECT_EQ(std::string(out, telegrams::FormatTSS2(out, 5.25f, 2.25f, -1.5f, &motion)),
              ":00525  0050u 0225 -0150F\r\n");
}

TEST(TelegramsTest, TheListNamesTheTypesByCode) {
    EXPECT_STREQ(g_szOutputTelegramNames[TELEGRAM_NONE], "None");
    EXPECT_STREQ(g_szOutputTelegramNames[TELEGRAM_TSS2], "TSS2");
    EXPECT_STREQ(g_szOutputTelegramNames[TELEGRAM_HDT_TSS1], "HDT,TSS1");
    EXPECT_STREQ(g_szOutputTelegramNames[TELEGRAM_HDM_TSS1], "HDM,TSS1");
}
