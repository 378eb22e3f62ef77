#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

#include "CompletionPort.h"
#include "platform/Debug.h"

namespace comlane {

CCompletionPort::CCompletionPort() : m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CCompletionPort::~CCompletionPort() {
    Close();
    if (m_wakeFd >= 0) {
        ::close(m_wakeFd);
    }
}

bool CCompletionPort::Bind(CSerialDevice* device, std::uintptr_t key) {
    std::lock_guard lock(m_mutex);
    if (device == nullptr || !device->IsOpen() || m_wakeFd < 0 || m_poller.joinable()) {
        return false;
    }
    m_device = device;
    m_key = key;
    m_poller = std::thread(&CCompletionPort::Poll, this);
    return true;
}

void CCompletionPort::Post(DWORD bytes, std::uintptr_t key, CBufferedOverlapped* request) {
    {
        std::lock_guard lock(m_mutex);
        m_completions.push_back({bytes, key, request});
    }
    m_completed.notify_one();
}

void CCompletionPort::Get(DWORD& bytes, std::uintptr_t& key, CBufferedOverlapped*& request) {
    std::unique_lock lock(m_mutex);
    m_completed.wait(lock, [this] { return !m_completions.empty(); });
    const Completion c = m_completions.front();
    m_completions.pop_front();
    bytes = c.bytes;
    key = c.key;
    request = c.request;
}

void CCompletionPort::IssueRead(CBufferedOverlapped* request) {
    {
        std::lock_guard lock(m_mutex);
        if (m_failed || m_stop) {
            return;  // the slot stays idle, as a read that fails at once
        }
        m_reads.push_back(request);
    }
    Wake();
}

void CCompletionPort::IssueWrite(CBufferedOverlapped* request, DWORD length) {
    request->m_overlapped.Offset = length;
    request->m_overlapped.InternalHigh = 0;
    bool completeNow = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_failed || m_stop) {
            completeNow = true;
        } else {
            m_writes.push_back(request);
        }
    }
    if (completeNow) {
        Post(0, m_key, request);  // a failed write completes at once, so its block is freed
    } else {
        Wake();
    }
}

int CCompletionPort::CompletePendingReadsEmpty() {
    std::deque<CBufferedOverlapped*> reads;
    {
        std::lock_guard lock(m_mutex);
        reads.swap(m_reads);
    }
    for (CBufferedOverlapped* request : reads) {
        Post(0, m_key, request);
    }
    return static_cast<int>(reads.size());
}

void CCompletionPort::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof(one));
}

void CCompletionPort::Close() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    Wake();
    if (m_poller.joinable()) {
        m_poller.join();
    }
    std::lock_guard lock(m_mutex);
    for (CBufferedOverlapped* request : m_writes) {
        delete request;
    }
    m_writes.clear();
    m_reads.clear();
    for (const Completion& c : m_completions) {
        if (c.request != nullptr && (c.request->m_dwOperation == OP_WRITE_REQUESTED ||
                                     c.request->m_dwOperation == OP_WRITE_PENDING)) {
            delete c.request;
        }
    }
    m_completions.clear();
}

long CCompletionPort::Gather(CBufferedOverlapped* request, long have) {
    const int interval = static_cast<int>(m_readIntervalMs.load());
    while (interval > 0 && have < request->m_nSize) {
        pollfd fds[2] = {{m_device->Handle(), POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, interval) <= 0) {
            break;  // the gap exceeded the interval
        }
        if ((fds[1].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &count, sizeof(count));
            std::lock_guard lock(m_mutex);
            if (m_stop || !m_writes.empty()) {
                break;  // a stop or a write does not wait for the read to fill
            }
        }
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }
        const long more = m_device->Read(request->m_pBuffer + have,
                                         static_cast<std::size_t>(request->m_nSize - have));
        if (more <= 0) {
            break;  // a failure shows again on the next poll; these bytes still count
        }
        have += more;
    }
    return have;
}

void CCompletionPort::Poll() {
    for (;;) {
        short events = 0;
        {
            std::lock_guard lock(m_mutex);
            if (m_stop) {
                return;
            }
            if (!m_failed) {
                events = static_cast<short>((m_reads.empty() ? 0 : POLLIN) |
                                            (m_writes.empty() ? 0 : POLLOUT));
            }
        }
        pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {events != 0 ? m_device->Handle() : -1, events, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &count, sizeof(count));
        }
        const short revents = fds[1].revents;
        if (revents == 0) {
            continue;
        }
        bool failed = (revents & POLLNVAL) != 0;
        if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !failed) {
            CBufferedOverlapped* request = nullptr;
            {
                std::lock_guard lock(m_mutex);
                if (!m_reads.empty()) {
                    request = m_reads.front();
                    m_reads.pop_front();
                }
            }
            if (request != nullptr) {
                const long n =
                    m_device->Read(request->m_pBuffer, static_cast<std::size_t>(request->m_nSize));
                const long total = n > 0 ? Gather(request, n) : n;
                if (total > 0) {
                    Post(static_cast<DWORD>(total), m_key, request);
                } else {
                    std::lock_guard lock(m_mutex);
                    m_reads.push_front(request);
                    failed = total < 0;
                }
            }
        }
        if ((revents & (POLLOUT | POLLERR | POLLHUP)) != 0 && !failed) {
            CBufferedOverlapped* request = nullptr;
            {
                std::lock_guard lock(m_mutex);
                if (!m_writes.empty()) {
                    request = m_writes.front();
                }
            }
            if (request != nullptr) {
                const DWORD length = request->m_overlapped.Offset;
                const auto done = static_cast<DWORD>(request->m_overlapped.InternalHigh);
                const long n = m_device->Write(request->m_pBuffer + done, length - done);
                if (n < 0) {
                    failed = true;
                } else {
                    request->m_overlapped.InternalHigh = done + static_cast<DWORD>(n);
                    if (done + static_cast<DWORD>(n) >= length) {
                        {
                            std::lock_guard lock(m_mutex);
                            m_writes.pop_front();
                        }
                        Post(length, m_key, request);
                    }
                }
            }
        }
        if (failed) {
            // The line has gone (unplugged, hung up): pending writes complete unwritten so
            // their blocks are freed; reads stay idle.
            OutputDebugStringA("Comlane: the serial line has gone; transfers stop\n");
            std::deque<CBufferedOverlapped*> writes;
            {
                std::lock_guard lock(m_mutex);
                m_failed = true;
                writes.swap(m_writes);
            }
            for (CBufferedOverlapped* request : writes) {
                Post(0, m_key, request);
            }
        }
    }
}

}  // namespace comlane
