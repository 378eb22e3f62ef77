// The sensor link: drives the orientation sensor, stamps its samples on the PC clock,
// keeps the latest orientation and the twenty-second sample buffer, and hands attitudes
// to the telegram workers at the chosen rate.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/MotionTrackerHealthCheck.h"
#include "app/MotionTrackerSink.h"
#include "app/SampleBuffer.h"
#include "app/TelegramOutput.h"
#include "interfaces/ErrorLog.h"
#include "interfaces/MotionTracker.h"
#include "mtobj/MTObj.h"
#include "platform/Sync.h"

class CXsensModule : public CSensorDataHandler {
public:
    explicit CXsensModule(void* unused = nullptr);
    // The program runs in mode 2 (rotation matrix); tests also drive modes 0, 1 and 3.
    CXsensModule(void* unused, std::uint16_t outputMode);
    // With the telegram workers the factory makes (the two constructors above use
    // DefaultTelegramOutputFactory(); an empty factory makes no workers).
    CXsensModule(void* unused, std::uint16_t outputMode, TelegramOutputFactory outputs);
    ~CXsensModule() override;
    CXsensModule(const CXsensModule&) = delete;
    CXsensModule& operator=(const CXsensModule&) = delete;

    bool Initialise();
    HRESULT AdviseSink(IUnknown* sink, DWORD* cookie);
    HRESULT UnadviseSink(DWORD cookie);
    void OpenSensorPort(short port, long baud);
    void SetFilterSettings(float gain, float weight);
    void ApplySensorSettings();
    void StartSensor();
    void StopSensor();
    void Reconnect();
    void GetSensorSettings(short& port, long& baud, std::string& deviceId, float& gain,
                           float& weight, short& rate);
    void SetSensorBaudRate(long baud);
    void SetSampleRate(short rate);
    void SetEulerLogFolder(bool enable, const std::string& folder);

    // The data path: runs on the thread that delivers the sensor's data event.
    void OnDataAvailable() override;
    bool OutputDue();

    bool GetOrientationDataLatest(double& time, float& pitch, float& roll, float& heading);
    bool GetOrientationData(double time, float& pitch, float& roll, float& heading);
    // The rate of turn at `time`, whose heading is `heading`: degrees a minute, positive to
    // starboard; nothing while the buffer holds less than a second before it.
    std::optional<float> RateOfTurn(double time, float heading);

    int AddTelegramWorker(int type, short port, unsigned baud);
    bool ModifyTelegramWorker(int id, int type, short port, unsigned baud);
    bool RemoveTelegramWorker(int id);
    void SetSensorPortWorkerPort(short port, unsigned baud);
    // Whether the output's port could not be opened at its last try (false for an unknown id).
    bool IsTelegramOutputPortFailed(int id);

    // Settings the main window gives before start and on "Apply".
    void SetSmoothing(bool on) { m_bSmoothing = on; }
    // Also turns the GNSS receiver's true course into the sensor's frame (heave settings).
    void SetMagneticVariation(float degrees);
    void SetTimeWindow(double ms) { m_dfTimeWindow = ms; }
    void SetOutputInterval(double ms) { m_dfOutputInterval = ms; }
    bool IsSmoothing() const { return m_bSmoothing; }
    float GetMagneticVariation() const { return m_fMagneticVariation; }
    double GetTimeWindow() const { return m_dfTimeWindow; }
    double GetOutputInterval() const { return m_dfOutputInterval; }

    double GetLatency() const;
    double GetSamplePeriod() const;
    std::uint32_t GetBufferCapacity() const;
    std::uint32_t GetBufferCount() const;
    short GetSampleRate() const { return m_nSampleRate; }
    std::string GetDeviceId() const;
    DWORD GetSensorToken() const { return m_dwSensorToken; }
    IMotionTracker* GetTracker() const { return m_pTracker.get(); }
    CMotionTrackerHealthCheck& HealthCheck() { return m_healthCheck; }
    std::string GetEulerLogFileName() const;
    // The latest rotation matrix m0..m8 (the 3-D view draws it).
    std::array<float, 9> GetRotationMatrix() const;

    // Calibration of the sensor while it runs (the Advanced dialog's). None is possible
    // without a sensor object, with its port closed, or with a sensor that needs none: then
    // CanCalibrate is false (with the reason in *why) and the calls fail with E_NOTIMPL.
    bool CanCalibrate(std::string* why = nullptr) const;
    HRESULT BeginCalibrationStep(mtobj::CalibrationStep step, double seconds = 0);
    HRESULT FinishCalibrationStep();
    HRESULT CancelCalibrationStep();
    mtobj::CalibrationProgress GetCalibrationProgress() const;
    HRESULT SetHeadingOffset(double degrees);
    HRESULT UndoCalibration();
    HRESULT ResetCalibration();
    // The stored calibration and the previous one, as text ("" for none); false when the
    // sensor cannot say.
    bool DescribeCalibration(std::string& current, std::string& previous) const;
    // How far the heading can be trusted (trusted for a sensor that needs no calibration).
    mtobj::HeadingStanding GetHeadingStanding() const;

    // The monitoring point and the heave filter's period, handed to the sensor object now and
    // kept for it; false, settings unchanged, for settings it cannot use.
    bool SetHeaveSettings(const mtobj::HeaveSettings& settings);
    // The newest motion at the monitoring point; nullopt while the sensor gives no heave.
    std::optional<mtobj::Motion> GetMotion() const;

    // The rules that turn a stored orientation into pitch, roll and heading (degrees).
    static void AnglesFromMatrix(const float m[9], float& pitch, float& roll, float& heading);
    static void AnglesFromQuaternion(const Quaternion& q, float& pitch, float& roll,
                                     float& heading);
    // The quaternion that AnglesFromQuaternion reads back as the given angles.
    static Quaternion QuaternionFromAngles(float pitch, float roll, float heading);

private:
    // The sensor object's calibration interface; null when there is none.
    CComPtr<IMotionTrackerCalibration> Calibration() const;
    void RecomputeRate();  // sample period and buffer capacity, under the data lock
    // The call on the sensor object's connection point for the sink (E_POINTER without one).
    HRESULT OnSinkConnectionPoint(const char* context,
                                  const std::function<HRESULT(IConnectionPoint&)>& call);
    void UpdateDataFromQuaternion(const float* values);
    void UpdateDataFromEuler(const float* values);
    void UpdateDataFromMatrix(const float* values);
    void OutputStep();
    void WriteEulerLog(const float* values, double sampleTime);
    void ShowSaveResult(HRESULT hr);
    void ApplyAndStore(const std::function<HRESULT(IMotionTracker*)>& apply,
                       const char* refusedFormat, int value);

    std::atomic<bool> m_bNewData{false};
    mutable CErrorLog m_log;
    std::atomic<bool> m_bSmoothing{false};
    std::atomic<float> m_fMagneticVariation{0.0F};
    const TelegramOutputFactory m_outputs;  // where the telegram workers come from
    CCriticalSection m_workerLock;  // the worker map: changed by the window, read by the data path
    std::map<int, std::unique_ptr<ITelegramOutput>> m_telegramWorkers;
    std::unique_ptr<ITelegramOutput> m_sensorPortWorker;
    CComPtr<IMotionTracker> m_pTracker;
    // The sensor object's heave interface, found once it is made (null when it has none).
    CComPtr<IMotionTrackerHeave> m_pHeave;
    mutable CCriticalSection m_heaveLock;
    mtobj::HeaveSettings m_heaveSettings;  // under m_heaveLock
    // The heave settings as the sensor object takes them: with the module's variation, east
    // positive (the module's own is what the true heading lacks). Under m_heaveLock.
    HRESULT ForwardHeaveSettings(const mtobj::HeaveSettings& settings);

    // Written by the data path, read by the window's display: guarded by m_dataLock.
    mutable CCriticalSection m_dataLock;
    double m_dfSampleTime = 0;
    bool m_bTimeBaseSet = false;
    float m_fRoll = 0, m_fPitch = 0, m_fYaw = 0;
    CSampleBuffer m_sampleBuffer{m_log};
    Quaternion m_lastMatrixQuaternion;
    bool m_bHaveMatrixQuaternion = false;
    double m_dfLatency = 0;
    double m_dfSamplePeriod = 40;
    std::array<float, 9> m_rotationMatrix{};

    std::atomic<double> m_dfTimeWindow{0};
    const std::uint16_t m_nOutputMode;
    std::atomic<double> m_dfOutputInterval{0};
    std::atomic<double> m_dfNextOutputTime{0};  // the output grid's next point
    CMotionTrackerHealthCheck m_healthCheck;
    float m_fFilterGain = 1.0F;
    float m_fMagnetometerWeight = 1.0F;
    short m_nSampleRate = 25;
    short m_nPortNumber = 1;
    long m_nBaudRate = 115200;
    std::string m_deviceId = "???";
    DWORD m_dwSensorToken = 0;
    std::int16_t m_nFilterParameter = 1;

    // The Euler log: written by the data path, switched by the window; guarded by m_logLock.
    mutable CCriticalSection m_logLock;
    std::atomic<bool> m_bEulerLogging{false};
    std::string m_eulerLogStem;
    std::string m_eulerLogFileName;
    std::uint32_t m_eulerLogLines = 0;
    bool m_bEulerLogWriteFailed = false;  // traced once until a line goes out again
    std::ofstream m_eulerLogFile;
};

// Euler log file name: the stem, then the local time "%Y%m%d%H%M%S", then ".txt" (a dot
// beyond the fifth character of the stem takes the stamp in front of it).
std::string MakeTimestampedFileName(const std::string& stem);
// One Euler log line for a sample time (PC ms) and the sample's values.
std::string FormatEulerLogLine(double sampleTime, const float* values, int count);
