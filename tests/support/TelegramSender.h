// An instrument that sends telegrams into a virtual port, as a gyrocompass or a motion
// sensor would on a serial line, and a reader of the lines on another virtual port.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "comlane/SerialDevice.h"
#include "platform/Sync.h"

namespace telegram_test {

// Opens a virtual port's far end once its owner has made it (bounded wait: 10 s).
inline int OpenPortLink(const std::string& com) {
    const std::string path = comlane::CPortMap::LinkPath(com);
    CEvent never;
    for (int i = 0; i < 1000; ++i) {
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0) {
            return fd;
        }
        never.Wait(10);
    }
    return -1;
}

// Writes a whole text; false when the port would not take it within a second.
inline bool WriteAll(int fd, const std::string& text) {
    std::size_t at = 0;
    for (int tries = 0; at < text.size() && tries < 100; ++tries) {
        const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
        if (n > 0) {
            at += static_cast<std::size_t>(n);
            continue;
        }
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 10);
    }
    return at == text.size();
}

// Sends cycle(i) every periodMs on COM<n>'s far end from its own thread, cycles 0, 1, 2...,
// until stopped or `cycles` have gone (0: no limit).
class CSender {
public:
    CSender(std::string com, double periodMs, std::function<std::string(int)> cycle, int cycles = 0)
        : m_thread([this, com = std::move(com), periodMs, cycle = std::move(cycle), cycles] {
              const int fd = OpenPortLink(com);
              if (fd < 0) {
                  return;
              }
              for (int i = 0; !m_stop.Wait(i == 0 ? 0 : static_cast<DWORD>(periodMs)) &&
                              (cycles == 0 || i < cycles);
                   ++i) {
                  WriteAll(fd, cycle(i));
                  m_sent = i + 1;
              }
              ::close(fd);
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

// Reads whole lines from a virtual port's far end.
class CLineReaderPort {
public:
    explicit CLineReaderPort(const std::string& com) : m_fd(OpenPortLink(com)) {}
    ~CLineReaderPort() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    bool IsOpen() const { return m_fd >= 0; }
    // The next complete line (without CR LF), or empty after 10 s without one.
    std::string NextLine() {
        for (;;) {
            const std::size_t end = m_pending.find("\r\n");
            if (end != std::string::npos) {
                std::string line = m_pending.substr(0, end);
                m_pending.erase(0, end + 2);
                return line;
            }
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 10000) != 1) {
                return {};
            }
            char buffer[512];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0) {
                m_pending.append(buffer, static_cast<std::size_t>(n));
            }
        }
    }

private:
    int m_fd;
    std::string m_pending;
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
