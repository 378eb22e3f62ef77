#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

#include "platform/BaseThread.h"
#include "platform/Scheduling.h"
#include "platform/Sync.h"

namespace {

std::atomic<int> g_calls{0};
int Refuse(int, int) {
    ++g_calls;
    return EPERM;
}
int Grant(int policy, int priority) {
    ++g_calls;
    return policy == SCHED_FIFO && priority == platform::kTimeCriticalPriority ? 0 : EINVAL;
}

// A worker that records, on its own thread, the policy it runs under and then ends.
class PolicyProbe : public CBaseThread {
public:
    explicit PolicyProbe(bool timeCritical) { SetTimeCritical(timeCritical); }
    void OnStopRequest() override {}
    bool ProcessData() override {
        sched_param parameter{};
        int policy = -1;
        pthread_getschedparam(pthread_self(), &policy, &parameter);
        m_policy = policy;
        m_priority = parameter.sched_priority;
        m_done.Set();
        return false;
    }
    // The policy seen by the thread, or -1 when it did not run within the bound.
    int RunAndGetPolicy() {
        StartThread();
        const bool ran = m_done.Wait(10000);
        StopThread();
        return ran ? m_policy.load() : -1;
    }
    int Priority() const { return m_priority.load(); }

private:
    CEvent m_done{true, false};
    std::atomic<int> m_policy{-1};
    std::atomic<int> m_priority{-1};
};

class SchedulingTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_calls = 0;
        unsetenv("TAVIMO_REALTIME");
    }
    void TearDown() override {
        platform::SetSchedulerCallForTesting(nullptr);
        platform::SetRealTimeWanted(false);
        unsetenv("TAVIMO_REALTIME");
    }
};

TEST_F(SchedulingTest, RefusedRealTimeFallsBackToNormalAndSaysWhy) {
    platform::SetSchedulerCallForTesting(&Refuse);
    const platform::SchedulingReport report = platform::SetUpRealTime();
    EXPECT_EQ(report.mode, platform::ESchedulingMode::Normal);
    EXPECT_FALSE(report.memoryLocked);
    EXPECT_NE(report.text.find("normal scheduling"), std::string::npos) << report.text;
    EXPECT_NE(report.text.find("refused (Operation not permitted)"), std::string::npos)
        << report.text;
    EXPECT_EQ(platform::CurrentSchedulingMode(), platform::ESchedulingMode::Normal);
    // The time-critical threads started afterwards do not even ask again, and run normal.
    const int callsAfterProbe = g_calls.load();
    PolicyProbe worker(true);
    EXPECT_EQ(worker.RunAndGetPolicy(), SCHED_OTHER);
    EXPECT_EQ(g_calls.load(), callsAfterProbe);
}

TEST_F(SchedulingTest, EnvironmentTurnsRealTimeOffWithoutAsking) {
    platform::SetSchedulerCallForTesting(&Grant);
    setenv("TAVIMO_REALTIME", "0", 1);
    const platform::SchedulingReport report = platform::SetUpRealTime();
    EXPECT_EQ(report.mode, platform::ESchedulingMode::Normal);
    EXPECT_NE(report.text.find("TAVIMO_REALTIME=0"), std::string::npos) << report.text;
    PolicyProbe worker(true);
    EXPECT_EQ(worker.RunAndGetPolicy(), SCHED_OTHER);
    EXPECT_EQ(g_calls.load(), 0);
}

TEST_F(SchedulingTest, GrantedRealTimeReachesOnlyTimeCriticalThreads) {
    platform::SetSchedulerCallForTesting(&Grant);
    platform::SetRealTimeWanted(true);
    EXPECT_EQ(platform::CurrentSchedulingMode(), platform::ESchedulingMode::RealTime);
    PolicyProbe normal(false);
    normal.RunAndGetPolicy();
    EXPECT_EQ(g_calls.load(), 0);  // a thread not on the data path never asks
    PolicyProbe critical(true);
    critical.RunAndGetPolicy();
    EXPECT_EQ(g_calls.load(), 1);
    // Asked from a thread of its own: the caller's policy is never touched.
    EXPECT_TRUE(platform::MakeCurrentThreadTimeCritical());
    EXPECT_EQ(g_calls.load(), 2);
}

TEST_F(SchedulingTest, ALimitLoweredAfterStartUpLeavesTheThreadNormal) {
    platform::SetSchedulerCallForTesting(&Refuse);
    platform::SetRealTimeWanted(true);
    PolicyProbe worker(true);
    EXPECT_EQ(worker.RunAndGetPolicy(), SCHED_OTHER);
    EXPECT_EQ(g_calls.load(), 1);
    EXPECT_EQ(platform::CurrentSchedulingMode(), platform::ESchedulingMode::Normal);
}

// The system's own refusal: a child process whose real-time limit is zero and that, when
// started as root, drops to an unprivileged user (root would be granted regardless).
TEST_F(SchedulingTest, SystemRefusalWithoutRealTimeLimitFallsBackCleanly) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit none{0, 0};
        if (setrlimit(RLIMIT_RTPRIO, &none) != 0) {
            _exit(10);
        }
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(11);
        }
        const platform::SchedulingReport report = platform::SetUpRealTime();
        if (report.mode != platform::ESchedulingMode::Normal ||
            report.text.find("refused") == std::string::npos) {
            _exit(12);
        }
        int policy = -1;
        {
            PolicyProbe worker(true);  // joined before the child ends
            policy = worker.RunAndGetPolicy();
        }
        _exit(policy == SCHED_OTHER ? 0 : 13);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Whatever this machine grants, a time-critical thread runs as the report says: SCHED_FIFO
// at the modest priority, or normal. (In a child: granted, the set-up locks its memory.)
TEST_F(SchedulingTest, ReportMatchesThePolicyTheThreadsGet) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const platform::SchedulingReport report = platform::SetUpRealTime();
        int policy = -1, priority = -1;
        {
            PolicyProbe worker(true);  // joined before the child ends
            policy = worker.RunAndGetPolicy();
            priority = worker.Priority();
        }
        if (report.mode == platform::ESchedulingMode::RealTime) {
            _exit(policy == SCHED_FIFO && priority == platform::kTimeCriticalPriority ? 0 : 20);
        }
        _exit(policy == SCHED_OTHER ? 0 : 21);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace

namespace {

// The kernel's priority of a thread of this process (field 18 of its stat line): 20 for a
// normal thread at nice 0, -1 - p for SCHED_FIFO priority p, boosted ones included.
int KernelPriority(pid_t tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    for (int i = 3; i <= 18 && fields >> field; ++i) {
        if (i == 18) {
            return std::stoi(field);
        }
    }
    return 0;
}

// A normal thread holding a critical section that a real-time thread waits for runs at the
// waiter's priority until it lets go (no priority inversion through the window's thread).
TEST(CriticalSectionPriorityTest, AHolderInheritsTheRealTimeWaitersPriority) {
    const int callerPriority = KernelPriority(static_cast<pid_t>(::gettid()));
    CCriticalSection section;
    CEvent held{true, false}, release{true, false}, waiterReady{true, false};
    std::atomic<pid_t> holderTid{0};
    std::atomic<bool> waiterGotIt{false};
    std::thread holder([&] {
        holderTid = static_cast<pid_t>(::gettid());
        CSingleLock lock(section);
        held.Set();
        release.Wait(10000);
    });
    ASSERT_TRUE(held.Wait(10000));
    bool granted = false;
    std::thread waiter([&] {
        sched_param parameter{};
        parameter.sched_priority = platform::kTimeCriticalPriority;
        granted = pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameter) == 0;
        waiterReady.Set();
        if (granted) {
            CSingleLock lock(section);
            waiterGotIt = true;
        }
    });
    ASSERT_TRUE(waiterReady.Wait(10000));
    int boosted = KernelPriority(holderTid.load());
    for (int i = 0; granted && i < 1000 && boosted != -1 - platform::kTimeCriticalPriority; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        boosted = KernelPriority(holderTid.load());
    }
    release.Set();
    holder.join();
    waiter.join();
    if (!granted) {
        GTEST_SKIP() << "real-time scheduling is not granted here";
    }
    EXPECT_EQ(boosted, -1 - platform::kTimeCriticalPriority);
    EXPECT_TRUE(waiterGotIt.load());
    EXPECT_EQ(KernelPriority(static_cast<pid_t>(::gettid())), callerPriority);  // untouched
}

}  // namespace
