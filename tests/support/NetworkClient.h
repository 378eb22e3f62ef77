// Readers of the network ports on this machine (or inside a test's own network namespace):
// a UDP receiver and TCP clients, with bounded waits.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace tavimo_test {

// Polls the condition every few milliseconds for at most timeoutMs.
inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline sockaddr_in Loopback(unsigned port, const char* address = "127.0.0.1") {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, address, &a.sin_addr);
    return a;
}

inline unsigned LocalPort(int fd) {
    sockaddr_in a{};
    socklen_t length = sizeof(a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    return ntohs(a.sin_port);
}

// A UDP socket bound to an address (the loopback by default) on a port of the system's choice.
class UdpReceiver {
public:
    explicit UdpReceiver(const char* address = "127.0.0.1", unsigned port = 0)
        : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        const int on = 1;
        setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        const sockaddr_in a = Loopback(port, address);
        m_bound = ::bind(m_fd, reinterpret_cast<const sockaddr*>(&a), sizeof(a)) == 0;
    }
    ~UdpReceiver() { ::close(m_fd); }
    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;
    bool Bound() const { return m_bound; }
    int Handle() const { return m_fd; }
    unsigned Port() const { return LocalPort(m_fd); }
    // One datagram, or nothing after timeoutMs.
    std::optional<std::string> Receive(int timeoutMs = 10000) const {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1) {
            return std::nullopt;
        }
        char buffer[65536];
        const ssize_t n = ::recv(m_fd, buffer, sizeof(buffer), 0);
        return n < 0 ? std::nullopt : std::optional<std::string>(std::string(buffer, n));
    }

private:
    int m_fd;
    bool m_bound = false;
};

// A TCP client of a loopback server. A receive buffer size other than 0 is set before
// connecting (a client that never reads then fills up soon).
class TcpClient {
public:
    explicit TcpClient(unsigned port, int receiveBuffer = 0, const char* address = "127.0.0.1")
        : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        if (receiveBuffer > 0) {
            setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
        }
        const sockaddr_in a = Loopback(port, address);
        m_connected = ::connect(m_fd, reinterpret_cast<const sockaddr*>(&a), sizeof(a)) == 0;
        fcntl(m_fd, F_SETFL, fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    }
    ~TcpClient() { ::close(m_fd); }
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;
    bool Connected() const { return m_connected; }
    // Reads until n bytes have come, the server closed, or timeoutMs passed.
    std::string Read(std::size_t n, int timeoutMs = 10000) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (m_got.size() < n && !m_closed) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            pollfd p{m_fd, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) != 1) {
                break;
            }
            Pull();
        }
        return m_got;
    }
    // Reads whatever is there now.
    const std::string& ReadAvailable() {
        Pull();
        return m_got;
    }
    // True once the server has closed the connection (end of file or reset), reading and
    // keeping what came before it; false when it is still open after timeoutMs.
    bool WaitClosed(int timeoutMs = 10000) {
        return WaitFor(
            [this] {
                Pull();
                return m_closed;
            },
            timeoutMs);
    }
    void Send(const std::string& bytes) const {
        [[maybe_unused]] const ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    // Ends this side's sending (as `nc < /dev/null` does); reading goes on.
    void EndSending() const { ::shutdown(m_fd, SHUT_WR); }
    const std::string& Got() const { return m_got; }

private:
    void Pull() {
        char buffer[8192];
        for (int i = 0; i < 1024 && !m_closed; ++i) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof(buffer), MSG_DONTWAIT);
            if (n > 0) {
                m_got.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                m_closed = true;
            } else {
                return;
            }
        }
    }

    int m_fd;
    bool m_connected = false;
    bool m_closed = false;
    std::string m_got;
};

}  // namespace tavimo_test
