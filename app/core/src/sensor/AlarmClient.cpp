#include "app/AlarmClient.h"

#include <cstring>
#include <new>

#include "interfaces/Tickwise.h"
#include "logmill/Logmill.h"
#include "platform/Com.h"
#include "platform/Registry.h"

namespace {

// A failed call to the alarm service: ends the alarm in hand.
struct CComError {
    HRESULT hr;
};

void Check(HRESULT hr) {
    if (FAILED(hr)) {
        throw CComError{hr};
    }
}

constexpr DWORD kClientContext = 23;  // in-process, in-process handler, local and remote server
constexpr DWORD kManagerContext = 7;  // in-process, in-process handler and local server

// An in-process object runs as soon as it exists; a null object cannot be run.
HRESULT OleRun(IUnknown* object) {
    return object != nullptr ? S_OK : E_POINTER;
}

// Creates the alarm service, runs it and asks for the logger; the HRESULT of the first
// step that fails.
HRESULT CreateLogger(DWORD context, CComPtr<ILogmillLogger>& logger) {
    CComPtr<IUnknown> unknown;
    HRESULT hr = CoCreateInstance(CLSID_Logmill2, nullptr, context, IID_IUnknown,
                                  reinterpret_cast<void**>(&unknown));
    if (SUCCEEDED(hr)) {
        hr = OleRun(unknown);
        if (SUCCEEDED(hr)) {
            hr = unknown.QueryInterface(IID_ILogmillLogger, &logger);
        }
    }
    return hr;
}

VARIANT_BOOL ToVariantBool(bool flag) {
    return flag ? VARIANT_TRUE : VARIANT_FALSE;
}

}  // namespace

// ---- CAlarmManagerHelpImpl -----------------------------------------------------------------

CAlarmManagerHelpImpl::CAlarmManagerHelpImpl() {
    const std::vector<BYTE> zero(4, 0);
    CRegKey key;
    if (key.Open(HKEY_CURRENT_USER, kAlarmManagerKey, KEY_ALL_ACCESS) == ERROR_SUCCESS) {
        if (!key.QueryType(kAlarmReissueValue)) {
            key.SetBinary(kAlarmReissueValue, zero);
            RegFlushKey(key.Handle());
        }
        const auto value = key.QueryBinary(kAlarmReissueValue);
        if (value && value->size() == 4) {
            std::memcpy(&m_dwReissue, value->data(), 4);
        }
    } else if (key.Create(HKEY_CURRENT_USER, kAlarmManagerKey) == ERROR_SUCCESS) {
        key.SetBinary(kAlarmReissueValue, zero);
        RegFlushKey(key.Handle());
        m_dwReissue = 0;
    }
    m_log.SetObjectName("CAlarmManagerHelpImpl");
    m_hrLast = 0;
}

HRESULT CAlarmManagerHelpImpl::SetLoggerName(const std::string& name) {
    m_hrLast = 0;
    m_loggerName = name;
    return 0;
}

std::int64_t CAlarmManagerHelpImpl::RaiseAlarm(double time, const std::string& source,
                                               const std::string& text, bool flagA, bool flagB,
                                               const char* detail, long category) {
    m_hrLast = 0;
    if (time <= 0) {
        CTickwise::AdjustedPCMilliSecsToUTCDate(CTickwise::GetPCMilliSecs(), time);
    }
    try {
        CComPtr<ILogmillLogger> logger;
        m_hrLast = CreateLogger(kManagerContext, logger);
        if (FAILED(m_hrLast)) {
            m_log.LogError(m_hrLast, "RaiseAlarm", "CreateInstance(Logmill2)");
        }
        if (!logger) {
            throw CComError{FAILED(m_hrLast) ? m_hrLast : E_POINTER};
        }
        Check(logger->SetLoggerName(CComBSTR(m_loggerName)));
        CComPtr<IUnknown> created;
        Check(logger->CreateAlarm(CLSID_LogmillAlarm, &created));
        CComPtr<ILogmillAlarm> alarm;
        const HRESULT hr = created.QueryInterface(IID_ILogmillAlarm, &alarm);
        if (FAILED(hr) && hr != E_NOINTERFACE) {
            throw CComError{hr};
        }
        if (!alarm) {
            throw CComError{E_NOINTERFACE};
        }
        Check(alarm->SetCategory(category));
        Check(alarm->SetTime(time));
        Check(alarm->SetSource(CComBSTR(source)));
        Check(alarm->SetText(CComBSTR(text)));
        if (detail != nullptr && *detail != '\0') {
            Check(alarm->SetDetail(CComBSTR(detail)));
        }
        Check(alarm->SetAcknowledge(ToVariantBool(flagA)));
        Check(alarm->SetReissued(ToVariantBool(flagB)));
        std::int64_t sequence = 0;
        Check(alarm->Raise(&sequence));
        std::int64_t id = 0;
        Check(alarm->GetId(&id));
        m_log.TraceNow("RaiseAlarm", "%lld: %s - %s", static_cast<long long>(id), source.c_str(),
                       text.c_str());
        return id;
    } catch (const CComError& e) {
        m_hrLast = e.hr;
        m_log.LogComError(e.hr, "RaiseAlarm", ("Alarm lost: " + text).c_str());
    } catch (const std::exception& e) {
        m_hrLast = E_FAIL;
        m_log.LogException(e, "RaiseAlarm");
        m_log.LogError(E_FAIL, "RaiseAlarm", ("Alarm lost: " + text).c_str());
    }
    return 0;
}

// ---- CAlarmManagerHelper -------------------------------------------------------------------

CAlarmManagerHelper::CAlarmManagerHelper() : m_pImpl(new (std::nothrow) CAlarmManagerHelpImpl) {}

CAlarmManagerHelper::~CAlarmManagerHelper() {
    delete m_pImpl;
}

HRESULT CAlarmManagerHelper::SetLoggerName(const std::string& name) {
    return m_pImpl != nullptr ? m_pImpl->SetLoggerName(name) : E_OUTOFMEMORY;
}

std::int64_t CAlarmManagerHelper::RaiseAlarm(const std::string& source, const std::string& text,
                                             bool flagA, bool flagB, const std::string& detail,
                                             long category) {
    return RaiseAlarm(0.0, source, text, flagA, flagB, detail, category);
}

std::int64_t CAlarmManagerHelper::RaiseAlarm(double time, const std::string& source,
                                             const std::string& text, bool flagA, bool flagB,
                                             const std::string& detail, long category) {
    if (m_pImpl == nullptr) {
        return 0;
    }
    return m_pImpl->RaiseAlarm(time, source, text, flagA, flagB, detail.c_str(), category);
}

// ---- CAlarmClient --------------------------------------------------------------------------

CAlarmClient::CAlarmClient(const char* sourceName)
    : m_sourceName(sourceName != nullptr ? sourceName : "") {
    m_log.EnableTrace(true);
    m_log.SetModuleName(m_sourceName.c_str());
    m_log.SetObjectName("CAlarmClient");
    m_log.Trace("CAlarmClient()", "OK");
}

std::int64_t CAlarmClient::RaiseAlarm(const std::string& text, bool flagA, bool flagB,
                                      const std::string& detail) {
    CoInitialize(nullptr);
    std::int64_t id = 0;
    if (ConnectToLogmill2()) {
        id = m_manager.RaiseAlarm(m_sourceName, text, flagA, flagB, detail, 0);
    } else {
        m_log.TraceNow("RaiseAlarm", "Alarm lost: %s", text.c_str());
    }
    CoUninitialize();
    return id;
}

bool CAlarmClient::ConnectToLogmill2() {
    constexpr const char* kContext = "CMotionTrackerHealthCheck::ConnectToLogmill2";
    try {
        CComPtr<ILogmillLogger> logger;
        const HRESULT hr = CreateLogger(kClientContext, logger);
        if (FAILED(hr)) {
            m_log.LogError(hr, kContext, "CreateInstance(Logmill2)");
            return false;
        }
        Check(logger->Connect());
        BSTR name;
        Check(logger->GetLoggerName(&name));
        m_manager.SetLoggerName(name.str());
        return true;
    } catch (const CComError& e) {
        m_log.LogComError(e.hr, kContext, "Connect(Logmill2)");
    } catch (const std::exception& e) {
        m_log.LogException(e, kContext);
        m_log.LogError(E_FAIL, kContext);
    }
    return false;
}
