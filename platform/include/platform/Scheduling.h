// Real-time scheduling of the threads between a sensor sample and the last byte of its
// telegrams, and locked memory for the whole process.
//
// A motion telegram carries no time stamp: its reader takes it as the attitude of the moment
// its last byte arrives, so every millisecond a busy computer keeps these threads waiting
// becomes attitude error. Where the system grants it, those threads run SCHED_FIFO at a
// modest priority (above every normal thread, below the kernel's interrupt threads at 50);
// where it does not, they stay normal and the program runs as before. The window's thread
// and the other workers always stay normal.
//
// Every real-time thread blocks on its waits (events, timers, the serial line): none spins,
// and the kernel's real-time throttling stays as configured.
//
// Off until the program asks for it (SetUpRealTime), so libraries in tests run normal.
// TAVIMO_REALTIME=0 in the environment turns it off for the program.
#pragma once

#include <string>

namespace platform {

// The priority of the time-critical threads.
inline constexpr int kTimeCriticalPriority = 15;

enum class ESchedulingMode {
    Normal,    // SCHED_OTHER: not asked for, turned off, or refused
    RealTime,  // SCHED_FIFO at kTimeCriticalPriority
};

struct SchedulingReport {
    ESchedulingMode mode = ESchedulingMode::Normal;
    bool memoryLocked = false;
    // One line for the trace: which mode, and why when real-time is not in force.
    std::string text;
};

// Decides once at start-up, on the program's main thread: honours TAVIMO_REALTIME=0, asks
// the system for SCHED_FIFO (probed on a short-lived thread, so the calling thread stays
// normal), and when granted locks the process's memory (mlockall, each page locked once
// touched), so the data path never waits for a page to come back from swap.
SchedulingReport SetUpRealTime();

// Turns the time-critical scheduling of threads started from now on on or off (the
// benchmark compares both in one run); no environment, no memory locking.
void SetRealTimeWanted(bool wanted);

// Called by a time-critical thread on itself when it starts: SCHED_FIFO when wanted and
// granted; otherwise the thread stays normal. True when the thread runs real-time.
bool MakeCurrentThreadTimeCritical();

// Called by a thread on itself when it starts and must run at normal priority whoever
// started it: a thread inherits its starter's SCHED_FIFO, so a helper started from a
// time-critical thread (a network port's listener) would otherwise run real-time too.
void MakeCurrentThreadNormal();

// What the last SetUpRealTime, SetRealTimeWanted or refusal left in force.
ESchedulingMode CurrentSchedulingMode();

// A seam for tests of the fallback: replaces the system call that sets the calling
// thread's policy (returns 0 or an errno value, as pthread_setschedparam does). Null
// restores the system's own.
using SchedulerCall = int (*)(int policy, int priority);
void SetSchedulerCallForTesting(SchedulerCall call);

}  // namespace platform
