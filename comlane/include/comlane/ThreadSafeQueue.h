// A blocking queue of pointers between Comlane's threads and its caller. Ownership of a
// queued object passes to the queue on Push and to the caller on Pop.
#pragma once

#include <deque>

#include "platform/Sync.h"

template <typename T>
class CThreadSafeQueue;

template <typename T>
class CThreadSafeQueue<T*> {
public:
    CThreadSafeQueue() = default;
    virtual ~CThreadSafeQueue() {
        // A putter still blocked on a full queue must not wait for ever.
        CSingleLock lock(m_lock);
        m_notFull.Set();
    }
    CThreadSafeQueue(const CThreadSafeQueue&) = delete;
    CThreadSafeQueue& operator=(const CThreadSafeQueue&) = delete;

    // Adds the item at the back. A bounded queue that is full blocks until a Pop makes room.
    // False when a release was pending: the item was not queued and stays with the caller.
    bool Push(T* item) {
        const int maxSize = GetMaxSize();
        while (maxSize > 0 && Count() >= maxSize && !ReleasePending()) {
            m_notFull.Wait(INFINITE);
        }
        CSingleLock lock(m_lock);
        if (m_bReleasePutter) {
            m_notFull.Reset();
            m_bReleasePutter = false;
            return false;
        }
        if (m_nMaxSize > 0) {
            m_notFull.Reset();
        }
        const bool wasEmpty = m_items.empty();
        m_items.push_back(item);
        if (wasEmpty) {
            m_notEmpty.Set();
        }
        return true;
    }

    // Takes the oldest item; blocks while the queue is empty. Null once after
    // ReleaseWaiters, and null when another getter took the item first.
    T* Pop() {
        if (Count() == 0) {
            m_notEmpty.Wait(INFINITE);
        }
        CSingleLock lock(m_lock);
        if (m_bReleaseGetter) {
            m_notEmpty.Reset();
            m_bReleaseGetter = false;
            return nullptr;
        }
        T* item = nullptr;
        if (!m_items.empty()) {
            m_notEmpty.Reset();
            item = m_items.front();
            m_items.pop_front();
            if (m_nMaxSize > 0) {
                m_notFull.Set();
            }
        }
        return item;
    }

    // Wakes a blocked getter and a blocked putter; the next Pop returns null and the next
    // Push adds nothing, whether or not anybody was waiting.
    void ReleaseWaiters() {
        {
            CSingleLock lock(m_lock);
            m_bReleasePutter = true;
            m_notFull.Set();
        }
        CSingleLock lock(m_lock);
        m_bReleaseGetter = true;
        m_notEmpty.Set();
    }

    int Count() const {
        CSingleLock lock(m_lock);
        return static_cast<int>(m_items.size());
    }

    // Above 0 bounds the queue; -1 (the default) leaves it unbounded.
    void SetMaxSize(int maxSize) {
        CSingleLock lock(m_lock);
        m_nMaxSize = maxSize;
    }
    int GetMaxSize() const {
        CSingleLock lock(m_lock);
        return m_nMaxSize;
    }

    // Shutdown: releases the waiters, then destroys every item still queued. The queue
    // is usable again afterwards.
    void Drain() {
        ReleaseWaiters();
        while (Count() > 0) {
            delete Pop();
        }
        // The release has done its work: a later Push or Pop must not miss an item.
        CSingleLock lock(m_lock);
        m_bReleaseGetter = false;
        m_bReleasePutter = false;
    }

private:
    bool ReleasePending() const {
        CSingleLock lock(m_lock);
        return m_bReleasePutter;
    }

    std::deque<T*> m_items;
    int m_nMaxSize = -1;
    bool m_bReleaseGetter = false;
    bool m_bReleasePutter = false;
    mutable CCriticalSection m_lock;
    CEvent m_notEmpty{false, false};
    CEvent m_notFull{false, false};
};
