// The worker thread base: runs a derived class's ProcessData in a loop until asked to
// stop or until ProcessData ends the loop, and reports each step of its life as a line
// "CBaseThread 0x%X (%s): %s\n" on the debugger output (standard error with
// TAVIMO_DEBUG=1). Faults (an exception, a thread that will not end) go to standard error
// always.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/Types.h"

class CBaseThread {
public:
    CBaseThread();
    // Does not stop the thread: owners call StopThread first, and delete the object with
    // DeleteThreadObject, which keeps an object whose thread was abandoned after a timed-out
    // stop. A thread still running here is waited for at most the stop time-out, then
    // traced and left behind: the program never hangs on a stuck worker.
    virtual ~CBaseThread();
    CBaseThread(const CBaseThread&) = delete;
    CBaseThread& operator=(const CBaseThread&) = delete;

    virtual void OnStopRequest() = 0;
    virtual bool ProcessData() = 0;
    virtual void OnThreadStartup() {}
    virtual void OnThreadShutdown() {}

    // Sets the running flag and starts the thread; true when a thread was created. An
    // earlier thread of this object that was abandoned is waited for at most the stop
    // time-out; when it still runs, no second thread is started (false).
    bool StartThread();
    // Clears the running flag, calls OnStopRequest and waits at most the stop time-out
    // (10000 ms) for the thread to end; traces the outcome.
    void StopThread();

    static void SetDebuggerThreadName(DWORD threadId, const char* name);

    bool IsRunning() const { return m_bRunning.load(); }
    DWORD GetThreadId() const { return m_dwThreadId.load(); }
    bool HasThreadHandle() const;
    // True when no thread was started or the latest one has finished its last step.
    bool HasEnded() const;
    // The bounded wait of StopThread, 10000 ms; tests shorten it.
    void SetStopTimeout(DWORD ms) { m_dwStopTimeoutMs = ms; }
    // A thread on the path from sensor sample to telegram byte: it asks for real-time
    // scheduling when it starts (platform/Scheduling.h). Set before StartThread.
    void SetTimeCritical(bool timeCritical) { m_bTimeCritical = timeCritical; }
    bool IsTimeCritical() const { return m_bTimeCritical; }

    static constexpr DWORD kStopTimeoutMs = 10000;

protected:
    std::atomic<DWORD> m_dwThreadId{0};
    std::atomic<bool> m_bRunning{false};
    char m_szName[256];

private:
    struct ThreadState;
    static void ThreadEntry(CBaseThread* self, const std::shared_ptr<ThreadState>& state);
    void TraceLine(const char* text) const;
    void TraceFault(const char* text) const;

    mutable std::mutex m_handleMutex;
    std::shared_ptr<ThreadState> m_hThread;     // the handle: null when none is owned
    std::shared_ptr<ThreadState> m_lastThread;  // the latest thread, for the destructor
    DWORD m_dwStopTimeoutMs = kStopTimeoutMs;
    bool m_bTimeCritical = false;
};

// Deletes a worker after its stop: one whose thread still runs after StopThread's bounded
// wait is left allocated (leaked, and said on standard error), since that thread still
// uses it. True when the object was deleted.
bool DeleteThreadObject(CBaseThread* thread);
// For owners that hold a worker in a std::unique_ptr.
struct CThreadObjectDeleter {
    void operator()(CBaseThread* thread) const { DeleteThreadObject(thread); }
};

namespace platform {
// Receives every life-cycle line as well (tests read the sequence through it).
void SetThreadTraceHook(std::function<void(const std::string&)> hook);
}  // namespace platform
