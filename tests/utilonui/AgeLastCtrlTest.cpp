#include <gtest/gtest.h>

#include <QTest>
#include <cmath>
#include <memory>
#include <regex>

#include "GuiTestApp.h"
#include "interfaces/Tickwise.h"
#include "utilonui/AgeLastCtrl.h"

namespace {
constexpr double kMinute = 60000.0;

// The protected formatter, reached the way a derived control would.
class CTestAgeLastCtrl : public CAgeLastCtrl {
public:
    using CAgeLastCtrl::FormatString;
};

class AgeLastCtrlTest : public ::testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        now = CTickwise::GetPCMilliSecs();  // today, held still for the test
        CTickwise::SetClockForTesting([this] { return now; });
        owned = std::make_unique<CTestAgeLastCtrl>();
    }
    void TearDown() override { CTickwise::SetClockForTesting(nullptr); }
    std::string Age(double minutesAgo) {
        const std::string text = ctrl().FormatString(now, now - minutesAgo * kMinute);
        return text.substr(0, text.find(" / "));
    }
    double now = 0.0;
    std::unique_ptr<CTestAgeLastCtrl> owned;
    CTestAgeLastCtrl& ctrl() { return *owned; }
};
}  // namespace

TEST_F(AgeLastCtrlTest, AgeTextsAtTheBoundaries) {
    EXPECT_EQ(Age(2.5), "2.5 min");
    EXPECT_EQ(Age(60), "60.0 min");
    EXPECT_EQ(Age(61), "1.0 hrs");
    EXPECT_EQ(Age(1440), "24.0 hrs");
    EXPECT_EQ(Age(1441), "1.0 days");
    EXPECT_EQ(Age(3 * 1440), "3.0 days");
    EXPECT_EQ(Age(-2.5), "2.5 min");  // a time ahead of the clock: its distance
    EXPECT_EQ(ctrl().FormatString(now, 0.0), "Unknown");
    EXPECT_EQ(ctrl().FormatString(now, std::nan("")), "Unknown");
    EXPECT_EQ(ctrl().FormatString(now, -5.0), "");
}

TEST_F(AgeLastCtrlTest, WhenIsTheUtcTimeOfTheUpdate) {
    const std::string text = ctrl().FormatString(now, now - 90 * 1000.0);
    std::smatch m;
    ASSERT_TRUE(
        std::regex_match(text, m, std::regex(R"(1\.5 min / (\d\d):(\d\d):(\d\d) \d\d \S+ \d{4})")))
        << text;
    // One minute later in update time is one minute later in the text.
    const std::string later = ctrl().FormatString(now, now - 30 * 1000.0);
    std::smatch n;
    ASSERT_TRUE(std::regex_search(later, n, std::regex(R"((\d\d):(\d\d):(\d\d))")));
    const int first = std::stoi(m[1]) * 3600 + std::stoi(m[2]) * 60 + std::stoi(m[3]);
    const int second = std::stoi(n[1]) * 3600 + std::stoi(n[2]) * 60 + std::stoi(n[3]);
    EXPECT_EQ((second - first + 86400) % 86400, 60);
}

TEST_F(AgeLastCtrlTest, SetUpdateTimeTakesOnlyLaterTimesAndKeepsTheTimer) {
    EXPECT_EQ(ctrl().text(), "");
    EXPECT_FALSE(ctrl().IsTimerRunning());
    EXPECT_EQ(ctrl().SetUpdateTime(now - 2 * kMinute), 1);
    EXPECT_EQ(ctrl().text().left(10), "2.0 min / ");
    EXPECT_TRUE(ctrl().IsTimerRunning());
    EXPECT_EQ(ctrl().SetUpdateTime(now - 5 * kMinute), 1);  // earlier: ignored
    EXPECT_EQ(ctrl().GetUpdateTime(), now - 2 * kMinute);
    EXPECT_EQ(ctrl().text().left(10), "2.0 min / ");
    ctrl().SetUpdateTime(0.0);
    EXPECT_EQ(ctrl().text(), "Unknown");
    EXPECT_TRUE(ctrl().IsTimerRunning());
    EXPECT_EQ(ctrl().GetUpdateTime(), 0.0);
    ctrl().SetUpdateTime(-1.0);  // not later than 0: ignored
    EXPECT_EQ(ctrl().text(), "Unknown");
}

TEST_F(AgeLastCtrlTest, TheTimerRenewsTheText) {
    ctrl().SetUpdateTime(now);
    EXPECT_EQ(ctrl().text().left(10), "0.0 min / ");
    now += 3 * kMinute;
    // The renewal comes from the control's own 6-second timer.
    ASSERT_TRUE(QTest::qWaitFor([&] { return ctrl().text().startsWith("3.0 min"); }, 20000));
}

TEST_F(AgeLastCtrlTest, Screenshots) {
    ctrl().SetUpdateTime(now - 75 * kMinute);
    for (QSize size : {QSize(220, 20), QSize(320, 28)}) {
        ctrl().resize(size);
        SaveScreenshot(ctrl(), "agelast_" + std::to_string(size.width()) + "x" +
                                   std::to_string(size.height()));
    }
    EXPECT_TRUE(ctrl().text().startsWith("1.2 hrs / "));
}
