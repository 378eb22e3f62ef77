#include "app/ServiceWatchdog.h"

#include <algorithm>
#include <cstdio>

#include "platform/ServiceManager.h"

namespace {
constexpr std::chrono::milliseconds kReadinessLook{250};
}

CServiceWatchdog::Verdict CServiceWatchdog::Judge(const CServiceActivity::Counts& before,
                                                  const CServiceActivity::Counts& now) {
    const bool samples = now.samples > before.samples;
    const bool handed = now.handed > before.handed;
    const bool answered = now.answered > before.answered;
    Verdict verdict;
    verdict.alive = samples && (!handed || answered);
    verdict.ready = now.telegrams > 0 || (samples && !handed);
    return verdict;
}

CServiceWatchdog::CServiceWatchdog() : m_last(CServiceActivity::Read()) {
    std::snprintf(m_szName, sizeof(m_szName), "%s", "Tavimo::ServiceWatchdog");
    m_interval = platform::ServiceWatchdogInterval();
    m_log.SetModuleName("Tavimo");
    m_log.SetObjectName("CServiceWatchdog");
    m_log.EnableTrace(false);
}

CServiceWatchdog::~CServiceWatchdog() = default;

bool CServiceWatchdog::Start() {
    if (!platform::ServiceManagerListening()) {
        return false;
    }
    m_last = CServiceActivity::Read();
    m_log.Trace("Start", "watchdog interval %lld us", static_cast<long long>(m_interval.count()));
    return StartThread();
}

void CServiceWatchdog::Stop() {
    if (platform::ServiceManagerListening()) {
        platform::NotifyServiceManager("STOPPING=1");
    }
    StopThread();
}

CServiceWatchdog::Verdict CServiceWatchdog::Look() {
    const CServiceActivity::Counts now = CServiceActivity::Read();
    const Verdict verdict = Judge(m_last, now);
    m_last = now;
    if (!m_ready.load() && verdict.ready) {
        m_ready = platform::NotifyServiceManager("READY=1");
        m_log.Trace("Look", "ready: %llu samples, %llu telegrams",
                    static_cast<unsigned long long>(now.samples),
                    static_cast<unsigned long long>(now.telegrams));
    }
    if (m_ready.load() && verdict.alive && m_interval.count() > 0) {
        platform::NotifyServiceManager("WATCHDOG=1");
    } else if (m_ready.load() && !verdict.alive) {
        m_log.Trace("Look", "no ping: samples %llu, telegrams %llu",
                    static_cast<unsigned long long>(now.samples),
                    static_cast<unsigned long long>(now.telegrams));
    }
    return verdict;
}

bool CServiceWatchdog::ProcessData() {
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    const milliseconds look =
        m_interval.count() > 0
            ? std::max(milliseconds(1), duration_cast<milliseconds>(m_interval / 2))
            : kReadinessLook;
    if (m_stop.Wait(static_cast<DWORD>(look.count()))) {
        return true;  // a stop request: the loop sees the cleared running flag
    }
    Look();
    // Without a watchdog interval the thread's work ends with readiness.
    return !(m_ready.load() && m_interval.count() == 0);
}
