// The telegram device on a virtual port: an instrument writes telegrams into the port's far
// end and the device delivers samples, names the sender, refuses rate changes and counts
// every line it drops.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TelegramSender.h"
#include "comlane/SerialDevice.h"
#include "interfaces/ErrorLog.h"
#include "interfaces/Tickwise.h"
#include "mtobj/MTObj.h"
#include "mtobj/SensorDevice.h"
#include "platform/Registry.h"

namespace {

using telegram_test::CSender;
using telegram_test::Nmea;

struct Angles {
    double heading, pitch, roll;
};

// The sensor link's rule for a rotation matrix.
Angles FromMatrix(const std::vector<float>& m) {
    const double k = 180.0 / M_PI;
    double heading =
        -std::atan2(static_cast<double>(m[6]) * m[5] - static_cast<double>(m[7]) * m[2],
                    -(static_cast<double>(m[7]) * m[5]) - static_cast<double>(m[6]) * m[2]) *
        k;
    while (heading < 0) {
        heading += 360.0;
    }
    return {heading, std::asin(static_cast<double>(m[2])) * k,
            std::asin(static_cast<double>(m[5])) * k};
}

std::string Tss1(double roll, double pitch, char status = 'U') {
    char text[64];
    std::snprintf(text, sizeof text, ":000000  0000%c%c%04d %c%04d\r\n", status,
                  roll < 0 ? '-' : ' ', static_cast<int>(std::lround(std::fabs(roll) * 100)),
                  pitch < 0 ? '-' : ' ', static_cast<int>(std::lround(std::fabs(pitch) * 100)));
    return text;
}

std::string Hdt(double heading) {
    char body[32];
    std::snprintf(body, sizeof body, "HEHDT,%.3f,T", heading);
    return Nmea(body);
}

// Every trace text written while it lives (tracing switched on).
class Traces {
public:
    Traces() {
        setenv("TAVIMO_TRACE", "1", 1);
        faultbook::RefreshTraceSettings();
        faultbook::SetTraceSink([this](const faultbook::TraceRecord& r) {
            std::lock_guard lock(m_mutex);
            m_texts.push_back(r.text);
        });
    }
    ~Traces() {
        faultbook::SetTraceSink(nullptr);
        unsetenv("TAVIMO_TRACE");
        faultbook::RefreshTraceSettings();
    }
    bool Has(const std::string& part) const {
        std::lock_guard lock(m_mutex);
        return std::any_of(m_texts.begin(), m_texts.end(),
                           [&](const std::string& t) { return t.find(part) != std::string::npos; });
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_texts;
};

class TelegramDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(comlane::CPortMap::Map(kPort, "pty")); }
    void TearDown() override { device.reset(); }

    // Opens the device (which listens for the sender a while) and starts it.
    void OpenAndStart(LONG baud = 115200) {
        ASSERT_EQ(device->Open(kPort, baud), S_OK);
        ASSERT_EQ(device->Configure(config), S_OK);
        ASSERT_EQ(device->Start(), S_OK);
    }
    // Reads batches until `count` samples came (bounded: 10 s).
    std::vector<Angles> ReadSamples(std::size_t count, double* newest = nullptr, int reads = 50) {
        std::vector<Angles> samples;
        for (int i = 0; i < reads && samples.size() < count; ++i) {
            std::vector<std::vector<float>> arrays;
            double seconds = -1;
            if (device->ReadBatch(arrays, seconds, 200)) {
                for (const auto& a : arrays) {
                    samples.push_back(FromMatrix(a));
                }
                if (newest != nullptr) {
                    *newest = seconds;
                }
            }
        }
        return samples;
    }
    static std::string Counters() {
        CRegKey key;
        if (key.Open(HKEY_CURRENT_USER, mtobj::kSettingsKey, KEY_READ) != ERROR_SUCCESS) {
            return {};
        }
        return key.QueryString("Counters").value_or("");
    }

    static constexpr const char* kPort = "COM7";
    Traces traces;
    mtobj::SensorConfig config;
    std::unique_ptr<mtobj::ISensorDevice> device = mtobj::MakeTelegramDevice(kPort);
};

TEST_F(TelegramDeviceTest, HeadingAndAttitudeFromTwoSentencesBecomeOneSample) {
    // 50 Hz, heading then roll and pitch, each cycle its own values.
    CSender sender(kPort, 20.0, [](int i) {
        return Hdt(100.0 + 0.5 * i) + Tss1(1.0 + 0.01 * i, -2.0 - 0.01 * i);
    });
    OpenAndStart();
    EXPECT_EQ(device->DeviceId(), "HEHDT+TSS1");
    const int sentBefore = sender.Sent();
    const double before = CTickwise::GetPCMilliSecs();
    const auto samples = ReadSamples(40);
    // The rate the sender really kept (a busy machine slows it down).
    const double kept =
        (sender.Sent() - sentBefore) * 1000.0 / (CTickwise::GetPCMilliSecs() - before);
    ASSERT_GE(samples.size(), 40U);
    for (const Angles& s : samples) {
        // Every sample is one cycle's heading with the same cycle's roll and pitch.
        const double cycle = (s.heading - 100.0) / 0.5;
        ASSERT_NEAR(cycle, std::round(cycle), 1e-3) << s.heading;
        EXPECT_NEAR(s.roll, 1.0 + 0.01 * std::round(cycle), 1e-4);
        EXPECT_NEAR(s.pitch, -2.0 - 0.01 * std::round(cycle), 1e-4);
    }
    // The rate the sender sets is what the device reports.
    EXPECT_NEAR(device->FixedSampleRate(), kept, std::max(5.0, 0.3 * kept));
    EXPECT_LE(device->FixedSampleRate(), 60);
}

TEST_F(TelegramDeviceTest, EachLineIsStampedAtItsStartOnTheLine) {
    // At 9600 baud a character takes 1.0417 ms: a TSS1 line of 27 bytes took 28 ms.
    const double charMs = comlane::CharacterTime({9600, 8, 0, 0});
    CSender heading(kPort, 50.0, [](int) { return Hdt(10.0) + Tss1(1.0, 2.0); });
    OpenAndStart(9600);
    heading.Stop();
    telegram_test::CLineReaderPort sender(kPort);
    ASSERT_TRUE(sender.IsOpen());
    const double before = CTickwise::GetPCMilliSecs();
    ASSERT_TRUE(sender.Write(Hdt(10.0) + Tss1(1.0, 2.0)));
    double newest = -1;
    ASSERT_EQ(ReadSamples(1, &newest).size(), 1U);
    const double after = CTickwise::GetPCMilliSecs();
    // Stamped at its last byte (the CR, one character before the LF that ends the block)
    // less its 26 characters: never later than that before the read, never before the write
    // less the line's time.
    EXPECT_LE(newest * 1000.0, after - 27 * charMs + 1e-6);
    EXPECT_GE(newest * 1000.0, before - 27 * charMs - 1e-6);
}

TEST_F(TelegramDeviceTest, RefusesRateChangesAndIgnoresFilterSettings) {
    CSender sender(kPort, 100.0, [](int i) { return Hdt(10.0 + i); });
    ASSERT_EQ(device->Open(kPort, 4800), S_OK);
    mtobj::SensorConfig first;
    first.sampleRate = 25;
    ASSERT_EQ(device->Configure(first), S_OK);
    mtobj::SensorConfig faster = first;
    faster.sampleRate = 50;
    EXPECT_EQ(device->Configure(faster), E_INVALIDARG);
    EXPECT_TRUE(traces.Has("Sample rate 50 Hz refused: the sender of the telegrams sets the rate"));
    mtobj::SensorConfig filter = first;
    filter.gain = 3.0F;
    filter.weight = 0.5F;
    EXPECT_EQ(device->Configure(filter), S_OK);
    EXPECT_TRUE(traces.Has("Filter settings (gain 3.00, weight 0.50) ignored"));
    // A heading-only sender at 10 Hz (or slower on a busy machine): the rate reported is
    // its own, not the one asked for.
    EXPECT_GE(device->FixedSampleRate(), 2);
    EXPECT_LE(device->FixedSampleRate(), 12);
}

TEST_F(TelegramDeviceTest, HeadingOnlySenderGivesLevelSamplesAndSaysSo) {
    CSender sender(kPort, 20.0,
                   [](int i) { return Nmea("INTHS," + std::to_string(200 + i) + ".25,A"); });
    OpenAndStart();
    EXPECT_EQ(device->DeviceId(), "INTHS (no roll/pitch)");
    EXPECT_TRUE(traces.Has("No roll and pitch from the sender (INTHS): they are delivered as 0"));
    const auto samples = ReadSamples(5);
    ASSERT_GE(samples.size(), 5U);
    for (const Angles& s : samples) {
        // The heading survives the rotation matrix although the samples are level (to
        // well below the 0.001 degrees of any telegram).
        EXPECT_NEAR(s.heading - std::floor(s.heading), 0.25, 1e-4);
        EXPECT_NEAR(s.roll, 0.0, 1e-4);
        EXPECT_NEAR(s.pitch, 0.0, 2e-4);
    }
}

TEST_F(TelegramDeviceTest, BadLinesAreDroppedAndCountedGarbageIsSilence) {
    // Only bad lines, in every way, fast: no sample ever comes.
    CSender garbage(kPort, 5.0, [](int i) {
        std::string bad = Nmea("HEHDT,123.4,T");
        bad[bad.size() - 3] = bad[bad.size() - 3] == '0' ? '1' : '0';  // wrong checksum
        return bad + "$HEHDT,12\r\n" + Nmea("HEHDT,1x3.4,T") + ":000000  0000u 0100  0100\r\n" +
               std::string(300, static_cast<char>(0x80 + i % 64)) + "\r\n" + "no start\r\n" +
               "$HE\x01HDT\r\n";
    });
    OpenAndStart();
    // Nothing usable was heard while the device listened: no rate is made up for it.
    EXPECT_TRUE(traces.Has("Heard no usable telegrams on COM7"));
    EXPECT_FALSE(traces.Has("Heard telegrams at about"));
    EXPECT_EQ(device->DeviceId(), "telegrams");
    EXPECT_TRUE(ReadSamples(1, nullptr, 10).empty());
    garbage.Stop();
    // Then good lines are read at once.
    CSender good(kPort, 20.0, [](int i) { return Hdt(1.0) + Tss1(0.5, 0.5); });
    EXPECT_FALSE(ReadSamples(3).empty());
    good.Stop();
    device.reset();  // publishes the counters
    const std::string counters = Counters();
    for (const char* reason : {"checksum", "malformed", "bad number", "not valid", "too long",
                               "garbage", "samples delivered"}) {
        EXPECT_NE(counters.find(reason), std::string::npos) << reason << " in " << counters;
    }
    EXPECT_EQ(counters.rfind("COM7 HEHDT+TSS1: lines read ", 0), 0U) << counters;
    // The trace has the counts too, and the first line dropped for each reason.
    EXPECT_TRUE(traces.Has("COM7: lines read "));
    EXPECT_TRUE(traces.Has("Line dropped (bad number): $HEHDT,1x3.4,T*"));
    EXPECT_TRUE(traces.Has("TSS1 status u (settling)"));
    EXPECT_TRUE(traces.Has("Line dropped (binary): $HE\\x01HDT"));
}

TEST_F(TelegramDeviceTest, StopAndInterruptEndAReadAtOnce) {
    OpenAndStart();
    std::atomic<bool> done{false};
    std::thread reader([&] {
        std::vector<std::vector<float>> arrays;
        double newest = 0;
        EXPECT_FALSE(device->ReadBatch(arrays, newest, 60000));
        done = true;
    });
    CEvent pause;
    pause.Wait(50);
    device->Interrupt();
    reader.join();
    EXPECT_TRUE(done.load());
    // A port no one maps cannot be opened; nor can another port than the device's own.
    EXPECT_EQ(device->Open("COM8", 115200), E_FAIL);
    comlane::CPortMap::Unmap("COM9");
    EXPECT_EQ(mtobj::MakeTelegramDevice("COM9")->Open("COM9", 115200), E_FAIL);
}

TEST(TelegramDeviceKindTest, KindTextAndItsGap) {
    std::string reason;
    auto kind = mtobj::ParseDeviceKind("telegrams", &reason);
    ASSERT_TRUE(kind);
    EXPECT_EQ(kind->Text(), "telegrams");
    kind = mtobj::ParseDeviceKind("telegrams:250", &reason);
    ASSERT_TRUE(kind);
    EXPECT_EQ(kind->argument, "250");
    for (const char* bad : {"telegrams:0", "telegrams:1001", "telegrams:fast", "telegrams:-5"}) {
        EXPECT_FALSE(mtobj::ParseDeviceKind(bad, &reason)) << bad;
        EXPECT_NE(reason.find("milliseconds"), std::string::npos);
    }
}

}  // namespace
