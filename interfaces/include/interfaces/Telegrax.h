// A port of the port broker: the object GetPort hands out. Telegrams go out on the
// caller's thread, so a telegram is not delayed by thread hand-overs; received telegrams
// are collected on the broker's own thread once StartReceiving is called.
//
// Configuration language:  "CONFIG(<baud>,<data bits>,<parity n|o|e|m|s>,<stop bits 1|1.5|2>)"
// Protocols:  "TRANSMIT(ASCII), RECEIVE(ASCII)": text as it stands, received text by lines;
//             "Transmit(ByteStuffed),Receive(ByteStuffed)": frames DLE STX <payload with
//             every DLE doubled> DLE ETX, whole frames only on receive.
// A string that does not parse leaves the port as it was and is traced.
//
// The line is never allowed to fall behind: when the device still holds more than one
// output cycle (kOutputCycleBytes) the new telegram is dropped and counted, so what goes
// out is always fresh and memory never grows.
#pragma once

#include <memory>
#include <string>

#include "interfaces/Telegram.h"
#include "platform/Sync.h"
#include "platform/Types.h"

class CTelegrax {
public:
    // Bytes of one output cycle: the largest cycle Tavimo sends (a heading sentence and a
    // motion telegram) is under 64 bytes.
    static constexpr int kOutputCycleBytes = 64;
    // Frames longer than this are dropped on receive (a stream without frame ends).
    static constexpr std::size_t kMaxReceivedTelegram = std::size_t{64} * 1024;
    // Received telegrams waiting beyond this are dropped (nobody is reading).
    static constexpr std::size_t kMaxWaitingTelegrams = 1024;

    // A closed port for a port name; the agent opens it.
    explicit CTelegrax(const std::string& name);
    virtual ~CTelegrax();                                  // slot 0
    virtual std::string GetPortName() const;               // slot 1
    virtual BOOL IsOpen() const;                           // slot 2
    virtual std::string GetConfiguration() const;          // slot 3
    virtual BOOL Configure(std::string configuration);     // slot 4
    virtual std::string GetProtocol() const;               // slot 5
    virtual BOOL SetProtocol(std::string protocol);        // slot 6
    virtual std::string GetDevicePath() const;             // slot 7
    virtual unsigned long GetDroppedCount() const;         // slot 8: telegrams not sent
    virtual unsigned long GetSentCount() const;            // slot 9
    virtual unsigned long GetReceiveDroppedCount() const;  // slot 10
    // Writes the telegram (framed as the protocol says); FALSE when it was dropped or the
    // line failed. The flags are not used.
    virtual BOOL SendTelegram(CTelegram* telegram, int flags);  // slot 11
    virtual BOOL IsReceiving() const;                           // slot 12
    virtual BOOL StartReceiving();                              // slot 13
    virtual BOOL StopReceiving();                               // slot 14
    // TRUE when a received telegram was placed in the telegram's payload; FALSE when none
    // is left. The flags are not used.
    virtual BOOL ReceiveTelegram(CTelegram* telegram, int flags);  // slot 15

    // Signalled while received telegrams are waiting (manual reset: cleared when the last
    // one has been taken).
    CEvent* m_hReceiveEvent;

    // Opens the device the port name stands for; false with the reason. A name mapped to a
    // network endpoint ("udp:..." or "tcp:...") opens at once: its socket is made in the
    // background and made again whenever it fails, and line settings are kept but not
    // applied. A virtual port with no reader attached sends nothing and keeps nothing.
    bool Open(std::string* error = nullptr);

    // What a network port has seen; all zero for a serial or virtual port.
    struct NetworkCounters {
        bool network = false;
        bool ready = false;  // the socket is made (UDP) or listening (TCP)
        std::size_t clients = 0;
        unsigned long clientDrops = 0;   // telegrams slow TCP clients lost (in the dropped count)
        unsigned long refused = 0;       // TCP clients turned away: the server was full
        unsigned long disconnected = 0;  // TCP clients closed for staying stalled
    };
    NetworkCounters GetNetworkCounters() const;
    // Waits at most timeoutMs until a network port's socket is made; false for other ports.
    bool WaitNetworkReady(int timeoutMs) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
    CEvent m_receiveEvent{true, false};
};
