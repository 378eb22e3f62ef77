#include "comlane/Serial.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

#include "SerialThreads.h"
#include "interfaces/Tickwise.h"
#include "platform/Debug.h"

namespace {
unsigned Processors() {
    const unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? n : 1;
}

DWORD TickCount() {
    using namespace std::chrono;
    return static_cast<DWORD>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SleepMs(unsigned ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
}  // namespace

int nComlane = 0;
int fnComlane() {
    return 42;
}

CBufferedOverlapped::CBufferedOverlapped(int size)
    : m_nSize(size > 0 ? size : 0),
      m_pBuffer(new BYTE[static_cast<std::size_t>(size > 0 ? size : 1)]),
      m_dwCreationTick(TickCount()) {}

CBufferedOverlapped::~CBufferedOverlapped() {
    delete[] m_pBuffer;
}

// --- completion threads -------------------------------------------------------------

CSerialRxThread::CSerialRxThread(int index, SCompletionPortPair* pair, CSerial* serial,
                                 CThreadSafeQueue<CBuffer*>* readQueue)
    : m_pPair(pair), m_pSerial(serial), m_pReadQueue(readQueue) {
    std::snprintf(m_szName, sizeof(m_szName), "CSerial_RxThread(%d)", index);
}

void CSerialRxThread::OnStopRequest() {
    m_pReadQueue->ReleaseWaiters();
}

bool CSerialRxThread::ProcessData() {
    DWORD bytes = 0;
    std::uintptr_t key = 0;
    CBufferedOverlapped* request = nullptr;
    m_pPair->pCompletionPort->Get(bytes, key, request);
    if (key == comlane::kShutdownKey) {
        return false;
    }
    if (request == nullptr) {
        return true;
    }
    switch (request->m_dwOperation) {
        case OP_READ_PENDING:
            if (bytes > 0) {
                comlane::LineSettings line;
                m_pSerial->GetLineSettings(line);
                const double charTime = comlane::CharacterTime(line);
                auto* block = new (std::nothrow) CBuffer;
                BYTE* data = new (std::nothrow) BYTE[bytes + 1];
                if (block != nullptr && data != nullptr) {
                    std::memcpy(data, request->m_pBuffer, bytes);
                    data[bytes] = 0;
                    block->m_pData = data;
                    block->m_dwLength = bytes;
                    block->m_dfCharacterTime = charTime;
                    // The block's first character arrived one character time per byte ago.
                    block->m_dfTimeStamp = CTickwise::GetPCMilliSecs() - charTime * bytes;
                    if (!m_pReadQueue->Push(block)) {
                        delete block;  // the queue is shutting down
                    }
                } else {
                    delete block;
                    delete[] data;
                }
            }
            request->m_dwSpare = 0;
            [[fallthrough]];
        case OP_START_READ:
            request->m_dwOperation = OP_READ_PENDING;
            m_pPair->pCompletionPort->IssueRead(request);
            break;
        case OP_WRITE_REQUESTED:
            request->m_dwOperation = OP_WRITE_PENDING;
            m_pPair->pCompletionPort->IssueWrite(request, bytes);
            break;
        case OP_WRITE_PENDING:
            delete request;
            break;
        default:
            OutputDebugStringA("ERROR: Did not get a valid completion key!\n");
            break;
    }
    SleepMs(1);
    return true;
}

// --- writer thread ------------------------------------------------------------------

CSerialTxThread::CSerialTxThread(CSerial* serial, SCompletionPortPair* pair,
                                 CThreadSafeQueue<CBuffer*>* writeQueue)
    : m_pSerial(serial), m_pPair(pair), m_pWriteQueue(writeQueue) {
    std::snprintf(m_szName, sizeof(m_szName), "%s", "CSerial_TxThread");
}

void CSerialTxThread::OnStopRequest() {
    m_pWriteQueue->ReleaseWaiters();
}

bool CSerialTxThread::ProcessData() {
    CBuffer* block = m_pWriteQueue->Pop();
    if (block == nullptr) {
        return true;
    }
    CBufferedOverlapped* request =
        m_pSerial->AcquireOverlappedBuffer(static_cast<int>(block->m_dwLength));
    if (request != nullptr) {
        if (block->m_dwLength > 0 && block->m_pData != nullptr) {
            std::memcpy(request->m_pBuffer, block->m_pData, block->m_dwLength);
            // Issued from this one thread, in queue order: handed to the completion threads
            // first, two of them could issue consecutive blocks the other way round, and a
            // line would carry two telegrams swapped.
            request->m_dwOperation = OP_WRITE_PENDING;
            m_pPair->pCompletionPort->IssueWrite(request, block->m_dwLength);
        } else {
            delete request;  // an empty block is not written
        }
    }
    delete block;
    return true;
}

// --- control-line thread ------------------------------------------------------------

CSerialControlLines::CSerialControlLines(comlane::LineStateReader reader,
                                         CThreadSafeQueue<CSerialEvent*>* eventQueue)
    : m_pEventQueue(eventQueue), m_reader(std::move(reader)) {
    std::snprintf(m_szName, sizeof(m_szName), "%s", "SerialControlLines");
    // The line as it is when the port opens: edges are counted from here.
    m_bNoModemLines = !m_reader || !m_reader(m_last);
    m_byLastCTS = m_last.cts ? 1 : 0;
}

CSerialControlLines::~CSerialControlLines() {
    OutputDebugStringA(
        "[BRISKO DEBUG] [Method = CSerialControlLines::~CSerialControlLines] [This could be bad "
        "if you were not closing the port intentionally!\n]");
}

void CSerialControlLines::OnStopRequest() {
    m_byRunning = 0;
    m_stop.Set();
    m_pEventQueue->Drain();
}

void CSerialControlLines::Queue(DWORD code) {
    auto* event = new (std::nothrow) CSerialEvent;
    if (event == nullptr) {
        return;
    }
    event->m_dwEventCode = code;
    event->m_dfTimeStamp = CTickwise::GetPCMilliSecs();
    if (!m_pEventQueue->Push(event)) {
        delete event;
    }
}

bool CSerialControlLines::ProcessData() {
    comlane::LineState now;
    if (m_bNoModemLines) {
        if (!m_bToldNoModemLines) {
            m_bToldNoModemLines = true;
            OutputDebugStringA(
                "Comlane: the line has no modem lines (a pseudo-terminal?): CTS and break are "
                "not watched\n");
        }
        m_stop.Wait(INFINITE);  // nothing to watch: sleep until the stop request
    } else if (m_byRunning != 0) {
        if (m_reader(now)) {
            // Every CTS change since the last look counts, so two quick pulses give two
            // rising edges even when both fall between looks.
            unsigned changes = now.ctsChanges - m_last.ctsChanges;
            if (changes == 0 && now.cts != (m_byLastCTS != 0)) {
                changes = 1;
            }
            const unsigned rising = m_byLastCTS != 0 ? changes / 2 : (changes + 1) / 2;
            for (unsigned i = 0; i < rising; ++i) {
                Queue(EV_CTS);
            }
            m_byLastCTS = now.cts ? 1 : 0;
            for (unsigned i = now.breaks - m_last.breaks; i > 0; --i) {
                OutputDebugStringA("Break Detected!!\r\n");
                Queue(EV_BREAK);
            }
            m_last = now;
        }
        m_stop.Wait(kPollMs);
    }
    if (m_byRunning == 0) {
        OutputDebugStringA(
            "[BRISKO DEBUG] [Method = CSerialControlLines::ProcessData()] [The thread proc is "
            "closing itself down..If you are not shutting down intentionally then somthing bad "
            "has happened!\n]");
    }
    return m_byRunning != 0;
}

// --- the port -----------------------------------------------------------------------

CSerial::CSerial() {
    const unsigned threads = 2 * Processors();
    m_pCompletionPort = new SCompletionPortPair;
    m_pCompletionPort->pCompletionPort = new comlane::CCompletionPort;
    for (unsigned i = 0; i < threads; ++i) {
        m_readRequests.push_back(nullptr);
        m_rxThreads.push_back(
            new CSerialRxThread(static_cast<int>(i), m_pCompletionPort, this, &m_readQueue));
    }
    m_pTxThread = new CSerialTxThread(this, m_pCompletionPort, &m_writeQueue);
}

CSerial::~CSerial() {
    Close();
}

int CSerial::Open(const char* name) {
    if (name == nullptr || m_bClosed || m_hPort != nullptr) {
        return 0;
    }
    auto* port = new comlane::CSerialDevice;
    std::string error;
    if (!comlane::OpenNamedPort(name, *port, &error)) {
        OutputDebugStringA(
            ("Comlane: cannot open " + std::string(name) + ": " + error + "\n").c_str());
        delete port;
        return 0;
    }
    m_dcb.fRtsControl = 1;
    port->SetRts(true);
    m_hPort = port;
    m_pCompletionPort->pPort = port;
    Config(CBR_9600, DATABITS_8, NOPARITY, ONESTOPBIT);
    if (m_pCompletionPort->pCompletionPort->Bind(port, 0)) {
        for (std::size_t i = 0; i < m_rxThreads.size(); ++i) {
            m_rxThreads[i]->StartThread();
            m_readRequests[i] = AcquireOverlappedBuffer(1024);
            if (m_readRequests[i] != nullptr) {
                m_readRequests[i]->m_dwOperation = OP_START_READ;
                m_pCompletionPort->pCompletionPort->Post(0, 0, m_readRequests[i]);
            }
        }
    }
    m_pTxThread->StartThread();
    comlane::LineStateReader reader;
    {
        CSingleLock lock(m_lock);
        reader = m_lineStateForTesting ? m_lineStateForTesting : port->MakeLineStateReader();
    }
    m_pControlLines = new CSerialControlLines(std::move(reader), &m_eventQueue);
    m_pControlLines->StartThread();
    return 1;
}

void CSerial::Close() {
    if (m_bClosed) {
        return;
    }
    m_bClosed = true;
    ShutdownIOCOmpletionPort();
    ShutDownThreads();
    if (m_pCompletionPort != nullptr) {
        delete m_pCompletionPort->pCompletionPort;  // stops the poller before the line closes
        delete m_pCompletionPort;
        m_pCompletionPort = nullptr;
    }
    delete m_hPort;
    m_hPort = nullptr;
    DeleteBuffers();
    DeleteQueueData(m_writeQueue);
    DeleteQueueData(m_readQueue);
    m_eventQueue.Drain();  // events queued after the control-line thread's own drain
}

void CSerial::ShutdownIOCOmpletionPort() {
    for (std::size_t i = 0; i < m_rxThreads.size(); ++i) {
        m_pCompletionPort->pCompletionPort->Post(0, comlane::kShutdownKey, nullptr);
    }
}

void CSerial::ShutDownThreads() {
    for (CSerialRxThread* thread : m_rxThreads) {
        thread->StopThread();
        thread->WaitUntilShutDown();
        DeleteThreadObject(thread);  // kept when its thread will not end
    }
    m_rxThreads.clear();
    if (m_pTxThread != nullptr) {
        m_pTxThread->StopThread();
        m_pTxThread->WaitUntilShutDown();
        DeleteThreadObject(m_pTxThread);
        m_pTxThread = nullptr;
    }
    if (m_pControlLines != nullptr) {
        m_pControlLines->StopThread();
        m_pControlLines->WaitUntilShutDown();
        DeleteThreadObject(m_pControlLines);
        m_pControlLines = nullptr;
    }
}

void CSerial::DeleteBuffers() {
    for (CBufferedOverlapped* request : m_readRequests) {
        delete request;
    }
    m_readRequests.clear();
}

void CSerial::DeleteQueueData(CThreadSafeQueue<CBuffer*>& queue) {
    queue.Drain();
}

int CSerial::Config(EBaudRate baud, EDataBits dataBits, EParity parity, EStopBits stopBits) {
    SetBaudRate(baud);
    SetDataBits(dataBits);
    SetStopBits(stopBits);
    SetParity(parity);
    return 1;
}

bool CSerial::GetLineSettings(comlane::LineSettings& line) const {
    CSingleLock lock(m_lock);
    return m_hPort != nullptr && m_hPort->GetLine(line);
}

int CSerial::SetBaudRate(const EBaudRate& baud) {
    CSingleLock lock(m_lock);
    comlane::LineSettings line;
    if (m_hPort == nullptr || baud == 0 || !m_hPort->GetLine(line)) {
        return 0;
    }
    const DWORD interval = 20000 / static_cast<DWORD>(baud);
    m_timeouts = COMMTIMEOUTS{};
    m_timeouts.ReadIntervalTimeout = interval > 0 ? interval : 1;
    m_pCompletionPort->pCompletionPort->SetReadInterval(m_timeouts.ReadIntervalTimeout);
    line.baud = baud;
    m_dcb.BaudRate = baud;
    return m_hPort->SetLine(line) ? 1 : 0;
}

int CSerial::SetDataBits(const EDataBits& dataBits) {
    CSingleLock lock(m_lock);
    comlane::LineSettings line;
    if (m_hPort == nullptr || !m_hPort->GetLine(line)) {
        return 0;
    }
    line.dataBits = dataBits;
    m_dcb.ByteSize = dataBits;
    return m_hPort->SetLine(line) ? 1 : 0;
}

int CSerial::SetStopBits(const EStopBits& stopBits) {
    CSingleLock lock(m_lock);
    comlane::LineSettings line;
    if (m_hPort == nullptr || !m_hPort->GetLine(line)) {
        return 0;
    }
    line.stopBits = stopBits;
    m_dcb.StopBits = stopBits;
    return m_hPort->SetLine(line) ? 1 : 0;
}

int CSerial::SetParity(const EParity& parity) {
    CSingleLock lock(m_lock);
    comlane::LineSettings line;
    if (m_hPort == nullptr || !m_hPort->GetLine(line)) {
        return 0;
    }
    line.parity = parity;
    m_dcb.Parity = parity;
    return m_hPort->SetLine(line) ? 1 : 0;
}

int CSerial::GetBaudRate() {
    comlane::LineSettings line;
    CSingleLock lock(m_lock);
    if (m_hPort == nullptr) {
        return -1;
    }
    return m_hPort->GetLine(line) ? static_cast<int>(line.baud) : 0;
}

int CSerial::GetDataBits() {
    comlane::LineSettings line;
    return GetLineSettings(line) ? line.dataBits : 0;
}

int CSerial::GetStopBits() {
    comlane::LineSettings line;
    if (!GetLineSettings(line)) {
        return 0;
    }
    // The line keeps one or two stop bits; 1.5 was set as two and reads back as asked.
    CSingleLock lock(m_lock);
    return line.stopBits == TWOSTOPBITS && m_dcb.StopBits == ONE5STOPBITS ? ONE5STOPBITS
                                                                          : line.stopBits;
}

int CSerial::GetParity() {
    comlane::LineSettings line;
    return GetLineSettings(line) ? line.parity : 0;
}

void CSerial::SetTimeout(unsigned long ms) {
    CSingleLock lock(m_lock);
    m_timeouts = COMMTIMEOUTS{};
    m_timeouts.ReadIntervalTimeout = static_cast<DWORD>(ms);
    if (m_pCompletionPort != nullptr) {
        m_pCompletionPort->pCompletionPort->SetReadInterval(m_timeouts.ReadIntervalTimeout);
    }
}

COMMTIMEOUTS CSerial::GetTimeouts() const {
    CSingleLock lock(m_lock);
    return m_timeouts;
}

void CSerial::SendBreak(unsigned long) {
    // The line stays open while the port is, so the lock is not held through the waits
    // (received blocks are stamped meanwhile).
    comlane::CSerialDevice* port = nullptr;
    {
        CSingleLock lock(m_lock);
        port = m_hPort;
    }
    if (port == nullptr) {
        return;
    }
    SetLine(comlane::LineControl::Break, true);
    SleepMs(300);
    SetLine(comlane::LineControl::Break, false);
    SleepMs(10);
}

void CSerial::SetLine(comlane::LineControl line, bool on) {
    comlane::LineControlWriter writer;
    comlane::CSerialDevice* port = nullptr;
    {
        CSingleLock lock(m_lock);
        writer = m_lineControlForTesting;
        port = m_hPort;
    }
    if (writer) {
        writer(line, on);
    } else if (port != nullptr) {
        if (line == comlane::LineControl::Rts) {
            port->SetRts(on);
        } else {
            port->SetBreak(on);
        }
    }
}

int CSerial::CompletePendingReadsEmptyForTesting() {
    CSingleLock lock(m_lock);
    return m_pCompletionPort != nullptr && m_pCompletionPort->pCompletionPort != nullptr
               ? m_pCompletionPort->pCompletionPort->CompletePendingReadsEmpty()
               : 0;
}

void CSerial::SetLineControlForTesting(comlane::LineControlWriter writer) {
    CSingleLock lock(m_lock);
    m_lineControlForTesting = std::move(writer);
}

void CSerial::SetCTS(const bool& off) {
    OutputDebugStringA(
        "[BRISKO DEBUG] [Method = CSerial::SetCTS] [Serial Comms Driver CTS signal is being turned "
        "on or off, yuo are likely to get two of these per pulse...\n]");
    bool open = false;
    {
        CSingleLock lock(m_lock);
        m_dcb.fRtsControl = off ? 0 : 1;
        open = m_hPort != nullptr;
    }
    if (open) {
        SetLine(comlane::LineControl::Rts, !off);
    }
}

CBufferedOverlapped* CSerial::AcquireOverlappedBuffer(int size) {
    try {
        return new CBufferedOverlapped(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void CSerial::SetLineStateReaderForTesting(comlane::LineStateReader reader) {
    CSingleLock lock(m_lock);
    m_lineStateForTesting = std::move(reader);
}
