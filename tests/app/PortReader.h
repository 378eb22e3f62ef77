// Reads the telegrams a worker writes to a virtual port, line by line, from its far end.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <string>

#include "comlane/SerialDevice.h"
#include "platform/Sync.h"

namespace sensor_test {

// Reads whole lines from a virtual port's far end.
class PortReader {
public:
    explicit PortReader(int com)
        : m_path(comlane::CPortMap::LinkPath("COM" + std::to_string(com))) {}
    ~PortReader() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    // The worker's thread makes the port on its first pass; wait (bounded) until it is there.
    bool Open() {
        CEvent never;
        for (int i = 0; i < 1000 && m_fd < 0; ++i) {
            m_fd = ::open(m_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            if (m_fd < 0) {
                never.Wait(10);
            }
        }
        return m_fd >= 0;
    }
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
    std::string m_path;
    int m_fd = -1;
    std::string m_pending;
};

}  // namespace sensor_test
