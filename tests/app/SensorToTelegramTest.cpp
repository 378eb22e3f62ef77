// From the simulated sensor through the sensor link and the telegram workers to virtual
// serial ports: the telegrams read there carry the sensor's true attitude.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "LiveSensorLink.h"
#include "PortClient.h"
#include "SensorTestSupport.h"
#include "app/MotionTrackerSink.h"
#include "app/XsensModule.h"
#include "comlane/SerialDevice.h"
#include "mtobj/MTObj.h"
#include "mtobj/VesselMotion.h"
#include "platform/Messages.h"

namespace {

float AngleDiff(double a, double b) {
    return static_cast<float>(std::fabs(std::fmod(a - b + 540.0, 360.0) - 180.0));
}

// Reads whole lines from a virtual port's far end.
std::string PortLink(int com) {
    return comlane::CPortMap::LinkPath("COM" + std::to_string(com));
}

// The smallest disagreement between a telegram's angles and the true motion over the last
// second of samples (NaN angles are not compared).
double BestMatch(const mtobj::VesselMotion& motion, double newest, double heading, double pitch,
                 double roll) {
    double best = 1e9;
    for (double s = newest - 1.0; s <= newest + 1e-9; s += 0.00025) {
        const mtobj::Attitude a = motion.At(s);
        double worst = 0;
        if (!std::isnan(heading)) {
            worst = std::max<double>(worst, AngleDiff(heading, a.heading));
        }
        if (!std::isnan(pitch)) {
            worst = std::max(worst, std::fabs(pitch - a.pitch));
        }
        if (!std::isnan(roll)) {
            worst = std::max(worst, std::fabs(roll - a.roll));
        }
        best = std::min(best, worst);
    }
    return best;
}

TEST(SensorToTelegramTest, TelegramsFollowTheSensorsTrueAttitude) {
    CoInitialize(nullptr);
    CRecordingMessageTarget messages;
    AfxSetMainWnd(&messages);
    sensor_test::PromptRecorder prompts;
    {
        CXsensModule link;
        ASSERT_TRUE(link.Initialise());
        CComPtr<IUnknown> sink;
        CMotionTrackerSink::CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&sink));
        DWORD cookie = 0;
        ASSERT_EQ(link.AdviseSink(sink, &cookie), S_OK);
        CComPtr<IMotionTrackerSimulation> sim;
        link.GetTracker()->QueryInterface(IID_IMotionTrackerSimulation,
                                          reinterpret_cast<void**>(&sim));
        DWORD seed = 0;
        sim->GetSeed(&seed);
        const mtobj::VesselMotion motion(seed);
        link.OpenSensorPort(1, 115200);
        link.SetFilterSettings(1.0F, 1.0F);
        link.SetSampleRate(50);
        link.SetOutputInterval(100);  // 10 Hz: every telegram gets onto the line
        // The port map's shipped defaults are written on first use; two workers opening
        // their ports at once could otherwise find the map's key before its entries.
        comlane::CPortMap::Entries();
        link.AddTelegramWorker(6, 2, 115200);  // "HDT,TSS1"
        link.AddTelegramWorker(5, 3, 115200);  // "PRDID"
        tavimo_test::PortClient hdtTss1(PortLink(2)), prdid(PortLink(3));
        ASSERT_TRUE(hdtTss1.Open());
        ASSERT_TRUE(prdid.Open());
        link.StartSensor();
        int hdt = 0, tss1 = 0, prd = 0;
        for (int i = 0; i < 20; ++i) {
            const std::string a = hdtTss1.NextLine();
            const std::string b = prdid.NextLine();
            double newest = -1;
            sim->GetLastSampleSeconds(&newest);
            double h = 0, p = 0, r = 0;
            char sign1 = 0, sign2 = 0;
            int m1 = 0, m2 = 0;
            unsigned sum = 0;
            if (std::sscanf(a.c_str(), "$HCHDT,%lf,T*%2x", &h, &sum) == 2) {
                EXPECT_LT(BestMatch(motion, newest, h, NAN, NAN), 0.002) << a;
                ++hdt;
            } else if (std::sscanf(a.c_str(), ":000000  0000U%c%4d %c%4d", &sign1, &m1, &sign2,
                                   &m2) == 4) {
                const double roll = (sign1 == '-' ? -1 : 1) * m1 / 100.0;
                const double pitch = (sign2 == '-' ? -1 : 1) * m2 / 100.0;
                EXPECT_LT(BestMatch(motion, newest, NAN, pitch, roll), 0.011) << a;
                ++tss1;
            } else {
                ADD_FAILURE() << "unexpected line on COM2: " << a;
            }
            ASSERT_EQ(std::sscanf(b.c_str(), "$PRDID,%lf,%lf,%lf*%2x", &p, &r, &h, &sum), 4) << b;
            EXPECT_LT(BestMatch(motion, newest, h, p, r), 0.002) << b;
            ++prd;
        }
        link.StopSensor();
        link.UnadviseSink(cookie);
        sim.Release();
        EXPECT_GT(hdt, 5);
        EXPECT_GT(tss1, 5);
        EXPECT_EQ(prd, 20);
    }
    EXPECT_EQ(messages.Pending(), 0U);
    AfxSetMainWnd(nullptr);
    CoUninitialize();
}

// The simulated sensor itself at 25, 100 and 512 Hz, each with a chosen rate: outputs are
// counted against the samples the sensor made in the same window (its own clock), so a
// loaded machine that delays batches does not change the expectation.
TEST(SensorToTelegramTest, TheChosenRateIsDeliveredWithTheSimulatedSensor) {
    CoInitialize(nullptr);
    CRecordingMessageTarget messages;
    AfxSetMainWnd(&messages);
    sensor_test::PromptRecorder prompts;
    const std::pair<short, double> cases[] = {{25, 25.0}, {100, 10.0}, {512, 25.0}, {512, 1.0}};
    for (const auto& [sensorHz, chosenHz] : cases) {
        SCOPED_TRACE(::testing::Message() << sensorHz << " Hz sensor, " << chosenHz << " Hz");
        sensor_test::RecordingOutput::Journal journal;
        sensor_test::LiveSensorLink live(sensor_test::RecordingOutput::Factory(journal));
        ASSERT_TRUE(live.ready);
        CXsensModule& link = live.link;
        link.SetSampleRate(sensorHz);
        link.SetOutputInterval(1000.0 / chosenHz);
        link.AddTelegramWorker(2, 2, 115200);
        const auto outputs = [&journal] {
            std::lock_guard lock(journal.mutex);
            return journal.attitudes.size();
        };
        link.StartSensor();
        CEvent pause;
        for (int i = 0; i < 1000 && outputs() < 2; ++i) {
            pause.Wait(10);
        }
        ASSERT_GE(outputs(), 2U);
        double first = 0;
        live.sim->GetLastSampleSeconds(&first);
        const std::size_t before = outputs();
        pause.Wait(chosenHz < 5 ? 6000 : 3000);  // the window's length only
        double last = 0;
        live.sim->GetLastSampleSeconds(&last);
        const double delivered = static_cast<double>(outputs() - before);
        const double wanted = std::min<double>(chosenHz, sensorHz) * (last - first);
        // Batches cut the window's edges: an output either side, plus 2 % for batches a
        // loaded machine held back past an interval.
        EXPECT_NEAR(delivered, wanted, 0.02 * wanted + 2.0) << last - first << " s of samples";
    }
    EXPECT_EQ(messages.Pending(), 0U);
    AfxSetMainWnd(nullptr);
    CoUninitialize();
}

}  // namespace
