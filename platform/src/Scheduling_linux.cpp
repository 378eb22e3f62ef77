#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/Paths.h"
#include "platform/Scheduling.h"

namespace platform {
namespace {

std::atomic<bool> g_wanted{false};
std::atomic<bool> g_refused{false};

int SystemSchedulerCall(int policy, int priority) {
    sched_param parameter{};
    parameter.sched_priority = priority;
    return pthread_setschedparam(pthread_self(), policy, &parameter);
}

std::atomic<SchedulerCall> g_call{&SystemSchedulerCall};

bool TurnedOffByEnvironment() {
    return platform::EnvironmentValue("TAVIMO_REALTIME") == "0";
}

// The memory is locked only where the process may grow without limit afterwards: with a
// finite RLIMIT_MEMLOCK, every allocation past it would fail once the lock covers future
// pages. Root (CAP_IPC_LOCK) is not bound by the limit.
std::string LockMemory(bool& locked) {
    locked = false;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return "memory not locked (sanitizer build)";
#else
    rlimit limit{};
    if (::geteuid() != 0 &&
        (::getrlimit(RLIMIT_MEMLOCK, &limit) != 0 || limit.rlim_cur != RLIM_INFINITY)) {
        return "memory not locked (RLIMIT_MEMLOCK is " +
               std::to_string(static_cast<unsigned long long>(limit.rlim_cur / 1024)) +
               " kB, not unlimited)";
    }
    // Each page is locked once touched: thread stacks' unused reserve costs nothing.
    int result = ::mlockall(MCL_CURRENT | MCL_FUTURE | MCL_ONFAULT);
    if (result != 0 && errno == EINVAL) {
        result = ::mlockall(MCL_CURRENT | MCL_FUTURE);  // a kernel without MCL_ONFAULT
    }
    if (result != 0) {
        return std::string("memory not locked (") + std::strerror(errno) + ")";
    }
    locked = true;
    return "memory locked";
#endif
}

}  // namespace

SchedulingReport SetUpRealTime() {
    SchedulingReport report;
    g_refused = false;
    if (TurnedOffByEnvironment()) {
        g_wanted = false;
        report.text = "normal scheduling: real-time turned off (TAVIMO_REALTIME=0)";
        return report;
    }
    // Probed on a thread of its own: the caller (the window's thread) stays normal.
    int result = 0;
    std::thread probe([&result] { result = g_call.load()(SCHED_FIFO, kTimeCriticalPriority); });
    probe.join();
    if (result != 0) {
        g_wanted = false;
        report.text = std::string("normal scheduling: SCHED_FIFO refused (") +
                      std::strerror(result) +
                      "); grant it with LimitRTPRIO, rtkit or /etc/security/limits.d";
        return report;
    }
    g_wanted = true;
    report.mode = ESchedulingMode::RealTime;
    report.text = "real-time scheduling: SCHED_FIFO priority " +
                  std::to_string(kTimeCriticalPriority) + " for the sensor and telegram threads; " +
                  LockMemory(report.memoryLocked);
    return report;
}

void SetRealTimeWanted(bool wanted) {
    g_refused = false;
    g_wanted = wanted;
}

bool MakeCurrentThreadTimeCritical() {
    if (!g_wanted.load()) {
        return false;
    }
    if (g_call.load()(SCHED_FIFO, kTimeCriticalPriority) != 0) {
        g_refused = true;  // a limit lowered since start-up: this thread stays normal
        return false;
    }
    return true;
}

void MakeCurrentThreadNormal() {
    const sched_param parameter{};
    pthread_setschedparam(pthread_self(), SCHED_OTHER, &parameter);
}

ESchedulingMode CurrentSchedulingMode() {
    return g_wanted.load() && !g_refused.load() ? ESchedulingMode::RealTime
                                                : ESchedulingMode::Normal;
}

void SetSchedulerCallForTesting(SchedulerCall call) {
    g_call = call != nullptr ? call : &SystemSchedulerCall;
}

}  // namespace platform
