#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "NetworkClient.h"
#include "PortClient.h"
#include "comlane/SerialDevice.h"
#include "interfaces/CommsManager.h"
#include "interfaces/PortManager.h"

using tavimo_test::PortClient;
using tavimo_test::TcpClient;
using tavimo_test::UdpReceiver;
using tavimo_test::WaitFor;

namespace {
// A serial client on the far side of a virtual port, attached through its published link.
std::string PortLink(const std::string& name) {
    return comlane::CPortMap::LinkPath(name);
}

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) {
        s.push_back(static_cast<char>(v));
    }
    return s;
}

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

struct Manager {
    CPortManager manager;
    Manager() { manager.AddPortAgent(new CCommsManager); }
};
}  // namespace

TEST(PortManagerTest, ListsTheMappedPortsInNumberOrder) {
    Manager m;
    std::vector<std::string> names;
    std::vector<std::string> other;
    const int count = m.manager.GetAvailablePorts(names, other, -1);
    EXPECT_EQ(count, static_cast<int>(names.size()));
    EXPECT_TRUE(other.empty());
    for (const char* name : {"COM1", "COM2", "COM3", "COM100"}) {
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    }
    // The dialog reads the number after the first three characters of each name.
    for (const std::string& name : names) {
        EXPECT_GT(std::stoi(name.substr(3)), 0) << name;
    }

    CPortManager empty;
    empty.AddPortAgent(nullptr);
    names.clear();
    EXPECT_EQ(empty.GetAvailablePorts(names, other, -1), 0);
    EXPECT_EQ(empty.GetPort("COM2"), nullptr);
}

TEST(PortManagerTest, AVirtualPortLivesFromGetPortToReleasePortAndHasOneOwner) {
    Manager a;
    Manager b;
    const std::filesystem::path link = comlane::CPortMap::LinkPath("COM2");
    CTelegrax* port = a.manager.GetPort("COM2");
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), port->GetDevicePath());
    EXPECT_EQ(b.manager.GetPort("COM2"), nullptr);  // held for exclusive use
    EXPECT_EQ(a.manager.GetPort("COM2"), nullptr);
    EXPECT_EQ(b.manager.ReleasePort(port), 0);  // not b's to hand back
    EXPECT_EQ(a.manager.ReleasePort(port), 1);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    CTelegrax* again = b.manager.GetPort("COM2");
    EXPECT_NE(again, nullptr);  // b's manager hands it back when b goes

    for (const char* bad : {"COM77", "COM0", "bogus", "", "COM2x"}) {
        EXPECT_EQ(a.manager.GetPort(bad), nullptr) << bad;
    }
    ASSERT_TRUE(comlane::CPortMap::Map("COM8", "/dev/ttyUSB-not-plugged-in"));
    EXPECT_EQ(a.manager.GetPort("COM8"), nullptr);
    ASSERT_TRUE(comlane::CPortMap::Map("COM8", "/dev/console"));
    EXPECT_EQ(a.manager.GetPort("COM8"), nullptr);  // never the console...
    std::vector<std::string> names;
    std::vector<std::string> other;
    a.manager.GetAvailablePorts(names, other, -1);
    EXPECT_EQ(std::find(names.begin(), names.end(), "COM8"), names.end());  // ...nor listed
    comlane::CPortMap::Unmap("COM8");
}

TEST(TelegraxTest, AsciiTelegramsGoOutAsTheyStand) {
    Manager m;
    CTelegrax* port = m.manager.GetPort("COM3");
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(port->SetProtocol("TRANSMIT(ASCII), RECEIVE(ASCII)"));
    EXPECT_TRUE(port->Configure("CONFIG(115200,8,n,1)"));
    EXPECT_EQ(port->GetConfiguration(), "CONFIG(115200,8,n,1)");
    PortClient client(PortLink("COM3"));
    ASSERT_TRUE(client.IsOpen());
    const std::string hdt = "$HCHDT,005.250,T*2b\r\n";
    EXPECT_TRUE(Send(port, hdt));
    EXPECT_EQ(client.Read(hdt.size()), hdt);
    EXPECT_EQ(port->GetSentCount(), 1u);
    EXPECT_FALSE(port->SendTelegram(nullptr, 0));
}

TEST(TelegraxTest, SettingsThatDoNotParseLeaveThePortAsItWas) {
    Manager m;
    CTelegrax* port = m.manager.GetPort("COM3");
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->Configure("CONFIG(4800,8,n,1)"));
    EXPECT_FALSE(port->Configure("CONFIG(fast,8,n,1)"));
    EXPECT_EQ(port->GetConfiguration(), "CONFIG(4800,8,n,1)");
    ASSERT_TRUE(port->SetProtocol("Transmit(ByteStuffed),Receive(ByteStuffed)"));
    EXPECT_FALSE(port->SetProtocol("Transmit(Morse)"));
    EXPECT_EQ(port->GetProtocol(), "Transmit(ByteStuffed),Receive(ByteStuffed)");
}

TEST(TelegraxTest, ByteStuffedTelegramsAreFramedOutAndWholeFramesComeIn) {
    Manager m;
    CTelegrax* port = m.manager.GetPort("COM100");
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->SetProtocol("Transmit(ByteStuffed),Receive(ByteStuffed)"));
    ASSERT_TRUE(port->Configure("CONFIG(115200,8,n,1)"));
    ASSERT_TRUE(port->StartReceiving());
    PortClient client(PortLink("COM100"));
    ASSERT_TRUE(client.IsOpen());

    EXPECT_TRUE(Send(port, Bytes({'a', 0x10, 'b'}), eTelegramBinary));
    const std::string framed = Bytes({0x10, 0x02, 'a', 0x10, 0x10, 'b', 0x10, 0x03});
    EXPECT_EQ(client.Read(framed.size()), framed);

    // A frame split across writes, with a DLE at the end of the first piece.
    ASSERT_TRUE(client.Write(Bytes({'j', 'u', 'n', 'k', 0x10, 0x02, 'x', 0x10})));
    ASSERT_TRUE(client.Write(Bytes({0x10, 'y', 0x10, 0x03, 0x10, 0x02, 'z', 0x10, 0x03})));
    std::vector<std::string> frames;
    while (frames.size() < 2 && port->m_hReceiveEvent->Wait(10000)) {
        CTelegram telegram;
        while (port->ReceiveTelegram(&telegram, 0)) {
            frames.push_back(telegram.GetText());
        }
    }
    EXPECT_EQ(frames, (std::vector<std::string>{Bytes({'x', 0x10, 'y'}), "z"}));
    CTelegram none;
    EXPECT_FALSE(port->ReceiveTelegram(&none, 0));
    EXPECT_FALSE(port->m_hReceiveEvent->Wait(0));  // cleared once nothing waits
    EXPECT_TRUE(port->StopReceiving());
}

TEST(TelegraxTest, AMegabyteWithoutAFrameEndCostsOneDroppedFrameAndNothingMore) {
    Manager m;
    CTelegrax* port = m.manager.GetPort("COM100");
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->SetProtocol("Transmit(ByteStuffed),Receive(ByteStuffed)"));
    ASSERT_TRUE(port->StartReceiving());
    PortClient client(PortLink("COM100"));
    ASSERT_TRUE(client.IsOpen());
    ASSERT_TRUE(client.Write(Bytes({0x10, 0x02}) + std::string(1024 * 1024, 'z')));
    ASSERT_TRUE(client.Write(Bytes({0x10, 0x03, 0x10, 0x02, 'o', 'k', 0x10, 0x03})));
    ASSERT_TRUE(port->m_hReceiveEvent->Wait(10000));
    CTelegram telegram;
    ASSERT_TRUE(port->ReceiveTelegram(&telegram, 0));
    EXPECT_EQ(telegram.GetText(), "ok");
    EXPECT_FALSE(port->ReceiveTelegram(&telegram, 0));
    EXPECT_EQ(port->GetReceiveDroppedCount(), 1u);
}

TEST(TelegraxTest, ALineThatFallsBehindDropsNewTelegramsInsteadOfQueueingThem) {
    Manager m;
    CTelegrax* port = m.manager.GetPort("COM2");
    ASSERT_NE(port, nullptr);
    PortClient client(PortLink("COM2"));  // attached, but reads nothing
    ASSERT_TRUE(client.IsOpen());
    const std::string tss1 = ":000000  0000U 0225 -0150\r\n";
    std::size_t accepted = 0;
    for (int i = 0; i < 20; ++i) {
        accepted += Send(port, tss1) ? 1 : 0;
        // The kernel hands the bytes to the far end on its own thread: wait for them.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (client.Waiting() < static_cast<int>(accepted * tss1.size()) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
    }
    // 0, 27 and 54 bytes waiting let a telegram through; 81 is more than one cycle.
    EXPECT_EQ(accepted, 3u);
    EXPECT_EQ(port->GetDroppedCount(), 17u);
    EXPECT_EQ(client.Read(accepted * tss1.size()), tss1 + tss1 + tss1);
    // Once the client has read, telegrams flow again.
    EXPECT_TRUE(Send(port, tss1));
    EXPECT_EQ(client.Read(tss1.size()), tss1);
}

TEST(TelegraxTest, ADeviceThatDisappearsSilencesThePortWithoutHarm) {
    auto device = std::make_unique<comlane::CSerialDevice>();
    ASSERT_TRUE(device->OpenPseudoTerminal());
    ASSERT_TRUE(comlane::CPortMap::Map("COM9", device->Path()));
    Manager m;
    CTelegrax* port = m.manager.GetPort("COM9");
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->SetProtocol("Transmit(ByteStuffed),Receive(ByteStuffed)"));
    ASSERT_TRUE(port->StartReceiving());
    device.reset();  // unplugged
    EXPECT_FALSE(Send(port, "after"));
    EXPECT_FALSE(port->IsOpen());
    CTelegram telegram;
    EXPECT_FALSE(port->ReceiveTelegram(&telegram, 0));
    EXPECT_EQ(m.manager.ReleasePort(port), 1);
    comlane::CPortMap::Unmap("COM9");
}

// Telegrams sent while nobody holds a virtual port are not kept for the next reader, nor is
// what a reader left unread when it let go.
TEST(TelegraxTest, AVirtualPortHandsAReaderOnlyTelegramsFromItsOwnTime) {
    Manager m;
    CTelegrax* port = m.manager.GetPort("COM2");
    ASSERT_NE(port, nullptr);
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(Send(port, Hdt(i)));  // nobody attached
    }
    EXPECT_EQ(port->GetDroppedCount(), 0U);  // not a fault: sent, as to an unplugged line
    EXPECT_EQ(port->GetSentCount(), 5U);
    auto first = std::make_unique<PortClient>(PortLink("COM2"));
    ASSERT_TRUE(first->IsOpen());
    EXPECT_EQ(first->Waiting(), 0);
    ASSERT_TRUE(Send(port, Hdt(5)));
    EXPECT_EQ(first->Read(Hdt(5).size()), Hdt(5));
    // The first reader leaves two telegrams unread.
    ASSERT_TRUE(Send(port, Hdt(6)));
    ASSERT_TRUE(Send(port, Hdt(7)));
    ASSERT_TRUE(WaitFor([&] { return first->Waiting() == static_cast<int>(2 * Hdt(6).size()); }));
    first.reset();
    ASSERT_TRUE(Send(port, Hdt(8)));  // nobody attached again
    auto second = std::make_unique<PortClient>(PortLink("COM2"));
    ASSERT_TRUE(second->IsOpen());
    EXPECT_EQ(second->Waiting(), 0);
    ASSERT_TRUE(Send(port, Hdt(9)));
    EXPECT_EQ(second->Read(Hdt(9).size()), Hdt(9));
    // Two readers at once: both get the port, and one leaving leaves the other served.
    PortClient third(PortLink("COM2"));
    second.reset();
    ASSERT_TRUE(Send(port, Hdt(10)));
    EXPECT_EQ(third.Read(Hdt(10).size()), Hdt(10));
    EXPECT_EQ(m.manager.ReleasePort(port), 1);
}

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
