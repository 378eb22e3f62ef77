// An instrument that sends telegrams into a virtual port, as a gyrocompass or a motion
// sensor would on a serial line, and a reader of the lines on another virtual port.
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "PortClient.h"
#include "comlane/SerialDevice.h"
#include "platform/Sync.h"

namespace telegram_test {

// The far end of virtual port COM<n>, opened once its owner has made it (bounded: 10 s).
class CLineReaderPort : public tavimo_test::PortClient {
public:
    explicit CLineReaderPort(const std::string& com)
        : PortClient(comlane::CPortMap::LinkPath(com)) {
        Open();
    }
};

// Sends cycle(i) every periodMs on COM<n>'s far end from its own thread, cycles 0, 1, 2...,
// until stopped or `cycles` have gone (0: no limit).
class CSender {
public:
    CSender(std::string com, double periodMs, std::function<std::string(int)> cycle, int cycles = 0)
        : m_thread([this, com = std::move(com), periodMs, cycle = std::move(cycle), cycles] {
              CLineReaderPort port(com);
              if (!port.IsOpen()) {
                  return;
              }
              for (int i = 0; !m_stop.Wait(i == 0 ? 0 : static_cast<DWORD>(periodMs)) &&
                              (cycles == 0 || i < cycles);
                   ++i) {
                  port.Write(cycle(i), 1000);  // a port that takes nothing drops the cycle
                  m_sent = i + 1;
              }
          }) {}
    ~CSender() { Stop(); }
    void Stop() {
        m_stop.Set();
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    int Sent() const { return m_sent.load(); }

private:
    CEvent m_stop{true, false};
    std::atomic<int> m_sent{0};
    std::thread m_thread;
};

// An NMEA sentence with its checksum and line end: Nmea("HEHDT,1.0,T").
inline std::string Nmea(const std::string& body, bool upperHex = true) {
    unsigned sum = 0;
    for (const char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    char tail[8];
    std::snprintf(tail, sizeof tail, upperHex ? "*%02X\r\n" : "*%02x\r\n", sum);
    return "$" + body + tail;
}

}  // namespace telegram_test
