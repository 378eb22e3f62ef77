#include <gtest/gtest.h>

#include <regex>

#include "SensorTestSupport.h"
#include "app/MotionTrackerHealthCheck.h"
#include "platform/Messages.h"

namespace {

class HealthCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        AfxSetMainWnd(&messages);
        platform::SetThreadTraceHook([this](const std::string& line) {
            if (line.find("Ended internally (self destruction)") != std::string::npos) {
                endedInternally.Set();
            }
        });
    }
    void TearDown() override {
        check.StopThread();
        platform::SetThreadTraceHook(nullptr);
        AfxSetMainWnd(nullptr);
    }
    // The attempt numbers of the reconnection traces so far.
    std::vector<int> Attempts() const {
        std::vector<int> attempts;
        const std::regex attempt(R"(in the last 1000 ms\. Attempting reconnection: (\d+))");
        for (const auto& r : traces.Records()) {
            std::smatch m;
            if (r.context == "CMotionTrackerHealthCheck::OnTimeOut" &&
                std::regex_search(r.text, m, attempt)) {
                attempts.push_back(std::stoi(m[1]));
            }
        }
        return attempts;
    }

    sensor_test::TraceCapture traces;
    CRecordingMessageTarget messages;
    CEvent endedInternally{true, false};
    CMotionTrackerHealthCheck check;
};

TEST_F(HealthCheckTest, SilenceBringsFiveReconnectsThenSensorLost) {
    check.SetSilenceTimeout(20);
    ASSERT_TRUE(check.StartThread());
    for (int i = 0; i < 5; ++i) {
        const auto m = messages.Next(10000);
        ASSERT_TRUE(m.has_value());
        EXPECT_EQ(m->message, 0x467U);
        EXPECT_EQ(m->wParam, 0U);
        EXPECT_EQ(m->lParam, 0);
    }
    const auto lost = messages.Next(10000);
    ASSERT_TRUE(lost.has_value());
    EXPECT_EQ(lost->message, 0x468U);
    ASSERT_TRUE(endedInternally.Wait(10000));
    EXPECT_FALSE(check.IsRunning());
    EXPECT_EQ(Attempts(), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_TRUE(
        traces.Has("CMotionTrackerHealthCheck::OnTimeOut",
                   "Failed to re-establish a valid connection to the Motion Sensor hardware."));
    EXPECT_EQ(messages.Pending(), 0U);
    // A new start begins counting afresh.
    ASSERT_TRUE(check.StartThread());
    const auto again = messages.Next(10000);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->message, 0x467U);
    EXPECT_EQ(Attempts().back(), 1);
}

TEST_F(HealthCheckTest, ASampleResetsTheCount) {
    check.SetSilenceTimeout(20);
    ASSERT_TRUE(check.StartThread());
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(messages.Next(10000).has_value());
    }
    const float identity[4] = {1, 0, 0, 0};
    const auto& kept = check.SampleReceived(identity);
    EXPECT_EQ(kept[0], 1.0F);
    // Five more requests follow before the sensor is reported lost.
    int reconnects = 0;
    for (;;) {
        const auto m = messages.Next(10000);
        ASSERT_TRUE(m.has_value());
        if (m->message == 0x468U) {
            break;
        }
        ++reconnects;
    }
    EXPECT_GE(reconnects, 5);
    const auto attempts = Attempts();
    // After the reset the numbering starts again at 1 and runs to 5.
    auto reset =
        std::adjacent_find(attempts.begin(), attempts.end(), [](int a, int b) { return b <= a; });
    ASSERT_NE(reset, attempts.end());
    EXPECT_EQ(std::vector<int>(reset + 1, attempts.end()), (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST_F(HealthCheckTest, StopWhileWaitingPostsNothing) {
    ASSERT_TRUE(check.StartThread());  // the full second: the stop comes first
    check.StopThread();
    EXPECT_EQ(check.AttemptCount(), 0);
    EXPECT_FALSE(check.IsRunning());
    EXPECT_EQ(messages.Pending(), 0U);
}

}  // namespace
