#include "app/MotionTrackerHealthCheck.h"

#include <chrono>
#include <cstdio>

#include "platform/Messages.h"

namespace {
// The main window's title, which names the health check in the trace log.
constexpr const char* kMainWindowTitle = "Tavimo";
}  // namespace

CMotionTrackerHealthCheck::CMotionTrackerHealthCheck() {
    m_log.EnableTrace(true);
    m_log.SetModuleName(kMainWindowTitle);
    m_log.SetObjectName("CMotionTrackerHealthCheck");
    m_log.Trace("CMotionTrackerHealthCheck()", "OK");
}

CMotionTrackerHealthCheck::~CMotionTrackerHealthCheck() {
    CBaseThread::StopThread();
}

bool CMotionTrackerHealthCheck::StartThread() {
    m_attempts = 0;
    return CBaseThread::StartThread();
}

void CMotionTrackerHealthCheck::StopThread() {
    CBaseThread::StopThread();
    m_dataEvent.Set();
    m_attempts = 0;
}

std::int64_t CMotionTrackerHealthCheck::NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

const std::array<float, 4>& CMotionTrackerHealthCheck::SampleReceived(const float quaternion[4]) {
    const std::int64_t now = NowMs();
    m_lastSampleMs = now;
    m_attempts = 0;
    // The thread needs to know that samples come, not each one: a signal every tenth of
    // the silence time is enough, and the silence is measured from the newest sample.
    if (now - m_lastSignalMs.load() >= static_cast<std::int64_t>(m_silenceMs.load() / 10)) {
        m_lastSignalMs = now;
        m_dataEvent.Set();
    }
    // Only the sample-delivery thread writes and reads the copy.
    for (int i = 0; i < 4; ++i) {
        m_lastSample[i] = quaternion[i];
    }
    return m_lastSample;
}

bool CMotionTrackerHealthCheck::ProcessData() {
    const std::int64_t silence = m_silenceMs.load();
    std::int64_t wait = silence;
    for (;;) {
        if (WaitForSingleObject(m_dataEvent, static_cast<DWORD>(wait)) != WAIT_TIMEOUT) {
            return true;
        }
        if (!HasThreadHandle() || !IsRunning()) {
            return true;  // a stop is in progress
        }
        // A sample that came without a signal moves the end of the silence on.
        const std::int64_t age = NowMs() - m_lastSampleMs.load();
        if (age >= silence) {
            break;
        }
        wait = silence - age;
    }
    return OnTimeOut();
}

bool CMotionTrackerHealthCheck::OnTimeOut() {
    if (m_attempts.load() < kMaxAttempts) {
        const int attempt = ++m_attempts;
        char text[256];
        std::snprintf(text, sizeof text,
                      "No valid data received from the Motion Sensor hardware in the last %d ms. "
                      "Attempting reconnection: %d",
                      static_cast<int>(kSilenceMs), attempt);
        m_log.TraceNow("CMotionTrackerHealthCheck::OnTimeOut", "%s", text);
        PostMessage(AfxGetMainWnd(), WM_TAVIMO_RECONNECT_SENSOR, 0, 0);
        return true;
    }
    m_log.TraceNow("CMotionTrackerHealthCheck::OnTimeOut", "%s",
                   "Failed to re-establish a valid connection to the Motion Sensor hardware.");
    PostMessage(AfxGetMainWnd(), WM_TAVIMO_SENSOR_LOST, 0, 0);
    return false;
}
