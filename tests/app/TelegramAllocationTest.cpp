// The send path from attitude to port allocates nothing once it runs: a heap allocation
// can wait on the allocator's locks or fault in a page, which a real-time thread must not.
// Every allocation of this test program is counted.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <string>

#include "app/AttitudeTelegramWorker.h"
#include "comlane/SerialDevice.h"
#include "interfaces/CommsManager.h"
#include "interfaces/PortManager.h"

#include "AllocationCounter.h"

namespace {

// The far side of a virtual port, drained between sends so that none is dropped.
class FarEnd {
public:
    explicit FarEnd(int com)
        : m_fd(::open(comlane::CPortMap::LinkPath("COM" + std::to_string(com)).c_str(),
                      O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~FarEnd() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    bool IsOpen() const { return m_fd >= 0; }
    // Reads until `bytes` have come (bounded); the count read.
    std::size_t Drain(std::size_t bytes) {
        char buffer[4096];
        std::size_t got = 0;
        while (got < bytes) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 10000) != 1) {
                break;
            }
            const ssize_t n = ::read(m_fd, buffer, sizeof(buffer));
            if (n <= 0) {
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        return got;
    }

private:
    int m_fd;
};

class Worker : public CAttitudeTelegramWorker {
public:
    using CAttitudeTelegramWorker::CAttitudeTelegramWorker;
    CTelegrax* Port() const { return m_pPort; }
};

TEST(TelegramSendAllocation, EveryTelegramTypeSendsWithoutAllocating) {
    for (int type = TELEGRAM_HDM; type <= TELEGRAM_HDM_TSS1; ++type) {
        Worker worker(type, 2, 115200);
        worker.OpenPort();  // on this thread: the worker's own is not started
        ASSERT_NE(worker.Port(), nullptr) << type;
        FarEnd far(2);
        ASSERT_TRUE(far.IsOpen());
        const int perCycle = type >= TELEGRAM_HDT_TSS1 ? 2 : 1;
        long allocations = 0;
        std::size_t bytes = 0;
        const unsigned long sentBefore = worker.Port()->GetSentCount();
        for (int cycle = 0; cycle < 60; ++cycle) {
            const float heading = static_cast<float>(cycle) * 6.1F;  // texts of every length
            const long before = AllocationCount();
            worker.SetAttitude(cycle, -3.5F + cycle * 0.1F, 2.25F, heading, 1.5F);
            worker.SendTelegrams();
            const long made = AllocationCount() - before;
            if (cycle >= 3) {  // after the first sends have set the path up
                allocations += made;
            }
            const unsigned long sent = worker.Port()->GetSentCount() - sentBefore;
            ASSERT_EQ(sent, static_cast<unsigned long>((cycle + 1) * perCycle)) << type;
            bytes += far.Drain(1);
        }
        EXPECT_EQ(allocations, 0) << g_szOutputTelegramNames[type];
        EXPECT_GT(bytes, 0U);
    }
}

TEST(TelegramSendAllocation, ByteStuffedFramesGoOutWithoutAllocating) {
    CPortManager manager;
    manager.AddPortAgent(new CCommsManager);
    CTelegrax* port = manager.GetPort("COM3");
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->SetProtocol("Transmit(ByteStuffed),Receive(ByteStuffed)"));
    FarEnd far(3);
    ASSERT_TRUE(far.IsOpen());
    CTelegram telegram(eTelegramBinary);
    telegram.m_sText.reserve(64);
    long allocations = 0;
    for (int i = 0; i < 50; ++i) {
        const char payload[] = {'\x10', 'A', static_cast<char>('a' + i % 20), '\x10', 'Z'};
        const long before = AllocationCount();
        telegram.SetText(payload, sizeof(payload));
        ASSERT_TRUE(port->SendTelegram(&telegram, 0));
        if (i >= 3) {
            allocations += AllocationCount() - before;
        }
        // DLE STX, five bytes with two DLE doubled, DLE ETX.
        EXPECT_EQ(far.Drain(11), 11U);
    }
    EXPECT_EQ(allocations, 0);
    manager.ReleasePort(port);
}

}  // namespace
