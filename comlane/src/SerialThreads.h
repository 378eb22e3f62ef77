// The worker threads of a CSerial.
#pragma once

#include <atomic>

#include "CompletionPort.h"
#include "comlane/Serial.h"
#include "platform/BaseThread.h"

namespace comlane {
// Lowers the calling thread to the lowest scheduling priority.
void RunAtLowestPriority();
}  // namespace comlane

// The base of Comlane's threads. A completion thread ends by itself on the shutdown key,
// and a stop request may find it already ending: its owner waits until it has made its
// last call on the object before destroying it.
class CSerialWorkerThread : public CBaseThread {
public:
    void OnThreadShutdown() override { m_shutDown.Set(); }
    // Waits (at most the stop time-out) until a started thread is past its last call.
    void WaitUntilShutDown() {
        if (GetThreadId() != 0) {
            m_shutDown.Wait(kStopTimeoutMs);
        }
    }

private:
    CEvent m_shutDown{true, false};
};

// One completion thread: handles one completion per pass.
class CSerialRxThread : public CSerialWorkerThread {
public:
    CSerialRxThread(int index, SCompletionPortPair* pair, CSerial* serial,
                    CThreadSafeQueue<CBuffer*>* readQueue);
    void OnStopRequest() override;
    bool ProcessData() override;

private:
    SCompletionPortPair* m_pPair;
    CSerial* m_pSerial;
    CThreadSafeQueue<CBuffer*>* m_pReadQueue;
};

// The writer: turns each block of the write queue into a write request.
class CSerialTxThread : public CSerialWorkerThread {
public:
    CSerialTxThread(CSerial* serial, SCompletionPortPair* pair,
                    CThreadSafeQueue<CBuffer*>* writeQueue);
    void OnStopRequest() override;
    bool ProcessData() override;

private:
    CSerial* m_pSerial;
    SCompletionPortPair* m_pPair;
    CThreadSafeQueue<CBuffer*>* m_pWriteQueue;
};

// Watches CTS and break and queues rising CTS edges and breaks as events.
class CSerialControlLines : public CSerialWorkerThread {
public:
    CSerialControlLines(comlane::LineStateReader reader,
                        CThreadSafeQueue<CSerialEvent*>* eventQueue);
    ~CSerialControlLines() override;
    void OnStopRequest() override;
    // Watching the lines must never hold up the data: lowest priority.
    void OnThreadStartup() override { comlane::RunAtLowestPriority(); }
    bool ProcessData() override;

    // How often the line counters are read: CTS edges and breaks are counted by the
    // driver between two looks, so none is lost, and a stop is seen at once.
    static constexpr DWORD kPollMs = 5;

private:
    void Queue(DWORD code);

    BYTE m_byLastCTS = 0;
    CThreadSafeQueue<CSerialEvent*>* m_pEventQueue;
    comlane::LineStateReader m_reader;
    std::atomic<BYTE> m_byRunning{1};
    CEvent m_stop{true, false};
    bool m_bToldNoModemLines = false;
    bool m_bNoModemLines = false;
    comlane::LineState m_last;
};
