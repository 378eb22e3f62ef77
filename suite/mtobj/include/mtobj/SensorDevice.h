// The one table of operations between the sensor object and a device: the sensor object
// keeps the COM side (settings, queue, events, thread) and a device does the rest, so a
// driver for a real sensor is one new implementation of this table.
//
// The devices live together in suite/mtobj/devices/, one file (or a few) per kind; the kind
// on the sensor port is chosen with `tavimo-ports sensor COM<n> KIND` and made by MakeDevice.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mtobj/CalibrationSteps.h"
#include "mtobj/Motion.h"
#include "mtobj/VesselMotion.h"
#include "platform/Com.h"

namespace mtobj {

struct SensorConfig {
    std::int16_t sampleRate = 100;  // Hz
    std::int16_t outputMode = 2;    // 0 quaternion, 1 Euler angles, 2 rotation matrix
    bool extraData = false;         // a second array after every sample
    float gain = 1.0F;
    std::int16_t filterParameter = 1;
    float weight = 1.0F;
};

class ISensorDevice {
public:
    virtual ~ISensorDevice() = default;
    // Opens the device on a port name ("COM1"); S_OK when the device answers there.
    virtual HRESULT Open(const std::string& port, LONG baud) = 0;
    virtual void Close() = 0;
    virtual std::string DeviceId() const = 0;
    // Applies the settings; they take effect at the next Start. A device that cannot honour
    // a setting (a sender that fixes its own rate, say) refuses with a failure code and the
    // sensor object keeps its previous settings.
    virtual HRESULT Configure(const SensorConfig& config) = 0;
    virtual HRESULT Start() = 0;
    virtual void Stop() = 0;
    // Waits at most timeoutMs for the next batch and appends its arrays in delivery order
    // (two per sample when extra data is on), and the device time of the newest sample in
    // seconds. False when woken by Interrupt or stopped.
    virtual bool ReadBatch(std::vector<std::vector<float>>& arrays, double& newestSeconds,
                           DWORD timeoutMs) = 0;
    // Wakes a ReadBatch in progress.
    virtual void Interrupt() = 0;
    // The rate of a device whose sender sets it (telegrams from another instrument), as
    // the sensor reports its rate; 0 for a device that samples at the configured rate.
    virtual std::int16_t FixedSampleRate() const { return 0; }
    // The steady-clock time (seconds since the clock's origin) at which the sample of a
    // device time was taken, for measuring a sample's age downstream; negative when the
    // device cannot say.
    virtual double DueSteadySeconds(double /*deviceSeconds*/) const { return -1.0; }

    // Calibration while the device runs. A device that needs none (the simulator, telegrams
    // from another instrument, a sensor that fuses its own orientation) keeps these defaults:
    // not calibratable, every call refused with E_NOTIMPL, its heading trusted.
    virtual bool Calibratable() const { return false; }
    // Starts a step over the samples of the next `seconds` (its default when <= 0), the
    // telegrams going on meanwhile; a step in progress is cancelled. Fails when not running.
    virtual HRESULT BeginCalibrationStep(CalibrationStep /*step*/, double /*seconds*/) {
        return E_NOTIMPL;
    }
    // Ends the collection now and computes with what was collected (the circle turned before
    // its time is up).
    virtual HRESULT FinishCalibrationStep() { return E_NOTIMPL; }
    virtual HRESULT CancelCalibrationStep() { return E_NOTIMPL; }
    virtual CalibrationProgress CalibrationStatus() const { return {}; }
    // Stores the heading offset (degrees, added to the heading) and applies it at once.
    virtual HRESULT SetHeadingOffset(double /*degrees*/) { return E_NOTIMPL; }
    // Back to the calibration before the last change; forgetting it (undo brings it back).
    virtual HRESULT UndoLastCalibration() { return E_NOTIMPL; }
    virtual HRESULT ForgetCalibration() { return E_NOTIMPL; }
    // The stored calibration and the previous one, described for a person ("" for none).
    virtual HRESULT CalibrationText(std::string* /*current*/, std::string* /*previous*/) const {
        return E_NOTIMPL;
    }
    virtual HeadingStanding Standing() const { return HeadingStanding::Trusted; }

    // The vessel's motion at the monitoring point. A raw sensor makes it through its heave
    // filter with these settings (checked by the caller, taken from the next sample on), and
    // reads the GNSS receiver they name for its attitude filter in turns; a
    // reader of motion telegrams passes on what the sender gives. Devices without heave keep
    // these defaults: the settings are taken and ignored, and there is no motion.
    virtual void SetHeaveSettings(const HeaveSettings& /*settings*/) {}
    // The newest motion; nullopt while there is none.
    virtual std::optional<Motion> CurrentMotion() const { return std::nullopt; }
};

// Appends what a device delivers for one attitude in the configured output mode (quaternion,
// Euler angles or rotation matrix, the same arrays for every kind of device), and with extra
// data on, the second array: calibrated acceleration (m/s²), rates (rad/s) and field, in
// `extra` when the device measures them, else the gravity and field the attitude implies.
void AppendAttitude(std::vector<std::vector<float>>& arrays, const Attitude& attitude,
                    const SensorConfig& config, const std::array<float, 9>* extra = nullptr);

// The kind of device on the sensor port, stored in the registry value "Kind" beside "Port"
// (kSettingsKey). Its text is "simulated" (also an empty or absent value: the default), and
// "name:argument" for the kinds that need one.
struct DeviceKind {
    std::string name;      // "simulated", ...
    std::string argument;  // what follows the first colon, "" when none

    std::string Text() const { return argument.empty() ? name : name + ":" + argument; }
};

// Reads a kind's text; nullopt, and the reason in *reason, for text that names no kind this
// build knows or that lacks the argument its kind needs.
std::optional<DeviceKind> ParseDeviceKind(const std::string& text, std::string* reason);

// Makes the device of a kind, answering on the sensor port `port` ("COM1"). A kind that
// cannot be made gives a device whose Open fails, and the reason in *reason: a configured
// real sensor is never silently replaced by the simulator.
std::unique_ptr<ISensorDevice> MakeDevice(const DeviceKind& kind, std::uint32_t seed,
                                          const std::string& port, std::string* reason);

// The simulated sensor: answers on the port named by the registry (COM1 unless set),
// moves as VesselMotion(seed) and delivers each sample at its due time (in batches when
// TAVIMO_SIMULATED_SENSOR_BATCH_MS asks for them).
std::unique_ptr<ISensorDevice> MakeSimulatedDevice(std::uint32_t seed, const std::string& port);

// Reads heading and attitude telegrams that another instrument sends on the sensor port
// `port` (any "COM<n>" of the port map): samples combine a heading and a roll and pitch that
// arrive within gapMs of each other (see TelegramSentences.h).
std::unique_ptr<ISensorDevice> MakeTelegramDevice(const std::string& port, double gapMs = 100.0);

// A device that never opens: what stands on the sensor port when its kind cannot be made.
std::unique_ptr<ISensorDevice> MakeUnavailableDevice(std::string reason);

}  // namespace mtobj
