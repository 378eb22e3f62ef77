#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "PortClient.h"
#include "app/AttitudeTelegramWorker.h"
#include "app/BinaryTelegramWorker.h"
#include "comlane/SerialDevice.h"
#include "interfaces/ErrorLog.h"
#include "platform/Messages.h"

using tavimo_test::PortClient;

namespace {
constexpr DWORD kBoundMs = 10000;

// A worker whose passes the test can wait for: each port opening and each send cycle
// signals an event once it is done.
template <typename Worker>
class Observed : public Worker {
public:
    using Worker::Worker;
    ~Observed() override { this->StopThread(); }
    void OpenPort() override {
        Worker::OpenPort();
        opened.Set();
    }
    void SendTelegrams() override {
        Worker::SendTelegrams();
        if (this->m_pPort != nullptr) {
            std::lock_guard lock(m_lastMutex);
            m_lastPort = this->m_pPort->GetPortName();
            m_lastPortSent = this->m_pPort->GetSentCount();
        }
        sent.Set();
    }
    // The port of the last send cycle and how many telegrams that port has sent.
    std::pair<std::string, unsigned long> LastSend() const {
        std::lock_guard lock(m_lastMutex);
        return {m_lastPort, m_lastPortSent};
    }
    CEvent opened{false, false};
    CEvent sent{false, false};

private:
    mutable std::mutex m_lastMutex;
    std::string m_lastPort;
    unsigned long m_lastPortSent = 0;
};
using AttitudeWorker = Observed<CAttitudeTelegramWorker>;

// A serial client on the far side of the virtual port COM<com>.
std::string PortLink(int com) {
    return comlane::CPortMap::LinkPath("COM" + std::to_string(com));
}

std::string Hdt(float h) {
    char out[telegrams::kMaxTelegramLength];
    return std::string(out, telegrams::FormatHDT(out, h));
}
std::string Hdm(float h) {
    char out[telegrams::kMaxTelegramLength];
    return std::string(out, telegrams::FormatHDM(out, h));
}
std::string Tss1(float r, float p) {
    char out[telegrams::kMaxTelegramLength];
    return std::string(out, telegrams::FormatTSS1(out, r, p));
}
std::string Tss2(float h, float r, float p) {
    char out[telegrams::kMaxTelegramLength];
    return std::string(out, telegrams::FormatTSS2(out, h, r, p));
}
std::string Prdid(float p, float r, float h) {
    char out[telegrams::kMaxTelegramLength];
    return std::string(out, telegrams::FormatPRDID(out, p, r, h));
}

bool LinkExists(int com) {
    return std::filesystem::exists(
        std::filesystem::symlink_status(comlane::CPortMap::LinkPath("COM" + std::to_string(com))));
}
}  // namespace

TEST(AttitudeTelegramWorkerTest, SendsEveryTypeByteForByteInOrder) {
    AttitudeWorker worker(TELEGRAM_HDT, 2, 115200);
    ASSERT_TRUE(worker.StartThread());
    ASSERT_TRUE(worker.opened.Wait(kBoundMs));  // the first pass opens the port
    ASSERT_TRUE(worker.HasPort());
    PortClient client(PortLink(2));
    ASSERT_TRUE(client.IsOpen());

    // Magnetic 25.25 with variation 20: true heading 5.25.
    const float roll = 2.25f;
    const float pitch = -1.5f;
    const std::string expected[] = {
        "",
        Hdm(25.25f),
        "$HCHDT,005.250,T*2b\r\n",
        ":000000  0000U 0225 -0150\r\n",
        ":00525  0000U 0225 -0150F\r\n",
        "$PRDID,  -1.500,   2.250,   5.250*67\r\n",
        "$HCHDT,005.250,T*2b\r\n:000000  0000U 0225 -0150\r\n",
        Hdm(25.25f) + ":000000  0000U 0225 -0150\r\n",
    };
    for (int type = 1; type <= 7; ++type) {
        worker.SetTelegramType(type);
        worker.SetAttitude(1000.0 + type, roll, pitch, 25.25f, 20.0f);
        EXPECT_EQ(client.Read(expected[type].size()), expected[type]) << "type " << type;
        ASSERT_TRUE(worker.sent.Wait(kBoundMs));
    }
    // Types outside the list send nothing: the next bytes are those of a later HDT.
    for (const int type : {0, kOutputTelegramCount, -1}) {
        worker.SetTelegramType(type);
        worker.SetAttitude(2000.0, roll, pitch, 100.0f, 0.0f);
        ASSERT_TRUE(worker.sent.Wait(kBoundMs));
    }
    worker.SetTelegramType(TELEGRAM_HDT);
    worker.SetAttitude(3000.0, roll, pitch, 42.0f, 0.0f);
    EXPECT_EQ(client.Read(Hdt(42.0f).size()), Hdt(42.0f));
    EXPECT_EQ(Prdid(-1.5f, 2.25f, 5.25f), expected[5]);
    EXPECT_EQ(Tss2(5.25f, roll, pitch), expected[4]);
    EXPECT_EQ(Tss1(roll, pitch), expected[3]);
}

// A virtual port nobody has held for five seconds of 1 Hz output hands its next reader the
// telegram of its own time first, not the headings of seconds ago.
TEST(AttitudeTelegramWorkerTest, AReaderAfterFiveIdleSecondsGetsAFreshLineFirst) {
    AttitudeWorker worker(TELEGRAM_HDT, 2, 115200);
    ASSERT_TRUE(worker.StartThread());
    ASSERT_TRUE(worker.opened.Wait(kBoundMs));
    for (int second = 0; second < 5; ++second) {
        worker.SetAttitude(1000.0 * second, 0, 0, 10.0f + static_cast<float>(second), 0);
        ASSERT_TRUE(worker.sent.Wait(kBoundMs));
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    PortClient client(PortLink(2));
    ASSERT_TRUE(client.IsOpen());
    worker.SetAttitude(5000.0, 0, 0, 17.0f, 0);
    EXPECT_EQ(client.Read(Hdt(17.0f).size()), Hdt(17.0f));
}

TEST(AttitudeTelegramWorkerTest, TrueHeadingIsBroughtIntoRangeOnce) {
    AttitudeWorker worker(TELEGRAM_HDT, 2, 115200);
    ASSERT_TRUE(worker.StartThread());
    ASSERT_TRUE(worker.opened.Wait(kBoundMs));
    PortClient client(PortLink(2));
    ASSERT_TRUE(client.IsOpen());
    const struct {
        float magnetic;
        float variation;
        const char* heading;
    } cases[] = {{10, 20, "350.000"},
                 {350, -20, "010.000"},
                 {340, -20, "360.000"},
                 {-30, 10, "320.000"},
                 {720, 0, "360.000"}};
    for (const auto& c : cases) {
        worker.SetAttitude(1.0, 0, 0, c.magnetic, c.variation);
        const std::string got = client.Read(Hdt(0).size());
        EXPECT_EQ(got.substr(7, 7), c.heading) << c.magnetic << " " << c.variation;
    }
}

TEST(AttitudeTelegramWorkerTest, StaysSilentWithoutAPortUntilASetPortSucceeds) {
    AttitudeWorker worker(TELEGRAM_HDT, 77, 9600);  // no device is mapped to COM77
    ASSERT_TRUE(worker.StartThread());
    ASSERT_TRUE(worker.opened.Wait(kBoundMs));
    EXPECT_FALSE(worker.HasPort());
    worker.SetAttitude(1.0, 0, 0, 90.0f, 0);
    ASSERT_TRUE(worker.sent.Wait(kBoundMs));  // the cycle ran and did nothing

    worker.SetPort(2, 115200);
    ASSERT_TRUE(worker.opened.Wait(kBoundMs));
    EXPECT_TRUE(worker.HasPort());
    EXPECT_EQ(worker.GetComNumber(), 2);
    PortClient client(PortLink(2));
    worker.SetAttitude(2.0, 0, 0, 90.0f, 0);
    EXPECT_EQ(client.Read(Hdt(90.0f).size()), Hdt(90.0f));
}

TEST(AttitudeTelegramWorkerTest, ReopeningHandsTheOldPortBackBeforeTakingTheNewOne) {
    AttitudeWorker worker(TELEGRAM_HDT, 2, 115200);
    ASSERT_TRUE(worker.StartThread());
    ASSERT_TRUE(worker.opened.Wait(kBoundMs));
    // The same port again: only possible when the held one was released first, since a
    // port has one owner at a time.
    worker.SetPort(2, 9600);
    ASSERT_TRUE(worker.opened.Wait(kBoundMs));
    EXPECT_TRUE(worker.HasPort());
    EXPECT_EQ(worker.GetBaudRate(), 9600u);

    worker.SetPort(3, 115200);
    ASSERT_TRUE(worker.opened.Wait(kBoundMs));
    EXPECT_FALSE(LinkExists(2));
    EXPECT_TRUE(LinkExists(3));
    PortClient client(PortLink(3));
    worker.SetAttitude(1.0, 0, 0, 180.0f, 0);
    EXPECT_EQ(client.Read(Hdt(180.0f).size()), Hdt(180.0f));
}

TEST(AttitudeTelegramWorkerTest, APortChangeAndAnAttitudeArrivingTogetherBothTakeEffect) {
    AttitudeWorker worker(TELEGRAM_HDT, 2, 115200);
    ASSERT_TRUE(worker.StartThread());
    ASSERT_TRUE(worker.opened.Wait(kBoundMs));
    for (int round = 0; round < 20; ++round) {
        const int com = round % 2 == 0 ? 3 : 2;
        worker.SetPort(static_cast<short>(com), 115200);
        worker.SetAttitude(round, 0, 0, 10.0f + round, 0);
        ASSERT_TRUE(worker.opened.Wait(kBoundMs)) << round;
        ASSERT_TRUE(worker.sent.Wait(kBoundMs)) << round;
        // The telegram went out on the new port (nobody reads it, so it is not kept).
        EXPECT_EQ(worker.LastSend(), std::make_pair("COM" + std::to_string(com), 1UL)) << round;
    }
}

TEST(AttitudeTelegramWorkerTest, AnUnpluggedDeviceSilencesTheOutputUntilTheNextSetPort) {
    auto device = std::make_unique<comlane::CSerialDevice>();
    ASSERT_TRUE(device->OpenPseudoTerminal());
    ASSERT_TRUE(comlane::CPortMap::Map("COM9", device->Path()));
    AttitudeWorker worker(TELEGRAM_HDT_TSS1, 9, 115200);
    ASSERT_TRUE(worker.StartThread());
    ASSERT_TRUE(worker.opened.Wait(kBoundMs));
    ASSERT_TRUE(worker.HasPort());
    device.reset();
    for (int i = 0; i < 3; ++i) {
        worker.SetAttitude(i, 1, 1, 1, 0);
        ASSERT_TRUE(worker.sent.Wait(kBoundMs));
    }
    worker.SetPort(2, 115200);
    ASSERT_TRUE(worker.opened.Wait(kBoundMs));
    PortClient client(PortLink(2));
    worker.SetAttitude(9.0, 2.25f, -1.5f, 5.25f, 0);
    const std::string expected = Hdt(5.25f) + Tss1(2.25f, -1.5f);
    EXPECT_EQ(client.Read(expected.size()), expected);
    comlane::CPortMap::Unmap("COM9");
}

TEST(AttitudeTelegramWorkerTest, AStopRequestEndsTheThreadAndReleasesThePort) {
    std::mutex mutex;
    std::vector<std::string> lines;
    platform::SetThreadTraceHook([&](const std::string& line) {
        std::lock_guard lock(mutex);
        lines.push_back(line);
    });
    {
        AttitudeWorker worker(TELEGRAM_TSS2, 2, 115200);
        ASSERT_TRUE(worker.StartThread());
        ASSERT_TRUE(worker.opened.Wait(kBoundMs));
        worker.StopThread();
        EXPECT_FALSE(worker.IsRunning());
    }
    platform::SetThreadTraceHook(nullptr);
    EXPECT_FALSE(LinkExists(2));
    std::lock_guard lock(mutex);
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("(XsensMT9::TelegramWorkerThread): Has QUIT already (OK)"),
              std::string::npos)
        << lines.back();
    bool signalled = false;
    for (const std::string& line : lines) {
        signalled |= line.find("Was signalled: (OK)") != std::string::npos;
    }
    EXPECT_TRUE(signalled);
}

TEST(AttitudeTelegramWorkerTest, TracesItsLifeIdleWaitsAndAMissingPortOnce) {
    setenv("TAVIMO_TRACE", "1", 1);
    faultbook::RefreshTraceSettings();
    std::mutex mutex;
    std::vector<std::string> lines;
    CEvent idle{true, false};
    faultbook::SetTraceSink([&](const faultbook::TraceRecord& r) {
        if (r.object != "CTelegramWorkerThread") {
            return;
        }
        std::lock_guard lock(mutex);
        lines.push_back(r.context + " / " + r.text);
        if (r.text == "WAIT_TIMEOUT") {
            idle.Set();
        }
    });
    {
        AttitudeWorker worker(TELEGRAM_HDT, 77, 9600);  // no port to be had
        ASSERT_TRUE(worker.StartThread());
        ASSERT_TRUE(worker.opened.Wait(kBoundMs));
        worker.SetAttitude(1.0, 0, 0, 1, 0);
        ASSERT_TRUE(worker.sent.Wait(kBoundMs));
        EXPECT_TRUE(idle.Wait(kBoundMs));  // a 200 ms wait ran out
        worker.StopThread();
    }
    faultbook::SetTraceSink(nullptr);
    unsetenv("TAVIMO_TRACE");
    faultbook::RefreshTraceSettings();
    std::lock_guard lock(mutex);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines.front(), "CTelegramWorkerThread() / OK");
    EXPECT_EQ(lines[1], "CTelegramWorkerThread::OnThreadStartup() / OK");
    EXPECT_EQ(lines.back(), "CTelegramWorkerThread::OnThreadShutdown() / OK");
    int missing = 0;
    for (std::size_t i = 2; i + 1 < lines.size(); ++i) {
        if (lines[i].rfind("OpenPort / ", 0) == 0) {
            EXPECT_EQ(lines[i],
                      "OpenPort / Output port COM77 cannot be opened: its telegrams are not sent; "
                      "trying again every second");
            ++missing;
        } else {
            EXPECT_EQ(lines[i], "ProcessData / WAIT_TIMEOUT");
        }
    }
    EXPECT_EQ(missing, 1);
}

TEST(AttitudeTelegramWorkerTest, AMissingPortIsToldOnceRetriedAndToldAgainWhenItOpens) {
    comlane::CPortMap::Unmap("COM78");
    testing::internal::CaptureStderr();
    AttitudeWorker worker(TELEGRAM_HDT, 78, 115200);
    ASSERT_TRUE(worker.StartThread());
    ASSERT_TRUE(worker.opened.Wait(kBoundMs));
    EXPECT_TRUE(worker.IsPortFailed());
    // Tried again while it stays missing, without another word.
    ASSERT_TRUE(worker.opened.Wait(kBoundMs));
    ASSERT_TRUE(worker.opened.Wait(kBoundMs));
    EXPECT_FALSE(worker.HasPort());

    ASSERT_TRUE(comlane::CPortMap::Map("COM78", comlane::CPortMap::kPseudoTerminal));
    for (int i = 0; i < 20 && !worker.HasPort(); ++i) {
        worker.opened.Wait(kBoundMs);
    }
    EXPECT_TRUE(worker.HasPort());
    EXPECT_FALSE(worker.IsPortFailed());
    PortClient client(PortLink(78));
    worker.SetAttitude(1.0, 0, 0, 45.0f, 0);
    EXPECT_EQ(client.Read(Hdt(45.0f).size()), Hdt(45.0f));
    worker.StopThread();
    const std::string said = testing::internal::GetCapturedStderr();
    comlane::CPortMap::Unmap("COM78");
    const std::string failed =
        "Tavimo: Output port COM78 cannot be opened: its telegrams are not sent; trying again "
        "every second\n";
    const std::string opened = "Tavimo: Output port COM78 is open again: its telegrams are sent\n";
    EXPECT_EQ(said, failed + opened);
}

namespace {
using BinaryWorker = Observed<CBinaryTelegramWorker>;

std::string Frame(const std::string& payload) {
    std::string out = "\x10\x02";
    for (const char c : payload) {
        out.push_back(c);
        if (c == '\x10') {
            out.push_back(c);
        }
    }
    return out + "\x10\x03";
}

std::string TakeMessage(CRecordingMessageTarget& window) {
    const auto message = window.Next(kBoundMs);
    if (!message) {
        ADD_FAILURE() << "no message";
        return {};
    }
    EXPECT_EQ(message->message, WM_USER + 100u);
    const char* text = reinterpret_cast<const char*>(message->lParam);
    std::string copy(text, message->wParam);
    EXPECT_EQ(text[message->wParam], '\0');
    FreeBinaryTelegram(message->lParam);
    return copy;
}

struct MainWindow {
    CRecordingMessageTarget window;
    MainWindow() { AfxSetMainWnd(&window); }
    ~MainWindow() { AfxSetMainWnd(nullptr); }
};
}  // namespace

TEST(BinaryTelegramWorkerTest, PostsEveryReceivedTelegramInArrivalOrderWithItsOwnCopy) {
    MainWindow main;
    BinaryWorker worker;
    ASSERT_TRUE(worker.StartThread());
    worker.SetPort(100, 115200);
    ASSERT_TRUE(worker.opened.Wait(kBoundMs));
    PortClient client(PortLink(100));
    ASSERT_TRUE(client.IsOpen());

    ASSERT_TRUE(client.Write(Frame("one") + Frame("two") + Frame(std::string("th\x10ree", 6))));
    EXPECT_EQ(TakeMessage(main.window), "one");
    EXPECT_EQ(TakeMessage(main.window), "two");
    EXPECT_EQ(TakeMessage(main.window), std::string("th\x10ree", 6));

    // Split across reads, a DLE ending the first piece, garbage around it.
    const std::string frame = "noise" + Frame(std::string("a\x10z", 3));
    ASSERT_TRUE(client.Write(frame.substr(0, 8)));
    ASSERT_TRUE(client.Write(frame.substr(8)));
    EXPECT_EQ(TakeMessage(main.window), std::string("a\x10z", 3));

    // The same port once more: handed back before it is taken again.
    worker.SetPort(100, 9600);
    ASSERT_TRUE(worker.opened.Wait(kBoundMs));
    EXPECT_TRUE(worker.HasPort());
    PortClient again(PortLink(100));
    ASSERT_TRUE(again.Write(Frame("after")));
    EXPECT_EQ(TakeMessage(main.window), "after");
    worker.StopThread();
    EXPECT_EQ(main.window.Pending(), 0u);
}

TEST(BinaryTelegramWorkerTest, WithoutAPortItWaitsQuietlyAndStopsAtOnce) {
    MainWindow main;
    BinaryWorker worker;
    ASSERT_TRUE(worker.StartThread());
    worker.StopThread();  // a wait without time-out: the stop request must wake it
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_FALSE(worker.HasThreadHandle());
    EXPECT_FALSE(worker.opened.Wait(0));
    EXPECT_FALSE(worker.HasPort());
    EXPECT_EQ(main.window.Pending(), 0u);
}
