#include "app/TelegramWorkerThread.h"

#include <cstdio>
#include <new>
#include <utility>

#include "app/ServiceActivity.h"
#include "interfaces/CommsManager.h"

CTelegramWorkerThread::CTelegramWorkerThread() {
    std::snprintf(m_szName, sizeof(m_szName), "%s", "XsensMT9::TelegramWorkerThread");
    SetTimeCritical(true);  // between the sensor's sample and the telegram's last byte
    // The manager owns the agent; a failed allocation registers null and leaves no ports.
    m_portManager.AddPortAgent(new (std::nothrow) CCommsManager);
    m_log.EnableTrace(false);
    m_log.SetModuleName("Tavimo");
    m_log.SetObjectName("CTelegramWorkerThread");
    m_log.TraceNow("CTelegramWorkerThread()", "OK");
}

CTelegramWorkerThread::~CTelegramWorkerThread() {
    ReleaseHeldPort();
}

void CTelegramWorkerThread::OnStopRequest() {
    m_hCommandEvent.Set();
}

bool CTelegramWorkerThread::ProcessData() {
    const DWORD result = WaitForSingleObject(m_hCommandEvent, kCommandWaitMs);
    RetryPortIfDue();
    if (result == WAIT_OBJECT_0) {
        RunCommands();
    } else if (result == WAIT_TIMEOUT) {
        m_log.TraceNow("ProcessData", "WAIT_TIMEOUT");
    } else if (result == WAIT_ABANDONED) {
        m_log.TraceNow("ProcessData", "WAIT_ABANDONED");
    } else {
        m_log.TraceNow("ProcessData", "WaitForSingleObject() returns %d", static_cast<int>(result));
    }
    return true;
}

void CTelegramWorkerThread::RunCommands() {
    bool open = false;
    bool send = false;
    {
        CSingleLock lock(m_lock);
        open = std::exchange(m_bOpenPending, false);
        send = std::exchange(m_bSendPending, false);
    }
    if (open) {
        OpenPort();
    }
    if (send) {
        SendTelegrams();
    }
}

void CTelegramWorkerThread::OnThreadStartup() {
    m_log.TraceNow("CTelegramWorkerThread::OnThreadStartup()", "OK");
}

void CTelegramWorkerThread::OnThreadShutdown() {
    m_log.TraceNow("CTelegramWorkerThread::OnThreadShutdown()", "OK");
}

short CTelegramWorkerThread::GetComNumber() {
    CSingleLock lock(m_lock);
    return m_nComNumber;
}

unsigned CTelegramWorkerThread::GetBaudRate() const {
    CSingleLock lock(m_lock);
    return m_nBaudRate;
}

bool CTelegramWorkerThread::HasPort() const {
    CSingleLock lock(m_lock);
    return m_pPort != nullptr;
}

void CTelegramWorkerThread::ReleaseHeldPort() {
    CSingleLock lock(m_lock);
    if (m_pPort != nullptr) {
        m_portManager.ReleasePort(m_pPort);
        m_pPort = nullptr;
    }
}

void CTelegramWorkerThread::OpenPort() {
    Reopen("TRANSMIT(ASCII), RECEIVE(ASCII)", false);
}

void CTelegramWorkerThread::Reopen(const char* protocol, bool receive) {
    CSingleLock lock(m_lock);
    char name[16];
    char configuration[48];
    std::snprintf(name, sizeof(name), "COM%d", static_cast<int>(m_nComNumber));
    std::snprintf(configuration, sizeof(configuration), "CONFIG(%d,8,n,1)",
                  static_cast<int>(m_nBaudRate));
    ReleaseHeldPort();
    m_pPort = m_portManager.GetPort(name);
    if (m_pPort != nullptr) {
        m_pPort->SetProtocol(protocol);
        m_pPort->Configure(configuration);
        if (receive) {
            m_pPort->StartReceiving();
        }
    }
    ReportPortState(name);
}

void CTelegramWorkerThread::ReportPortState(const std::string& name) {
    // Once when a port cannot be opened and once when it opens again, so a crew sees why
    // an instrument gets nothing, without a line for every retry.
    if (m_pPort == nullptr) {
        m_nextRetry = std::chrono::steady_clock::now() + kPortRetryInterval;
        if (m_strFailedPort != name) {
            m_strFailedPort = name;
            m_bPortFailed = true;
            Notice("Output port " + name +
                   " cannot be opened: its telegrams are not sent; trying again every second");
        }
        return;
    }
    if (m_strFailedPort == name) {
        Notice("Output port " + name + " is open again: its telegrams are sent");
    }
    m_strFailedPort.clear();
    m_bPortFailed = false;
}

void CTelegramWorkerThread::Notice(const std::string& text) {
    m_log.TraceNow("OpenPort", "%s", text.c_str());
    std::fprintf(stderr, "Tavimo: %s\n", text.c_str());
}

void CTelegramWorkerThread::RetryPortIfDue() {
    {
        CSingleLock lock(m_lock);
        if (!m_bPortFailed.load() || m_bOpenPending ||
            std::chrono::steady_clock::now() < m_nextRetry) {
            return;
        }
    }
    OpenPort();
}

bool CTelegramWorkerThread::IsPortFailed() const {
    return m_bPortFailed.load();
}

void CTelegramWorkerThread::SetPort(short comNumber, unsigned baud) {
    {
        CSingleLock lock(m_lock);
        m_nComNumber = comNumber;
        m_nBaudRate = baud;
        m_bOpenPending = true;
    }
    m_hCommandEvent.Set();
}

void CTelegramWorkerThread::SetAttitude(double time, float roll, float pitch, float magneticHeading,
                                        float magneticVariation) {
    {
        CSingleLock lock(m_lock);
        m_attitude.time = time;
        m_attitude.roll = roll;
        m_attitude.pitch = pitch;
        m_attitude.magneticHeading = magneticHeading;
        m_attitude.magneticVariation = magneticVariation;
        float trueHeading = magneticHeading - magneticVariation;
        if (trueHeading < 0.0f) {
            trueHeading += 360.0f;
        } else if (trueHeading > 360.0f) {
            trueHeading -= 360.0f;
        }
        m_attitude.trueHeading = trueHeading;
        m_bSendPending = true;
        if (m_pPort != nullptr) {
            CServiceActivity::AttitudeHanded();  // a telegram is expected to leave
        }
    }
    m_hCommandEvent.Set();
}

void CTelegramWorkerThread::SetMotion(const std::optional<mtobj::Motion>& motion) {
    CSingleLock lock(m_lock);
    m_attitude.motion = motion;
}

void CTelegramWorkerThread::SetRateOfTurn(std::optional<float> degreesPerMinute) {
    CSingleLock lock(m_lock);
    m_attitude.rateOfTurn = degreesPerMinute;
}

CTelegramWorkerThread::Attitude CTelegramWorkerThread::GetAttitude() const {
    CSingleLock lock(m_lock);
    return m_attitude;
}
