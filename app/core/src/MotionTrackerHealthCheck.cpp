#include "app/MotionTrackerHealthCheck.h"

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

const std::array<float, 4>& CMotionTrackerHealthCheck::SampleReceived(const float quaternion[4]) {
    m_dataEvent.Set();
    m_attempts = 0;
    // Only the sample-delivery thread writes and reads the copy.
    for (int i = 0; i < 4; ++i) {
        m_lastSample[i] = quaternion[i];
    }
    return m_lastSample;
}

bool CMotionTrackerHealthCheck::ProcessData() {
    if (WaitForSingleObject(m_dataEvent, m_silenceMs.load()) != WAIT_TIMEOUT) {
        return true;
    }
    if (!HasThreadHandle() || !IsRunning()) {
        return true;  // a stop is in progress
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
