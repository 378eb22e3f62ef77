// The sensor device over a source of sensor records: calibration, attitude filter, capture,
// and delivery at the configured sample rate.
#include "mtobj/RecordDevice.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <utility>

#include "filter/AttitudeFilter.h"
#include "filter/Calibration.h"
#include "interfaces/ErrorLog.h"
#include "mtobj/CalibrationStore.h"
#include "mtobj/IioScan.h"
#include "platform/Paths.h"

namespace mtobj {
namespace {

constexpr double kMagReportSeconds = 10.0;

class CRecordDevice final : public ISensorDevice {
public:
    CRecordDevice(std::unique_ptr<IRecordSource> source, std::string port)
        : m_source(std::move(source)), m_port(std::move(port)), m_id(m_source->Id()) {
        // The id is the names asked for until the device is found (the sensor object reads
        // the device's saved settings under it when it is made).
        m_log.SetModuleName("Tavimo");
        m_log.SetObjectName("SensorDevice");
        m_log.EnableTrace(true);
    }
    ~CRecordDevice() override { Close(); }

    HRESULT Open(const std::string& port, LONG baud) override {
        std::lock_guard lock(m_mutex);
        if (port != m_port || baud <= 0) {
            return E_FAIL;
        }
        std::string reason;
        if (!m_source->Open(&reason)) {
            Report("Open", reason);
            return E_FAIL;
        }
        m_open = true;
        m_id = m_source->Id();
        return S_OK;
    }
    void Close() override {
        Stop();
        std::lock_guard lock(m_mutex);
        if (m_open) {
            m_source->Close();
        }
        m_open = false;
        m_capture.Close();
    }
    std::string DeviceId() const override {
        std::lock_guard lock(m_mutex);
        return m_id;
    }
    HRESULT Configure(const SensorConfig& config) override {
        std::lock_guard lock(m_mutex);
        m_config = config;
        return S_OK;
    }
    HRESULT Start() override {
        Stop();
        std::lock_guard reading(m_readMutex);
        std::lock_guard lock(m_mutex);
        if (!m_open) {
            return E_FAIL;
        }
        std::string reason;
        if (!m_source->Start(std::max<int>(1, m_config.sampleRate), &reason)) {
            Report("Start", reason);
            return E_FAIL;
        }
        m_filter.SetTuning({m_config.gain, m_config.weight});
        m_filter.Reset();
        m_calibration = LoadCalibration(m_id, &reason).value_or(attfilter::SensorCalibration());
        if (!reason.empty()) {
            Report("Start",
                   "the stored calibration is unreadable (" + reason + "); running uncalibrated");
        } else if (!m_calibration.magCalibrated) {
            Report("Start", "the magnetometer of " + m_id +
                                " is not calibrated: its heading is not to be trusted "
                                "(tavimo-calibrate mag)");
        }
        m_magFlagged = false;
        m_magReportedAt = -1e300;
        m_period = 1.0 / std::max<int>(1, m_config.sampleRate);
        m_haveTick = false;
        m_haveAttitude = false;
        OpenCapture();
        m_pending.clear();
        m_pending.push_back(SensorRecord{.restart = true});
        m_running = true;
        return S_OK;
    }
    void Stop() override {
        {
            std::lock_guard lock(m_mutex);
            m_running = false;
        }
        m_source->Interrupt();
        // A read in progress ends on the interrupt; the source stops once it has.
        std::lock_guard reading(m_readMutex);
        m_source->Stop();
    }
    bool ReadBatch(std::vector<std::vector<float>>& arrays, double& newestSeconds,
                   DWORD timeoutMs) override {
        std::lock_guard reading(m_readMutex);
        SensorConfig config;
        {
            std::lock_guard lock(m_mutex);
            if (!m_running) {
                return false;
            }
            config = m_config;
        }
        std::vector<SensorRecord>& records = m_records;
        records.clear();
        if (!m_source->Read(records, timeoutMs)) {
            return false;
        }
        if (m_capture.IsOpen()) {
            m_pending.insert(m_pending.end(), records.begin(), records.end());
            if (!m_capture.Write(m_pending)) {
                Report("Capture", "the capture file cannot be written; capture stopped");
                m_capture.Close();
            }
            m_pending.clear();
        }
        bool any = false;
        for (const SensorRecord& r : records) {
            if (Take(r)) {
                // Attitudes go out at the configured rate on the device's own time line,
                // each the newest the device had at its tick.
                if (!m_haveTick || r.seconds - m_nextTick > 1.0) {
                    m_nextTick = r.seconds;
                    m_haveTick = true;
                }
                while (m_nextTick <= r.seconds + 1e-9) {
                    AppendAttitude(arrays, m_attitude, config, m_haveExtra ? &m_extra : nullptr);
                    newestSeconds = m_source->PcSeconds(m_nextTick);
                    m_nextTick += m_period;
                    any = true;
                }
            }
        }
        return any;
    }
    void Interrupt() override { m_source->Interrupt(); }

private:
    // Takes one record into the attitude; true when there is an attitude to deliver.
    bool Take(const SensorRecord& r) {
        if (r.restart) {
            m_filter.Reset();
            m_haveAttitude = false;
            m_haveTick = false;
            return false;
        }
        if (r.hasQuaternion) {
            m_attitude = AttitudeOfQuaternion(r.quaternion);
            m_haveExtra = false;
            m_haveAttitude = true;
            return true;
        }
        const attfilter::RawSample raw = m_calibration.Apply(RawSampleOf(r));
        m_filter.Update(raw);
        if (raw.hasAccel) {
            m_extra[0] = static_cast<float>(raw.accel.x);
            m_extra[1] = static_cast<float>(raw.accel.y);
            m_extra[2] = static_cast<float>(raw.accel.z);
        }
        if (raw.hasGyro) {
            m_extra[3] = static_cast<float>(raw.gyro.x);
            m_extra[4] = static_cast<float>(raw.gyro.y);
            m_extra[5] = static_cast<float>(raw.gyro.z);
        }
        if (raw.hasMag) {
            m_extra[6] = static_cast<float>(raw.mag.x);
            m_extra[7] = static_cast<float>(raw.mag.y);
            m_extra[8] = static_cast<float>(raw.mag.z);
        }
        m_haveExtra = true;
        if (!m_filter.HasAttitude()) {
            return false;
        }
        // A change of the magnetometer's standing is reported, at most one line in
        // kMagReportSeconds of samples, so a wavering one does not flood the trace.
        const bool disturbed = m_filter.MagneticDisturbance();
        if (disturbed != m_magFlagged && r.seconds - m_magReportedAt >= kMagReportSeconds) {
            m_magFlagged = disturbed;
            m_magReportedAt = r.seconds;
            Report("Heading", disturbed ? "the magnetometer disagrees with the heading "
                                          "(disturbed or uncalibrated): heading from the "
                                          "gyroscope alone"
                                        : "the magnetometer agrees with the heading again");
        }
        const attfilter::EulerAngles e = m_calibration.Apply(m_filter.Attitude());
        m_attitude.heading = std::fmod(std::fmod(e.heading, 360.0) + 360.0, 360.0);
        m_attitude.pitch = e.pitch;
        m_attitude.roll = e.roll;
        m_haveAttitude = true;
        return true;
    }

    void OpenCapture() {
        const auto path = platform::EnvironmentValue("TAVIMO_CAPTURE");
        if (!path || path->empty() || !m_source->Recordable() || m_capture.IsOpen()) {
            return;
        }
        std::string reason;
        if (!m_capture.Open(*path, m_id, &reason)) {
            Report("Capture", "cannot record to " + reason);
        } else {
            Report("Capture", "recording what " + m_id + " delivers to " + *path);
        }
    }

    void Report(const char* context, const std::string& text) {
        m_log.TraceNow(context, "%s", text.c_str());
        std::fprintf(stderr, "Tavimo: sensor %s: %s\n", m_id.empty() ? "" : m_id.c_str(),
                     text.c_str());
    }

    const std::unique_ptr<IRecordSource> m_source;
    const std::string m_port;
    mutable std::mutex m_mutex;  // settings, state
    std::mutex m_readMutex;      // the source's reading side, and what only the reader uses
    CErrorLog m_log;
    SensorConfig m_config;
    std::string m_id;
    bool m_open = false;
    bool m_running = false;
    // The reader's own (m_readMutex):
    attfilter::CAttitudeFilter m_filter;
    attfilter::SensorCalibration m_calibration;
    CCaptureWriter m_capture;
    std::vector<SensorRecord> m_records;
    std::vector<SensorRecord> m_pending;
    Attitude m_attitude;
    std::array<float, 9> m_extra{};
    bool m_haveExtra = false;
    bool m_haveAttitude = false;
    bool m_magFlagged = false;
    double m_magReportedAt = -1e300;
    bool m_haveTick = false;
    double m_nextTick = 0;
    double m_period = 0.01;
};

// East-north-up and the filter's level frame (north-west-up) are a quarter turn apart about up.
constexpr double kHalfRoot2 = 0.70710678118654752440;
constexpr std::array<double, 4> kEnuFromNwu{kHalfRoot2, 0, 0, kHalfRoot2};

}  // namespace

Attitude AttitudeOfQuaternion(const std::array<double, 4>& enu) {
    const std::array<double, 4> nwuFromEnu{kEnuFromNwu[0], 0, 0, -kEnuFromNwu[3]};
    const attfilter::EulerAngles e =
        attfilter::AnglesOf(attfilter::QuaternionProduct(nwuFromEnu, enu));
    Attitude a;
    a.heading = std::fmod(std::fmod(e.heading, 360.0) + 360.0, 360.0);
    a.pitch = e.pitch;
    a.roll = e.roll;
    return a;
}

std::array<double, 4> QuaternionOfAttitude(const Attitude& a) {
    return attfilter::QuaternionProduct(kEnuFromNwu,
                                        attfilter::OrientationOf({a.heading, a.pitch, a.roll}));
}

attfilter::RawSample RawSampleOf(const SensorRecord& r) {
    attfilter::RawSample s;
    s.seconds = r.seconds;
    s.hasAccel = r.hasAccel;
    s.hasGyro = r.hasGyro;
    s.hasMag = r.hasMag;
    s.accel = {r.accel[0], r.accel[1], r.accel[2]};
    s.gyro = {r.gyro[0], r.gyro[1], r.gyro[2]};
    s.mag = {r.mag[0], r.mag[1], r.mag[2]};
    return s;
}

SensorRecord RecordOf(const attfilter::RawSample& s) {
    SensorRecord r;
    r.seconds = s.seconds;
    r.hasAccel = s.hasAccel;
    r.hasGyro = s.hasGyro;
    r.hasMag = s.hasMag;
    r.accel = {s.accel.x, s.accel.y, s.accel.z};
    r.gyro = {s.gyro.x, s.gyro.y, s.gyro.z};
    r.mag = {s.mag.x, s.mag.y, s.mag.z};
    return r;
}

std::unique_ptr<ISensorDevice> MakeRecordDevice(std::unique_ptr<IRecordSource> source,
                                                std::string port) {
    return std::make_unique<CRecordDevice>(std::move(source), std::move(port));
}

std::unique_ptr<ISensorDevice> MakeIioDevice(const std::string& names, const std::string& port) {
    return MakeRecordDevice(MakeIioSource(names), port);
}

std::unique_ptr<ISensorDevice> MakeReplayDevice(const std::string& argument,
                                                const std::string& port) {
    return MakeRecordDevice(MakeReplaySource(argument), port);
}

}  // namespace mtobj
