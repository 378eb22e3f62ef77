#include "platform/Sync.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>

namespace platform {
// One wait over several events: each event it watches pokes it when signalled.
struct MultiWaiter {
    std::mutex mutex;
    std::condition_variable cv;
    bool poked = false;
};
}  // namespace platform

namespace {
using Clock = std::chrono::steady_clock;

Clock::time_point Deadline(DWORD timeoutMs) {
    if (timeoutMs == INFINITE) {
        return Clock::time_point::max();
    }
    return Clock::now() + std::chrono::milliseconds(timeoutMs);
}
}  // namespace

CEvent::CEvent(bool manualReset, bool initiallySignalled)
    : m_signalled(initiallySignalled), m_manual(manualReset) {}

CEvent::~CEvent() = default;

void CEvent::Set() {
    std::lock_guard lock(m_mutex);
    m_signalled = true;
    for (platform::MultiWaiter* waiter : m_waiters) {
        std::lock_guard waiterLock(waiter->mutex);
        waiter->poked = true;
        waiter->cv.notify_one();
    }
    if (m_manual) {
        m_cv.notify_all();
    } else {
        m_cv.notify_one();
    }
}

void CEvent::Reset() {
    std::lock_guard lock(m_mutex);
    m_signalled = false;
}

bool CEvent::Wait(DWORD timeoutMs) {
    std::unique_lock lock(m_mutex);
    const auto deadline = Deadline(timeoutMs);
    while (!m_signalled) {
        if (deadline == Clock::time_point::max()) {
            m_cv.wait(lock);
        } else if (m_cv.wait_until(lock, deadline) == std::cv_status::timeout && !m_signalled) {
            return false;
        }
    }
    if (!m_manual) {
        m_signalled = false;
    }
    return true;
}

bool CEvent::TryConsume() {
    std::lock_guard lock(m_mutex);
    if (!m_signalled) {
        return false;
    }
    if (!m_manual) {
        m_signalled = false;
    }
    return true;
}

void CEvent::AddWaiter(platform::MultiWaiter* waiter) {
    std::lock_guard lock(m_mutex);
    m_waiters.push_back(waiter);
    if (m_signalled) {
        std::lock_guard waiterLock(waiter->mutex);
        waiter->poked = true;
    }
}

void CEvent::RemoveWaiter(platform::MultiWaiter* waiter) {
    std::lock_guard lock(m_mutex);
    m_waiters.erase(std::remove(m_waiters.begin(), m_waiters.end(), waiter), m_waiters.end());
}

DWORD WaitForSingleObject(CEvent& event, DWORD timeoutMs) {
    return event.Wait(timeoutMs) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

DWORD WaitForMultipleObjects(const std::vector<CEvent*>& events, DWORD timeoutMs) {
    if (events.empty() || std::find(events.begin(), events.end(), nullptr) != events.end()) {
        return WAIT_FAILED;
    }
    const auto deadline = Deadline(timeoutMs);
    platform::MultiWaiter waiter;
    for (;;) {
        for (std::size_t i = 0; i < events.size(); ++i) {
            if (events[i]->TryConsume()) {
                return WAIT_OBJECT_0 + static_cast<DWORD>(i);
            }
        }
        {
            std::lock_guard lock(waiter.mutex);
            waiter.poked = false;
        }
        for (CEvent* event : events) {
            event->AddWaiter(&waiter);
        }
        bool timedOut = false;
        {
            std::unique_lock lock(waiter.mutex);
            while (!waiter.poked && !timedOut) {
                if (deadline == Clock::time_point::max()) {
                    waiter.cv.wait(lock);
                } else {
                    timedOut = waiter.cv.wait_until(lock, deadline) == std::cv_status::timeout;
                }
            }
        }
        for (CEvent* event : events) {
            event->RemoveWaiter(&waiter);
        }
        if (timedOut) {
            // One last look: a signal may have landed just as the time ran out.
            for (std::size_t i = 0; i < events.size(); ++i) {
                if (events[i]->TryConsume()) {
                    return WAIT_OBJECT_0 + static_cast<DWORD>(i);
                }
            }
            return WAIT_TIMEOUT;
        }
    }
}

struct CCriticalSection::Mutex {
    pthread_mutex_t mutex;
};

CCriticalSection::CCriticalSection() : m_mutex(std::make_unique<Mutex>()) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT);
    pthread_mutex_init(&m_mutex->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

CCriticalSection::~CCriticalSection() {
    pthread_mutex_destroy(&m_mutex->mutex);
}

void CCriticalSection::Lock() {
    pthread_mutex_lock(&m_mutex->mutex);
}

void CCriticalSection::Unlock() {
    pthread_mutex_unlock(&m_mutex->mutex);
}

bool CCriticalSection::TryLock() {
    return pthread_mutex_trylock(&m_mutex->mutex) == 0;
}
