// Tavimo as the attitude hub: an instrument sends its heading and attitude as telegrams into
// the sensor port (a virtual port), and Tavimo's own telegram outputs (virtual ports too)
// carry the same values in their formats at the chosen rate. A sender that falls silent is
// the health check's case.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

#include "SensorTestSupport.h"
#include "TelegramSender.h"
#include "app/MotionTrackerSink.h"
#include "app/XsensModule.h"
#include "comlane/SerialDevice.h"
#include "mtobj/MTObj.h"
#include "platform/Messages.h"
#include "platform/Registry.h"

namespace {

using telegram_test::CLineReaderPort;
using telegram_test::CSender;
using telegram_test::Nmea;

// Cycle i of the sender: its heading (three decimals) and roll and pitch (hundredths).
double HeadingOf(int i) {
    return std::fmod(12.345 + 1.111 * i, 360.0);
}
double RollOf(int i) {
    return ((i * 37) % 1000 - 500) / 100.0;
}
double PitchOf(int i) {
    return ((i * 53) % 600 - 300) / 100.0;
}

std::string Format(const char* format, double a, double b = 0, double c = 0) {
    char text[96];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

std::string Tss1(double roll, double pitch) {
    char text[64];
    std::snprintf(text, sizeof text, ":000000  0000U%c%04ld %c%04ld\r\n", roll < 0 ? '-' : ' ',
                  std::lround(std::fabs(roll) * 100), pitch < 0 ? '-' : ' ',
                  std::lround(std::fabs(pitch) * 100));
    return text;
}

// What one output line says; NaN for what it does not carry.
struct Output {
    double heading = NAN, pitch = NAN, roll = NAN;
};
bool ParseOutput(const std::string& line, Output& out) {
    double h = 0, p = 0, r = 0;
    char s1 = 0, s2 = 0;
    int m1 = 0, m2 = 0;
    unsigned sum = 0;
    if (std::sscanf(line.c_str(), "$HCHDT,%lf,T*%2x", &h, &sum) == 2) {
        out = {h, NAN, NAN};
        return true;
    }
    if (std::sscanf(line.c_str(), "$PRDID,%lf,%lf,%lf*%2x", &p, &r, &h, &sum) == 4) {
        out = {h, p, r};
        return true;
    }
    if (std::sscanf(line.c_str(), ":000000  0000U%c%5d %c%5d", &s1, &m1, &s2, &m2) == 4) {
        out = {NAN, (s2 == '-' ? -1 : 1) * m2 / 100.0, (s1 == '-' ? -1 : 1) * m1 / 100.0};
        return true;
    }
    return false;
}

// True when some cycle up to `cycles` has the values the line carries, to its resolution
// (0.001 degrees in HDT and PRDID, hundredths truncated in TSS1).
bool MatchesACycle(const Output& out, int cycles, const std::function<double(int)>& heading,
                   const std::function<double(int)>& pitch,
                   const std::function<double(int)>& roll) {
    const double tolerance = std::isnan(out.heading) ? 0.0101 : 0.0011;
    for (int i = 0; i <= cycles; ++i) {
        const bool ok = (std::isnan(out.heading) ||
                         std::fabs(std::remainder(out.heading - heading(i), 360.0)) < tolerance) &&
                        (std::isnan(out.pitch) || std::fabs(out.pitch - pitch(i)) < tolerance) &&
                        (std::isnan(out.roll) || std::fabs(out.roll - roll(i)) < tolerance);
        if (ok) {
            return true;
        }
    }
    return false;
}

class TelegramSensorTest : public ::testing::Test {
protected:
    static constexpr short kSensorCom = 4;

    void SetUp() override {
        CRegKey key;
        ASSERT_EQ(key.Create(HKEY_CURRENT_USER, mtobj::kSettingsKey), ERROR_SUCCESS);
        key.SetString("Port", "COM4");
        key.SetString("Kind", "telegrams");
        key.DeleteValue("Counters");
        comlane::CPortMap::Entries();
        ASSERT_TRUE(comlane::CPortMap::Map("COM4", "pty"));
        CoInitialize(nullptr);
        AfxSetMainWnd(&messages);
    }
    void TearDown() override {
        AfxSetMainWnd(nullptr);
        CoUninitialize();
    }

    // Starts the sensor link on the telegram sender with the given outputs; the sender must
    // already be running (opening listens for it).
    void Connect(CXsensModule& link, double outputIntervalMs) {
        ASSERT_TRUE(link.Initialise());
        CMotionTrackerSink::CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&sink));
        ASSERT_EQ(link.AdviseSink(sink, &cookie), S_OK);
        link.OpenSensorPort(kSensorCom, 115200);
        link.SetFilterSettings(1.0F, 1.0F);
        link.SetOutputInterval(outputIntervalMs);
        link.SetMagneticVariation(0.0F);
    }
    void Disconnect(CXsensModule& link) {
        link.StopSensor();
        link.UnadviseSink(cookie);
    }

    // Reads `lines` output lines from a port and checks each against the cycles sent.
    // Returns how many carried a heading (HDT, PRDID) and how many roll and pitch.
    std::pair<int, int> CheckOutputs(CLineReaderPort& port, int lines, const CSender& sender,
                                     const std::function<double(int)>& heading,
                                     const std::function<double(int)>& pitch,
                                     const std::function<double(int)>& roll) {
        int headings = 0, attitudes = 0;
        for (int n = 0; n < lines; ++n) {
            const std::string line = port.NextLine();
            Output out;
            if (!ParseOutput(line, out)) {
                ADD_FAILURE() << "unexpected output line: '" << line << "'";
                break;
            }
            EXPECT_TRUE(MatchesACycle(out, sender.Sent() + 2, heading, pitch, roll))
                << "no cycle sent has the values of " << line;
            headings += std::isnan(out.heading) ? 0 : 1;
            attitudes += std::isnan(out.roll) ? 0 : 1;
        }
        return {headings, attitudes};
    }

    CRecordingMessageTarget messages;
    sensor_test::PromptRecorder prompts;
    CComPtr<IUnknown> sink;
    DWORD cookie = 0;
};

// HDT then TSS1 each cycle, at 10 Hz sent on at every batch and at 50 Hz sent on at 10 Hz.
TEST_F(TelegramSensorTest, HdtAndTss1ReachEveryOutputAtTheChosenRate) {
    for (const auto& [periodMs, intervalMs] : {std::pair{100.0, 0.0}, std::pair{20.0, 100.0}}) {
        SCOPED_TRACE("sent every " + std::to_string(periodMs) + " ms");
        CSender sender("COM4", periodMs, [](int i) {
            return Nmea(Format("HEHDT,%.3f,T", HeadingOf(i))) + Tss1(RollOf(i), PitchOf(i));
        });
        CXsensModule link;
        Connect(link, intervalMs);
        EXPECT_EQ(link.GetDeviceId(), "HEHDT+TSS1");
        link.AddTelegramWorker(6, 2, 115200);  // "HDT,TSS1"
        link.AddTelegramWorker(5, 3, 115200);  // "PRDID"
        CLineReaderPort hdtTss1("COM2"), prdid("COM3");
        ASSERT_TRUE(hdtTss1.IsOpen() && prdid.IsOpen());
        link.StartSensor();
        const auto started = std::chrono::steady_clock::now();
        const auto [h1, a1] = CheckOutputs(hdtTss1, 30, sender, HeadingOf, PitchOf, RollOf);
        const auto [h2, a2] = CheckOutputs(prdid, 15, sender, HeadingOf, PitchOf, RollOf);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        EXPECT_GE(h1, 14);
        EXPECT_GE(a1, 14);
        EXPECT_EQ(h2, 15);
        // Never faster than chosen: 10 Hz at most (a busy machine may give fewer).
        EXPECT_LE(h2 + 0.0, seconds * 10.0 + 3.0);
        Disconnect(link);
    }
    EXPECT_EQ(messages.Pending(), 0U);  // a talking sender is never reported silent
}

TEST_F(TelegramSensorTest, PrdidSenderAtTenAndFiftyHertz) {
    for (const double periodMs : {100.0, 20.0}) {
        CSender sender("COM4", periodMs, [](int i) {
            return Nmea(Format("PRDID,%8.3f,%8.3f,%8.3f", PitchOf(i), RollOf(i), HeadingOf(i)));
        });
        CXsensModule link;
        Connect(link, 0.0);
        EXPECT_EQ(link.GetDeviceId(), "PRDID");
        link.AddTelegramWorker(6, 2, 115200);
        CLineReaderPort out("COM2");
        ASSERT_TRUE(out.IsOpen());
        link.StartSensor();
        const auto [headings, attitudes] =
            CheckOutputs(out, 30, sender, HeadingOf, PitchOf, RollOf);
        EXPECT_GE(headings, 14);
        EXPECT_GE(attitudes, 14);
        Disconnect(link);
    }
}

TEST_F(TelegramSensorTest, HdgWithVariationGivesTrueHeadingAndLevelAttitude) {
    // Sensor heading, 1.5 W deviation, 4.25 E variation: true = sensor - 1.5 + 4.25.
    CSender sender("COM4", 50.0,
                   [](int i) { return Nmea(Format("HCHDG,%.3f,1.500,W,4.250,E", HeadingOf(i))); });
    CXsensModule link;
    Connect(link, 0.0);
    EXPECT_EQ(link.GetDeviceId(), "HCHDG (no roll/pitch)");
    link.AddTelegramWorker(6, 2, 115200);
    CLineReaderPort out("COM2");
    ASSERT_TRUE(out.IsOpen());
    link.StartSensor();
    const auto trueHeading = [](int i) { return HeadingOf(i) + 2.75; };
    const auto level = [](int) { return 0.0; };
    const auto [headings, attitudes] = CheckOutputs(out, 20, sender, trueHeading, level, level);
    EXPECT_GE(headings, 9);
    EXPECT_GE(attitudes, 9);
    Disconnect(link);
}

TEST_F(TelegramSensorTest, ThsOnlyInAutonomousModeAndBadLinesDroppedAndCounted) {
    // Every cycle: a good THS, then lines that must never reach an output: THS in another
    // mode, a wrong checksum, a short line, letters in the number.
    CSender sender("COM4", 20.0, [](int i) {
        std::string wrongSum = Nmea(Format("INTHS,%.3f,A", HeadingOf(i) + 100.0));
        wrongSum[wrongSum.size() - 3] ^= 1;
        return Nmea(Format("INTHS,%.3f,A", HeadingOf(i))) +
               Nmea(Format("INTHS,%.3f,V", HeadingOf(i) + 90.0)) + wrongSum + "$INTHS,1\r\n" +
               Nmea("INTHS,1O2.5,A");
    });
    {
        CXsensModule link;
        Connect(link, 0.0);
        link.AddTelegramWorker(2, 2, 115200);  // "HDT"
        CLineReaderPort out("COM2");
        ASSERT_TRUE(out.IsOpen());
        link.StartSensor();
        const auto level = [](int) { return 0.0; };
        EXPECT_EQ(CheckOutputs(out, 20, sender, HeadingOf, level, level).first, 20);
        // The sender sets the rate: a change is refused with the sensor's message, and the
        // rate read back is the sender's own (about 50 Hz).
        link.SetSampleRate(100);
        EXPECT_EQ(prompts.texts.back(), "Invalid Motion Tracker Sample Rate = 100");
        short port = 0, rate = 0;
        long baud = 0;
        std::string id;
        float gain = 0, weight = 0;
        link.GetSensorSettings(port, baud, id, gain, weight, rate);
        EXPECT_GE(rate, 10);  // 50 Hz, or less on a busy machine; never the 100 asked for
        EXPECT_LE(rate, 60);
        EXPECT_EQ(id, "INTHS (no roll/pitch)");
        Disconnect(link);
    }
    sender.Stop();
    CRegKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, mtobj::kSettingsKey, KEY_READ), ERROR_SUCCESS);
    const std::string counters = key.QueryString("Counters").value_or("");
    for (const char* reason : {"checksum", "malformed", "bad number", "not valid"}) {
        EXPECT_NE(counters.find(reason), std::string::npos) << reason << " in " << counters;
    }
}

TEST_F(TelegramSensorTest, ASilentSenderIsReconnectedThenReportedLost) {
    CSender sender(
        "COM4", 20.0,
        [](int i) { return Nmea(Format("HEHDT,%.3f,T", HeadingOf(i))) + Tss1(1.0, 2.0); }, 100);
    CXsensModule link;
    Connect(link, 0.0);
    link.HealthCheck().SetSilenceTimeout(200);
    link.StartSensor();
    sender.Stop();
    // Garbage keeps coming: that is silence too.
    CSender garbage("COM4", 20.0, [](int) { return std::string("$HEHDT,xx,T\r\n\x01\x02\r\n"); });
    int reconnects = 0;
    for (int n = 0; n < 10; ++n) {
        const auto m = messages.Next(10000);
        ASSERT_TRUE(m.has_value());
        if (m->message == WM_TAVIMO_RECONNECT_SENSOR) {
            ++reconnects;
            link.Reconnect();  // as the main window answers
            continue;
        }
        EXPECT_EQ(m->message, 0x468U);  // sensor lost
        break;
    }
    EXPECT_EQ(reconnects, 5);
    Disconnect(link);
}

}  // namespace
