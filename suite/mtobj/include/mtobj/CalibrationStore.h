// A raw sensor's calibration, kept per device in the registry under
// kSettingsKey\Devices\<device id>\Calibration, with the values it replaced under
// ...\Calibration\Previous so that every change can be undone.
#pragma once

#include <optional>
#include <string>

#include "filter/Calibration.h"

namespace mtobj {

// The registry key of a device's calibration.
std::string CalibrationKey(const std::string& deviceId);

// The stored calibration of a device; nullopt when none is stored (or it cannot be read:
// *reason says which value).
std::optional<attfilter::SensorCalibration> LoadCalibration(const std::string& deviceId,
                                                            std::string* reason = nullptr);
// Stores a calibration, keeping the one it replaces as the previous; false when the
// registry cannot be written.
bool SaveCalibration(const std::string& deviceId, const attfilter::SensorCalibration& calibration);
// Puts the previous calibration back (the current one becomes the previous, so a second
// undo redoes); false when there is none.
bool UndoCalibration(const std::string& deviceId);
// Forgets the calibration (kept as the previous, so undo brings it back).
bool ResetCalibration(const std::string& deviceId);
// The previous calibration, for showing.
std::optional<attfilter::SensorCalibration> PreviousCalibration(const std::string& deviceId);

// The calibration as lines of text for a person to read.
std::string DescribeCalibration(const attfilter::SensorCalibration& calibration);

}  // namespace mtobj
