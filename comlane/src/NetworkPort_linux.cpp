// Every socket call of the network ports: a UDP sender and a TCP server, each with a
// thread of its own that makes (and remakes) the socket and, for the server, accepts
// clients, reads and discards what they send, finishes partly written telegrams and closes
// clients that stay stalled. Telegrams go out on the caller's thread without blocking.
#include <arpa/inet.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "comlane/NetworkPort.h"
#include "platform/Scheduling.h"

namespace comlane {
namespace {

using Clock = std::chrono::steady_clock;

// How long the port's thread sleeps at most between looks at its clients and its socket.
constexpr int kTickMs = 100;
// Work bounds of one pass of the port's thread.
constexpr int kAcceptsPerPass = 16;
constexpr int kReadsPerPass = 8;
// The pause after a client filled a pass (ms): at most kReadsPerPass × 4096 bytes a pause.
constexpr int kReadPauseMs = 50;

struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family = AF_UNSPEC;
};

std::string AddressText(const sockaddr* address, socklen_t length) {
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    if (getnameinfo(address, length, host, sizeof(host), service, sizeof(service),
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return "?";
    }
    const std::string h = address->sa_family == AF_INET6 ? "[" + std::string(host) + "]" : host;
    return h + ":" + service;
}

// The addresses a host (or, passive with no host, every interface) stands for.
bool Resolve(const std::string& host, unsigned port, int socketType, std::vector<Address>& out,
             std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = socketType;
    hints.ai_flags = AI_NUMERICSERV | (host.empty() ? AI_PASSIVE : 0);
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    const int rc =
        getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &list);
    if (rc != 0) {
        error = "cannot resolve " + host + ": " +
                (rc == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(rc));
        return false;
    }
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
        Address address;
        std::memcpy(&address.storage, a->ai_addr, a->ai_addrlen);
        address.length = a->ai_addrlen;
        address.family = a->ai_family;
        out.push_back(address);
    }
    freeaddrinfo(list);
    // A server on every interface prefers the IPv6 wildcard, which takes IPv4 clients too.
    std::stable_sort(out.begin(), out.end(), [](const Address& a, const Address& b) {
        return a.family == AF_INET6 && b.family != AF_INET6;
    });
    return !out.empty();
}

bool IsMulticast(const Address& a) {
    if (a.family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&a.storage);
        return IN_MULTICAST(ntohl(in->sin_addr.s_addr));
    }
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&a.storage);
    return a.family == AF_INET6 && IN6_IS_ADDR_MULTICAST(&in6->sin6_addr);
}

// What both kinds of port share: the thread that makes the socket and retries, the wake-up
// handle, the ready state and the trace of problems (each told once until it changes).
class CPortBase : public CNetworkPort {
public:
    CPortBase(const NetworkTarget& target, TraceFn trace, const NetworkPortOptions& options)
        : m_target(target), m_trace(std::move(trace)), m_options(options) {
        m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    }
    ~CPortBase() override {
        Stop();
        if (m_wake >= 0) {
            ::close(m_wake);
        }
    }
    CPortBase(const CPortBase&) = delete;
    CPortBase& operator=(const CPortBase&) = delete;

    bool IsReady() const override { return m_ready.load(); }
    bool WaitReady(int timeoutMs) const override {
        std::unique_lock lock(m_readyMutex);
        return m_readyChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                       [this] { return m_ready.load(); });
    }

protected:
    // Derived ports start the thread once they are whole and stop it before they go.
    void Start() {
        m_thread = std::thread([this] { Run(); });
    }
    void Stop() {
        if (m_thread.joinable()) {
            m_stop = true;
            Wake();
            m_thread.join();
        }
    }
    void Wake() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wake, &one, sizeof(one));
    }
    void SetReady(bool ready) {
        {
            std::lock_guard lock(m_readyMutex);
            m_ready = ready;
        }
        m_readyChanged.notify_all();
    }
    // The socket failed on the caller's thread: it is made again after the retry time.
    void RetryLater() {
        m_holdOff = true;
        SetReady(false);
        Wake();
    }
    void Trace(const std::string& text) const {
        if (m_trace) {
            m_trace(m_target.Text() + ": " + text);
        }
    }
    // Tells a problem once; it is told again only after something else was told.
    void Report(const std::string& problem) {
        {
            std::lock_guard lock(m_reportMutex);
            if (problem == m_problem) {
                return;
            }
            m_problem = problem;
        }
        Trace(problem + "; trying again every " + std::to_string(m_options.retryMs) + " ms");
    }
    // Tells that the port works again, when a problem had been told.
    void Recovered(const std::string& text) {
        {
            std::lock_guard lock(m_reportMutex);
            if (m_problem.empty()) {
                return;
            }
            m_problem.clear();
        }
        Trace(text);
    }

    // On the port's thread: makes the socket; false (with the problem reported) to retry.
    virtual bool Open() = 0;
    virtual void Close() = 0;
    // On the port's thread: the handles to wait on beside the wake-up, and what they said.
    virtual void AddPollHandles(std::vector<pollfd>&) {}
    virtual void Serve(const pollfd*, std::size_t, Clock::time_point) {}

    const NetworkTarget m_target;
    const TraceFn m_trace;
    const NetworkPortOptions m_options;

private:
    void Run() {
        // Only the sender's write path is time-critical: accepting, reading and throwing
        // away what clients send runs at normal priority, whoever started the port.
        platform::MakeCurrentThreadNormal();
        std::vector<pollfd> handles;
        auto nextTry = Clock::now();
        while (!m_stop.load()) {
            auto now = Clock::now();
            if (m_holdOff.exchange(false)) {
                nextTry = now + std::chrono::milliseconds(m_options.retryMs);
            }
            if (!m_ready.load() && now >= nextTry) {
                Close();
                if (Open()) {
                    SetReady(true);
                } else {
                    nextTry = now + std::chrono::milliseconds(m_options.retryMs);
                }
            }
            handles.clear();
            handles.push_back({m_wake, POLLIN, 0});
            AddPollHandles(handles);
            // A ready port with nothing to watch (a UDP sender) sleeps until it is woken.
            int timeout = handles.size() == 1 ? -1 : kTickMs;
            if (!m_ready.load()) {
                const auto untilTry =
                    std::chrono::duration_cast<std::chrono::milliseconds>(nextTry - now).count();
                timeout = static_cast<int>(std::clamp<long long>(untilTry, 0, kTickMs));
            }
            ::poll(handles.data(), handles.size(), timeout);
            if ((handles[0].revents & POLLIN) != 0) {
                std::uint64_t count = 0;
                [[maybe_unused]] const ssize_t n = ::read(m_wake, &count, sizeof(count));
            }
            Serve(handles.data() + 1, handles.size() - 1, Clock::now());
        }
        Close();
    }

    int m_wake = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_holdOff{false};
    std::atomic<bool> m_ready{false};
    mutable std::mutex m_readyMutex;
    mutable std::condition_variable m_readyChanged;
    std::mutex m_reportMutex;
    std::string m_problem;
};

class CUdpPort final : public CPortBase {
public:
    CUdpPort(const NetworkTarget& target, TraceFn trace, const NetworkPortOptions& options)
        : CPortBase(target, std::move(trace), options) {
        Start();
    }
    ~CUdpPort() override { Stop(); }
    CUdpPort(const CUdpPort&) = delete;
    CUdpPort& operator=(const CUdpPort&) = delete;

    bool Send(const void* data, std::size_t length) override {
        std::lock_guard lock(m_mutex);
        if (m_fd < 0) {
            ++m_counters.dropped;
            return false;
        }
        const ssize_t n = ::sendto(m_fd, data, length, MSG_DONTWAIT | MSG_NOSIGNAL,
                                   reinterpret_cast<const sockaddr*>(&m_destination.storage),
                                   m_destination.length);
        if (n == static_cast<ssize_t>(length)) {
            ++m_counters.sent;
            Recovered("sending again");
            return true;
        }
        const int err = n < 0 ? errno : EMSGSIZE;
        ++m_counters.dropped;
        if (err == EAGAIN || err == ENOBUFS || err == EINTR) {
            return false;  // the network is busy this moment: this datagram is lost, no more
        }
        // The route or the interface has gone: the socket is made again (the interface may
        // come back under a new index).
        Report("cannot send: " + std::string(std::strerror(err)));
        ::close(m_fd);
        m_fd = -1;
        RetryLater();
        return false;
    }

    NetworkPortCounters Counters() const override {
        std::lock_guard lock(m_mutex);
        return m_counters;
    }
    std::string Describe() const override { return m_target.Text(); }

private:
    bool Open() override {
        std::vector<Address> addresses;
        std::string error;
        if (!Resolve(m_target.host, m_target.port, SOCK_DGRAM, addresses, error)) {
            Report(error);
            return false;
        }
        const Address& to = addresses.front();
        const int fd = ::socket(to.family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            Report("cannot make a socket: " + std::string(std::strerror(errno)));
            return false;
        }
        const int on = 1;
        if (to.family == AF_INET) {
            setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on));
        }
        if (IsMulticast(to) && !SetMulticast(fd, to)) {
            ::close(fd);
            return false;
        }
        if (!IsMulticast(to) && !m_target.interfaceName.empty() && !m_toldInterfaceIgnored) {
            m_toldInterfaceIgnored = true;
            Trace("if= applies to multicast groups only; ignored");
        }
        std::lock_guard lock(m_mutex);
        m_fd = fd;
        m_destination = to;
        return true;
    }

    bool SetMulticast(int fd, const Address& to) {
        const int hops = m_target.ttl >= 0 ? m_target.ttl : 1;
        unsigned index = 0;
        if (!m_target.interfaceName.empty()) {
            index = if_nametoindex(m_target.interfaceName.c_str());
            if (index == 0) {
                Report("no interface " + m_target.interfaceName);
                return false;
            }
        }
        bool ok = true;
        if (to.family == AF_INET) {
            ok = setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &hops, sizeof(hops)) == 0;
            if (ok && index != 0) {
                ip_mreqn request{};
                request.imr_ifindex = static_cast<int>(index);
                ok = setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &request, sizeof(request)) == 0;
            }
        } else {
            ok = setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &hops, sizeof(hops)) == 0;
            const int ifIndex = static_cast<int>(index);
            if (ok && index != 0) {
                ok =
                    setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_IF, &ifIndex, sizeof(ifIndex)) == 0;
            }
        }
        if (!ok) {
            Report("cannot set the multicast hop limit or interface: " +
                   std::string(std::strerror(errno)));
        }
        return ok;
    }

    void Close() override {
        std::lock_guard lock(m_mutex);
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }

    mutable std::mutex m_mutex;  // the socket and the counters, between caller and thread
    int m_fd = -1;
    Address m_destination;
    NetworkPortCounters m_counters;
    bool m_toldInterfaceIgnored = false;
};

class CTcpServer final : public CPortBase {
public:
    CTcpServer(const NetworkTarget& target, TraceFn trace, const NetworkPortOptions& options)
        : CPortBase(target, std::move(trace), options) {
        m_clients.reserve(options.maxClients);
        Start();
    }
    ~CTcpServer() override { Stop(); }
    CTcpServer(const CTcpServer&) = delete;
    CTcpServer& operator=(const CTcpServer&) = delete;

    bool Send(const void* data, std::size_t length) override {
        const char* bytes = static_cast<const char*>(data);
        bool wake = false;
        std::lock_guard lock(m_mutex);
        if (m_listen < 0) {
            ++m_counters.dropped;
            return false;
        }
        ++m_counters.sent;
        for (Client& client : m_clients) {
            if (client.dead) {
                continue;
            }
            // A client still holding part of an earlier telegram, or more than its share of
            // unsent bytes, is behind: it loses this telegram instead of queueing it.
            int queued = 0;
            if ((!client.pending.empty() && !Flush(client)) ||
                (ioctl(client.fd, SIOCOUTQ, &queued) == 0 && queued > m_options.clientQueueBytes)) {
                wake = wake || client.dead;
                Drop(client);
                continue;
            }
            const ssize_t n = ::send(client.fd, bytes, length, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                    Drop(client);
                } else {
                    client.dead = true;  // closed by the port's thread
                    wake = true;
                }
                continue;
            }
            if (static_cast<std::size_t>(n) < length) {
                // The rest follows as the client takes it; nothing else waits behind it.
                client.pending.assign(bytes + n, length - static_cast<std::size_t>(n));
                wake = true;
            }
            client.stalled = false;
        }
        if (wake) {
            Wake();
        }
        return true;
    }

    NetworkPortCounters Counters() const override {
        std::lock_guard lock(m_mutex);
        NetworkPortCounters counters = m_counters;
        counters.clients = m_clients.size();
        return counters;
    }

    std::string Describe() const override {
        NetworkTarget bound = m_target;
        if (const unsigned port = m_boundPort.load(); port != 0) {
            bound.port = port;
        }
        return bound.Text();
    }

private:
    struct Client {
        int fd = -1;
        std::string peer;
        std::string pending;      // the unsent rest of one telegram
        bool inputEnded = false;  // it sends no more (it may still read: `nc < /dev/null`)
        bool stalled = false;
        Clock::time_point stalledSince;
        unsigned long dropped = 0;
        bool dead = false;
        // Not read again before then: a client that sends without end is read at a bounded
        // rate (kReadsPerPass reads a pause).
        Clock::time_point quietUntil;
    };

    void Drop(Client& client) {
        ++client.dropped;
        ++m_counters.clientDrops;
        if (!client.stalled) {
            client.stalled = true;
            client.stalledSince = Clock::now();
        }
    }

    // Writes what is left of a telegram; true when nothing is left.
    static bool Flush(Client& client) {
        const ssize_t n = ::send(client.fd, client.pending.data(), client.pending.size(),
                                 MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            client.pending.erase(0, static_cast<std::size_t>(n));
        } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            client.dead = true;
        }
        return client.pending.empty();
    }

    bool Open() override {
        std::vector<Address> addresses;
        std::string error;
        if (!Resolve(m_target.host, m_target.port, SOCK_STREAM, addresses, error)) {
            Report(error);
            return false;
        }
        int err = 0;
        for (const Address& address : addresses) {
            const int fd = ::socket(address.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (fd < 0) {
                err = errno;
                continue;
            }
            const int on = 1;
            const int off = 0;
            setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
            if (address.family == AF_INET6 && m_target.host.empty()) {
                setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof(off));
            }
            if (::bind(fd, reinterpret_cast<const sockaddr*>(&address.storage), address.length) !=
                    0 ||
                ::listen(fd, 16) != 0) {
                err = errno;
                ::close(fd);
                continue;
            }
            sockaddr_storage local{};
            socklen_t length = sizeof(local);
            getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
            m_boundPort = ntohs(local.ss_family == AF_INET6
                                    ? reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port
                                    : reinterpret_cast<const sockaddr_in*>(&local)->sin_port);
            {
                std::lock_guard lock(m_mutex);
                m_listen = fd;
            }
            Recovered("listening again");
            Trace("listening on " + AddressText(reinterpret_cast<const sockaddr*>(&local), length));
            return true;
        }
        switch (err) {
            case EADDRINUSE:
                Report("port " + std::to_string(m_target.port) + " is in use by another program");
                break;
            case EACCES:
                Report(
                    "permission refused: ports below 1024 need privileges "
                    "(CAP_NET_BIND_SERVICE)");
                break;
            case EADDRNOTAVAIL:
                Report(m_target.host + " is not an address of this machine now");
                break;
            default:
                Report("cannot listen: " + std::string(std::strerror(err)));
                break;
        }
        return false;
    }

    void Close() override {
        std::lock_guard lock(m_mutex);
        for (Client& client : m_clients) {
            ::close(client.fd);
        }
        m_clients.clear();
        if (m_listen >= 0) {
            ::close(m_listen);
            m_listen = -1;
        }
    }

    void AddPollHandles(std::vector<pollfd>& handles) override {
        std::lock_guard lock(m_mutex);
        if (m_listen < 0) {
            return;
        }
        handles.push_back({m_listen, POLLIN, 0});
        const auto now = Clock::now();
        for (const Client& client : m_clients) {
            const bool read = !client.inputEnded && now >= client.quietUntil;
            handles.push_back(
                {client.fd,
                 static_cast<short>((read ? POLLIN : 0) | (client.pending.empty() ? 0 : POLLOUT)),
                 0});
        }
    }

    // The client list changes on this thread only, so the handles line up with it.
    void Serve(const pollfd* handles, std::size_t count, Clock::time_point now) override {
        std::lock_guard lock(m_mutex);
        if (count == 0 || m_listen < 0) {
            return;
        }
        for (std::size_t i = 0; i + 1 < count && i < m_clients.size(); ++i) {
            Client& client = m_clients[i];
            const short events = handles[i + 1].revents;
            if ((events & POLLIN) != 0 && !Discard(client)) {
                client.quietUntil = now + std::chrono::milliseconds(kReadPauseMs);
            }
            if ((events & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                client.dead = true;
            }
            if ((events & POLLOUT) != 0 && !client.pending.empty()) {
                Flush(client);
            }
        }
        for (Client& client : m_clients) {
            if (!client.dead && client.stalled &&
                now - client.stalledSince > std::chrono::milliseconds(m_options.stallLimitMs)) {
                client.dead = true;
                ++m_counters.disconnected;
                Trace("client " + client.peer + " disconnected: it took no telegram for " +
                      std::to_string(m_options.stallLimitMs) + " ms (" +
                      std::to_string(client.dropped) + " lost)");
            }
        }
        std::erase_if(m_clients, [](const Client& client) {
            if (client.dead) {
                ::close(client.fd);
            }
            return client.dead;
        });
        if ((handles[0].revents & POLLIN) != 0) {
            Accept();
        }
    }

    // Reads and throws away what a client sends. At its end of file the client still gets
    // telegrams (a closed connection shows on the next send); an error ends the client.
    // False when it read all it may in one pass and more may be waiting.
    static bool Discard(Client& client) {
        char sink[4096];
        for (int i = 0; i < kReadsPerPass; ++i) {
            const ssize_t n = ::recv(client.fd, sink, sizeof(sink), MSG_DONTWAIT);
            if (n > 0) {
                continue;
            }
            if (n == 0) {
                client.inputEnded = true;
            } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                client.dead = true;
            }
            return true;
        }
        return false;
    }

    // With every slot taken, the longest-connected client whose input has ended gives its
    // slot up: most such clients have closed and only our next telegram would tell (a
    // reader that merely shut its sending side, `nc < /dev/null`, is given up only then).
    bool FreeASlot() {
        for (Client& client : m_clients) {
            if (client.inputEnded && !client.dead) {
                ::close(client.fd);
                client.fd = -1;
                client.dead = true;
                ++m_counters.disconnected;
                break;
            }
        }
        const auto before = m_clients.size();
        std::erase_if(m_clients, [](const Client& client) { return client.dead && client.fd < 0; });
        return m_clients.size() < before;
    }

    void Accept() {
        for (int i = 0; i < kAcceptsPerPass; ++i) {
            sockaddr_storage peer{};
            socklen_t length = sizeof(peer);
            const int fd = accept4(m_listen, reinterpret_cast<sockaddr*>(&peer), &length,
                                   SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                    Trace("cannot accept a client: " + std::string(std::strerror(errno)));
                }
                return;
            }
            const std::string name = AddressText(reinterpret_cast<const sockaddr*>(&peer), length);
            if (m_clients.size() >= m_options.maxClients && !FreeASlot()) {
                ++m_counters.refused;
                Trace("client " + name + " refused: " + std::to_string(m_options.maxClients) +
                      " clients are connected already");
                ::shutdown(fd, SHUT_RDWR);
                ::close(fd);
                continue;
            }
            const int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
            Client client;
            client.fd = fd;
            client.peer = name;
            m_clients.push_back(std::move(client));
        }
    }

    mutable std::mutex m_mutex;  // the sockets, clients and counters
    int m_listen = -1;
    std::vector<Client> m_clients;
    NetworkPortCounters m_counters;
    std::atomic<unsigned> m_boundPort{0};
};

}  // namespace

std::vector<std::string> NetworkTargetWarnings(const NetworkTarget& target) {
    std::vector<std::string> warnings;
    std::vector<Address> addresses;
    std::string error;
    if (!target.host.empty() &&
        !Resolve(target.host, target.port,
                 target.kind == NetworkTarget::Kind::Udp ? SOCK_DGRAM : SOCK_STREAM, addresses,
                 error)) {
        warnings.push_back(error);
    }
    if (target.kind == NetworkTarget::Kind::Tcp && target.port > 0 && target.port < 1024 &&
        geteuid() != 0) {
        warnings.push_back(
            "ports below 1024 need privileges (CAP_NET_BIND_SERVICE); 10110 is "
            "the customary NMEA port");
    }
    return warnings;
}

std::unique_ptr<CNetworkPort> CNetworkPort::Create(const NetworkTarget& target, TraceFn trace,
                                                   const NetworkPortOptions& options) {
    if (target.kind == NetworkTarget::Kind::Tcp) {
        return std::make_unique<CTcpServer>(target, std::move(trace), options);
    }
    return std::make_unique<CUdpPort>(target, std::move(trace), options);
}

}  // namespace comlane
