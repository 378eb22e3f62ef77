// Comlane's serial port: received data come out as time-stamped CBuffer blocks on the read
// queue, blocks pushed onto the write queue are sent, and CTS rising edges and breaks come
// out as CSerialEvent records on the event queue. A pool of completion threads carries the
// reads and writes, one writer thread turns queued blocks into write requests and one
// control-line thread watches CTS and break.
#pragma once

#include <memory>
#include <vector>

#include "comlane/Buffers.h"
#include "comlane/SerialDevice.h"
#include "comlane/ThreadSafeQueue.h"
#include "platform/BaseThread.h"

enum EBaudRate : DWORD {
    CBR_110 = 110,
    CBR_300 = 300,
    CBR_600 = 600,
    CBR_1200 = 1200,
    CBR_2400 = 2400,
    CBR_4800 = 4800,
    CBR_9600 = 9600,
    CBR_14400 = 14400,
    CBR_19200 = 19200,
    CBR_38400 = 38400,
    CBR_57600 = 57600,
    CBR_115200 = 115200,
    CBR_128000 = 128000,
    CBR_256000 = 256000,
};
enum EDataBits : BYTE { DATABITS_5 = 5, DATABITS_6 = 6, DATABITS_7 = 7, DATABITS_8 = 8 };
enum EParity : BYTE {
    NOPARITY = 0,
    ODDPARITY = 1,
    EVENPARITY = 2,
    MARKPARITY = 3,
    SPACEPARITY = 4
};
enum EStopBits : BYTE { ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2 };

// A value with its display name, for the lists that offer the settings.
struct SSerialSettingName {
    std::int32_t nValue;
    char szName[256];
};
static const SSerialSettingName BaudRateNames[] = {
    {110, "110"},     {300, "300"},       {600, "600"},       {1200, "1200"},     {2400, "2400"},
    {4800, "4800"},   {9600, "9600"},     {14400, "14400"},   {19200, "19200"},   {38400, "38400"},
    {57600, "57600"}, {115200, "115200"}, {128000, "128000"}, {256000, "256000"},
};
static const SSerialSettingName DataBitsNames[] = {{5, "5"}, {6, "6"}, {7, "7"}, {8, "8"}};
static const SSerialSettingName ParityNames[] = {
    {0, "None"}, {1, "Odd"}, {2, "Even"}, {3, "Mark"}, {4, "Space"}};
static const SSerialSettingName StopBitsNames[] = {{0, "1"}, {1, "1.5"}, {2, "2"}};

// The line's device control block: what Open writes once and the setters change.
struct DCB {
    DWORD DCBlength = sizeof(DCB);
    DWORD BaudRate = 9600;
    BYTE ByteSize = 8;
    BYTE Parity = NOPARITY;
    BYTE StopBits = ONESTOPBIT;
    DWORD fRtsControl = 1;  // 1 enabled (RTS on), 0 disabled (RTS off)
};

// Read and write time-outs in milliseconds. Reads return what has arrived, so of these
// only the read interval time-out shapes how received bytes are grouped into blocks.
struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout = 0;
    DWORD ReadTotalTimeoutMultiplier = 0;
    DWORD ReadTotalTimeoutConstant = 0;
    DWORD WriteTotalTimeoutMultiplier = 0;
    DWORD WriteTotalTimeoutConstant = 0;
};

namespace comlane {
class CCompletionPort;
}
class CSerial;
class CSerialRxThread;
class CSerialTxThread;
class CSerialControlLines;

// The open line and the completion queue that carries its reads and writes.
struct SCompletionPortPair {
    comlane::CSerialDevice* pPort = nullptr;
    comlane::CCompletionPort* pCompletionPort = nullptr;
};

class CSerial {
public:
    // Builds the queues, the completion queue and the thread objects; starts nothing.
    CSerial();
    // Closes the port.
    virtual ~CSerial();
    CSerial(const CSerial&) = delete;
    CSerial& operator=(const CSerial&) = delete;

    // Opens the named port ("COM<n>" through the port map, or a device path) at 9600 8N1
    // and starts every thread. 0 for a null name or a port that cannot be opened; a failed
    // Open may be retried. A port is opened once: after Close it can only be destroyed.
    int Open(const char* name);
    // Stops every thread, closes the line and destroys every block still queued.
    void Close();

    // Always 1; each setting is tried in turn (baud, data bits, stop bits, parity).
    int Config(EBaudRate baud, EDataBits dataBits, EParity parity, EStopBits stopBits);
    // Also sets the read interval time-out to 20000 / rate ms (at least 1).
    int SetBaudRate(const EBaudRate& baud);
    int SetDataBits(const EDataBits& dataBits);
    int SetStopBits(const EStopBits& stopBits);
    int SetParity(const EParity& parity);
    // -1 without a port.
    int GetBaudRate();
    // 0 when the line cannot be read.
    int GetDataBits();
    int GetStopBits();
    int GetParity();

    // Read interval time-out = ms; the other time-outs 0.
    void SetTimeout(unsigned long ms);
    COMMTIMEOUTS GetTimeouts() const;
    // Holds a break on the line for 300 ms (the argument has no effect).
    void SendBreak(unsigned long duration);
    // true turns RTS off, false turns it on.
    void SetCTS(const bool& off);

    CThreadSafeQueue<CBuffer*>& GetReadQueue() { return m_readQueue; }
    CThreadSafeQueue<CBuffer*>& GetWriteQueue() { return m_writeQueue; }
    CThreadSafeQueue<CSerialEvent*>& GetEventQueue() { return m_eventQueue; }

    // A new request with a buffer of size bytes; null when out of memory.
    CBufferedOverlapped* AcquireOverlappedBuffer(int size);

    // Replaces the device's modem lines for the control-line thread (before Open): a
    // pseudo-terminal has none, so tests drive CTS and breaks through this.
    void SetLineStateReaderForTesting(comlane::LineStateReader reader);
    // Replaces the device's control-line writes (RTS, break), which a pseudo-terminal does
    // not carry, so tests see what SetCTS and SendBreak do to the line.
    void SetLineControlForTesting(comlane::LineControlWriter writer);
    // Ends every outstanding read with 0 bytes, as a driver may; they must be issued again.
    // Returns how many there were.
    int CompletePendingReadsEmptyForTesting();

    // The line settings now (for stamping received blocks).
    bool GetLineSettings(comlane::LineSettings& line) const;

private:
    void ShutdownIOCOmpletionPort();
    void ShutDownThreads();
    void DeleteBuffers();
    void DeleteQueueData(CThreadSafeQueue<CBuffer*>& queue);
    // Sets a control line of the open port (through the test's writer when one is set).
    void SetLine(comlane::LineControl line, bool on);

    DCB m_dcb;
    comlane::CSerialDevice* m_hPort = nullptr;  // the open line; null before Open
    CThreadSafeQueue<CBuffer*> m_readQueue;
    CThreadSafeQueue<CBuffer*> m_writeQueue;
    CThreadSafeQueue<CSerialEvent*> m_eventQueue;
    SCompletionPortPair* m_pCompletionPort = nullptr;
    std::vector<CSerialRxThread*> m_rxThreads;
    CSerialTxThread* m_pTxThread = nullptr;
    std::vector<CBufferedOverlapped*> m_readRequests;
    CSerialControlLines* m_pControlLines = nullptr;

    mutable CCriticalSection m_lock;  // the line's settings and time-outs
    COMMTIMEOUTS m_timeouts;
    comlane::LineStateReader m_lineStateForTesting;
    comlane::LineControlWriter m_lineControlForTesting;
    bool m_bClosed = false;
};

// The library's placeholder exports.
class CComlane {
public:
    CComlane() = default;
    CComlane& operator=(const CComlane&) = default;
};
int fnComlane();
extern int nComlane;
