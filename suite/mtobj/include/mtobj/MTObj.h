// The sensor object stand-in: a simulated orientation sensor under the sensor's class id,
// implementing IMotionTracker and the sink's connection point. Linking this library
// registers the class; tests may revoke and restore the registration.
#pragma once

#include <string>
#include <vector>

#include "interfaces/MotionTracker.h"
#include "mtobj/CalibrationSteps.h"
#include "mtobj/Motion.h"

namespace mtobj {

// Registry settings of the sensor object (HKEY_CURRENT_USER): "Port" (text, "COM1" by
// default) names the port the device answers on, "Kind" (text, "simulated" by default; see
// DeviceKind) the device there, "Seed" (DWORD, 1 by default) the simulated motion.
// Settings saved by slot 37 go under "Devices\<device id>". A reader of telegrams publishes
// what it counted (lines read, used, dropped by reason) in "Counters".
inline constexpr const char* kSettingsKey = "Software\\Tervalis\\Calyra\\MotionSensor";

// Takes the class out of the class table ("component not registered") or back in.
void UnregisterClass();
void RegisterClass();

}  // namespace mtobj

// What a test can do to the simulated sensor beyond the sensor interface.
class IMotionTrackerSimulation : public IUnknown {
public:
    // Stops delivering samples while sampling goes on, and starts again.
    virtual HRESULT FallSilent() = 0;
    virtual HRESULT Resume() = 0;
    // From now on, the given slot answers the result (S_OK clears it).
    virtual HRESULT RefuseSetting(int slot, HRESULT result) = 0;
    // From now on, the given slot throws (false clears it).
    virtual HRESULT ThrowFrom(int slot, bool enable) = 0;
    // Queues raw arrays and announces them at once on the calling thread.
    virtual HRESULT InjectBatch(const std::vector<VARIANT>& arrays) = 0;
    // The seed of the motion and the motion time of the newest sample delivered
    // (seconds; negative before the first).
    virtual HRESULT GetSeed(DWORD* seed) = 0;
    virtual HRESULT GetLastSampleSeconds(double* seconds) = 0;
    // The steady-clock time (seconds since the clock's origin) at which the newest sample
    // delivered was taken: its true time, for measuring its age at the far end of a port.
    // Negative before the first sample or when the device cannot say.
    virtual HRESULT GetLastSampleSteadySeconds(double* seconds) = 0;
    // How many sample arrays the sensor has delivered and how many data events it fired.
    virtual HRESULT GetCounts(DWORD* arrays, DWORD* events) = 0;
};

inline const IID IID_IMotionTrackerSimulation = MakeGuid("{6D0C2F47-1B35-4E0A-9C6B-2E74A1D3F5B8}");

// The calibration of the sensor's device while it runs (see ISensorDevice): what the Advanced
// dialog does through the sensor link. A device that needs none answers *available false and
// refuses the rest with E_NOTIMPL.
class IMotionTrackerCalibration : public IUnknown {
public:
    // Whether the open device can be calibrated: S_OK with false for one that needs none,
    // S_FALSE with false while the port is not open.
    virtual HRESULT CalibrationAvailable(bool* available) = 0;
    // Starts a step over the next `seconds` of samples (<= 0: the step's default) while the
    // sensor runs; E_FAIL when it is not running, E_INVALIDARG for a step or time out of range.
    virtual HRESULT BeginCalibrationStep(mtobj::CalibrationStep step, double seconds) = 0;
    // Ends the collection now and computes with what was collected.
    virtual HRESULT FinishCalibrationStep() = 0;
    virtual HRESULT CancelCalibrationStep() = 0;
    virtual HRESULT GetCalibrationProgress(mtobj::CalibrationProgress* progress) = 0;
    // Stores a heading offset (degrees, -360 < offset < 360) and applies it at once.
    virtual HRESULT SetHeadingOffset(double degrees) = 0;
    // Back to the calibration before the last change (E_FAIL when there is none); forget it.
    virtual HRESULT UndoCalibration() = 0;
    virtual HRESULT ResetCalibration() = 0;
    // The stored calibration and the previous one, as text ("" for none).
    virtual HRESULT DescribeCalibration(std::string* current, std::string* previous) = 0;
    virtual HRESULT GetHeadingStanding(mtobj::HeadingStanding* standing) = 0;
};

inline const IID IID_IMotionTrackerCalibration = MakeGuid("{3B8E51A2-7C4D-4F19-A0E6-5D92C7B1E3F4}");

// The vessel's motion at the monitoring point (see mtobj/Motion.h), for the motion telegrams.
class IMotionTrackerHeave : public IUnknown {
public:
    // The monitoring point and the heave filter's period, kept across reopening; a change
    // starts the heave's settling anew. E_INVALIDARG, settings unchanged, for settings that
    // cannot be used (HeaveSettings::Problem).
    virtual HRESULT SetHeaveSettings(const mtobj::HeaveSettings& settings) = 0;
    // The newest motion: S_OK with it, S_FALSE (motion untouched) while the device gives no
    // heave (the simulator, a fused sensor, a heading-only sender, a closed port).
    virtual HRESULT GetMotion(mtobj::Motion* motion) = 0;
};

inline const IID IID_IMotionTrackerHeave = MakeGuid("{8F2A6C41-D5B3-4E97-B1C8-3A6E9D04F7B2}");
