// Network ports and virtual ports as telegram objects see them through the port broker.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../comlane/NetworkTestSupport.h"
#include "comlane/SerialDevice.h"
#include "interfaces/CommsManager.h"
#include "interfaces/PortManager.h"

namespace {

using network_test::TcpClient;
using network_test::UdpReceiver;
using network_test::WaitFor;

struct Manager {
    CPortManager manager;
    Manager() { manager.AddPortAgent(new CCommsManager); }
};

BOOL Send(CTelegrax* port, const std::string& text, ETelegramType type = eTelegramAscii) {
    CTelegram telegram(type);
    telegram.SetText(text);
    return port->SendTelegram(&telegram, 0);
}

std::string Hdt(int n) {
    char text[48];
    std::snprintf(text, sizeof(text), "$HCHDT,%03d.%03d,T*00\r\n", n % 360, n % 1000);
    return text;
}

// A serial client of a virtual port, opened by its published link.
class PtyReader {
public:
    explicit PtyReader(const std::string& name)
        : m_fd(::open(comlane::CPortMap::LinkPath(name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~PtyReader() { Close(); }
    PtyReader(const PtyReader&) = delete;
    PtyReader& operator=(const PtyReader&) = delete;
    bool IsOpen() const { return m_fd >= 0; }
    void Close() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    int Waiting() const {
        int n = -1;
        ioctl(m_fd, FIONREAD, &n);
        return n;
    }
    std::string Read(std::size_t n) {
        std::string got;
        char buffer[512];
        while (got.size() < n) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 10000) != 1) {
                break;
            }
            const ssize_t r = ::read(m_fd, buffer, std::min(sizeof(buffer), n - got.size()));
            if (r <= 0) {
                break;
            }
            got.append(buffer, static_cast<std::size_t>(r));
        }
        return got;
    }

private:
    int m_fd;
};

TEST(TelegraxNetworkTest, NetworkPortsAreListedAndUsedLikeAnyOtherPort) {
    UdpReceiver receiver;
    ASSERT_TRUE(comlane::CPortMap::Map("COM5", "udp:127.0.0.1:" + std::to_string(receiver.Port())));
    ASSERT_TRUE(comlane::CPortMap::Map("COM6", "tcp:127.0.0.1:0"));
    Manager m;
    std::vector<std::string> names;
    std::vector<std::string> other;
    m.manager.GetAvailablePorts(names, other, -1);
    for (const char* name : {"COM5", "COM6"}) {
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    }
    CTelegrax* udp = m.manager.GetPort("COM5");
    CTelegrax* tcp = m.manager.GetPort("COM6");
    ASSERT_NE(udp, nullptr);
    ASSERT_NE(tcp, nullptr);
    EXPECT_EQ(m.manager.GetPort("COM6"), nullptr);  // one owner, as for a serial port
    // The window's settings apply as for any port: the baud rate is kept and not used.
    for (CTelegrax* port : {udp, tcp}) {
        EXPECT_TRUE(port->SetProtocol("TRANSMIT(ASCII), RECEIVE(ASCII)"));
        EXPECT_TRUE(port->Configure("CONFIG(4800,8,n,1)"));
        EXPECT_EQ(port->GetConfiguration(), "CONFIG(4800,8,n,1)");
        EXPECT_FALSE(port->Configure("CONFIG(fast,8,n,1)"));
        EXPECT_TRUE(port->IsOpen());
        EXPECT_FALSE(port->StartReceiving());  // a network port only sends
        EXPECT_TRUE(port->WaitNetworkReady(10000));
        EXPECT_TRUE(port->GetNetworkCounters().network);
    }
    // The server's device path tells the port it listens on.
    const std::string path = tcp->GetDevicePath();
    ASSERT_EQ(path.rfind("tcp:127.0.0.1:", 0), 0U) << path;
    const unsigned port = static_cast<unsigned>(std::stoul(path.substr(14)));
    ASSERT_NE(port, 0U);

    // Sent before anybody connected: the client never sees it.
    EXPECT_TRUE(Send(tcp, Hdt(999)));
    TcpClient a(port);
    TcpClient b(port);
    ASSERT_TRUE(WaitFor([&] { return tcp->GetNetworkCounters().clients == 2; }));
    std::string all;
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(Send(udp, Hdt(i)));
        ASSERT_TRUE(Send(tcp, Hdt(i)));
        EXPECT_EQ(receiver.Receive(), Hdt(i));
        all += Hdt(i);
    }
    EXPECT_EQ(a.Read(all.size()), all);
    EXPECT_EQ(b.Read(all.size()), all);
    EXPECT_EQ(udp->GetSentCount(), 40U);
    EXPECT_EQ(tcp->GetSentCount(), 41U);
    EXPECT_EQ(udp->GetDroppedCount(), 0U);

    // Framing applies on the network as on a line.
    ASSERT_TRUE(udp->SetProtocol("Transmit(ByteStuffed),Receive(ByteStuffed)"));
    ASSERT_TRUE(Send(udp, "a\x10z", eTelegramBinary));
    EXPECT_EQ(receiver.Receive(), std::string("\x10\x02"
                                              "a\x10\x10z\x10\x03"));

    EXPECT_EQ(m.manager.ReleasePort(tcp), 1);
    EXPECT_TRUE(a.WaitClosed());  // the server goes with its port
    EXPECT_EQ(m.manager.ReleasePort(udp), 1);
    comlane::CPortMap::Unmap("COM5");
    comlane::CPortMap::Unmap("COM6");
}

TEST(TelegraxNetworkTest, AMalformedNetworkTargetGivesNoPort) {
    ASSERT_TRUE(comlane::CPortMap::Map("COM7", "udp:127.0.0.1:99999"));
    Manager m;
    EXPECT_EQ(m.manager.GetPort("COM7"), nullptr);
    comlane::CPortMap::Unmap("COM7");
}

// Telegrams sent while nobody holds a virtual port are not kept for the next reader, nor is
// what a reader left unread when it let go.
TEST(TelegraxNetworkTest, AVirtualPortHandsAReaderOnlyTelegramsFromItsOwnTime) {
    Manager m;
    CTelegrax* port = m.manager.GetPort("COM2");
    ASSERT_NE(port, nullptr);
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(Send(port, Hdt(i)));  // nobody attached
    }
    EXPECT_EQ(port->GetDroppedCount(), 0U);  // not a fault: sent, as to an unplugged line
    EXPECT_EQ(port->GetSentCount(), 5U);
    PtyReader first("COM2");
    ASSERT_TRUE(first.IsOpen());
    EXPECT_EQ(first.Waiting(), 0);
    ASSERT_TRUE(Send(port, Hdt(5)));
    EXPECT_EQ(first.Read(Hdt(5).size()), Hdt(5));
    // The first reader leaves two telegrams unread.
    ASSERT_TRUE(Send(port, Hdt(6)));
    ASSERT_TRUE(Send(port, Hdt(7)));
    ASSERT_TRUE(WaitFor([&] { return first.Waiting() == static_cast<int>(2 * Hdt(6).size()); }));
    first.Close();
    ASSERT_TRUE(Send(port, Hdt(8)));  // nobody attached again
    PtyReader second("COM2");
    ASSERT_TRUE(second.IsOpen());
    EXPECT_EQ(second.Waiting(), 0);
    ASSERT_TRUE(Send(port, Hdt(9)));
    EXPECT_EQ(second.Read(Hdt(9).size()), Hdt(9));
    // Two readers at once: both get the port, and one leaving leaves the other served.
    PtyReader third("COM2");
    second.Close();
    ASSERT_TRUE(Send(port, Hdt(10)));
    EXPECT_EQ(third.Read(Hdt(10).size()), Hdt(10));
    EXPECT_EQ(m.manager.ReleasePort(port), 1);
}

}  // namespace
