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
    if (last) {
        last->finished.Wait(INFINITE);
        std::lock_guard lock(m_handleMutex);
        if (last->thread.joinable()) {
            last->thread.join();
        }
    }
}

void CBaseThread::TraceLine(const char* text) const {
    char buffer[512];
    std::memset(buffer, 0, sizeof(buffer));
    std::snprintf(buffer, sizeof(buffer), "CBaseThread 0x%X (%s): %s\n", m_dwThreadId.load(),
                  m_szName, text);
    OutputDebugStringA(buffer);
    std::fputs(buffer, stdout);
    std::fflush(stdout);
    std::lock_guard lock(g_hookMutex);
    if (g_hook) {
        g_hook(buffer);
    }
}

bool CBaseThread::HasThreadHandle() const {
    std::lock_guard lock(m_handleMutex);
    return m_hThread != nullptr;
}

bool CBaseThread::StartThread() {
    m_bRunning = true;
    auto state = std::make_shared<ThreadState>();
    std::shared_ptr<ThreadState> previous;
    {
        std::lock_guard lock(m_handleMutex);
        previous = std::exchange(m_lastThread, state);
    }
    if (previous) {
        // A restarted object: the earlier thread has ended or been abandoned.
        previous->finished.Wait(INFINITE);
        std::lock_guard lock(m_handleMutex);
        if (previous->thread.joinable()) {
            previous->thread.join();
        }
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
        std::fputs("Exception in ProcessData()", stdout);
        std::fflush(stdout);
    }
    self->TraceLine("Stopping...");
    try {
        self->OnThreadShutdown();
    } catch (...) {
        std::fputs("Exception in OnThreadShutdown()", stdout);
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
