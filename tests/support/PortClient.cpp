#include "PortClient.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>

namespace tavimo_test {
namespace {
bool WaitFor(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, timeoutMs) == 1 && (p.revents & events) != 0;
}
}  // namespace

PortClient::PortClient(std::string path, bool raw) : m_path(std::move(path)), m_raw(raw) {
    Open(0);
}

PortClient::~PortClient() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool PortClient::Open(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_fd < 0) {
        m_fd = ::open(m_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd >= 0) {
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    termios tio{};
    if (m_raw && ::tcgetattr(m_fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(m_fd, TCSANOW, &tio);
    }
    return true;
}

std::string PortClient::Read(std::size_t n, int timeoutMs) {
    std::string got = std::exchange(m_pending, {});
    if (got.size() > n) {
        m_pending = got.substr(n);
        got.resize(n);
    }
    char buffer[4096];
    while (m_fd >= 0 && got.size() < n && WaitFor(m_fd, POLLIN, timeoutMs)) {
        const ssize_t r = ::read(m_fd, buffer, std::min(sizeof buffer, n - got.size()));
        if (r <= 0) {
            break;
        }
        got.append(buffer, static_cast<std::size_t>(r));
    }
    return got;
}

std::string PortClient::ReadAvailable(int timeoutMs) {
    std::string got = std::exchange(m_pending, {});
    if (m_fd < 0 || (got.empty() && !WaitFor(m_fd, POLLIN, timeoutMs))) {
        return got;
    }
    char buffer[4096];
    for (ssize_t r; (r = ::read(m_fd, buffer, sizeof buffer)) > 0;) {
        got.append(buffer, static_cast<std::size_t>(r));
    }
    return got;
}

std::string PortClient::NextLine(int timeoutMs) {
    for (;;) {
        const std::size_t end = m_pending.find("\r\n");
        if (end != std::string::npos) {
            std::string line = m_pending.substr(0, end);
            m_pending.erase(0, end + 2);
            return line;
        }
        std::string more = ReadAvailable(0);
        if (more.empty()) {
            if (m_fd < 0 || !WaitFor(m_fd, POLLIN, timeoutMs)) {
                return {};
            }
            more = ReadAvailable(0);
        }
        m_pending = std::move(more);
    }
}

bool PortClient::Write(const std::string& bytes, int timeoutMs) {
    // A pty can report room (POLLOUT) and still refuse the write (EAGAIN) while its other
    // side is not reading: the deadline bounds the whole write, not each wait.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t done = 0;
    while (m_fd >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            // The port has gone (EIO once its owner closed it): a hung-up line polls as
            // writable, so waiting for room would spin for ever.
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            return false;
        }
        WaitFor(m_fd, POLLOUT, static_cast<int>(std::min<long long>(left, 10)));
    }
    return done == bytes.size();
}

int PortClient::Waiting() const {
    int n = -1;
    return m_fd >= 0 && ::ioctl(m_fd, FIONREAD, &n) == 0 ? n : -1;
}

}  // namespace tavimo_test
