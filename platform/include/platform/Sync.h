// Events, waits and critical sections: the kernel objects the workers hand over with.
#pragma once

#include <condition_variable>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Types.h"

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED = 0x80;  // a wait on a mutex whose owner ended (never here)
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

namespace platform {
struct MultiWaiter;
}

// A waitable event. An auto-reset event releases exactly one wait per signal and
// is then clear again; signalling it twice before anyone waits releases one wait.
// A manual-reset event stays signalled until Reset().
class CEvent {
public:
    explicit CEvent(bool manualReset = false, bool initiallySignalled = false);
    ~CEvent();
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    void Set();
    void Reset();
    // Waits at most timeoutMs (INFINITE for no limit). True when the event was signalled
    // (and, for an auto-reset event, consumed).
    bool Wait(DWORD timeoutMs = INFINITE);
    bool IsManualReset() const { return m_manual; }

private:
    friend DWORD WaitForMultipleObjects(const std::vector<CEvent*>& events, DWORD timeoutMs);
    bool TryConsume();  // takes m_mutex
    void AddWaiter(platform::MultiWaiter* waiter);
    void RemoveWaiter(platform::MultiWaiter* waiter);

    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_signalled;
    const bool m_manual;
    std::vector<platform::MultiWaiter*> m_waiters;
};

// WAIT_OBJECT_0 when signalled, WAIT_TIMEOUT otherwise.
DWORD WaitForSingleObject(CEvent& event, DWORD timeoutMs);
// Waits until any one of the events is signalled: WAIT_OBJECT_0 + index of the first
// signalled event in the list (that one is consumed if auto-reset), or WAIT_TIMEOUT.
// WAIT_FAILED for an empty list or a null event.
DWORD WaitForMultipleObjects(const std::vector<CEvent*>& events, DWORD timeoutMs);

// A critical section: recursive, owned by one thread at a time.
// Recursive, and priority-inheriting: a normal thread (the window's, say) that holds a
// critical section a real-time thread of the data path waits for runs at that thread's
// priority until it lets go, so a busy machine cannot hold the data path up through it.
class CCriticalSection {
public:
    CCriticalSection();
    ~CCriticalSection();
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    void Lock();
    void Unlock();
    bool TryLock();
    // std::lock_guard compatibility
    void lock() { Lock(); }
    void unlock() { Unlock(); }

private:
    struct Mutex;  // the operating system's priority-inheriting recursive mutex
    std::unique_ptr<Mutex> m_mutex;
};

// Holds a critical section for a scope.
class CSingleLock {
public:
    explicit CSingleLock(CCriticalSection& cs) : m_cs(cs) { m_cs.Lock(); }
    ~CSingleLock() { m_cs.Unlock(); }
    CSingleLock(const CSingleLock&) = delete;
    CSingleLock& operator=(const CSingleLock&) = delete;

private:
    CCriticalSection& m_cs;
};
