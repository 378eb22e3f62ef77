// The alarm service and data logger (Logmill2) as the alarm client sees it: a logger
// object that makes alarm objects, each alarm filled field by field and then raised.
// Interfaces are dual; their operations stand in the order of the slots the client calls,
// and slots it never calls keep their place (answered with E_NOTIMPL).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Com.h"

#define TAVIMO_LM_RESERVED(n) virtual HRESULT Reserved##n() = 0;

class ILogmillLogger : public IDispatch {
public:
    // Slot 7: the name under which this connection logs.
    virtual HRESULT GetLoggerName(BSTR* name) = 0;
    // Slot 8: the logger name the alarms of this connection carry.
    virtual HRESULT SetLoggerName(BSTR name) = 0;
    TAVIMO_LM_RESERVED(9)
    TAVIMO_LM_RESERVED(10)
    TAVIMO_LM_RESERVED(11)
    TAVIMO_LM_RESERVED(12)
    // Slot 13: opens the alarm store; fails when it cannot be opened.
    virtual HRESULT Connect() = 0;
    TAVIMO_LM_RESERVED(14)
    TAVIMO_LM_RESERVED(15)
    TAVIMO_LM_RESERVED(16)
    TAVIMO_LM_RESERVED(17)
    TAVIMO_LM_RESERVED(18)
    TAVIMO_LM_RESERVED(19)
    TAVIMO_LM_RESERVED(20)
    TAVIMO_LM_RESERVED(21)
    TAVIMO_LM_RESERVED(22)
    TAVIMO_LM_RESERVED(23)
    // Slot 24: a new alarm object of the given class.
    virtual HRESULT CreateAlarm(GUID alarmClass, IUnknown** alarm) = 0;
};

class ILogmillAlarm : public IDispatch {
public:
    TAVIMO_LM_RESERVED(7)
    TAVIMO_LM_RESERVED(8)
    TAVIMO_LM_RESERVED(9)
    TAVIMO_LM_RESERVED(10)
    TAVIMO_LM_RESERVED(11)
    TAVIMO_LM_RESERVED(12)
    TAVIMO_LM_RESERVED(13)
    // Slot 14: stores the alarm durably; the out value is its sequence number in the store.
    virtual HRESULT Raise(std::int64_t* sequence) = 0;
    TAVIMO_LM_RESERVED(15)
    TAVIMO_LM_RESERVED(16)
    TAVIMO_LM_RESERVED(17)
    // Slot 18: the id of a raised alarm (E_UNEXPECTED before it is raised).
    virtual HRESULT GetId(std::int64_t* id) = 0;
    TAVIMO_LM_RESERVED(19)
    TAVIMO_LM_RESERVED(20)
    TAVIMO_LM_RESERVED(21)
    // Slot 22: the alarm's time, an OLE date in UTC.
    virtual HRESULT SetTime(double date) = 0;
    TAVIMO_LM_RESERVED(23)
    TAVIMO_LM_RESERVED(24)
    TAVIMO_LM_RESERVED(25)
    TAVIMO_LM_RESERVED(26)
    TAVIMO_LM_RESERVED(27)
    TAVIMO_LM_RESERVED(28)
    TAVIMO_LM_RESERVED(29)
    TAVIMO_LM_RESERVED(30)
    TAVIMO_LM_RESERVED(31)
    TAVIMO_LM_RESERVED(32)
    // Slot 33.
    virtual HRESULT SetCategory(LONG category) = 0;
    TAVIMO_LM_RESERVED(34)
    TAVIMO_LM_RESERVED(35)
    TAVIMO_LM_RESERVED(36)
    // Slot 37.
    virtual HRESULT SetText(BSTR text) = 0;
    TAVIMO_LM_RESERVED(38)
    // Slot 39.
    virtual HRESULT SetDetail(BSTR detail) = 0;
    TAVIMO_LM_RESERVED(40)
    // Slot 41.
    virtual HRESULT SetSource(BSTR source) = 0;
    TAVIMO_LM_RESERVED(42)
    TAVIMO_LM_RESERVED(43)
    TAVIMO_LM_RESERVED(44)
    TAVIMO_LM_RESERVED(45)
    TAVIMO_LM_RESERVED(46)
    // Slot 47: the alarm needs acknowledging.
    virtual HRESULT SetAcknowledge(VARIANT_BOOL flag) = 0;
    TAVIMO_LM_RESERVED(48)
    // Slot 49: the alarm is a repeat of an earlier one.
    virtual HRESULT SetReissued(VARIANT_BOOL flag) = 0;
};

#undef TAVIMO_LM_RESERVED

inline const CLSID CLSID_Logmill2 = MakeGuid("{3F5C1A20-8E4B-4D2A-9B71-5C0D2E6F4A11}");
inline const IID IID_ILogmillLogger = MakeGuid("{3F5C1A21-8E4B-4D2A-9B71-5C0D2E6F4A11}");
inline const IID IID_ILogmillAlarm = MakeGuid("{3F5C1A22-8E4B-4D2A-9B71-5C0D2E6F4A11}");
// The class of alarm objects the alarm client asks the logger for.
inline const CLSID CLSID_LogmillAlarm = MakeGuid("{3F5C1A23-8E4B-4D2A-9B71-5C0D2E6F4A11}");

namespace logmill {
// One stored alarm, as the store holds it.
struct StoredAlarm {
    std::int64_t id = 0;
    double utcDate = 0;
    std::string logger;
    std::string source;
    std::string text;
    std::string detail;
    bool detailGiven = false;  // SetDetail was called for it
    bool acknowledge = false;
    bool reissued = false;
    LONG category = 0;
};
// The alarm store: $XDG_DATA_HOME/tavimo/alarms.sqlite3 (default ~/.local/share).
std::string AlarmStorePath();
// Every alarm in the store, oldest first (empty when the store cannot be read).
std::vector<StoredAlarm> ReadAlarms();
// Takes the class out of the class table ("component not registered") or back in.
void UnregisterClass();
void RegisterClass();
}  // namespace logmill
