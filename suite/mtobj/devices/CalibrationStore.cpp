// The calibration of each raw sensor in the registry.
#include "mtobj/CalibrationStore.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "mtobj/MTObj.h"
#include "platform/Registry.h"

namespace mtobj {
namespace {

using attfilter::SensorCalibration;

// Every value of a calibration with its name, for reading and writing alike.
std::vector<std::pair<const char*, double*>> Fields(SensorCalibration& c) {
    return {{"GyroBiasX", &c.gyroBias.x},       {"GyroBiasY", &c.gyroBias.y},
            {"GyroBiasZ", &c.gyroBias.z},       {"AccelOffsetX", &c.accelOffset.x},
            {"AccelOffsetY", &c.accelOffset.y}, {"AccelOffsetZ", &c.accelOffset.z},
            {"HardIronX", &c.hardIron.x},       {"HardIronY", &c.hardIron.y},
            {"HardIronZ", &c.hardIron.z},       {"SoftIron0", &c.softIron[0]},
            {"SoftIron1", &c.softIron[1]},      {"SoftIron2", &c.softIron[2]},
            {"SoftIron3", &c.softIron[3]},      {"SoftIron4", &c.softIron[4]},
            {"SoftIron5", &c.softIron[5]},      {"SoftIron6", &c.softIron[6]},
            {"SoftIron7", &c.softIron[7]},      {"SoftIron8", &c.softIron[8]},
            {"RollOffset", &c.rollOffset},      {"PitchOffset", &c.pitchOffset},
            {"HeadingOffset", &c.headingOffset}};
}

std::optional<SensorCalibration> Load(const std::string& key, std::string* reason) {
    CRegKey k;
    if (k.Open(HKEY_CURRENT_USER, key, KEY_READ) != ERROR_SUCCESS || !k.QueryDWORD("Stored")) {
        return std::nullopt;
    }
    SensorCalibration c;
    for (auto& [name, value] : Fields(c)) {
        const auto text = k.QueryString(name);
        char* end = nullptr;
        const double v = text ? std::strtod(text->c_str(), &end) : 0.0;
        if (!text || end == text->c_str() || *end != '\0' || !std::isfinite(v)) {
            if (reason != nullptr) {
                *reason = key + "\\" + name + " is missing or not a number";
            }
            return std::nullopt;
        }
        *value = v;
    }
    c.magCalibrated = k.QueryDWORD("MagCalibrated").value_or(0) != 0;
    if (const std::string problem = attfilter::CalibrationProblem(c); !problem.empty()) {
        if (reason != nullptr) {
            *reason = key + " holds " + problem;
        }
        return std::nullopt;
    }
    return c;
}

bool Store(const std::string& key, const std::optional<SensorCalibration>& calibration) {
    CRegKey k;
    if (k.Create(HKEY_CURRENT_USER, key) != ERROR_SUCCESS) {
        return false;
    }
    if (!calibration) {
        k.DeleteValue("Stored");
        return true;
    }
    SensorCalibration c = *calibration;
    bool ok = true;
    for (auto& [name, value] : Fields(c)) {
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", *value);
        ok = ok && k.SetString(name, text) == ERROR_SUCCESS;
    }
    ok = ok && k.SetDWORD("MagCalibrated", c.magCalibrated ? 1 : 0) == ERROR_SUCCESS;
    return ok && k.SetDWORD("Stored", 1) == ERROR_SUCCESS;
}

// The calibrations before the current one, newest first: ...\Previous, then Previous2 up
// to Previous<kHistory>. An entry is a key; one without "Stored" is the uncalibrated state.
constexpr int kHistory = 8;

std::string HistoryKey(const std::string& deviceId, int level) {
    return CalibrationKey(deviceId) + "\\Previous" + (level > 1 ? std::to_string(level) : "");
}

bool Exists(const std::string& key) {
    CRegKey k;
    return k.Open(HKEY_CURRENT_USER, key, KEY_READ) == ERROR_SUCCESS;
}

// Moves the entry at `from` to `to`; with none at `from`, none is left at `to`.
bool Move(const std::string& from, const std::string& to) {
    if (!Exists(from)) {
        RegDeleteTree(HKEY_CURRENT_USER, to.c_str());
        return true;
    }
    return Store(to, Load(from, nullptr));
}

// Makes `next` the current calibration, the current one the newest of the history.
bool Replace(const std::string& deviceId, const std::optional<SensorCalibration>& next) {
    bool ok = true;
    for (int level = kHistory; level > 1; --level) {
        ok = ok && Move(HistoryKey(deviceId, level - 1), HistoryKey(deviceId, level));
    }
    const auto current = Load(CalibrationKey(deviceId), nullptr);
    return ok && Store(HistoryKey(deviceId, 1), current) && Store(CalibrationKey(deviceId), next);
}

}  // namespace

std::string CalibrationKey(const std::string& deviceId) {
    return std::string(kSettingsKey) + "\\Devices\\" + deviceId + "\\Calibration";
}

std::optional<SensorCalibration> LoadCalibration(const std::string& deviceId, std::string* reason) {
    return Load(CalibrationKey(deviceId), reason);
}

bool SaveCalibration(const std::string& deviceId, const SensorCalibration& calibration) {
    return Replace(deviceId, calibration);
}

bool UndoCalibration(const std::string& deviceId) {
    if (!Exists(HistoryKey(deviceId, 1))) {
        return false;
    }
    bool ok = Store(CalibrationKey(deviceId), Load(HistoryKey(deviceId, 1), nullptr));
    for (int level = 1; level < kHistory; ++level) {
        ok = ok && Move(HistoryKey(deviceId, level + 1), HistoryKey(deviceId, level));
    }
    RegDeleteTree(HKEY_CURRENT_USER, HistoryKey(deviceId, kHistory).c_str());
    return ok;
}

int UndoSteps(const std::string& deviceId) {
    int steps = 0;
    while (steps < kHistory && Exists(HistoryKey(deviceId, steps + 1))) {
        ++steps;
    }
    return steps;
}

bool ResetCalibration(const std::string& deviceId) {
    return Replace(deviceId, std::nullopt);
}

std::optional<SensorCalibration> PreviousCalibration(const std::string& deviceId) {
    return Load(HistoryKey(deviceId, 1), nullptr);
}

std::string DescribeCalibration(const SensorCalibration& c) {
    constexpr double kDeg = 180.0 / 3.14159265358979323846;
    char text[1024];
    std::snprintf(text, sizeof text,
                  "gyroscope bias      %9.4f %9.4f %9.4f deg/s\n"
                  "accelerometer offset %8.4f %9.4f %9.4f m/s2\n"
                  "magnetometer        %s\n"
                  "  hard iron         %9.4f %9.4f %9.4f gauss\n"
                  "  soft iron         %9.4f %9.4f %9.4f\n"
                  "                    %9.4f %9.4f %9.4f\n"
                  "                    %9.4f %9.4f %9.4f\n"
                  "roll offset         %9.3f deg\n"
                  "pitch offset        %9.3f deg\n"
                  "heading offset      %9.3f deg\n",
                  c.gyroBias.x * kDeg, c.gyroBias.y * kDeg, c.gyroBias.z * kDeg, c.accelOffset.x,
                  c.accelOffset.y, c.accelOffset.z,
                  c.magCalibrated ? "calibrated" : "NOT calibrated (heading is flagged)",
                  c.hardIron.x, c.hardIron.y, c.hardIron.z, c.softIron[0], c.softIron[1],
                  c.softIron[2], c.softIron[3], c.softIron[4], c.softIron[5], c.softIron[6],
                  c.softIron[7], c.softIron[8], c.rollOffset, c.pitchOffset, c.headingOffset);
    return text;
}

}  // namespace mtobj
