#include "comlane/NetworkPort.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <net/if.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "NetworkClient.h"

namespace {

using comlane::CNetworkPort;
using comlane::NetworkPortOptions;
using comlane::NetworkTarget;
using comlane::ParseNetworkTarget;
using tavimo_test::TcpClient;
using tavimo_test::UdpReceiver;
using tavimo_test::WaitFor;

// The trace lines a port writes, collected for the test to look through.
class Trace {
public:
    CNetworkPort::TraceFn Fn() {
        return [this](const std::string& line) {
            std::lock_guard lock(m_mutex);
            m_lines.push_back(line);
        };
    }
    bool Has(const std::string& part) const {
        std::lock_guard lock(m_mutex);
        for (const std::string& line : m_lines) {
            if (line.find(part) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    std::string All() const {
        std::lock_guard lock(m_mutex);
        std::string all;
        for (const std::string& line : m_lines) {
            all += line + "\n";
        }
        return all;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

NetworkTarget Target(const std::string& text) {
    std::string error;
    const auto target = ParseNetworkTarget(text, &error);
    EXPECT_TRUE(target.has_value()) << text << ": " << error;
    return target.value_or(NetworkTarget{});
}

std::unique_ptr<CNetworkPort> Make(const std::string& text, Trace& trace,
                                   NetworkPortOptions options = {}) {
    options.retryMs = 100;
    return CNetworkPort::Create(Target(text), trace.Fn(), options);
}

std::string Telegram(int n) {
    char text[64];
    std::snprintf(text, sizeof(text), "$TVHDT,%03d.0,T*00 #%06d\r\n", n % 360, n);
    return text;
}

bool Send(CNetworkPort& port, const std::string& bytes) {
    return port.Send(bytes.data(), bytes.size());
}

// The sequence number of the first telegram in a stream of them.
int FirstNumber(const std::string& stream) {
    const auto mark = stream.find('#');
    return mark == std::string::npos ? -1 : std::atoi(stream.c_str() + mark + 1);
}

TEST(NetworkTargetTest, TheMapSyntaxParsesAndWritesBack) {
    struct Case {
        const char* text;
        NetworkTarget::Kind kind;
        const char* host;
        unsigned port;
        int ttl;
        const char* interfaceName;
    };
    const Case cases[] = {
        {"udp:192.168.1.255:10110", NetworkTarget::Kind::Udp, "192.168.1.255", 10110, -1, ""},
        {"udp:plotter.local:2000", NetworkTarget::Kind::Udp, "plotter.local", 2000, -1, ""},
        {"udp:239.1.1.1:10110?ttl=4&if=eth0", NetworkTarget::Kind::Udp, "239.1.1.1", 10110, 4,
         "eth0"},
        {"udp:[ff02::1]:10110?if=enp3s0", NetworkTarget::Kind::Udp, "ff02::1", 10110, -1, "enp3s0"},
        {"tcp:10110", NetworkTarget::Kind::Tcp, "", 10110, -1, ""},
        {"tcp:127.0.0.1:10110", NetworkTarget::Kind::Tcp, "127.0.0.1", 10110, -1, ""},
        {"tcp:[::1]:2947", NetworkTarget::Kind::Tcp, "::1", 2947, -1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const NetworkTarget t = Target(c.text);
        EXPECT_EQ(t.kind, c.kind);
        EXPECT_EQ(t.host, c.host);
        EXPECT_EQ(t.port, c.port);
        EXPECT_EQ(t.ttl, c.ttl);
        EXPECT_EQ(t.interfaceName, c.interfaceName);
        EXPECT_EQ(t.Text(), c.text);
    }
    EXPECT_TRUE(comlane::IsNetworkTarget("udp:x:1"));
    EXPECT_FALSE(comlane::IsNetworkTarget("/dev/ttyUSB0"));
    EXPECT_FALSE(comlane::IsNetworkTarget("pty"));
}

TEST(NetworkTargetTest, MalformedTargetsAreRefusedWithTheReason) {
    const std::pair<const char*, const char*> cases[] = {
        {"udp:10110", "HOST:PORT"},
        {"udp:host:0", "1 to 65535"},
        {"udp:host:65536", "1 to 65535"},
        {"udp:host:10110x", "1 to 65535"},
        {"udp::10110", "empty"},
        {"udp:ff02::1:10110", "brackets"},
        {"udp:[ff02::1]10110", "followed by :PORT"},
        {"udp:[]:10110", "no address"},
        {"udp:239.1.1.1:10110?ttl=256", "ttl"},
        {"udp:239.1.1.1:10110?ttl=", "ttl"},
        {"udp:239.1.1.1:10110?if=a/b", "interface name"},
        {"udp:239.1.1.1:10110?if=averyveryverylongname", "interface name"},
        {"udp:239.1.1.1:10110?loop=1", "unknown option"},
        {"udp:239.1.1.1:10110?ttl=1&", "unknown option"},
        {"udp:a b:10110", "characters"},
        {"tcp:[[p]:9", "characters"},  // would write back as text that does not parse
        {"tcp:10110?ttl=1", "no options"},
        {"tcp:-1", "1 to 65535"},
        {"tcp:", "1 to 65535"},
        {"serial:COM1", "neither"},
    };
    for (const auto& [text, reason] : cases) {
        std::string error;
        EXPECT_FALSE(ParseNetworkTarget(text, &error).has_value()) << text;
        EXPECT_NE(error.find(reason), std::string::npos) << text << ": " << error;
    }
}

TEST(UdpPortTest, EachTelegramIsOneDatagramAsItStands) {
    UdpReceiver receiver;
    ASSERT_TRUE(receiver.Bound());
    Trace trace;
    auto port = Make("udp:127.0.0.1:" + std::to_string(receiver.Port()), trace);
    ASSERT_TRUE(port->WaitReady(10000)) << trace.All();
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(Send(*port, Telegram(i)));
        EXPECT_EQ(receiver.Receive(), Telegram(i));
    }
    // A frame with every byte value goes out whole, NUL included.
    std::string binary;
    for (int b = 0; b < 256; ++b) {
        binary.push_back(static_cast<char>(b));
    }
    ASSERT_TRUE(Send(*port, binary));
    EXPECT_EQ(receiver.Receive(), binary);
    EXPECT_EQ(port->Counters().sent, 51U);
    EXPECT_EQ(port->Counters().dropped, 0U);
}

// Every reading client gets the same bytes the UDP receiver gets, telegram for telegram; a
// client that never reads loses telegrams, never holds the others up, and is disconnected
// once it has stayed stalled past the bound.
TEST(TcpServerTest, ReadingClientsGetEveryTelegramWhileAStalledOneIsDroppedThenClosed) {
    UdpReceiver receiver;
    Trace trace;
    auto udp = Make("udp:127.0.0.1:" + std::to_string(receiver.Port()), trace);
    NetworkPortOptions options;
    options.stallLimitMs = 300;
    auto tcp = Make("tcp:127.0.0.1:0", trace, options);
    ASSERT_TRUE(udp->WaitReady(10000) && tcp->WaitReady(10000)) << trace.All();
    const unsigned port = Target(tcp->Describe()).port;
    ASSERT_NE(port, 0U);

    TcpClient stalled(port, 2048);  // never reads; a small buffer fills soon
    std::vector<std::unique_ptr<TcpClient>> readers;
    for (int i = 0; i < 3; ++i) {
        readers.push_back(std::make_unique<TcpClient>(port));
        ASSERT_TRUE(readers.back()->Connected());
    }
    ASSERT_TRUE(WaitFor([&] { return tcp->Counters().clients == 4; })) << trace.All();

    // Long telegrams at a steady pace: the stalled client's buffers fill within a few dozen.
    std::string all;
    std::vector<std::string> datagrams;
    const std::string padding(150, '~');
    bool closed = false;
    int sent = 0;
    for (; sent < 3000 && !(closed && sent >= 400); ++sent) {
        const std::string t = Telegram(sent) + padding + "\r\n";
        ASSERT_TRUE(Send(*udp, t));
        ASSERT_TRUE(Send(*tcp, t));
        all += t;
        if (auto d = receiver.Receive(1000)) {
            datagrams.push_back(*d);
        }
        for (auto& r : readers) {
            r->ReadAvailable();  // readers keep up
        }
        closed = tcp->Counters().disconnected == 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(closed) << sent << " telegrams sent\n" << trace.All();
    for (auto& r : readers) {
        EXPECT_EQ(r->Read(all.size()), all);  // byte for byte, nothing lost, nothing twice
    }
    std::string joined;
    for (const std::string& d : datagrams) {
        joined += d;
    }
    EXPECT_EQ(joined, all);

    const comlane::NetworkPortCounters counters = tcp->Counters();
    EXPECT_EQ(counters.clients, 3U);
    EXPECT_GT(counters.clientDrops, 0U);
    EXPECT_EQ(counters.sent, static_cast<unsigned long>(sent));
    EXPECT_TRUE(trace.Has("disconnected: it took no telegram for 300 ms")) << trace.All();
    // The stalled client got whole telegrams, in order, with gaps where it lost them; never
    // a torn one (only the last may be cut short by the close).
    ASSERT_TRUE(stalled.WaitClosed());
    const std::string& got = stalled.Got();
    const std::size_t unit = Telegram(0).size() + padding.size() + 2;
    EXPECT_GE(got.size(), unit);
    EXPECT_LT(got.size(), all.size() / 2);
    int last = -1;
    for (std::size_t at = 0; at + unit <= got.size(); at += unit) {
        const std::string piece = got.substr(at, unit);
        const int n = FirstNumber(piece);
        EXPECT_GT(n, last);
        EXPECT_EQ(piece, Telegram(n) + padding + "\r\n");
        last = n;
    }
}

TEST(TcpServerTest, TheThirtyThirdClientIsRefusedAndTheOthersKeepTheirTelegrams) {
    Trace trace;
    auto tcp = Make("tcp:127.0.0.1:0", trace);
    ASSERT_TRUE(tcp->WaitReady(10000)) << trace.All();
    const unsigned port = Target(tcp->Describe()).port;
    std::vector<std::unique_ptr<TcpClient>> clients;
    for (int i = 0; i < 32; ++i) {
        clients.push_back(std::make_unique<TcpClient>(port));
        ASSERT_TRUE(clients.back()->Connected());
    }
    ASSERT_TRUE(WaitFor([&] { return tcp->Counters().clients == 32; }));
    TcpClient extra(port);
    ASSERT_TRUE(extra.Connected());  // the kernel completes the handshake; the server closes it
    EXPECT_TRUE(extra.WaitClosed());
    EXPECT_TRUE(extra.Got().empty());
    EXPECT_EQ(tcp->Counters().refused, 1U);
    EXPECT_EQ(tcp->Counters().clients, 32U);
    EXPECT_TRUE(trace.Has("refused: 32 clients are connected already")) << trace.All();
    ASSERT_TRUE(Send(*tcp, Telegram(7)));
    for (auto& c : clients) {
        EXPECT_EQ(c->Read(Telegram(7).size()), Telegram(7));
    }
    // When one leaves, a new client takes its place. (A connection closed by its client shows
    // when a telegram goes to it.)
    clients.pop_back();
    ASSERT_TRUE(WaitFor([&] {
        Send(*tcp, Telegram(7));
        return tcp->Counters().clients == 31;
    }));
    TcpClient late(port);
    ASSERT_TRUE(WaitFor([&] { return tcp->Counters().clients == 32; }));
    ASSERT_TRUE(Send(*tcp, Telegram(8)));
    EXPECT_EQ(late.Read(Telegram(8).size()), Telegram(8));
}

// Clients that connect and close at once give their slots to new ones as they come, with
// no telegram sent in between.
TEST(TcpServerTest, ClientsThatLeftGiveTheirSlotsToNewOnes) {
    Trace trace;
    auto tcp = Make("tcp:127.0.0.1:0", trace);
    ASSERT_TRUE(tcp->WaitReady(10000)) << trace.All();
    const unsigned port = Target(tcp->Describe()).port;
    for (int i = 0; i < 32; ++i) {
        const TcpClient gone(port);  // connects and closes
        ASSERT_TRUE(gone.Connected());
    }
    ASSERT_TRUE(WaitFor([&] { return tcp->Counters().clients == 32; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // their ends are read
    std::vector<std::unique_ptr<TcpClient>> fresh;
    for (int i = 0; i < 8; ++i) {
        fresh.push_back(std::make_unique<TcpClient>(port));
    }
    ASSERT_TRUE(WaitFor([&] { return tcp->Counters().disconnected >= 8; })) << trace.All();
    ASSERT_TRUE(Send(*tcp, Telegram(9)));
    for (auto& c : fresh) {
        EXPECT_EQ(c->Read(Telegram(9).size()), Telegram(9));
    }
    EXPECT_EQ(tcp->Counters().refused, 0U);
}

// Only the sender's writes are time-critical: a port started from a real-time thread does
// its accepting and reading at normal priority.
TEST(TcpServerTest, ThePortsOwnThreadRunsAtNormalPriority) {
    Trace trace;
    std::unique_ptr<CNetworkPort> tcp;
    bool realTime = false;
    std::thread starter([&] {
        const sched_param priority{15};
        realTime = pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority) == 0;
        tcp = Make("tcp:127.0.0.1:0", trace);
    });
    starter.join();
    if (!realTime) {
        GTEST_SKIP() << "SCHED_FIFO is refused here";
    }
    ASSERT_TRUE(tcp->WaitReady(10000));
    int realTimeThreads = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        const int tid = std::atoi(task.path().filename().c_str());
        realTimeThreads += sched_getscheduler(tid) == SCHED_FIFO ? 1 : 0;
    }
    EXPECT_EQ(realTimeThreads, 0);
}

TEST(TcpServerTest, AClientGetsNothingFromBeforeItConnectedAndItsInputIsDiscarded) {
    Trace trace;
    auto tcp = Make("tcp:127.0.0.1:0", trace);
    ASSERT_TRUE(tcp->WaitReady(10000));
    const unsigned port = Target(tcp->Describe()).port;
    for (int i = 0; i < 100; ++i) {
        Send(*tcp, Telegram(i));  // nobody connected: nothing is kept
    }
    TcpClient client(port);
    ASSERT_TRUE(WaitFor([&] { return tcp->Counters().clients == 1; }));
    // A client that talks (gpsd's and plotters' clients may) is read and ignored, however
    // much it sends.
    const std::string chatter(256 * 1024, 'x');
    for (int i = 0; i < 8; ++i) {
        client.Send(chatter);
    }
    ASSERT_TRUE(Send(*tcp, Telegram(100)));
    const std::string got = client.Read(Telegram(100).size());
    EXPECT_EQ(FirstNumber(got), 100);
    EXPECT_EQ(got, Telegram(100));
    EXPECT_EQ(tcp->Counters().clients, 1U);
    // A client that ends its sending side still reads telegrams.
    client.EndSending();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the server sees the end
    ASSERT_TRUE(Send(*tcp, Telegram(101)));
    EXPECT_EQ(client.Read(2 * Telegram(100).size()), Telegram(100) + Telegram(101));
    EXPECT_EQ(tcp->Counters().clients, 1U);
}

TEST(TcpServerTest, APortInUseIsTracedAndTakenWhenItIsFree) {
    // Another program holds the port.
    const int other = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in any = tavimo_test::Loopback(0);
    ASSERT_EQ(::bind(other, reinterpret_cast<const sockaddr*>(&any), sizeof(any)), 0);
    ASSERT_EQ(::listen(other, 1), 0);
    const unsigned port = tavimo_test::LocalPort(other);
    Trace trace;
    auto tcp = Make("tcp:127.0.0.1:" + std::to_string(port), trace);
    ASSERT_TRUE(WaitFor([&] { return trace.Has("is in use by another program"); })) << trace.All();
    EXPECT_FALSE(tcp->IsReady());
    EXPECT_FALSE(Send(*tcp, Telegram(1)));
    EXPECT_EQ(tcp->Counters().dropped, 1U);
    ::close(other);
    ASSERT_TRUE(tcp->WaitReady(10000)) << trace.All();
    EXPECT_TRUE(trace.Has("listening again"));
    TcpClient client(port);
    ASSERT_TRUE(WaitFor([&] { return tcp->Counters().clients == 1; }));
    ASSERT_TRUE(Send(*tcp, Telegram(2)));
    EXPECT_EQ(client.Read(Telegram(2).size()), Telegram(2));
}

// The tests below change the network itself, so each runs in a network namespace of its
// own: this binary starts itself again under `unshare -n` with one of them selected.
constexpr const char* kInNamespace = "TAVIMO_TEST_IN_NETNS";

bool InNamespace() {
    return std::getenv(kInNamespace) != nullptr;
}

void Shell(const std::string& command) {
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// Joins a group on an interface, on a port of the system's choice.
std::unique_ptr<UdpReceiver> GroupMember(const char* group, const char* interfaceName,
                                         unsigned port = 0) {
    auto receiver = std::make_unique<UdpReceiver>("0.0.0.0", port);
    ip_mreqn request{};
    inet_pton(AF_INET, group, &request.imr_multiaddr);
    request.imr_ifindex = static_cast<int>(if_nametoindex(interfaceName));
    EXPECT_EQ(
        setsockopt(receiver->Handle(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof(request)),
        0);
    return receiver;
}

TEST(NetworkNamespaceTest, AMulticastGroupMemberGetsEveryTelegram) {
    if (!InNamespace()) {
        GTEST_SKIP() << "runs in a network namespace of its own (NetworkPortTest."
                        "ChangesToTheNetworkRunInANamespaceOfTheirOwn starts it)";
    }
    Shell("ip link set lo up && ip link set lo multicast on && ip route add 239.0.0.0/8 dev lo");
    auto member = GroupMember("239.1.1.1", "lo");
    Trace trace;
    auto udp = Make("udp:239.1.1.1:" + std::to_string(member->Port()) + "?ttl=1&if=lo", trace);
    ASSERT_TRUE(udp->WaitReady(10000)) << trace.All();
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(Send(*udp, Telegram(i))) << trace.All();
        EXPECT_EQ(member->Receive(), Telegram(i));
    }
}

TEST(NetworkNamespaceTest, AMulticastTargetSurvivesTheLossAndReturnOfItsInterface) {
    if (!InNamespace()) {
        GTEST_SKIP() << "runs in a network namespace of its own";
    }
    const std::string makeLink =
        "ip link add tv0 type veth peer name tv1 && ip link set tv0 up && ip link set tv1 up";
    Shell("ip link set lo up && " + makeLink);
    auto member = GroupMember("239.1.1.2", "tv0");
    const unsigned port = member->Port();
    Trace trace;
    auto udp = Make("udp:239.1.1.2:" + std::to_string(port) + "?if=tv0", trace);
    ASSERT_TRUE(udp->WaitReady(10000)) << trace.All();
    ASSERT_TRUE(Send(*udp, Telegram(1)));
    ASSERT_EQ(member->Receive(), Telegram(1));

    Shell("ip link del tv0");
    for (int i = 0; i < 20; ++i) {
        EXPECT_FALSE(Send(*udp, Telegram(2)));  // dropped and counted, never blocking
    }
    EXPECT_EQ(udp->Counters().dropped, 20U);
    ASSERT_TRUE(WaitFor([&] { return trace.Has("no interface tv0"); })) << trace.All();

    // The interface comes back (under a new index): the port finds it by itself.
    Shell(makeLink);
    member = GroupMember("239.1.1.2", "tv0", port);
    std::optional<std::string> got;
    for (int i = 0; i < 500 && !got; ++i) {
        Send(*udp, Telegram(3));
        got = member->Receive(20);
    }
    EXPECT_EQ(got, Telegram(3)) << trace.All();
    EXPECT_TRUE(trace.Has("sending again")) << trace.All();
}

// The address exists only inside the test's own namespace.
TEST(NetworkNamespaceTest, AServerOnAnAddressNotThereYetListensOnceItComes) {
    if (!InNamespace()) {
        GTEST_SKIP() << "runs in a network namespace of its own";
    }
    Shell(
        "ip link set lo up && ip link add tv0 type veth peer name tv1 && ip link set tv0 up && "
        "ip link set tv1 up");
    Trace trace;
    auto tcp = Make("tcp:10.213.0.1:10110", trace);
    ASSERT_TRUE(WaitFor([&] { return trace.Has("10.213.0.1 is not an address of this machine"); }))
        << trace.All();
    EXPECT_FALSE(Send(*tcp, Telegram(1)));
    Shell("ip addr add 10.213.0.1/24 dev tv0");
    ASSERT_TRUE(tcp->WaitReady(10000)) << trace.All();
    TcpClient client(10110, 0, "10.213.0.1");
    ASSERT_TRUE(client.Connected());
    ASSERT_TRUE(WaitFor([&] { return tcp->Counters().clients == 1; }));
    ASSERT_TRUE(Send(*tcp, Telegram(2)));
    EXPECT_EQ(client.Read(Telegram(2).size()), Telegram(2));
}

TEST(NetworkNamespaceTest, AnUnresolvableHostIsTracedAndNothingElseStops) {
    if (!InNamespace()) {
        GTEST_SKIP() << "runs in a network namespace of its own (its name look-up goes nowhere)";
    }
    Trace trace;
    auto udp = Make("udp:no-such-plotter.invalid:10110", trace);
    ASSERT_TRUE(WaitFor([&] { return trace.Has("cannot resolve no-such-plotter.invalid"); }))
        << trace.All();
    EXPECT_FALSE(udp->IsReady());
    EXPECT_FALSE(Send(*udp, Telegram(1)));
    EXPECT_EQ(udp->Counters().dropped, 1U);
}

TEST(NetworkNamespaceTest, APrivilegedPortRefusedIsTracedWithTheReason) {
    if (!InNamespace()) {
        GTEST_SKIP() << "runs in a network namespace of its own";
    }
    // This process gives up the right to bind ports below 1024 (root has it otherwise);
    // the port's thread, started after, inherits that.
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    ASSERT_EQ(syscall(SYS_capget, &header, data), 0);
    data[0].effective &= ~(1U << CAP_NET_BIND_SERVICE);
    ASSERT_EQ(syscall(SYS_capset, &header, data), 0);
    Shell("ip link set lo up");
    Trace trace;
    auto tcp = Make("tcp:127.0.0.1:600", trace);
    ASSERT_TRUE(WaitFor([&] { return trace.Has("ports below 1024 need privileges"); }))
        << trace.All();
    EXPECT_FALSE(tcp->IsReady());
}

TEST(NetworkPortTest, ChangesToTheNetworkRunInANamespaceOfTheirOwn) {
    if (InNamespace()) {
        GTEST_SKIP() << "already inside";
    }
    if (std::system("unshare -n true >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "unshare -n is refused on this machine: multicast, interface loss, "
                        "name look-up and privilege cases not run";
    }
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string log =
        (std::filesystem::temp_directory_path() / ("netns-" + std::to_string(getpid()) + ".log"))
            .string();
    // Every test of NetworkNamespaceTest, each in a namespace of its own.
    std::vector<std::string> tests;
    if (FILE* list = popen(("'" + self +
                            "' --gtest_list_tests "
                            "--gtest_filter='NetworkNamespaceTest.*'")
                               .c_str(),
                           "r")) {
        char line[512];
        while (std::fgets(line, sizeof(line), list) != nullptr) {
            std::string name = line;
            if (name.rfind("  ", 0) == 0) {
                name = name.substr(2, name.find_first_of(" \n", 2) - 2);
                tests.push_back(name);
            }
        }
        pclose(list);
    }
    EXPECT_EQ(tests.size(), 5U);
    for (const std::string& test : tests) {
        SCOPED_TRACE(test);
        const std::string command = std::string(kInNamespace) + "=1 timeout 120 unshare -n '" +
                                    self + "' --gtest_filter=NetworkNamespaceTest." + test + " >" +
                                    log + " 2>&1";
        const int status = std::system(command.c_str());
        std::ifstream file(log);
        std::stringstream output;
        output << file.rdbuf();
        EXPECT_EQ(status, 0) << output.str();
        EXPECT_NE(output.str().find("[  PASSED  ] 1 test"), std::string::npos) << output.str();
    }
    std::filesystem::remove(log);
}

}  // namespace
