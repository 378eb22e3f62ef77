// A raw sensor's calibration, kept per device in the registry under
// kSettingsKey\Devices\<device id>\Calibration, with the values it replaced under
// ...\Calibration\Previous (then Previous2, ...) so that the last changes can be undone
// step by step.
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
// Puts the previous calibration back, one step at a time through the last eight changes;
// false when there is none left.
bool UndoCalibration(const std::string& deviceId);
// How many steps undo can go back.
int UndoSteps(const std::string& deviceId);
// Forgets the calibration (kept as the previous, so undo brings it back).
bool ResetCalibration(const std::string& deviceId);
// The previous calibration, for showing.
std::optional<attfilter::SensorCalibration> PreviousCalibration(const std::string& deviceId);

// The calibration as lines of text for a person to read.
std::string DescribeCalibration(const attfilter::SensorCalibration& calibration);

}  // namespace mtobj
