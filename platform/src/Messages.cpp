#include "platform/Messages.h"

#include <atomic>

namespace {
std::atomic<HWND> g_mainWnd{nullptr};
}

BOOL PostMessage(HWND target, UINT message, WPARAM wParam, LPARAM lParam) {
    if (target == nullptr) {
        return FALSE;
    }
    return target->Post(message, wParam, lParam) ? TRUE : FALSE;
}

HWND AfxGetMainWnd() {
    return g_mainWnd.load();
}
void AfxSetMainWnd(HWND target) {
    g_mainWnd.store(target);
}

bool CRecordingMessageTarget::Post(UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard lock(m_mutex);
    m_messages.push_back({message, wParam, lParam});
    m_arrived.Set();
    return true;
}

std::optional<PostedMessage> CRecordingMessageTarget::Next(DWORD timeoutMs) {
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (!m_messages.empty()) {
                PostedMessage m = m_messages.front();
                m_messages.pop_front();
                if (m_messages.empty()) {
                    m_arrived.Reset();
                }
                return m;
            }
            m_arrived.Reset();
        }
        if (!m_arrived.Wait(timeoutMs)) {
            std::lock_guard lock(m_mutex);
            if (m_messages.empty()) {
                return std::nullopt;
            }
        }
    }
}

std::size_t CRecordingMessageTarget::Pending() const {
    std::lock_guard lock(m_mutex);
    return m_messages.size();
}
