// The worker thread base: runs a derived class's ProcessData in a loop until asked to
// stop or until ProcessData ends the loop, and reports each step of its life as a line
// "CBaseThread 0x%X (%s): %s\n" on the debugger output and standard output.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/Types.h"

class CBaseThread {
public:
    CBaseThread();
    // Does not stop the thread: owners call StopThread first. A thread abandoned after a
    // timed-out stop is waited for here, so its last lines never touch freed memory; the
    // derived part is gone by then, so an owner that abandons a thread keeps the object
    // until the thread has left ProcessData.
    virtual ~CBaseThread();
    CBaseThread(const CBaseThread&) = delete;
    CBaseThread& operator=(const CBaseThread&) = delete;

    virtual void OnStopRequest() = 0;
    virtual bool ProcessData() = 0;
    virtual void OnThreadStartup() {}
    virtual void OnThreadShutdown() {}

    // Sets the running flag and starts the thread; true when a thread was created.
    bool StartThread();
    // Clears the running flag, calls OnStopRequest and waits at most the stop time-out
    // (10000 ms) for the thread to end; traces the outcome.
    void StopThread();

    static void SetDebuggerThreadName(DWORD threadId, const char* name);

    bool IsRunning() const { return m_bRunning.load(); }
    DWORD GetThreadId() const { return m_dwThreadId.load(); }
    bool HasThreadHandle() const;
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

    mutable std::mutex m_handleMutex;
    std::shared_ptr<ThreadState> m_hThread;     // the handle: null when none is owned
    std::shared_ptr<ThreadState> m_lastThread;  // the latest thread, for the destructor
    DWORD m_dwStopTimeoutMs = kStopTimeoutMs;
    bool m_bTimeCritical = false;
};

namespace platform {
// Receives every life-cycle line as well (tests read the sequence through it).
void SetThreadTraceHook(std::function<void(const std::string&)> hook);
}  // namespace platform
