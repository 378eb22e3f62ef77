#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/BaseThread.h"
#include "platform/Debug.h"
#include "platform/Sync.h"

namespace {
// Collects the life-cycle events ("Started", ...) of every worker in order.
class TraceCollector {
public:
    TraceCollector() {
        platform::SetThreadTraceHook([this](const std::string& line) {
            std::lock_guard lock(m_mutex);
            m_lines.push_back(line);
        });
    }
    ~TraceCollector() { platform::SetThreadTraceHook(nullptr); }
    std::vector<std::string> Events() {
        std::lock_guard lock(m_mutex);
        std::vector<std::string> events;
        for (const std::string& line : m_lines) {
            const auto colon = line.find("): ");
            events.push_back(line.substr(colon + 3, line.size() - colon - 4));
        }
        return events;
    }
    std::vector<std::string> Lines() {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

class Worker : public CBaseThread {
public:
    explicit Worker(const char* name = "") { std::strncpy(m_szName, name, sizeof(m_szName) - 1); }
    void OnStopRequest() override { ++stopRequests; }
    bool ProcessData() override {
        const int n = ++calls;
        if (throwOnCall == n) {
            throw std::runtime_error("boom");
        }
        if (blockUntil != nullptr) {
            blockUntil->Wait(INFINITE);
        }
        if (n >= endAfter) {
            return false;
        }
        tick.Set();
        return true;
    }
    void OnThreadStartup() override { ++startups; }
    void OnThreadShutdown() override {
        ++shutdowns;
        shutDown.Set();
    }

    std::atomic<int> calls{0};
    std::atomic<int> stopRequests{0};
    std::atomic<int> startups{0};
    std::atomic<int> shutdowns{0};
    int endAfter = 1 << 30;
    int throwOnCall = -1;
    CEvent* blockUntil = nullptr;
    CEvent tick;
    CEvent shutDown{true, false};
};
}  // namespace

TEST(CBaseThreadTest, StopOnNeverStartedObjectSaysItHasQuit) {
    TraceCollector trace;
    Worker worker;
    worker.StopThread();
    worker.StopThread();
    EXPECT_EQ(trace.Events(),
              (std::vector<std::string>{"Has QUIT already (OK)", "Has QUIT already (OK)"}));
    EXPECT_EQ(worker.stopRequests.load(), 0);
}

TEST(CBaseThreadTest, ExternalStopRunsTheWholeLifeCycleInOrder) {
    TraceCollector trace;
    Worker worker("XsensMT9::TelegramWorkerThread");
    ASSERT_TRUE(worker.StartThread());
    ASSERT_TRUE(worker.tick.Wait(10000));
    worker.StopThread();
    EXPECT_EQ(trace.Events(),
              (std::vector<std::string>{"Started", "Stopping...",
                                        "Ended externally (Stop Thread called successfully)",
                                        "Was signalled: (OK)"}));
    EXPECT_EQ(worker.stopRequests.load(), 1);
    EXPECT_EQ(worker.startups.load(), 1);
    EXPECT_EQ(worker.shutdowns.load(), 1);
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_FALSE(worker.HasThreadHandle());
    char expected[64];
    std::snprintf(expected, sizeof(expected),
                  "CBaseThread 0x%X (XsensMT9::TelegramWorkerThread): Started\n",
                  worker.GetThreadId());
    EXPECT_EQ(trace.Lines().front(), expected);
    worker.StopThread();  // a second stop: nothing left to stop
    EXPECT_EQ(trace.Events().back(), "Has QUIT already (OK)");
}

TEST(CBaseThreadTest, ProcessDataReturningFalseEndsInternally) {
    TraceCollector trace;
    Worker worker;
    worker.endAfter = 1;
    worker.StartThread();
    ASSERT_TRUE(worker.shutDown.Wait(10000));
    // The handle is closed by the thread itself just after its last line.
    for (int i = 0; i < 1000 && worker.HasThreadHandle(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    worker.StopThread();
    EXPECT_EQ(trace.Events(), (std::vector<std::string>{"Started", "Stopping...",
                                                        "Ended internally (self destruction)",
                                                        "Has QUIT already (OK)"}));
    EXPECT_EQ(trace.Lines().front().find("()"),
              trace.Lines().front().find(" (") + 1);  // empty name
    EXPECT_EQ(worker.calls.load(), 1);
}

TEST(CBaseThreadTest, ExceptionEndsTheLoopAndLaterStopFindsItSignalled) {
    TraceCollector trace;
    Worker worker;
    worker.throwOnCall = 2;
    testing::internal::CaptureStderr();
    worker.StartThread();
    ASSERT_TRUE(worker.shutDown.Wait(10000));
    EXPECT_TRUE(worker.IsRunning());  // the flag keeps its value after an exception
    worker.StopThread();
    // A fault is said on standard error whatever TAVIMO_DEBUG says.
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Exception in ProcessData()"),
              std::string::npos);
    EXPECT_EQ(trace.Events(),
              (std::vector<std::string>{"Started", "Exception in ProcessData()", "Stopping...",
                                        "Ended externally (Stop Thread called successfully)",
                                        "Was signalled: (OK)"}));
}

TEST(CBaseThreadTest, LifeCycleLinesAreDebuggerOutputOnStandardErrorOnlyWithTavimoDebug) {
    const auto run = [] {
        Worker worker("Quiet");
        worker.StartThread();
        worker.tick.Wait(10000);
        worker.StopThread();
    };
    unsetenv("TAVIMO_DEBUG");
    platform::RefreshDebugOutputSetting();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    run();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    setenv("TAVIMO_DEBUG", "1", 1);
    platform::RefreshDebugOutputSetting();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    run();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    unsetenv("TAVIMO_DEBUG");
    platform::RefreshDebugOutputSetting();
    EXPECT_NE(err.find("(Quiet): Started\n"), std::string::npos) << err;
    EXPECT_NE(err.find("(Quiet): Was signalled: (OK)\n"), std::string::npos);
}

TEST(CBaseThreadTest, BlockedProcessDataIsAbandonedAfterTheStopTimeout) {
    TraceCollector trace;
    CEvent release(true, false);
    Worker worker;
    worker.blockUntil = &release;
    worker.SetStopTimeout(50);
    worker.StartThread();
    while (worker.calls.load() == 0) {
        std::this_thread::yield();
    }
    worker.StopThread();
    EXPECT_EQ(trace.Events().back(), "Was NOT signalled: It timed out (Not OK)");
    EXPECT_FALSE(worker.HasThreadHandle());
    // The abandoned thread runs out by itself; its owner must keep the object until then.
    release.Set();
    EXPECT_TRUE(worker.shutDown.Wait(10000));
}

namespace {
// Runs the call on a thread of its own; true when it returned within the time (a call that
// hangs fails the test instead of hanging it).
bool ReturnsWithin(std::function<void()> call, DWORD ms) {
    auto done = std::make_shared<CEvent>(true, false);
    std::thread([call = std::move(call), done] {
        call();
        done->Set();
    }).detach();
    return done->Wait(ms);
}

// Starts the worker, lets its ProcessData block on the event, and abandons it with a
// short stop time-out.
void Abandon(Worker& worker, CEvent& block) {
    worker.blockUntil = &block;
    worker.SetStopTimeout(50);
    ASSERT_TRUE(worker.StartThread());
    while (worker.calls.load() == 0) {
        std::this_thread::yield();
    }
    worker.StopThread();
    ASSERT_FALSE(worker.HasEnded());
}

class CountedWorker : public Worker {
public:
    explicit CountedWorker(std::atomic<int>& deleted) : m_deleted(deleted) {}
    ~CountedWorker() override { ++m_deleted; }

private:
    std::atomic<int>& m_deleted;
};
}  // namespace

TEST(CBaseThreadTest, AnAbandonedThreadKeepsItsObjectUntilItHasEnded) {
    std::atomic<int> deleted{0};
    CEvent release(true, false);
    auto* worker = new CountedWorker(deleted);
    Abandon(*worker, release);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(DeleteThreadObject(worker));  // its thread still runs in it
    EXPECT_NE(testing::internal::GetCapturedStderr().find("left allocated"), std::string::npos);
    EXPECT_EQ(deleted.load(), 0);
    release.Set();
    ASSERT_TRUE(worker->shutDown.Wait(10000));
    for (int i = 0; i < 1000 && !worker->HasEnded(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(DeleteThreadObject(worker));
    EXPECT_EQ(deleted.load(), 1);
}

TEST(CBaseThreadTest, ARestartWaitsOnlyBoundedForAnAbandonedThread) {
    TraceCollector trace;
    CEvent release(true, false);
    Worker worker;
    Abandon(worker, release);
    testing::internal::CaptureStderr();
    std::atomic<int> started{-1};
    ASSERT_TRUE(ReturnsWithin([&] { started = worker.StartThread() ? 1 : 0; }, 10000));
    EXPECT_EQ(started.load(), 0);  // never two threads in one object
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "Earlier thread still running: not started again (Not OK)"),
              std::string::npos);
    release.Set();
    for (int i = 0; i < 1000 && !worker.HasEnded(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    worker.blockUntil = nullptr;
    worker.SetStopTimeout(10000);
    ASSERT_TRUE(worker.StartThread());  // once it has run out, the object starts again
    worker.StopThread();
    EXPECT_TRUE(worker.HasEnded());
}

TEST(CBaseThreadTest, DestroyingAnObjectWhoseThreadIsStuckDoesNotHang) {
    // The storage outlives the object, and the thread never leaves ProcessData: what an
    // owner that forgot DeleteThreadObject leaves behind, without touching freed memory.
    static CEvent* const never = new CEvent(true, false);
    alignas(Worker) static unsigned char storage[sizeof(Worker)];
    auto* worker = new (storage) Worker("Stuck");
    Abandon(*worker, *never);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(ReturnsWithin([worker] { worker->~Worker(); }, 10000));
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "(Stuck): Still running at destruction: thread left behind (Not OK)"),
              std::string::npos);
}

TEST(CBaseThreadTest, StoppedObjectStartsAgain) {
    Worker worker;
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(worker.StartThread());
        ASSERT_TRUE(worker.tick.Wait(10000));
        worker.StopThread();
    }
    EXPECT_EQ(worker.startups.load(), 3);
}

TEST(CBaseThreadTest, ShippedStopTimeoutIsTenSeconds) {
    EXPECT_EQ(CBaseThread::kStopTimeoutMs, 10000u);
}
