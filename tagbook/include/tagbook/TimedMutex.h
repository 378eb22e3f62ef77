// The recursive mutex with a time-out in milliseconds that guards each data block, the
// table of block UIDs and each property item's own lock. Built on a plain mutex and a
// condition variable: the timed lock of the standard timed mutexes goes through
// pthread_mutex_clocklock, which ThreadSanitizer does not see, so it would report every
// later unlock as the unlock of a mutex nobody holds.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/Types.h"

namespace tagbook {
class CTimedRecursiveMutex {
public:
    // Waits at most timeoutMs (INFINITE or more waits for ever); true when held.
    bool Lock(double timeoutMs) {
        const std::thread::id me = std::this_thread::get_id();
        std::unique_lock lock(m_mutex);
        if (m_count > 0 && m_owner == me) {
            ++m_count;
            return true;
        }
        const auto isFree = [this] { return m_count == 0; };
        if (timeoutMs >= static_cast<double>(INFINITE)) {
            m_free.wait(lock, isFree);
        } else if (!m_free.wait_for(
                       lock, std::chrono::duration<double, std::milli>(std::max(timeoutMs, 0.0)),
                       isFree)) {
            return false;
        }
        m_owner = me;
        m_count = 1;
        return true;
    }
    // False when the calling thread does not hold the mutex.
    bool Unlock() {
        {
            std::lock_guard lock(m_mutex);
            if (m_count == 0 || m_owner != std::this_thread::get_id()) {
                return false;
            }
            if (--m_count > 0) {
                return true;
            }
            m_owner = std::thread::id();
        }
        m_free.notify_one();
        return true;
    }
    // How often the calling thread holds it (0 when another thread or nobody does).
    int HeldByMe() const {
        std::lock_guard lock(m_mutex);
        return m_owner == std::this_thread::get_id() ? m_count : 0;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_free;
    std::thread::id m_owner;
    int m_count = 0;
};
}  // namespace tagbook
