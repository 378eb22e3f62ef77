// Raising alarms in the suite's alarm service (Logmill2): the client the main window makes
// for each alarm, the manager handle it holds, and the implementation that keeps the
// reissue switch and makes the calls.
#pragma once

#include <cstdint>
#include <string>

#include "interfaces/ErrorLog.h"
#include "platform/Types.h"

inline constexpr const char* kAlarmManagerKey = "Software\\Tervalis\\Calyra\\AlarmManager";
inline constexpr const char* kAlarmReissueValue = "EnableAlarmReissue";

class CAlarmManagerHelpImpl {
public:
    CAlarmManagerHelpImpl();
    virtual ~CAlarmManagerHelpImpl() = default;

    HRESULT SetLoggerName(const std::string& name);
    // The new alarm's id, or 0 when the alarm could not be raised (the trace says why).
    std::int64_t RaiseAlarm(double time, const std::string& source, const std::string& text,
                            bool flagA, bool flagB, const char* detail, long category);

    HRESULT LastResult() const { return m_hrLast; }
    DWORD ReissueSwitch() const { return m_dwReissue; }
    const std::string& LoggerName() const { return m_loggerName; }

private:
    CErrorLog m_log;
    HRESULT m_hrLast = 0;
    std::string m_loggerName;
    DWORD m_dwReissue = 0;
};

class CAlarmManagerHelper {
public:
    CAlarmManagerHelper();
    virtual ~CAlarmManagerHelper();
    CAlarmManagerHelper(const CAlarmManagerHelper&) = delete;
    CAlarmManagerHelper& operator=(const CAlarmManagerHelper&) = delete;

    HRESULT SetLoggerName(const std::string& name);
    std::int64_t RaiseAlarm(const std::string& source, const std::string& text, bool flagA,
                            bool flagB, const std::string& detail, long category);
    std::int64_t RaiseAlarm(double time, const std::string& source, const std::string& text,
                            bool flagA, bool flagB, const std::string& detail, long category);
    CAlarmManagerHelpImpl* Impl() const { return m_pImpl; }

private:
    CAlarmManagerHelpImpl* m_pImpl;
};

class CAlarmClient {
public:
    explicit CAlarmClient(const char* sourceName);
    virtual ~CAlarmClient() = default;

    // The alarm's id, or 0 when it could not be raised.
    std::int64_t RaiseAlarm(const std::string& text, bool flagA, bool flagB,
                            const std::string& detail);
    bool ConnectToLogmill2();
    const CAlarmManagerHelper& Manager() const { return m_manager; }

private:
    std::string m_sourceName;
    CAlarmManagerHelper m_manager;
    CErrorLog m_log;
};
