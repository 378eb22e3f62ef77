// The simulator's raw mode as a real raw sensor: the samples of a scenario written to a
// capture file or fed to a fake IIO device, with the truth at hand to check what comes out.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DeviceTestSupport.h"
#include "FakeIioTree.h"
#include "mtobj/RawMotion.h"
#include "mtobj/RecordDevice.h"
#include "mtobj/SensorCapture.h"

namespace iio_test {

// Writes `seconds` of the scenario at `rate` Hz (motion time 0 at the first sample).
inline bool WriteRawCapture(const std::string& path, const std::string& deviceId,
                            const mtobj::RawScenario& scenario, double rate, double seconds) {
    mtobj::CRawMotion motion(scenario, rate);
    std::vector<mtobj::SensorRecord> records{mtobj::SensorRecord{.restart = true}};
    const auto count = static_cast<std::size_t>(seconds * rate);
    for (std::size_t i = 0; i < count; ++i) {
        records.push_back(mtobj::RecordOf(motion.Next()));
    }
    mtobj::CCaptureWriter writer;
    return writer.Open(path, deviceId, nullptr) && writer.Write(records);
}

inline mtobj::Attitude TruthOf(const mtobj::CRawMotion& motion, double t) {
    const auto e = motion.TruthAt(t).attitude;
    return {e.heading, e.pitch, e.roll};
}

// Plays a capture as fast as possible through the replay device in mode 2 at `rate` Hz and
// gives the largest error against the truth after `settle` seconds (the i-th attitude is
// the one at i / rate s), and the number compared.
struct ReplayResult {
    double worst = 0;
    std::size_t compared = 0;
};
inline ReplayResult ReplayAgainstTruth(const std::string& path, const mtobj::RawScenario& scenario,
                                       double captureRate, int rate, double settle,
                                       const mtobj::Attitude& offset = {}) {
    ReplayResult result;
    std::string reason;
    auto device = mtobj::MakeDevice(*mtobj::ParseDeviceKind("replay:fast:" + path, &reason), 1,
                                    "COM1", &reason);
    if (device->Open("COM1", 115200) != S_OK) {
        result.worst = 1e9;
        return result;
    }
    mtobj::SensorConfig config;
    config.outputMode = 2;
    config.sampleRate = static_cast<std::int16_t>(rate);
    device->Configure(config);
    device->Start();
    const mtobj::CRawMotion motion(scenario, captureRate);
    std::vector<std::vector<float>> arrays;
    // Until the capture is played out (a read that brings nothing), at most 5000 reads.
    for (int i = 0; i < 5000; ++i) {
        double newest = 0;
        if (!device->ReadBatch(arrays, newest, 100)) {
            break;
        }
    }
    device->Close();
    for (std::size_t i = 0; i < arrays.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        if (t < settle) {
            continue;
        }
        auto truth = TruthOf(motion, t);
        truth.heading = std::fmod(truth.heading + offset.heading + 360.0, 360.0);
        truth.pitch += offset.pitch;
        truth.roll += offset.roll;
        result.worst = std::max(result.worst, Error(ReadBack(arrays[i], 2), truth));
        ++result.compared;
    }
    return result;
}

// A vessel in a slight sea turning at 3 degrees a second through `degrees` from 5 s on, its
// sensor with hard and soft iron and a gyroscope bias: what a magnetometer fit works from.
inline mtobj::RawScenario TurningWithIron(double degrees) {
    mtobj::RawScenario s = mtobj::IronHull();
    s.turnStart = 5;
    s.turnRate = 3;
    s.turnDuration = degrees / 3;
    return s;
}
// The same sensor with the vessel lying still (its gyroscope bias is the turning one's).
inline mtobj::RawScenario StillWithIron() {
    mtobj::RawScenario s = TurningWithIron(0);
    s.rollAmplitude = s.pitchAmplitude = s.yawAmplitude = s.heaveAmplitude = 0;
    s.speedKnots = 0;
    return s;
}

// Raw channels as a common 9-axis chip has them: 16 bits each, a shared scale per type.
inline std::vector<FakeChannel> WithTimestamp(std::vector<FakeChannel> channels) {
    channels.push_back(Timestamp());
    return channels;
}
inline const std::vector<FakeChannel> kAccel =
    WithTimestamp(Vector("in_accel", "le:s16/16>>0", 0.000598));
inline const std::vector<FakeChannel> kGyro =
    WithTimestamp(Vector("in_anglvel", "be:s16/16>>0", 0.000133));
inline const std::vector<FakeChannel> kMag =
    WithTimestamp(Vector("in_magn", "le:s16/16>>0", 0.00015));
inline const std::vector<FakeChannel> kNine = [] {
    auto c = Vector("in_accel", "le:s16/16>>0", 0.000598);
    for (auto& v : {Vector("in_anglvel", "le:s16/16>>0", 0.000133),
                    Vector("in_magn", "le:s16/16>>0", 0.00015)}) {
        c.insert(c.end(), v.begin(), v.end());
    }
    c.push_back(Timestamp());
    return c;
}();
inline const std::vector<FakeChannel> kFused32{
    {"in_rot_quaternion", "le:s32/32X4>>0", 1.0 / (1 << 30)}, Timestamp()};

// The heavy sea the filter is built for (20 degrees of roll at 10 s, 10 of pitch at 6 s,
// 1.5 m of heave at 8 s) with the sensor 5 m above the roll centre, at 10 knots on a heading
// of 130 degrees, its gyroscope uncalibrated: the whole module is checked in it.
inline mtobj::RawScenario Sea() {
    mtobj::RawScenario s;
    s.heading = 130;
    s.seed = 9;
    return s;
}

constexpr double kRate = 100;

// The raw samples of a scenario at kRate Hz, each writer with a motion of its own (the same
// seed gives the same samples to the writers of the three parts of a chip).
inline FifoWriter::Generator RawFeed(const mtobj::RawScenario& scenario = Sea()) {
    auto motion = std::make_shared<mtobj::CRawMotion>(scenario, kRate);
    return [motion](std::size_t, FakeScan& s) {
        const attfilter::RawSample r = motion->Next();
        s.seconds = r.seconds;
        s.value = [r](const std::string& channel, unsigned) {
            const std::map<std::string, double> v{
                {"in_accel_x", r.accel.x},  {"in_accel_y", r.accel.y},
                {"in_accel_z", r.accel.z},  {"in_anglvel_x", r.gyro.x},
                {"in_anglvel_y", r.gyro.y}, {"in_anglvel_z", r.gyro.z},
                {"in_magn_x", r.mag.x},     {"in_magn_y", r.mag.y},
                {"in_magn_z", r.mag.z},     {"in_timestamp", 3.0e9 + r.seconds * 1e9}};
            return v.at(channel);
        };
        return true;
    };
}

}  // namespace iio_test
