// Readiness and watchdog pings for the service manager (systemd, Type=notify with
// WatchdogSec): the module is ready once its first telegram went out, and pings only while
// samples arrive and telegrams leave, so a data path that is stuck (a deadlock, a write
// that never ends) stops the pings and the manager restarts the module.
//
// Each look compares the data path's counts (CServiceActivity) with the previous look:
// - samples must have arrived;
// - when attitudes were handed to an output that holds a port, its port must have answered
//   a send: taken the telegram, or dropped it at once because the line is behind (a virtual
//   port nobody reads). An output whose write never returns counts as stuck;
// - with no output holding a port (telegrams "None", or no port), samples alone suffice.
// Ready: at the first telegram sent, or at a look where samples flowed and no output holds
// a port.
#pragma once

#include <atomic>
#include <chrono>

#include "app/ServiceActivity.h"
#include "interfaces/ErrorLog.h"
#include "platform/BaseThread.h"
#include "platform/Sync.h"

class CServiceWatchdog : public CBaseThread {
public:
    struct Verdict {
        bool ready = false;  // the data path has shown it works
        bool alive = false;  // it worked since the previous look
    };
    // The rule above, between two looks at the counts.
    static Verdict Judge(const CServiceActivity::Counts& before,
                         const CServiceActivity::Counts& now);

    // Reads the manager's watchdog interval; looks twice per interval, or every 250 ms
    // until ready when the manager expects no pings.
    CServiceWatchdog();
    ~CServiceWatchdog() override;

    // Starts the thread only when a service manager listens; true when started. The counts
    // seen at the start are the first look's reference.
    bool Start();
    // Says "STOPPING=1" and ends the thread (bounded wait).
    void Stop();

    // One look at the counts: says "READY=1" once ready, then "WATCHDOG=1" when the data
    // path worked since the previous look (the thread looks twice per interval).
    Verdict Look();
    bool IsReady() const { return m_ready.load(); }

    bool ProcessData() override;
    void OnStopRequest() override { m_stop.Set(); }

private:
    std::chrono::microseconds m_interval{0};
    CServiceActivity::Counts m_last;
    std::atomic<bool> m_ready{false};
    CEvent m_stop{false, false};
    CErrorLog m_log;
};
