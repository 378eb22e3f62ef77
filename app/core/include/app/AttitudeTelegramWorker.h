// The worker of one telegram output: sends the sentences of its type (one of the output
// list: HDT, TSS1, PASHR, Signal K, pairs such as HDT,TSS1, ...) as ASCII telegrams on its
// port.
#pragma once

#include <atomic>

#include "app/TelegramWorkerThread.h"
#include "app/Telegrams.h"

class CAttitudeTelegramWorker : public CTelegramWorkerThread {
public:
    // The port is opened by the thread's first pass.
    CAttitudeTelegramWorker(int telegramType, short comNumber, unsigned baud);

    // Sends the sentences of the current type from one attitude; nothing without a port or
    // for a type outside the list.
    void SendTelegrams() override;
    void SendHDT();
    void SendHDM();
    void SendTSS1();
    void SendTSS2();
    void SendPRDID();

    // The owner changes the type directly (ModifyTelegramWorker); any thread may.
    void SetTelegramType(int telegramType) { m_nTelegramType = telegramType; }
    int GetTelegramType() const { return m_nTelegramType; }

private:
    void Send(const telegrams::Sentence& sentence, const Attitude& attitude);

    std::atomic<int> m_nTelegramType;
    // The one telegram object of every send, its text's room reserved up front: the send
    // path allocates nothing after start-up (used on the worker's thread only).
    CTelegram m_telegram{eTelegramAscii};
};
