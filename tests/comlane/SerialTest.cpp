#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comlane/Serial.h"
#include "interfaces/Tickwise.h"

using comlane::CSerialDevice;

namespace {
template <typename T>
T* PopWithin(CThreadSafeQueue<T*>& queue) {
    auto result = std::async(std::launch::async, [&] { return queue.Pop(); });
    if (result.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        queue.ReleaseWaiters();
        ADD_FAILURE() << "nothing arrived";
    }
    return result.get();
}

// The far end of a pseudo-terminal: the test's side of the line a CSerial opens.
struct Line {
    CSerialDevice far;
    Line() { EXPECT_TRUE(far.OpenPseudoTerminal()); }
    std::string ReadExactly(std::size_t n) {
        std::string got;
        char buffer[512];
        while (got.size() < n && far.WaitReadable(10000)) {
            const long r = far.Read(buffer, sizeof(buffer));
            if (r < 0) {
                break;
            }
            got.append(buffer, static_cast<std::size_t>(r));
        }
        return got;
    }
};
}  // namespace

TEST(SerialTest, SettingsNeedAnOpenPortAndSetTheReadIntervalFromTheRate) {
    CSerial serial;
    EXPECT_EQ(serial.GetBaudRate(), -1);
    EXPECT_EQ(serial.GetDataBits(), 0);
    EXPECT_EQ(serial.SetBaudRate(CBR_9600), 0);
    EXPECT_EQ(serial.Config(CBR_9600, DATABITS_8, NOPARITY, ONESTOPBIT), 1);
    EXPECT_EQ(serial.Open(nullptr), 0);
    EXPECT_EQ(serial.Open("COM77"), 0);  // no device behind the name
    EXPECT_EQ(serial.Open("/nonexistent/tty"), 0);

    Line line;
    ASSERT_EQ(serial.Open(line.far.Path().c_str()), 1);  // a failed Open may be retried
    EXPECT_EQ(serial.GetBaudRate(), 9600);
    EXPECT_EQ(serial.GetTimeouts().ReadIntervalTimeout, 2u);
    EXPECT_EQ(serial.SetBaudRate(CBR_115200), 1);
    EXPECT_EQ(serial.GetTimeouts().ReadIntervalTimeout, 1u);  // 20000 / 115200 gives 0
    EXPECT_EQ(serial.GetBaudRate(), 115200);
    EXPECT_EQ(serial.Config(CBR_4800, DATABITS_7, EVENPARITY, ONE5STOPBITS), 1);
    EXPECT_EQ(serial.GetBaudRate(), 4800);
    EXPECT_EQ(serial.GetDataBits(), 8);  // a pseudo-terminal keeps 8 bits, no parity
    EXPECT_EQ(serial.GetStopBits(), ONE5STOPBITS);
    serial.SetTimeout(50);
    EXPECT_EQ(serial.GetTimeouts().ReadIntervalTimeout, 50u);
    EXPECT_EQ(serial.GetTimeouts().ReadTotalTimeoutConstant, 0u);
    serial.Close();
    EXPECT_EQ(serial.Open(line.far.Path().c_str()), 0);  // opened once only
}

TEST(SerialTest, ReceivedBlocksAreStampedFromTheirFirstCharacter) {
    const double now = 1.0e6;
    CTickwise::SetClockForTesting([now] { return now; });
    Line line;
    {
        CSerial serial;
        ASSERT_EQ(serial.Open(line.far.Path().c_str()), 1);
        // 96 different bytes: each block's first byte tells where it belongs.
        std::string sent;
        for (int i = 0; i < 96; ++i) {
            sent.push_back(static_cast<char>(' ' + i));
        }
        ASSERT_EQ(line.far.Write(sent.data(), sent.size()), 96);
        const double charTime = 1000.0 * 10 / 9600;
        std::map<std::size_t, std::string> blocks;  // by offset in what was sent
        std::size_t received = 0;
        while (received < sent.size()) {
            CBuffer* block = PopWithin(serial.GetReadQueue());
            ASSERT_NE(block, nullptr);
            EXPECT_NEAR(block->m_dfCharacterTime, charTime, 1e-12);
            // 96 bytes read at T are stamped T - 100.
            EXPECT_NEAR(block->m_dfTimeStamp, now - charTime * block->m_dwLength, 1e-9);
            EXPECT_EQ(block->m_pData[block->m_dwLength], 0);
            const std::string bytes(reinterpret_cast<char*>(block->m_pData), block->m_dwLength);
            delete block;
            ASSERT_FALSE(bytes.empty());
            const std::size_t offset = sent.find(bytes[0]);
            // Each block is one unbroken piece of the stream, never a mix.
            ASSERT_EQ(sent.compare(offset, bytes.size(), bytes), 0) << bytes;
            ASSERT_TRUE(blocks.emplace(offset, bytes).second) << "received twice: " << bytes;
            received += bytes.size();
        }
        // Completion threads may queue the pieces in either order; put together by where
        // they belong, they are the stream, with nothing lost, doubled or changed.
        std::string joined;
        for (const auto& [offset, bytes] : blocks) {
            EXPECT_EQ(offset, joined.size());
            joined += bytes;
        }
        EXPECT_EQ(joined, sent);
    }
    CTickwise::SetClockForTesting(nullptr);
}

TEST(SerialTest, WriteQueueBlocksGoOutInOrderAndEmptyOnesAreSkipped) {
    Line line;
    CSerial serial;
    ASSERT_EQ(serial.Open(line.far.Path().c_str()), 1);
    std::string expected;
    for (int i = 0; i < 40; ++i) {
        const std::string text = "block " + std::to_string(i) + "\r\n";
        auto* block = new CBuffer;
        block->m_pData = new BYTE[text.size()];
        std::memcpy(block->m_pData, text.data(), text.size());
        block->m_dwLength = static_cast<DWORD>(text.size());
        ASSERT_TRUE(serial.GetWriteQueue().Push(block));
        if (i % 10 == 5) {
            // Length 0 with data behind it: the length rules, nothing is written.
            auto* empty = new CBuffer;
            empty->m_pData = new BYTE[2]{'X', 'X'};
            empty->m_dwLength = 0;
            ASSERT_TRUE(serial.GetWriteQueue().Push(empty));
        }
        expected += text;
    }
    // Byte for byte in the order queued: a line carries telegrams, and two of them
    // swapped or interleaved are two wrong telegrams.
    EXPECT_EQ(line.ReadExactly(expected.size()), expected);
    char extra = 0;
    EXPECT_FALSE(line.far.WaitReadable(100) && line.far.Read(&extra, 1) > 0)
        << "unexpected byte " << extra;
}

TEST(SerialTest, CloseWithBlocksStillQueuedLosesNothingAndLeaksNothing) {
    Line line;
    CSerial serial;
    ASSERT_EQ(serial.Open(line.far.Path().c_str()), 1);
    ASSERT_EQ(line.far.Write("unread", 6), 6);
    for (int i = 0; i < 50; ++i) {
        auto* block = new CBuffer;
        block->m_pData = new BYTE[512]();
        block->m_dwLength = 512;
        serial.GetWriteQueue().Push(block);
    }
    serial.Close();  // the sanitizer build reports any block left behind
    EXPECT_EQ(serial.GetWriteQueue().Count(), 0);
    EXPECT_EQ(serial.GetReadQueue().Count(), 0);
}

TEST(SerialTest, AVanishedLineStopsTransfersWithoutHarm) {
    auto line = std::make_unique<Line>();
    CSerial serial;
    ASSERT_EQ(serial.Open(line->far.Path().c_str()), 1);
    line.reset();
    for (int i = 0; i < 3; ++i) {
        auto* block = new CBuffer;
        block->m_pData = new BYTE[4]{'a', 'b', 'c', 'd'};
        block->m_dwLength = 4;
        ASSERT_TRUE(serial.GetWriteQueue().Push(block));
    }
    // The writer still takes every block (and frees it, unwritten), nothing is received
    // from a line that is not there, and the port closes at once.
    for (int i = 0; i < 1000 && serial.GetWriteQueue().Count() > 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(serial.GetWriteQueue().Count(), 0);
    EXPECT_EQ(serial.GetReadQueue().Count(), 0);
    serial.Close();
    EXPECT_EQ(serial.GetReadQueue().Count(), 0);
}

namespace {
// The control lines as SetCTS and SendBreak set them, with when.
struct ControlLog {
    struct Change {
        comlane::LineControl line;
        bool on;
        std::chrono::steady_clock::time_point when;
    };
    std::mutex mutex;
    std::vector<Change> changes;
    comlane::LineControlWriter Writer() {
        return [this](comlane::LineControl line, bool on) {
            std::lock_guard lock(mutex);
            changes.push_back({line, on, std::chrono::steady_clock::now()});
        };
    }
};
}  // namespace

TEST(SerialTest, SetCtsTurnsRtsOffAndOnAndABreakLastsThreeHundredMilliseconds) {
    Line line;
    CSerial serial;
    ControlLog log;
    serial.SetLineControlForTesting(log.Writer());
    serial.SetCTS(true);  // without a port: nothing reaches a line
    EXPECT_TRUE(log.changes.empty());
    ASSERT_EQ(serial.Open(line.far.Path().c_str()), 1);
    serial.SetCTS(true);
    serial.SetCTS(false);
    ASSERT_EQ(log.changes.size(), 2u);
    EXPECT_EQ(log.changes[0].line, comlane::LineControl::Rts);
    EXPECT_FALSE(log.changes[0].on);  // true turns RTS off
    EXPECT_EQ(log.changes[1].line, comlane::LineControl::Rts);
    EXPECT_TRUE(log.changes[1].on);

    // The argument has no effect: 5000 holds the break as long as 0 does, 300 ms.
    for (const unsigned long asked : {5000UL, 0UL}) {
        SCOPED_TRACE(asked);
        log.changes.clear();
        const auto before = std::chrono::steady_clock::now();
        serial.SendBreak(asked);
        const auto after = std::chrono::steady_clock::now();
        ASSERT_EQ(log.changes.size(), 2u);
        EXPECT_EQ(log.changes[0].line, comlane::LineControl::Break);
        EXPECT_TRUE(log.changes[0].on);
        EXPECT_FALSE(log.changes[1].on);
        const auto held = log.changes[1].when - log.changes[0].when;
        EXPECT_GE(held, std::chrono::milliseconds(300));
        // Far below the 5000 asked for, however busy the machine is.
        EXPECT_LT(held, std::chrono::milliseconds(3000));
        EXPECT_GE(after - log.changes[1].when, std::chrono::milliseconds(10));
        EXPECT_GE(log.changes[0].when, before);
    }
}

namespace {
// A line whose modem lines the test sets: CTS level and the driver's running counts.
struct FakeLines {
    std::mutex mutex;
    comlane::LineState state;
    void Set(bool cts, unsigned extraChanges = 0) {
        std::lock_guard lock(mutex);
        state.ctsChanges += (state.cts != cts ? 1 : 0) + extraChanges;
        state.cts = cts;
    }
    void Break() {
        std::lock_guard lock(mutex);
        ++state.breaks;
    }
    comlane::LineStateReader Reader() {
        return [this](comlane::LineState& out) {
            std::lock_guard lock(mutex);
            out = state;
            return true;
        };
    }
};
}  // namespace

TEST(SerialTest, CtsRisingEdgesAndBreaksBecomeEvents) {
    const double now = 5000.0;
    CTickwise::SetClockForTesting([now] { return now; });
    FakeLines lines;
    Line line;
    {
        CSerial serial;
        serial.SetLineStateReaderForTesting(lines.Reader());
        ASSERT_EQ(serial.Open(line.far.Path().c_str()), 1);
        // Two pulses (on, off, on, off) between two looks of the watcher: two rising edges.
        lines.Set(false, 4);
        for (int i = 0; i < 2; ++i) {
            CSerialEvent* e = PopWithin(serial.GetEventQueue());
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(e->m_dwEventCode, EV_CTS);
            EXPECT_EQ(e->m_dfTimeStamp, now);
            delete e;
        }
        lines.Break();
        CSerialEvent* e = PopWithin(serial.GetEventQueue());
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->m_dwEventCode, EV_BREAK);
        delete e;
        // A falling edge alone queues nothing; the next rising edge does.
        lines.Set(true);
        e = PopWithin(serial.GetEventQueue());
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->m_dwEventCode, EV_CTS);
        delete e;
        lines.Set(false);
        lines.Break();
        e = PopWithin(serial.GetEventQueue());
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->m_dwEventCode, EV_BREAK);  // the fall made no event
        delete e;
    }
    CTickwise::SetClockForTesting(nullptr);
}

TEST(SerialTest, BytesWithinTheReadIntervalComeBackAsOneBlock) {
    Line line;
    CSerial serial;
    ASSERT_EQ(serial.Open(line.far.Path().c_str()), 1);
    serial.SetTimeout(1000);  // generous: the two writes below are one message
    ASSERT_EQ(line.far.Write("$HCHDT,", 7), 7);
    ASSERT_EQ(line.far.Write("005.250,T*2b\r\n", 14), 14);
    CBuffer* block = PopWithin(serial.GetReadQueue());
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block->m_pData), block->m_dwLength),
              "$HCHDT,005.250,T*2b\r\n");
    delete block;
}

TEST(SerialTest, AnEmptyReadCompletionQueuesNothingAndReadsAgain) {
    Line line;
    CSerial serial;
    ASSERT_EQ(serial.Open(line.far.Path().c_str()), 1);
    serial.SetTimeout(1000);
    // Every outstanding read ends empty, twice over: each must be issued again.
    int ended = 0;
    for (int round = 0; round < 2; ++round) {
        int n = 0;
        for (int i = 0; i < 500 && n == 0; ++i) {
            n = serial.CompletePendingReadsEmptyForTesting();
            if (n == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        ASSERT_GT(n, 0);
        ended += n;
    }
    EXPECT_GE(ended, 2);
    ASSERT_EQ(line.far.Write("after", 5), 5);
    CBuffer* block = PopWithin(serial.GetReadQueue());
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block->m_pData), block->m_dwLength), "after");
    delete block;
    EXPECT_EQ(serial.GetReadQueue().Count(), 0);  // no empty block was queued
}
