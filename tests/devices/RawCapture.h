// Captures made from the simulator's raw mode, as a real raw sensor's would be: the samples
// of a scenario written to a capture file, with the truth at hand to check what a replay
// delivers.
#pragma once

#include <string>
#include <vector>

#include "DeviceTestSupport.h"
#include "mtobj/RawMotion.h"
#include "mtobj/RecordDevice.h"
#include "mtobj/SensorCapture.h"

namespace iio_test {

inline mtobj::SensorRecord RecordOf(const attfilter::RawSample& s) {
    mtobj::SensorRecord r;
    r.seconds = s.seconds;
    r.hasAccel = s.hasAccel;
    r.hasGyro = s.hasGyro;
    r.hasMag = s.hasMag;
    r.accel = {s.accel.x, s.accel.y, s.accel.z};
    r.gyro = {s.gyro.x, s.gyro.y, s.gyro.z};
    r.mag = {s.mag.x, s.mag.y, s.mag.z};
    return r;
}

// Writes `seconds` of the scenario at `rate` Hz (motion time 0 at the first sample).
inline bool WriteRawCapture(const std::string& path, const std::string& deviceId,
                            const mtobj::RawScenario& scenario, double rate, double seconds) {
    mtobj::CRawMotion motion(scenario, rate);
    std::vector<mtobj::SensorRecord> records{mtobj::SensorRecord{.restart = true}};
    const auto count = static_cast<std::size_t>(seconds * rate);
    for (std::size_t i = 0; i < count; ++i) {
        records.push_back(RecordOf(motion.Next()));
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

}  // namespace iio_test
