#include "app/BinaryTelegramWorker.h"

#include <cstdio>
#include <cstring>
#include <new>

void FreeBinaryTelegram(LPARAM lParam) {
    delete[] reinterpret_cast<char*>(lParam);
}

CBinaryTelegramWorker::CBinaryTelegramWorker() {
    std::snprintf(m_szName, sizeof(m_szName), "%s", "XsensMT9::BinaryTelegramWorkerThread");
    SetTimeCritical(false);  // the sensor-side port carries no attitude telegrams
}

bool CBinaryTelegramWorker::ProcessData() {
    m_dwHandleCount = 1;
    m_hHandles[0] = &m_hCommandEvent;
    if (m_pPort != nullptr) {
        m_hHandles[1] = m_pPort->m_hReceiveEvent;
        m_dwHandleCount = 2;
    }
    const DWORD result = WaitForMultipleObjects(
        std::vector<CEvent*>(m_hHandles, m_hHandles + m_dwHandleCount), INFINITE);
    if (result == WAIT_OBJECT_0) {
        RunCommands();  // a stop request lands here too, and the loop then ends
    } else if (result == WAIT_OBJECT_0 + 1) {
        PostReceived();
    }
    return true;
}

void CBinaryTelegramWorker::PostReceived() {
    CTelegram telegram;
    while (m_pPort != nullptr && m_pPort->ReceiveTelegram(&telegram, 0)) {
        // The window gets its own copy: the telegram object is reused for the next one.
        const std::string& bytes = telegram.GetText();
        char* copy = new (std::nothrow) char[bytes.size() + 1];
        if (copy == nullptr) {
            continue;
        }
        std::memcpy(copy, bytes.data(), bytes.size());
        copy[bytes.size()] = '\0';
        if (!PostMessage(AfxGetMainWnd(), WM_BINARY_TELEGRAM, bytes.size(),
                         reinterpret_cast<LPARAM>(copy))) {
            delete[] copy;  // no window to take it
        }
    }
}

void CBinaryTelegramWorker::SendTelegrams() {
    CSingleLock lock(m_lock);
}

void CBinaryTelegramWorker::OpenPort() {
    Reopen("Transmit(ByteStuffed),Receive(ByteStuffed)", true);
}
