#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "TagbookTestSupport.h"
#include "platform/Sync.h"
#include "tagbook/DataBlock.h"

using tagbook_test::CRecordingListener;

TEST(DataBlockThreadTest, TwoThreadsSetAndReadOneTree) {
    CDataBlock root;
    auto* a = new CDataBlock(&root);
    a->SetName("A");
    auto* b = new CDataBlock(a);
    b->SetName("B");
    b->Set("Count", 0, 1);
    b->Set("Label", "start", 1);
    CRecordingListener listener;
    b->AddNotifyTarget(&listener);
    constexpr int kWrites = 2000;
    std::atomic<int> failedWrites{0};
    std::atomic<bool> writerDone{false};
    std::thread writer([&] {
        for (int i = 1; i <= kWrites; ++i) {
            failedWrites += root.Set("A:B:Count", i) ? 0 : 1;
            failedWrites += root.Set("A:B:Label", "value " + std::to_string(i)) ? 0 : 1;
        }
        writerDone = true;
    });
    // Reads while the writer runs (a failing writer ends the loop, never hangs it): values
    // only move forward, and the label, set after the count, is never behind the count
    // read before it.
    int last = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool more = true;
    while (more && std::chrono::steady_clock::now() < deadline) {
        more = !writerDone.load();
        int count = 0;
        std::string label;
        ASSERT_TRUE(root.Get("A:B:Count", count));
        ASSERT_TRUE(root.Get(":A:B:Label", label));
        ASSERT_GE(count, last);
        const int labelled = label == "start" ? 0 : std::stoi(label.substr(6));
        ASSERT_GE(labelled, count - 1) << label << " read after count " << count;
        last = count;
    }
    writer.join();
    EXPECT_EQ(failedWrites.load(), 0);
    EXPECT_EQ(last, kWrites);  // the last look came after the writer had finished
    // Every write changed a value, so every write was told, on the writer's thread.
    EXPECT_EQ(listener.Count(TBN_PROPERTYCHANGED), 2 * kWrites);
}

TEST(DataBlockThreadTest, UidsStayUniqueWhileBlocksComeAndGo) {
    CDataBlock keeper;
    std::atomic<DWORD> highest{0};
    std::thread maker([&] {
        for (int i = 0; i < 500; ++i) {
            CDataBlock block;
            highest.store(block.GetUID());
        }
    });
    DWORD previous = 0;
    for (int i = 0; i < 500; ++i) {
        ASSERT_EQ(CDataBlock::GetObjectA(keeper.GetUID()), &keeper);
        CDataBlock mine;
        ASSERT_GT(mine.GetUID(), previous);  // never reused, always rising
        previous = mine.GetUID();
    }
    maker.join();
    EXPECT_NE(highest.load(), previous);
}

TEST(DataBlockThreadTest, LockTimeOutFailsCleanlyAndChangesNothing) {
    CDataBlock block;
    block.Set("X", 1.0, 1);
    CRecordingListener holder;
    CEvent inside(true, false);
    CEvent release(true, false);
    // The listener runs with the block locked: it holds the lock until told to go.
    holder.hook = [&](NM_TAGBOOK&, LRESULT&) {
        inside.Set();
        WaitForSingleObject(release, 30000);
    };
    block.AddNotifyTarget(&holder);
    std::thread owner([&] { block.Set("X", 2.0); });
    ASSERT_EQ(WaitForSingleObject(inside, 30000), WAIT_OBJECT_0);

    double value = 0.0;
    EXPECT_FALSE(block.Set("X", 3.0, 0, 20.0));
    EXPECT_FALSE(block.Set("Y", 3.0, 1, 20.0));
    EXPECT_FALSE(block.Get("X", value, 20.0));
    EXPECT_FALSE(block.Add("Z", 1.0, 20.0));
    EXPECT_FALSE(block.Update("X", 4.0, 20.0));
    EXPECT_FALSE(block.DeleteProperty("X", 20.0));
    EXPECT_FALSE(block.AddNotifyTarget(&holder, 20.0));
    EXPECT_EQ(block.GetProperty("X", 20.0), nullptr);
    release.Set();
    owner.join();

    EXPECT_TRUE(block.Get("X", value));
    EXPECT_DOUBLE_EQ(value, 2.0);
    EXPECT_FALSE(block.IsProperty("Y"));
    EXPECT_FALSE(block.IsProperty("Z"));
    EXPECT_EQ(holder.Count(TBN_PROPERTYCHANGED), 1);
}

TEST(PropItemThreadTest, LockCountsAndOnlyTheHolderUnlocks) {
    CPropItem_CString item;
    EXPECT_EQ(item.Unlock(), 0);
    ASSERT_EQ(item.Lock(100), 1);
    ASSERT_EQ(item.Lock(100), 1);
    EXPECT_TRUE(item.IsLocked());
    int otherLock = -1;
    int otherUnlock = -1;
    std::thread other([&] {
        otherUnlock = item.Unlock();
        otherLock = item.Lock(10);
    });
    other.join();
    EXPECT_EQ(otherUnlock, 0);
    EXPECT_EQ(otherLock, 0);
    EXPECT_EQ(item.Unlock(), 1);
    EXPECT_EQ(item.Unlock(), 1);
    EXPECT_FALSE(item.IsLocked());
    EXPECT_EQ(item.Unlock(), 0);
}
