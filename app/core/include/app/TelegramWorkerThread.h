// The worker thread of a telegram output: owns its port through the port broker, keeps
// the latest attitude the sensor link hands it, and sends the telegrams of its type each
// time it is told that a new attitude has arrived. Also the base of the binary worker of
// the sensor-side port.
#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <string>

#include "interfaces/ErrorLog.h"
#include "interfaces/PortManager.h"
#include "interfaces/Telegrax.h"
#include "mtobj/Motion.h"
#include "platform/BaseThread.h"
#include "platform/Sync.h"

class CTelegramWorkerThread : public CBaseThread {
public:
    // How long a pass waits for a command; bounds how long a stop takes to be seen.
    static constexpr DWORD kCommandWaitMs = 200;

    // The thread is started by the owner (StartThread) and stopped with StopThread
    // before the worker is deleted.
    CTelegramWorkerThread();
    // Hands back the port if one is held.
    ~CTelegramWorkerThread() override;

    // Wakes the thread, so that a stop is seen at once.
    void OnStopRequest() override;
    // Waits up to 200 ms for a command and carries it out; always true.
    bool ProcessData() override;
    void OnThreadStartup() override;
    void OnThreadShutdown() override;
    virtual void SendTelegrams() = 0;
    virtual short GetComNumber();
    // (Re)opens the port "COM<n>" from the stored number and baud rate: the port held is
    // handed back before the new one is taken. No port is no error: the output stays
    // silent until a later SetPort succeeds.
    virtual void OpenPort();
    // Stores a new port setting and asks the thread to reopen. Every call leads to one
    // reopening, even when an attitude arrives before the thread wakes.
    virtual void SetPort(short comNumber, unsigned baud);

    // Called by the sensor link for every output cycle: stores the attitude and asks the
    // thread to send. True heading = magnetic heading - variation, brought once into range
    // (below 0 adds 360, above 360 subtracts 360; exactly 360 stays).
    void SetAttitude(double time, float roll, float pitch, float magneticHeading,
                     float magneticVariation);
    // Stores the motion at the monitoring point that the next attitude goes out with
    // (nullopt while the sensor gives no heave); sends nothing by itself.
    void SetMotion(const std::optional<mtobj::Motion>& motion);
    // Stores the rate of turn (degrees a minute, positive to starboard; nullopt while none
    // is known) that the next attitude goes out with; sends nothing by itself.
    void SetRateOfTurn(std::optional<float> degreesPerMinute);

    // Whether a port is held now (for the owner's display and for tests).
    bool HasPort() const;
    // Whether the last opening of the port failed: the output is silent and the attitude
    // worker tries again every kPortRetryInterval.
    bool IsPortFailed() const;
    static constexpr std::chrono::milliseconds kPortRetryInterval{1000};
    unsigned GetBaudRate() const;

protected:
    struct Attitude {
        double time = 0.0;
        float roll = 0.0f;
        float pitch = 0.0f;
        float magneticHeading = 0.0f;
        float trueHeading = 0.0f;
        float magneticVariation = 0.0f;
        std::optional<float> rateOfTurn;  // degrees a minute, positive to starboard
        std::optional<mtobj::Motion> motion;
    };
    Attitude GetAttitude() const;
    // Takes the pending commands and carries them out: a reopening first, then a send.
    void RunCommands();
    // Hands back the port held (under the lock).
    void ReleaseHeldPort();
    // Under the lock: hands back the port held, takes "COM<n>", sets the protocol, then
    // "CONFIG(<baud>,8,n,1)", and starts receiving when asked. No port is kept as null.
    void Reopen(const char* protocol, bool receive);
    // Tells (trace and standard error) once when the port cannot be opened and once when
    // it opens again. Under the lock, after an opening.
    void ReportPortState(const std::string& name);
    void Notice(const std::string& text);
    // Reopens a port that failed to open, at most once every kPortRetryInterval.
    void RetryPortIfDue();

    CPortManager m_portManager;
    CTelegrax* m_pPort = nullptr;  // changed only on the worker's thread, under the lock
    short m_nComNumber = 0;
    unsigned m_nBaudRate = 0;
    CEvent m_hCommandEvent{false, false};
    // The pending commands, kept apart so that neither overwrites the other.
    bool m_bSendPending = false;
    bool m_bOpenPending = false;
    CErrorLog m_log;
    // The port that failed to open ("" when none), and when to try it again.
    std::string m_strFailedPort;
    std::atomic<bool> m_bPortFailed{false};
    std::chrono::steady_clock::time_point m_nextRetry;
    Attitude m_attitude;
    mutable CCriticalSection m_lock;
};
