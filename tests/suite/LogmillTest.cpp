#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "TestSupport.h"
#include "logmill/Logmill.h"

namespace {

CComPtr<ILogmillLogger> Logger() {
    CComPtr<ILogmillLogger> logger;
    EXPECT_EQ(CoCreateInstance(CLSID_Logmill2, nullptr, CLSCTX_ALL, IID_ILogmillLogger,
                               reinterpret_cast<void**>(&logger)),
              S_OK);
    return logger;
}

CComPtr<ILogmillAlarm> NewAlarm(ILogmillLogger* logger) {
    CComPtr<IUnknown> unknown;
    EXPECT_EQ(logger->CreateAlarm(CLSID_LogmillAlarm, &unknown), S_OK);
    CComPtr<ILogmillAlarm> alarm;
    unknown.QueryInterface(IID_ILogmillAlarm, &alarm);
    return alarm;
}

template <class F>
std::ptrdiff_t SlotOf(F f) {
    std::ptrdiff_t raw = 0;
    std::memcpy(&raw, &f, sizeof(raw));
    return (raw - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}

TEST(LogmillTest, OperationsStandInTheSlotsTheAlarmClientCalls) {
    const auto base = SlotOf(&IDispatch::Invoke) + 1;  // slot 7
    auto slot = [base](std::ptrdiff_t s) { return s - base + 7; };
    EXPECT_EQ(slot(SlotOf(&ILogmillLogger::GetLoggerName)), 7);
    EXPECT_EQ(slot(SlotOf(&ILogmillLogger::SetLoggerName)), 8);
    EXPECT_EQ(slot(SlotOf(&ILogmillLogger::Connect)), 13);
    EXPECT_EQ(slot(SlotOf(&ILogmillLogger::CreateAlarm)), 24);
    EXPECT_EQ(slot(SlotOf(&ILogmillAlarm::Raise)), 14);
    EXPECT_EQ(slot(SlotOf(&ILogmillAlarm::GetId)), 18);
    EXPECT_EQ(slot(SlotOf(&ILogmillAlarm::SetTime)), 22);
    EXPECT_EQ(slot(SlotOf(&ILogmillAlarm::SetCategory)), 33);
    EXPECT_EQ(slot(SlotOf(&ILogmillAlarm::SetText)), 37);
    EXPECT_EQ(slot(SlotOf(&ILogmillAlarm::SetDetail)), 39);
    EXPECT_EQ(slot(SlotOf(&ILogmillAlarm::SetSource)), 41);
    EXPECT_EQ(slot(SlotOf(&ILogmillAlarm::SetAcknowledge)), 47);
    EXPECT_EQ(slot(SlotOf(&ILogmillAlarm::SetReissued)), 49);
}

TEST(LogmillTest, AlarmsAreStoredOnceEachAndOutliveTheirObjects) {
    CoInitialize(nullptr);
    std::int64_t id = 0;
    {
        CComPtr<ILogmillLogger> logger = Logger();
        ASSERT_EQ(logger->Connect(), S_OK);
        logger->SetLoggerName(CComBSTR("Bridge"));
        CComPtr<IUnknown> wrong;
        EXPECT_EQ(logger->CreateAlarm(CLSID_Logmill2, &wrong), REGDB_E_CLASSNOTREG);
        CComPtr<ILogmillAlarm> alarm = NewAlarm(logger);
        ASSERT_TRUE(alarm);
        EXPECT_EQ(alarm->GetId(&id), E_UNEXPECTED);
        alarm->SetCategory(3);
        alarm->SetTime(46000.5);
        alarm->SetSource(CComBSTR("Tavimo"));
        alarm->SetText(CComBSTR("Text ° with 'quotes'"));
        alarm->SetAcknowledge(VARIANT_TRUE);
        std::int64_t sequence = 0;
        ASSERT_EQ(alarm->Raise(&sequence), S_OK);
        EXPECT_EQ(alarm->Raise(&sequence), E_UNEXPECTED);
        ASSERT_EQ(alarm->GetId(&id), S_OK);
        EXPECT_EQ(id, sequence);
    }
    const auto alarms = logmill::ReadAlarms();
    ASSERT_EQ(alarms.size(), 1U);
    EXPECT_EQ(alarms[0].id, id);
    EXPECT_EQ(alarms[0].logger, "Bridge");
    EXPECT_EQ(alarms[0].text, "Text ° with 'quotes'");
    EXPECT_EQ(alarms[0].utcDate, 46000.5);
    EXPECT_EQ(alarms[0].category, 3);
    EXPECT_TRUE(alarms[0].acknowledge);
    EXPECT_FALSE(alarms[0].reissued);
    CoUninitialize();
}

TEST(LogmillTest, AStoreThatCannotOpenRefusesToRaise) {
    CoInitialize(nullptr);
    const std::string blocker = std::string(std::getenv("XDG_DATA_HOME")) + "/blocker";
    std::ofstream(blocker) << "a file where the folder should be";
    {
        tavimo_test::ScopedEnv blocked("XDG_DATA_HOME", blocker);
        CComPtr<ILogmillLogger> logger = Logger();
        EXPECT_EQ(logger->Connect(), E_FAIL);
        CComPtr<ILogmillAlarm> alarm = NewAlarm(logger);
        std::int64_t sequence = 0;
        EXPECT_EQ(alarm->Raise(&sequence), E_FAIL);
        std::int64_t id = 0;
        EXPECT_EQ(alarm->GetId(&id), E_UNEXPECTED);
    }
    CoUninitialize();
}

}  // namespace
