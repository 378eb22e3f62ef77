#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/Messages.h"
#include "platform/Sync.h"

TEST(CEventTest, AutoResetSignalledTwiceReleasesOneWait) {
    CEvent event;
    event.Set();
    event.Set();
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
}

TEST(CEventTest, ManualResetStaysSignalledUntilReset) {
    CEvent event(true, false);
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(0));
    event.Reset();
    EXPECT_FALSE(event.Wait(10));
}

TEST(CEventTest, WaitIsReleasedBySetFromAnotherThread) {
    CEvent event;
    std::thread setter([&] { event.Set(); });
    EXPECT_TRUE(event.Wait(10000));
    setter.join();
}

TEST(CEventTest, WaitForMultipleReturnsFirstSignalledAndConsumesOnlyIt) {
    CEvent a;
    CEvent b;
    CEvent c(true, false);
    b.Set();
    c.Set();
    EXPECT_EQ(WaitForMultipleObjects({&a, &b, &c}, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects({&a, &b, &c}, 0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForMultipleObjects({&a, &b, &c}, 0), WAIT_OBJECT_0 + 2);  // manual: stays
    c.Reset();
    EXPECT_EQ(WaitForMultipleObjects({&a, &b, &c}, 20), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForMultipleObjects({}, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects({&a, nullptr}, 0), WAIT_FAILED);
}

TEST(CEventTest, WaitForMultipleWakesOnLateSignal) {
    CEvent stop;
    CEvent data;
    std::atomic<DWORD> result{0};
    std::thread waiter([&] { result = WaitForMultipleObjects({&stop, &data}, 10000); });
    data.Set();
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_OBJECT_0 + 1);
    EXPECT_FALSE(data.Wait(0));  // consumed by the multiple wait
}

TEST(CEventTest, ManySignalsBetweenTwoThreadsLoseNoWakeUp) {
    CEvent ping;
    CEvent pong;
    constexpr int kRounds = 2000;
    std::thread other([&] {
        for (int i = 0; i < kRounds; ++i) {
            ASSERT_EQ(WaitForMultipleObjects({&ping}, 10000), WAIT_OBJECT_0);
            pong.Set();
        }
    });
    for (int i = 0; i < kRounds; ++i) {
        ping.Set();
        ASSERT_TRUE(pong.Wait(10000));
    }
    other.join();
}

TEST(CriticalSectionTest, IsRecursive) {
    CCriticalSection cs;
    CSingleLock outer(cs);
    CSingleLock inner(cs);
    std::atomic<bool> taken{false};
    std::thread other([&] { taken = cs.TryLock(); });
    other.join();
    EXPECT_FALSE(taken.load());
}

TEST(MessagesTest, PostedMessagesArriveInOrderAtTheMainWindow) {
    CRecordingMessageTarget target;
    EXPECT_EQ(PostMessage(nullptr, WM_USER + 1, 0, 0), FALSE);
    AfxSetMainWnd(&target);
    std::thread worker([] {
        PostMessage(AfxGetMainWnd(), WM_USER + 103, 1, 2);
        PostMessage(AfxGetMainWnd(), WM_USER + 104, 3, 4);
    });
    auto first = target.Next(10000);
    auto second = target.Next(10000);
    worker.join();
    AfxSetMainWnd(nullptr);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->message, WM_USER + 103u);
    EXPECT_EQ(first->lParam, 2);
    EXPECT_EQ(second->message, WM_USER + 104u);
    EXPECT_FALSE(target.Next(10).has_value());
}
