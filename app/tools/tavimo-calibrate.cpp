// tavimo-calibrate: calibrates a raw inertial sensor (kernel IIO device) as a crew does it,
// and keeps the result per device in the registry, where the sensor device applies it when
// it starts. Every change keeps the values it replaced, so `undo` puts them back.
//
//   tavimo-calibrate show   DEVICE               the stored calibration (and the previous)
//   tavimo-calibrate rest   DEVICE [SOURCE]      gyroscope bias and accelerometer offset,
//                                                the sensor still for a few seconds
//   tavimo-calibrate mag    DEVICE [SOURCE]      magnetometer hard and soft iron, the vessel
//                                                (or the sensor) turning through a full circle
//   tavimo-calibrate level  DEVICE [SOURCE]      roll and pitch offsets, the vessel at rest
//                                                and level
//   tavimo-calibrate heading DEVICE DEGREES      the heading offset of a sensor not along the
//                                                keel (added to its heading)
//   tavimo-calibrate undo   DEVICE               back one change (up to eight, step by step)
//   tavimo-calibrate reset  DEVICE               forget the calibration (undo brings it back)
//   tavimo-calibrate record DEVICE SECONDS FILE  capture what the device delivers to FILE
//
// DEVICE is what follows "iio:" in the sensor's kind: NAME[+NAME...]. SOURCE is
// `--seconds N` (read the live device for N seconds; defaults 5 for rest and level, 90 for
// mag) or `--from FILE` (use a capture recorded before).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "filter/Calibration.h"
#include "mtobj/CalibrationSteps.h"
#include "mtobj/CalibrationStore.h"
#include "mtobj/RecordDevice.h"
#include "mtobj/SensorCapture.h"

namespace {

using attfilter::RawSample;
using attfilter::SensorCalibration;

// The usage, on standard error for a wrong command line (status 2), on standard output
// when asked for (status 0).
int Usage(bool asked = false) {
    std::fprintf(asked ? stdout : stderr,
                 "usage: tavimo-calibrate show|undo|reset DEVICE\n"
                 "       tavimo-calibrate rest|mag|level DEVICE [--seconds N | --from CAPTURE]\n"
                 "       tavimo-calibrate heading DEVICE DEGREES\n"
                 "       tavimo-calibrate record DEVICE SECONDS FILE\n"
                 "DEVICE: the IIO device name(s) of the sensor, as in iio:NAME[+NAME...]\n"
                 "DEGREES: the heading offset, -180 to 180; positive turns the heading "
                 "clockwise\n");
    return asked ? 0 : 2;
}

bool ParseSeconds(const char* text, double& seconds) {
    char* end = nullptr;
    seconds = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(seconds) && seconds > 0 && seconds <= 3600;
}

// Reads the live device for `seconds`; false with a message when it cannot be read.
bool ReadLive(const std::string& device, double seconds, std::vector<mtobj::SensorRecord>& out) {
    auto source = mtobj::MakeIioSource(device);
    std::string reason;
    if (!source->Open(&reason) || !source->Start(100, &reason)) {
        std::fprintf(stderr, "tavimo-calibrate: %s\n", reason.c_str());
        return false;
    }
    std::fprintf(stderr, "reading %s for %.0f s ...\n", device.c_str(), seconds);
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int silent = 0;
    while (std::chrono::steady_clock::now() < end) {
        if (source->Read(out, 200)) {
            silent = 0;
        } else if (++silent >= 10) {
            std::fprintf(stderr, "tavimo-calibrate: %s delivered nothing for 2 s\n",
                         device.c_str());
            source->Stop();
            return false;
        }
    }
    source->Stop();
    return true;
}

// The raw samples to calibrate from: a capture, or the live device.
bool Samples(const std::string& device, int argc, char** argv, int at, double defaultSeconds,
             std::vector<RawSample>& samples) {
    if (argc == at + 2 && std::string(argv[at]) == "--from") {
        // Read as it goes, an hour of the capture at most, as a live read takes at most.
        constexpr double kMostSeconds = 3600;
        mtobj::CCaptureReader reader;
        std::string reason;
        if (!reader.Open(argv[at + 1], &reason)) {
            std::fprintf(stderr, "tavimo-calibrate: %s\n", reason.c_str());
            return false;
        }
        mtobj::SensorRecord r;
        std::optional<double> first;
        while (reader.Next(r, &reason)) {
            if (r.restart || r.hasQuaternion) {
                continue;
            }
            if (!first) {
                first = r.seconds;
            } else if (r.seconds - *first > kMostSeconds) {
                std::fprintf(stderr, "tavimo-calibrate: only the first %.0f s of %s are used\n",
                             kMostSeconds, argv[at + 1]);
                break;
            }
            samples.push_back(mtobj::RawSampleOf(r));
        }
        if (!reason.empty()) {
            std::fprintf(stderr, "tavimo-calibrate: %s: %s\n", argv[at + 1], reason.c_str());
            return false;
        }
        return true;
    }
    double seconds = defaultSeconds;
    if (argc == at + 2 && std::string(argv[at]) == "--seconds") {
        if (!ParseSeconds(argv[at + 1], seconds)) {
            std::fprintf(stderr, "tavimo-calibrate: '%s' is not a number of seconds (up to 3600)\n",
                         argv[at + 1]);
            return false;
        }
    } else if (argc != at) {
        Usage();
        return false;
    }
    std::vector<mtobj::SensorRecord> records;
    if (!ReadLive(device, seconds, records)) {
        return false;
    }
    for (const auto& r : records) {
        if (r.restart || r.hasQuaternion) {
            continue;
        }
        samples.push_back(mtobj::RawSampleOf(r));
    }
    return true;
}

int Save(const std::string& device, const SensorCalibration& c) {
    if (!mtobj::SaveCalibration(device, c)) {
        std::fprintf(stderr, "tavimo-calibrate: the registry could not be written\n");
        return 1;
    }
    std::printf("stored for %s (undo: tavimo-calibrate undo %s):\n%s", device.c_str(),
                device.c_str(), mtobj::DescribeCalibration(c).c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h" ||
                      std::string(argv[1]) == "help")) {
        return Usage(true);
    }
    if (argc < 3) {
        return Usage();
    }
    const std::string command = argv[1];
    const std::string device = argv[2];
    if (device.empty() || device.find_first_of("\\ \t") != std::string::npos) {
        std::fprintf(stderr, "tavimo-calibrate: '%s' is not a device name\n", device.c_str());
        return 2;
    }
    std::string reason;
    const auto stored = mtobj::LoadCalibration(device, &reason);
    if (!reason.empty()) {
        std::fprintf(stderr, "tavimo-calibrate: %s; starting from none\n", reason.c_str());
    }
    SensorCalibration current = stored.value_or(SensorCalibration());

    if (command == "show" && argc == 3) {
        if (!stored) {
            std::printf("%s: not calibrated\n", device.c_str());
        } else {
            std::printf("%s:\n%s", device.c_str(), mtobj::DescribeCalibration(*stored).c_str());
        }
        if (const auto previous = mtobj::PreviousCalibration(device)) {
            std::printf("previous (tavimo-calibrate undo %s):\n%s", device.c_str(),
                        mtobj::DescribeCalibration(*previous).c_str());
        }
        std::printf("undo can go back %d step(s), one at a time\n", mtobj::UndoSteps(device));
        return 0;
    }
    if (command == "undo" && argc == 3) {
        if (!mtobj::UndoCalibration(device)) {
            std::fprintf(stderr, "tavimo-calibrate: %s has no earlier calibration\n",
                         device.c_str());
            return 1;
        }
        const auto now = mtobj::LoadCalibration(device);
        std::printf("%s: back to %s\n", device.c_str(),
                    now ? ("\n" + mtobj::DescribeCalibration(*now)).c_str() : "not calibrated");
        return 0;
    }
    if (command == "reset" && argc == 3) {
        if (!mtobj::ResetCalibration(device)) {
            std::fprintf(stderr, "tavimo-calibrate: the registry could not be written\n");
            return 1;
        }
        std::printf("%s: not calibrated (undo brings the calibration back)\n", device.c_str());
        return 0;
    }
    if (command == "heading" && argc == 4) {
        char* end = nullptr;
        const double offset = std::strtod(argv[3], &end);
        if (end == argv[3] || *end != '\0' || !std::isfinite(offset) || offset <= -360 ||
            offset >= 360) {
            std::fprintf(stderr, "tavimo-calibrate: '%s' is not a heading offset in degrees\n",
                         argv[3]);
            return 2;
        }
        current.headingOffset = offset;
        return Save(device, current);
    }
    if (command == "record" && argc == 5) {
        double seconds = 0;
        if (!ParseSeconds(argv[3], seconds)) {
            std::fprintf(stderr, "tavimo-calibrate: '%s' is not a number of seconds (up to 3600)\n",
                         argv[3]);
            return 2;
        }
        std::vector<mtobj::SensorRecord> records;
        if (!ReadLive(device, seconds, records)) {
            return 1;
        }
        mtobj::CCaptureWriter writer;
        if (!writer.Open(argv[4], device, &reason) || !writer.Write(records)) {
            std::fprintf(stderr, "tavimo-calibrate: %s\n",
                         reason.empty() ? "the capture could not be written" : reason.c_str());
            return 1;
        }
        std::printf("%zu samples of %s in %s\n", records.size(), device.c_str(), argv[4]);
        return 0;
    }
    const std::map<std::string, mtobj::CalibrationStep> steps{
        {"rest", mtobj::CalibrationStep::Rest},
        {"level", mtobj::CalibrationStep::Level},
        {"mag", mtobj::CalibrationStep::Mag}};
    if (const auto step = steps.find(command); step != steps.end()) {
        std::vector<RawSample> samples;
        if (!Samples(device, argc, argv, 3, mtobj::DefaultStepSeconds(step->second), samples)) {
            return 1;
        }
        const mtobj::StepOutcome outcome =
            mtobj::CalibrateStep(step->second, current, std::move(samples));
        if (!outcome.quality.empty()) {
            std::printf("%s\n", outcome.quality.c_str());
        }
        if (!outcome.accepted) {
            std::fprintf(stderr, "tavimo-calibrate: %s; nothing stored\n", outcome.reason.c_str());
            return 1;
        }
        return Save(device, outcome.calibration);
    }
    return Usage();
}
