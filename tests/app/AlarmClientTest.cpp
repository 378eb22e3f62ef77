#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>

#include "SensorTestSupport.h"
#include "TestSupport.h"
#include "app/AlarmClient.h"
#include "logmill/Logmill.h"
#include "platform/Registry.h"

namespace {

const char* kText = "No longer receiving valid data from the motion sensor hardware.";
const char* kDetail =
    "The Tavimo is no longer receiving valid data from the motion sensor hardware. The Tavimo will "
    "be restarted in "
    "an attempt to fix the problem.";

TEST(AlarmClientTest, ReissueSwitchIsCreatedOnceAndThenKept) {
    {
        CAlarmClient client("Tavimo");
        EXPECT_EQ(client.Manager().Impl()->ReissueSwitch(), 0U);
    }
    CRegKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, kAlarmManagerKey), ERROR_SUCCESS);
    EXPECT_EQ(key.QueryType(kAlarmReissueValue), REG_BINARY);
    EXPECT_EQ(key.QueryBinary(kAlarmReissueValue), (std::vector<BYTE>{0, 0, 0, 0}));
    key.SetBinary(kAlarmReissueValue, {1, 0, 0, 0});
    {
        CAlarmClient client("Tavimo");
        EXPECT_EQ(client.Manager().Impl()->ReissueSwitch(), 1U);
    }
    EXPECT_EQ(key.QueryBinary(kAlarmReissueValue), (std::vector<BYTE>{1, 0, 0, 0}));
    // A key without the value gets it as 0.
    key.DeleteValue(kAlarmReissueValue);
    CAlarmManagerHelpImpl impl;
    EXPECT_EQ(impl.ReissueSwitch(), 0U);
    EXPECT_EQ(key.QueryBinary(kAlarmReissueValue), (std::vector<BYTE>{0, 0, 0, 0}));
}

TEST(AlarmClientTest, AlarmsLandInTheStoreWithTheirFields) {
    sensor_test::TraceCapture traces;
    CAlarmClient client("Tavimo");
    const std::int64_t first = client.RaiseAlarm(kText, true, false, kDetail);
    ASSERT_GT(first, 0);
    const std::int64_t second = client.RaiseAlarm("Second", false, true, "");
    EXPECT_GT(second, first);
    const auto alarms = logmill::ReadAlarms();
    ASSERT_EQ(alarms.size(), 2U);
    const auto& a = alarms[0];
    EXPECT_EQ(a.id, first);
    EXPECT_EQ(a.source, "Tavimo");
    EXPECT_EQ(a.text, kText);
    EXPECT_EQ(a.detail, kDetail);
    EXPECT_TRUE(a.acknowledge);
    EXPECT_FALSE(a.reissued);
    EXPECT_EQ(a.category, 0);
    EXPECT_EQ(a.logger, "Logmill2");
    double now = 0;
    CTickwise::AdjustedPCMilliSecsToUTCDate(CTickwise::GetPCMilliSecs(), now);
    EXPECT_NEAR(a.utcDate, now, 1.0 / 24 / 60);  // within a minute
    EXPECT_TRUE(a.detailGiven);
    EXPECT_EQ(alarms[1].detail, "");
    EXPECT_FALSE(alarms[1].detailGiven);  // an empty detail is not sent at all
    EXPECT_TRUE(alarms[1].reissued);
    EXPECT_TRUE(traces.Has("RaiseAlarm", std::to_string(first) + ": Tavimo - " + kText));
    EXPECT_EQ(
        logmill::AlarmStorePath().rfind(std::string(std::getenv("XDG_DATA_HOME")) + "/tavimo/", 0),
        0U);
}

TEST(AlarmClientTest, AnExplicitTimeIsKept) {
    CoInitialize(nullptr);
    CAlarmManagerHelper helper;
    EXPECT_EQ(helper.SetLoggerName("Survey"), S_OK);
    const std::int64_t id = helper.RaiseAlarm(45000.25, "Src", "Text", false, false, "Why", 7);
    ASSERT_GT(id, 0);
    const auto alarms = logmill::ReadAlarms();
    ASSERT_FALSE(alarms.empty());
    EXPECT_EQ(alarms.back().utcDate, 45000.25);
    EXPECT_EQ(alarms.back().category, 7);
    EXPECT_EQ(alarms.back().logger, "Survey");
    CoUninitialize();
}

TEST(AlarmClientTest, AnUnopenableStoreLosesTheAlarmAndSaysSo) {
    sensor_test::TraceCapture traces;
    const std::string blocker = sensor_test::PrivateRoot() + "/not-a-folder";
    std::ofstream(blocker) << "x";
    // The real store may hold other tests' alarms: none may be added by this one.
    const std::size_t before = logmill::ReadAlarms().size();
    std::optional<tavimo_test::ScopedEnv> blocked(std::in_place, "XDG_DATA_HOME", blocker);
    CAlarmClient client("Tavimo");
    EXPECT_EQ(client.RaiseAlarm(kText, true, false, kDetail), 0);
    EXPECT_TRUE(traces.Has("RaiseAlarm", std::string("Alarm lost: ") + kText));
    EXPECT_TRUE(traces.Has("CMotionTrackerHealthCheck::ConnectToLogmill2", "COM"));
    // The manager's own call, reached another way, fails the same way and says so.
    CoInitialize(nullptr);
    CAlarmManagerHelper helper;
    EXPECT_EQ(helper.RaiseAlarm("Tavimo", kText, true, false, "", 0), 0);
    EXPECT_TRUE(FAILED(helper.Impl()->LastResult()));
    CoUninitialize();
    blocked.reset();
    EXPECT_EQ(logmill::ReadAlarms().size(), before);
}

TEST(AlarmClientTest, AMissingAlarmServiceIsTraced) {
    sensor_test::TraceCapture traces;
    logmill::UnregisterClass();
    CAlarmClient client("Tavimo");
    EXPECT_EQ(client.RaiseAlarm(kText, true, false, kDetail), 0);
    EXPECT_TRUE(
        traces.Has("CMotionTrackerHealthCheck::ConnectToLogmill2", "CreateInstance(Logmill2)"));
    logmill::RegisterClass();
    EXPECT_GT(client.RaiseAlarm(kText, true, false, kDetail), 0);
}

}  // namespace
