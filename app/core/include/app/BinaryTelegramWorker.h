// The worker of the sensor-side (MSIO) port: opens the port with byte-stuffed framing and
// announces every received telegram to the main window. It sends nothing.
#pragma once

#include "app/TelegramWorkerThread.h"
#include "platform/Messages.h"

// Posted to the main window for each received telegram: wParam = byte count, lParam = a
// copy of the bytes (char*, zero-terminated) that the receiver owns and frees with
// FreeBinaryTelegram.
constexpr UINT WM_BINARY_TELEGRAM = WM_USER + 100;
void FreeBinaryTelegram(LPARAM lParam);

class CBinaryTelegramWorker : public CTelegramWorkerThread {
public:
    // Waits without a port until SetPort gives it one.
    CBinaryTelegramWorker();

    // Waits for a command or for received telegrams, and posts each telegram in order.
    bool ProcessData() override;
    // Nothing is sent on this port.
    void SendTelegrams() override;
    // Opens the port with "Transmit(ByteStuffed),Receive(ByteStuffed)" and starts receiving.
    void OpenPort() override;

private:
    void PostReceived();

    DWORD m_dwHandleCount = 1;
    CEvent* m_hHandles[2] = {nullptr, nullptr};
};
