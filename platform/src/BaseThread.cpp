#include "platform/BaseThread.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

#include "platform/Debug.h"
#include "platform/Scheduling.h"
#include "platform/Sync.h"

struct CBaseThread::ThreadState {
    std::thread thread;
    CEvent finished{true, false};  // set as the thread's last act
    CEvent idKnown{true, false};
};

namespace {
std::mutex g_hookMutex;
std::function<void(const std::string&)> g_hook;
}  // namespace

namespace platform {
void SetThreadTraceHook(std::function<void(const std::string&)> hook) {
    std::lock_guard lock(g_hookMutex);
    g_hook = std::move(hook);
}
}  // namespace platform

CBaseThread::CBaseThread() {
    std::memset(m_szName, 0, sizeof(m_szName));
}

CBaseThread::~CBaseThread() {
    std::shared_ptr<ThreadState> last;
    {
        std::lock_guard lock(m_handleMutex);
        last = m_lastThread;
    }
    if (!last) {
        return;
    }
    // A thread abandoned after a timed-out stop gets one more bounded wait; its owner
    // should have kept the object (DeleteThreadObject), so a thread stuck for good costs
    // a detached thread, never a hung program.
    const bool finished = last->finished.Wait(m_dwStopTimeoutMs);
    std::lock_guard lock(m_handleMutex);
    if (!last->thread.joinable()) {
        return;
    }
    if (finished) {
        last->thread.join();
    } else {
        TraceFault("Still running at destruction: thread left behind (Not OK)");
        last->thread.detach();
    }
}

void CBaseThread::TraceLine(const char* text) const {
    // Debugger output: on standard error with TAVIMO_DEBUG=1, else nowhere.
    char buffer[512];
    std::memset(buffer, 0, sizeof(buffer));
    std::snprintf(buffer, sizeof(buffer), "CBaseThread 0x%X (%s): %s\n", m_dwThreadId.load(),
                  m_szName, text);
    OutputDebugStringA(buffer);
    std::lock_guard lock(g_hookMutex);
    if (g_hook) {
        g_hook(buffer);
    }
}

void CBaseThread::TraceFault(const char* text) const {
    // A fault, not a life-cycle step: always on standard error (the journal of a service).
    TraceLine(text);
    std::fprintf(stderr, "CBaseThread 0x%X (%s): %s\n", m_dwThreadId.load(), m_szName, text);
}

bool CBaseThread::HasEnded() const {
    std::lock_guard lock(m_handleMutex);
    return !m_lastThread || m_lastThread->finished.Wait(0);
}

bool CBaseThread::HasThreadHandle() const {
    std::lock_guard lock(m_handleMutex);
    return m_hThread != nullptr;
}

bool CBaseThread::StartThread() {
    std::shared_ptr<ThreadState> previous;
    {
        std::lock_guard lock(m_handleMutex);
        previous = m_lastThread;
    }
    if (previous) {
        // A restarted object: the earlier thread has ended or been abandoned. One still
        // running after a bounded wait keeps the object: a second thread is not started.
        if (!previous->finished.Wait(m_dwStopTimeoutMs)) {
            TraceFault("Earlier thread still running: not started again (Not OK)");
            return false;
        }
        std::lock_guard lock(m_handleMutex);
        if (previous->thread.joinable()) {
            previous->thread.join();
        }
    }
    m_bRunning = true;
    auto state = std::make_shared<ThreadState>();
    {
        std::lock_guard lock(m_handleMutex);
        m_lastThread = state;
    }
    try {
        std::lock_guard lock(m_handleMutex);
        state->thread = std::thread(&CBaseThread::ThreadEntry, this, state);
        m_hThread = state;
    } catch (const std::system_error&) {
        // Creation failed: no handle; a later StopThread says it has quit already.
        state->finished.Set();
        return false;
    }
    state->idKnown.Wait(INFINITE);
    return true;
}

void CBaseThread::ThreadEntry(CBaseThread* self, const std::shared_ptr<ThreadState>& state) {
    self->m_dwThreadId = static_cast<DWORD>(::gettid());
    state->idKnown.Set();
    if (self->m_szName[0] != '\0') {
        SetDebuggerThreadName(self->m_dwThreadId, self->m_szName);
    }
    if (self->m_bTimeCritical) {
        platform::MakeCurrentThreadTimeCritical();
    }
    self->TraceLine("Started");
    bool endedInternally = false;
    try {
        self->OnThreadStartup();
        while (self->m_bRunning) {
            if (!self->ProcessData()) {
                endedInternally = true;
                self->m_bRunning = false;
                break;
            }
        }
    } catch (...) {
        self->TraceFault("Exception in ProcessData()");
    }
    self->TraceLine("Stopping...");
    try {
        self->OnThreadShutdown();
    } catch (...) {
        self->TraceFault("Exception in OnThreadShutdown()");
    }
    if (endedInternally) {
        self->TraceLine("Ended internally (self destruction)");
        std::lock_guard lock(self->m_handleMutex);
        if (self->m_hThread == state) {
            self->m_hThread.reset();
        }
    } else {
        self->TraceLine("Ended externally (Stop Thread called successfully)");
    }
    state->finished.Set();  // nothing of *self is touched after this
}

void CBaseThread::StopThread() {
    std::shared_ptr<ThreadState> handle;
    {
        std::lock_guard lock(m_handleMutex);
        handle = m_hThread;
    }
    if (!handle || !m_bRunning) {
        TraceLine("Has QUIT already (OK)");
        // A thread that ended its loop by itself may still be in OnThreadShutdown: let it
        // finish (within the bounded wait) so the owner may delete the object afterwards.
        if (handle) {
            handle->finished.Wait(m_dwStopTimeoutMs);
        }
        std::lock_guard lock(m_handleMutex);
        m_hThread.reset();
        return;
    }
    m_bRunning = false;
    OnStopRequest();
    const bool signalled = handle->finished.Wait(m_dwStopTimeoutMs);
    std::lock_guard lock(m_handleMutex);
    if (!signalled) {
        m_hThread.reset();
        TraceLine("Was NOT signalled: It timed out (Not OK)");
        return;
    }
    if (m_hThread) {
        if (m_hThread->thread.joinable()) {
            m_hThread->thread.join();
        }
        m_hThread.reset();
        TraceLine("Was signalled: (OK)");
    }
}

void CBaseThread::SetDebuggerThreadName(DWORD threadId, const char* name) {
    if (name == nullptr) {
        return;
    }
    if (threadId == static_cast<DWORD>(::gettid())) {
        char shortName[16];
        std::snprintf(shortName, sizeof(shortName), "%s", name);  // the kernel keeps 15 bytes
        pthread_setname_np(pthread_self(), shortName);
    }
    char buffer[256];
    std::snprintf(buffer, sizeof(buffer), "Thread ID 0x%X ==> %s\n", threadId, name);
    OutputDebugStringA(buffer);
}

bool DeleteThreadObject(CBaseThread* thread) {
    if (thread == nullptr) {
        return true;
    }
    if (!thread->HasEnded()) {
        // Its thread still runs in it after the stop time-out: freeing it would pull the
        // memory from under that thread, so the object is left allocated.
        thread->StopThread();
        if (!thread->HasEnded()) {
            std::fprintf(stderr,
                         "CBaseThread 0x%X: thread still running after its stop time-out; "
                         "its object is left allocated\n",
                         thread->GetThreadId());
            return false;
        }
    }
    delete thread;
    return true;
}
