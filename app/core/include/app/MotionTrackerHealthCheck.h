// Watches the sensor's sample stream: after a silent second it asks the main window to
// reconnect the sensor, up to five times in a row, then reports the sensor lost and ends.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "interfaces/ErrorLog.h"
#include "platform/BaseThread.h"
#include "platform/Sync.h"
#include "platform/Types.h"

constexpr UINT WM_TAVIMO_RECONNECT_SENSOR = WM_USER + 103;
constexpr UINT WM_TAVIMO_SENSOR_LOST = WM_USER + 104;

class CMotionTrackerHealthCheck : public CBaseThread {
public:
    static constexpr int kMaxAttempts = 5;
    static constexpr DWORD kSilenceMs = 1000;

    CMotionTrackerHealthCheck();
    ~CMotionTrackerHealthCheck() override;

    void OnStopRequest() override {}
    bool ProcessData() override;
    void OnThreadStartup() override {}
    void OnThreadShutdown() override {}
    virtual bool OnTimeOut();

    bool StartThread();
    void StopThread();
    // Called for every sample on the sample-delivery thread.
    const std::array<float, 4>& SampleReceived(const float quaternion[4]);

    int AttemptCount() const { return m_attempts.load(); }
    // The silence that counts as a lost sample stream (1000 ms); tests shorten it.
    void SetSilenceTimeout(DWORD ms) { m_silenceMs = ms; }

private:
    static std::int64_t NowMs();

    std::array<float, 4> m_lastSample{1.0F, 0.0F, 0.0F, 0.0F};
    CEvent m_dataEvent;
    CErrorLog m_log;
    std::atomic<int> m_attempts{0};
    std::atomic<DWORD> m_silenceMs{kSilenceMs};
    // When the newest sample came and when the event was last signalled (steady ms): at
    // 512 Hz the thread wakes a few times a second, not once per sample.
    std::atomic<std::int64_t> m_lastSampleMs{0};
    std::atomic<std::int64_t> m_lastSignalMs{0};
};
