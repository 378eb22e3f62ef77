// The worker of one telegram output: sends the telegrams of its type (HDM, HDT, TSS1,
// TSS2, PRDID, or the pairs HDT,TSS1 and HDM,TSS1) as ASCII telegrams on its port.
#pragma once

#include <atomic>

#include "app/TelegramWorkerThread.h"
#include "app/Telegrams.h"

class CAttitudeTelegramWorker : public CTelegramWorkerThread {
public:
    // The port is opened by the thread's first pass.
    CAttitudeTelegramWorker(int telegramType, short comNumber, unsigned baud);

    // Sends the telegrams of the current type from one attitude; nothing without a port or
    // for a type outside 1 to 7.
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
    enum class EKind { HDT, HDM, TSS1, TSS2, PRDID };
    void Send(EKind kind, const Attitude& attitude);

    std::atomic<int> m_nTelegramType;
    // The one telegram object of every send, its text's room reserved up front: the send
    // path allocates nothing after start-up (used on the worker's thread only).
    CTelegram m_telegram{eTelegramAscii};
};
