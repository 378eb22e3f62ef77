// The kinds of device the sensor port can hold, the one place that makes them, and what every
// device shares: the arrays it delivers for an attitude.
#include <optional>
#include <string>
#include <utility>

#include "mtobj/RecordDevice.h"
#include "mtobj/SensorDevice.h"

namespace mtobj {
namespace {

// Stands on the sensor port when its kind cannot be made: every open fails, so the module
// reports that it cannot reach the sensor instead of sending simulated attitude.
class CUnavailableDevice final : public ISensorDevice {
public:
    explicit CUnavailableDevice(std::string reason) : m_reason(std::move(reason)) {}
    HRESULT Open(const std::string&, LONG) override { return E_FAIL; }
    void Close() override {}
    std::string DeviceId() const override { return std::string(); }
    HRESULT Configure(const SensorConfig&) override { return S_OK; }
    HRESULT Start() override { return E_FAIL; }
    void Stop() override {}
    bool ReadBatch(std::vector<std::vector<float>>&, double&, DWORD) override { return false; }
    void Interrupt() override {}

private:
    std::string m_reason;
};

// The argument of "telegrams:GAP": whole milliseconds, 1 to 1000.
std::optional<double> TelegramGapMs(const std::string& text) {
    if (text.empty() || text.size() > 4 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const int ms = std::stoi(text);
    return ms >= 1 && ms <= 1000 ? std::optional<double>(ms) : std::nullopt;
}

}  // namespace

void AppendAttitude(std::vector<std::vector<float>>& arrays, const Attitude& attitude,
                    const SensorConfig& config, const std::array<float, 9>* extra) {
    switch (config.outputMode) {
        case 0: {
            const auto q = VesselMotion::Quaternion(attitude);
            arrays.emplace_back(q.begin(), q.end());
            break;
        }
        case 1: {
            const auto e = VesselMotion::Euler(attitude);
            arrays.emplace_back(e.begin(), e.end());
            break;
        }
        default: {
            const auto m = VesselMotion::Matrix(attitude);
            arrays.emplace_back(m.begin(), m.end());
            break;
        }
    }
    if (config.extraData) {
        if (extra != nullptr) {
            arrays.emplace_back(extra->begin(), extra->end());
        } else {
            // Gravity as the sensor sees it, no rates, and the field along the bow.
            const auto m = VesselMotion::Matrix(attitude);
            arrays.push_back({9.81F * m[6], 9.81F * m[7], 9.81F * m[8], 0, 0, 0, m[0], m[1], m[2]});
        }
    }
}

std::optional<DeviceKind> ParseDeviceKind(const std::string& text, std::string* reason) {
    const auto colon = text.find(':');
    DeviceKind kind{text.substr(0, colon),
                    colon == std::string::npos ? "" : text.substr(colon + 1)};
    if (kind.name.empty() || kind.name == "simulated") {
        if (!kind.argument.empty()) {
            if (reason != nullptr) {
                *reason = "the simulated sensor takes no argument";
            }
            return std::nullopt;
        }
        kind.name = "simulated";
        return kind;
    }
    if (kind.name == "iio" || kind.name == "replay") {
        if (kind.argument.empty() || kind.argument == "fast:") {
            if (reason != nullptr) {
                *reason = kind.name == "iio" ? "iio needs the device's name: iio:NAME[+NAME...]"
                                             : "replay needs a capture file: replay:FILE";
            }
            return std::nullopt;
        }
        return kind;
    }
    if (kind.name == "telegrams") {
        if (!kind.argument.empty() && !TelegramGapMs(kind.argument)) {
            if (reason != nullptr) {
                *reason =
                    "telegrams:GAP takes the longest gap between a heading and its roll "
                    "and pitch in milliseconds (1 to 1000), not '" +
                    kind.argument + "'";
            }
            return std::nullopt;
        }
        return kind;
    }
    if (reason != nullptr) {
        *reason = "'" + kind.name +
                  "' is not a kind of sensor device (simulated, iio:NAME, replay:FILE, telegrams)";
    }
    return std::nullopt;
}

std::unique_ptr<ISensorDevice> MakeDevice(const DeviceKind& kind, std::uint32_t seed,
                                          const std::string& port, std::string* reason) {
    if (kind.name == "simulated") {
        return MakeSimulatedDevice(seed, port);
    }
    if (kind.name == "iio") {
        return MakeIioDevice(kind.argument, port);
    }
    if (kind.name == "replay") {
        return MakeReplayDevice(kind.argument, port);
    }
    if (kind.name == "telegrams") {
        return MakeTelegramDevice(port, TelegramGapMs(kind.argument).value_or(100.0));
    }
    std::string why = "'" + kind.Text() + "' is not a kind of sensor device";
    if (reason != nullptr) {
        *reason = why;
    }
    return MakeUnavailableDevice(std::move(why));
}

std::unique_ptr<ISensorDevice> MakeUnavailableDevice(std::string reason) {
    return std::make_unique<CUnavailableDevice>(std::move(reason));
}

}  // namespace mtobj
