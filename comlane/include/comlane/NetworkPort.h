// Network endpoints a port name can stand for, beside devices and pseudo-terminals:
//
//   udp:HOST:PORT[?ttl=N&if=NAME]   each telegram is one datagram to HOST: a unicast
//                                   address or name, a broadcast address, or a multicast
//                                   group (ttl: the group's hop limit, 1 unless given;
//                                   if: the interface the group is sent on)
//   tcp:[ADDR:]PORT                 a server on PORT (all interfaces, or only ADDR); every
//                                   connected client gets every telegram from its
//                                   connection on
//
// IPv6 addresses go in brackets: udp:[ff02::1]:10110?if=eth0, tcp:[::1]:10110.
// Port 10110 is the customary port for NMEA sentences.
//
// A network port never blocks its caller and never keeps telegrams for later: a datagram
// the network cannot take now, or a telegram a slow TCP client cannot take now, is
// dropped and counted. A socket that cannot be made (a name that does not resolve, a port
// in use or refused, an interface that is gone) is traced and made again in the
// background until it works; meanwhile telegrams are dropped and counted.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace comlane {

struct NetworkTarget {
    enum class Kind { Udp, Tcp };
    Kind kind = Kind::Udp;
    std::string host;   // udp: where datagrams go; tcp: the address listened on, empty for all
    unsigned port = 0;  // tcp: 0 lets the system choose (the port's Describe() tells which)
    int ttl = -1;       // udp multicast hop limit; -1 for the default of 1
    std::string interfaceName;  // udp multicast: the interface the group is sent on

    // The target written back in the port map's syntax.
    std::string Text() const;
};

// True when the port map target names a network endpoint ("udp:" or "tcp:").
bool IsNetworkTarget(const std::string& target);
// Parses a network target; nullopt with the reason when it is malformed.
std::optional<NetworkTarget> ParseNetworkTarget(const std::string& text,
                                                std::string* error = nullptr);

// What stands in a target's way on this machine now, one sentence each: a host that does
// not resolve, a privileged port this process could not bind. The port keeps trying, so
// these are warnings, not refusals.
std::vector<std::string> NetworkTargetWarnings(const NetworkTarget& target);

struct NetworkPortOptions {
    // TCP clients served at once; one more is accepted and closed at once.
    std::size_t maxClients = 32;
    // Unsent bytes a TCP client may hold in its connection before new telegrams for it are
    // dropped: its stalled backlog stays short, so what it reads next is recent.
    int clientQueueBytes = 1024;
    // A TCP client whose telegrams have all been dropped for this long is disconnected.
    int stallLimitMs = 5000;
    // How often a socket that could not be made is tried again.
    int retryMs = 1000;
};

struct NetworkPortCounters {
    unsigned long sent = 0;          // telegrams handed to the network
    unsigned long dropped = 0;       // telegrams nobody could get: the socket was not usable
    unsigned long clientDrops = 0;   // telegrams a slow TCP client lost
    unsigned long refused = 0;       // TCP clients turned away: the server was full
    unsigned long disconnected = 0;  // TCP clients closed for staying stalled
    std::size_t clients = 0;         // TCP clients connected now
};

class CNetworkPort {
public:
    using TraceFn = std::function<void(const std::string&)>;

    // Starts the port: its socket is made on the port's own thread, at once and again
    // after every failure. The trace function gets a line for each problem and for each
    // recovery, from either thread; it must outlive the port.
    static std::unique_ptr<CNetworkPort> Create(const NetworkTarget& target, TraceFn trace,
                                                const NetworkPortOptions& options = {});

    virtual ~CNetworkPort() = default;
    // Hands one telegram to the network without blocking: true when the socket took it
    // (for TCP: the server is listening; clients that cannot take it lose it and are
    // counted), false when it was dropped because the socket is not usable now.
    virtual bool Send(const void* data, std::size_t length) = 0;
    // The socket is made (UDP) or listening (TCP).
    virtual bool IsReady() const = 0;
    // Waits at most timeoutMs until IsReady().
    virtual bool WaitReady(int timeoutMs) const = 0;
    virtual NetworkPortCounters Counters() const = 0;
    // The target as in use: a TCP server's port is the one it listens on.
    virtual std::string Describe() const = 0;
};

}  // namespace comlane
