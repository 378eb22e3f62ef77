#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "comlane/Buffers.h"
#include "comlane/ThreadSafeQueue.h"
#include "platform/Sync.h"

namespace {
using Queue = CThreadSafeQueue<CBuffer*>;

CBuffer* Block(BYTE tag) {
    auto* b = new CBuffer;
    b->m_pData = new BYTE[1]{tag};
    b->m_dwLength = 1;
    return b;
}

// Pops on another thread and gives the result, or releases the queue after a generous
// bound so that a fault fails the test instead of hanging it.
CBuffer* PopWithin(Queue& queue, std::chrono::seconds bound = std::chrono::seconds(10)) {
    auto result = std::async(std::launch::async, [&] { return queue.Pop(); });
    if (result.wait_for(bound) != std::future_status::ready) {
        queue.ReleaseWaiters();
        ADD_FAILURE() << "Pop did not return";
    }
    return result.get();
}
}  // namespace

TEST(ThreadSafeQueueTest, KeepsOrderAndHandsOwnershipBack) {
    Queue queue;
    EXPECT_EQ(queue.GetMaxSize(), -1);
    for (BYTE i = 0; i < 5; ++i) {
        ASSERT_TRUE(queue.Push(Block(i)));
    }
    EXPECT_EQ(queue.Count(), 5);
    for (BYTE i = 0; i < 5; ++i) {
        CBuffer* b = queue.Pop();
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->m_pData[0], i);
        delete b;
    }
    EXPECT_EQ(queue.Count(), 0);
}

TEST(ThreadSafeQueueTest, BlockedPopIsReleasedByPushFromAnotherThread) {
    Queue queue;
    auto popped = std::async(std::launch::async, [&] { return queue.Pop(); });
    ASSERT_TRUE(queue.Push(Block(7)));
    ASSERT_EQ(popped.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    CBuffer* b = popped.get();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->m_pData[0], 7);
    delete b;
}

TEST(ThreadSafeQueueTest, ReleaseWaitersFreesAGetterAndDropsOnePush) {
    Queue queue;
    auto popped = std::async(std::launch::async, [&] { return queue.Pop(); });
    queue.ReleaseWaiters();
    ASSERT_EQ(popped.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(popped.get(), nullptr);

    // The putter's release is sticky: the next push is refused (the item stays with the
    // caller), the one after it is queued.
    CBuffer* refused = Block(1);
    EXPECT_FALSE(queue.Push(refused));
    delete refused;
    ASSERT_TRUE(queue.Push(Block(2)));
    EXPECT_EQ(queue.Count(), 1);
    delete queue.Pop();
}

TEST(ThreadSafeQueueTest, ReleaseWithNobodyWaitingMakesTheNextPopNull) {
    Queue queue;
    queue.ReleaseWaiters();
    EXPECT_EQ(queue.Pop(), nullptr);
}

TEST(ThreadSafeQueueTest, BoundedQueueBlocksAPutterUntilAPopMakesRoom) {
    Queue queue;
    queue.SetMaxSize(2);
    ASSERT_TRUE(queue.Push(Block(1)));
    ASSERT_TRUE(queue.Push(Block(2)));
    std::atomic<bool> pushed{false};
    CEvent pushing(true, false);
    auto putter = std::async(std::launch::async, [&] {
        CBuffer* third = Block(3);
        pushing.Set();
        const bool ok = queue.Push(third);
        pushed = true;
        return ok;
    });
    // Once the putter is inside Push it must stay there while the queue is full: watch it
    // for a while (a Push that does not block returns within this time).
    ASSERT_TRUE(pushing.Wait(10000));
    for (int i = 0; i < 30 && !pushed.load(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(pushed.load());
    EXPECT_EQ(queue.Count(), 2);
    CBuffer* first = queue.Pop();
    ASSERT_EQ(putter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(putter.get());
    EXPECT_EQ(first->m_pData[0], 1);
    delete first;
    EXPECT_EQ(queue.Count(), 2);
    queue.Drain();
    EXPECT_EQ(queue.Count(), 0);
}

TEST(ThreadSafeQueueTest, ReleaseFreesAPutterBlockedOnAFullQueue) {
    Queue queue;
    queue.SetMaxSize(1);
    ASSERT_TRUE(queue.Push(Block(1)));
    CBuffer* extra = Block(2);
    auto putter = std::async(std::launch::async, [&] { return queue.Push(extra); });
    queue.ReleaseWaiters();
    ASSERT_EQ(putter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(putter.get());
    delete extra;
    queue.Drain();
}

TEST(ThreadSafeQueueTest, DrainDestroysEveryQueuedItemAndLeavesTheQueueUsable) {
    Queue queue;
    for (BYTE i = 0; i < 10; ++i) {
        queue.Push(Block(i));
    }
    queue.Drain();  // the leak checker of the sanitizer build sees any item left
    EXPECT_EQ(queue.Count(), 0);
    ASSERT_TRUE(queue.Push(Block(9)));
    CBuffer* b = PopWithin(queue);
    ASSERT_NE(b, nullptr);
    delete b;
}
