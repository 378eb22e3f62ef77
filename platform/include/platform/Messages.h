// Window messages posted to the main window from worker threads. In the program the
// target is the main dialog (a queued Qt event turned into its handler); in core tests
// it is a recording target.
#pragma once

#include <deque>
#include <mutex>
#include <optional>

#include "platform/Sync.h"
#include "platform/Types.h"

class IMessageTarget {
public:
    virtual ~IMessageTarget() = default;
    // Queues the message for the target's own thread; false when it cannot be queued.
    virtual bool Post(UINT message, WPARAM wParam, LPARAM lParam) = 0;
};
using HWND = IMessageTarget*;

BOOL PostMessage(HWND target, UINT message, WPARAM wParam, LPARAM lParam);

// The application's main window (null until one is set).
HWND AfxGetMainWnd();
void AfxSetMainWnd(HWND target);

struct PostedMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// Keeps every posted message in order, for a thread that waits for them.
class CRecordingMessageTarget : public IMessageTarget {
public:
    bool Post(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Waits at most timeoutMs for the next message and takes it.
    std::optional<PostedMessage> Next(DWORD timeoutMs);
    std::size_t Pending() const;

private:
    mutable std::mutex m_mutex;
    std::deque<PostedMessage> m_messages;
    CEvent m_arrived{true, false};
};
