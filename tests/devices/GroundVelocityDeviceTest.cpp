// A raw sensor beside a GNSS receiver: the receiver's RMC, written into a virtual port as the
// vessel moves, reaches the attitude filter once roll and pitch have settled, and only while
// the heading comes from a calibrated magnetometer.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DeviceTestSupport.h"
#include "TelegramSender.h"
#include "comlane/SerialDevice.h"
#include "interfaces/Tickwise.h"
#include "mtobj/CalibrationStore.h"
#include "mtobj/RawMotion.h"
#include "mtobj/RecordDevice.h"
#include "mtobj/sentences/Fields.h"
#include "platform/Sync.h"

namespace {

double PcNow() {
    return CTickwise::GetPCMilliSecs() / 1000.0;
}

// A raw sensor in a simulated sea whose first `headStart` seconds come at once at the
// start, as if it had been running that long, and the rest at their pace on the PC clock.
class CPacedSource final : public mtobj::IRecordSource {
public:
    CPacedSource(const mtobj::RawScenario& scenario, double rate, double headStart)
        : m_motion(scenario, rate), m_step(1.0 / rate), m_headStart(headStart) {}

    bool Open(std::string* /*reason*/) override { return true; }
    void Close() override {}
    std::string Id() const override { return "gnss-test-imu"; }
    bool Start(int /*rateHz*/, std::string* /*reason*/) override {
        m_pcStart = PcNow() - m_headStart;
        return true;
    }
    void Stop() override {}
    bool Read(std::vector<mtobj::SensorRecord>& records, DWORD timeoutMs) override {
        constexpr std::size_t kBatch = 500;
        const double due = PcNow() - m_pcStart;
        std::size_t n = 0;
        for (; n < kBatch && m_next <= due; ++n, m_next += m_step) {
            records.push_back(mtobj::RecordOf(m_motion.Next()));
        }
        if (n == 0) {
            m_wake.Wait(std::min<DWORD>(timeoutMs, 10));
        }
        return n > 0;
    }
    void Interrupt() override { m_wake.Set(); }
    double PcSeconds(double recordSeconds) const override { return m_pcStart + recordSeconds; }
    bool Recordable() const override { return false; }
    double PcStart() const { return m_pcStart; }

private:
    mtobj::CRawMotion m_motion;
    const double m_step;
    const double m_headStart;
    std::atomic<double> m_pcStart{0};
    double m_next = 0;
    CEvent m_wake;
};

// The receiver's RMC for the moment `latency` before now: the vessel's true velocity at the
// antenna, its course true with the variation the sentence gives (east).
std::string Rmc(const mtobj::CRawMotion& truth, double pcStart, const attfilter::Vec3& antenna,
                double variation, double latency) {
    const double fix = PcNow() - latency;
    const attfilter::Vec3 v = truth.VelocityAt(fix - pcStart, antenna);
    const double magnetic = std::atan2(-v.y, v.x) * 180.0 / M_PI;  // clockwise from north
    const double course = std::fmod(magnetic + variation + 720.0, 360.0);
    char time[16] = {};
    mtobj::telegrams::fields::TimeOfDay(time, fix * 1000.0);
    char body[128];
    std::snprintf(body, sizeof body, "GPRMC,%s,A,5230.1,N,00410.2,E,%.2f,%.1f,101226,%.1f,E,D",
                  time, std::hypot(v.x, v.y) * 3600.0 / 1852.0, course, variation);
    return telegram_test::Nmea(body);
}

TEST(GroundVelocityDeviceTest, TheReceiversVelocityReachesTheFilterWhenTheHeadingIsMagnetic) {
    constexpr const char* kPort = "COM9";
    ASSERT_TRUE(comlane::CPortMap::Map(kPort, "pty"));
    mtobj::RawScenario sea = mtobj::DrawScenario(mtobj::SeaKind::HeavyWithTurns, 3);
    const double rate = 50;
    const attfilter::Vec3 antenna{-2, 0.5, 9};  // up a mast, aft of the sensor
    mtobj::HeaveSettings heave;
    heave.gnssPort = kPort;
    heave.gnssBaud = 38400;
    heave.antennaX = antenna.x;
    heave.antennaY = antenna.y;
    heave.antennaZ = antenna.z;

    const mtobj::CRawMotion truth(sea, rate);
    const auto run = [&](const std::string& expected) {
        iio_test::Traces traces;
        auto source = std::make_unique<CPacedSource>(sea, rate, 40.0);
        const CPacedSource* paced = source.get();
        auto device = mtobj::MakeRecordDevice(std::move(source), "COM1");
        device->SetHeaveSettings(heave);
        EXPECT_EQ(device->Open("COM1", 115200), S_OK);
        mtobj::SensorConfig config;
        config.sampleRate = static_cast<std::int16_t>(rate);
        device->Configure(config);
        EXPECT_EQ(device->Start(), S_OK);
        telegram_test::CSender receiver(
            kPort, 200.0, [&](int) { return Rmc(truth, paced->PcStart(), antenna, 3.0, 0.08); });
        // Roll and pitch against the truth while the readings come in: the head start's
        // last seconds and three more at the sensor's pace (bounded: 1000 batches).
        double worstTilt = 0;
        double seenAt = -1;
        for (int i = 0; i < 1000 && (seenAt < 0 || PcNow() - seenAt < 3.0); ++i) {
            std::vector<std::vector<float>> arrays;
            double newest = 0;
            if (device->ReadBatch(arrays, newest, 100) && newest - paced->PcStart() > 35.0) {
                const mtobj::Attitude a = iio_test::ReadBack(arrays.back(), config.outputMode);
                const attfilter::EulerAngles t = truth.TruthAt(newest - paced->PcStart()).attitude;
                worstTilt =
                    std::max({worstTilt, std::abs(a.roll - t.roll), std::abs(a.pitch - t.pitch)});
            }
            if (seenAt < 0 && traces.Has(expected)) {
                seenAt = PcNow();
            }
        }
        // What the window shows of the receiver, from the motion.
        const std::optional<mtobj::Motion> motion = device->CurrentMotion();
        device->Close();
        EXPECT_TRUE(traces.Has(expected)) << traces.All();
        EXPECT_TRUE(motion);
        return std::make_pair(worstTilt, motion ? motion->ground : mtobj::GroundVelocityUse::None);
    };

    // No stored calibration: the magnetometer's north is not to be trusted, and the true
    // course cannot be turned into the filter's frame.
    EXPECT_EQ(run("the receiver's velocity over ground is not used: the heading is not from a "
                  "calibrated")
                  .second,
              mtobj::GroundVelocityUse::NotUsed);
    attfilter::SensorCalibration calibration;
    calibration.magCalibrated = true;
    ASSERT_TRUE(mtobj::SaveCalibration("gnss-test-imu", calibration));
    const auto [worstTilt, ground] =
        run("the receiver's velocity over ground on COM9 is used in turns");
    EXPECT_LT(worstTilt, 1.0);
    EXPECT_EQ(ground, mtobj::GroundVelocityUse::Used);
}

}  // namespace
