// The service manager (systemd) the program may run under: readiness, watchdog pings and
// the stop announcement, through its notification socket ($NOTIFY_SOCKET). Outside a
// service every call does nothing.
#pragma once

#include <chrono>

namespace platform {

// Whether a service manager listens ($NOTIFY_SOCKET is set).
bool ServiceManagerListening();

// Sends one state text ("READY=1", "WATCHDOG=1", "STOPPING=1", "STATUS=..."); true when
// the manager was told, false when none listens or the message could not be sent.
bool NotifyServiceManager(const char* state);

// The interval within which the manager expects watchdog pings ($WATCHDOG_USEC, for this
// process when $WATCHDOG_PID names another); zero when it expects none.
std::chrono::microseconds ServiceWatchdogInterval();

}  // namespace platform
