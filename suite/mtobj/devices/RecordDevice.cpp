// The sensor device over a source of sensor records: calibration, attitude filter, capture,
// and delivery at the configured sample rate.
#include "mtobj/RecordDevice.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <utility>

#include "filter/AttitudeFilter.h"
#include "filter/Calibration.h"
#include "filter/HeaveFilter.h"
#include "interfaces/ErrorLog.h"
#include "mtobj/CalibrationStore.h"
#include "mtobj/GroundVelocity.h"
#include "mtobj/IioScan.h"
#include "platform/Paths.h"

namespace mtobj {
namespace {

constexpr double kMagReportSeconds = 10.0;
// A calibration step keeps at most this many samples (a longer step keeps every n-th), so
// its memory is bounded whatever the rate and duration asked for.
constexpr std::size_t kMaxStepSamples = 60000;
constexpr double kMaxStepSeconds = 600.0;
// The circle turned during the magnetometer step, in sectors of the running heading.
constexpr int kSectors = 36;
// Without a magnetometer sample in this much of the samples' time, the sensor has none.
constexpr double kNoMagSeconds = 2.0;
// Roll and pitch count as settled once the filter's own uncertainty of them is this small
// (degrees): a few tenths of a degree in any sea once it has converged, degrees before.
constexpr double kSettledTilt = 0.5;
// GNSS readings waiting for the samples to reach their moment, at most.
constexpr std::size_t kMostGroundWaiting = 32;
// A receiver's state is shown from its last reading for this long; then it has no fix.
constexpr double kGroundFreshSeconds = 3.0;
// How often what became of the readings is traced, in the samples' time.
constexpr double kGroundTraceSeconds = 60.0;

// A gyroscope bias taken at rest is never exactly zero.
bool GyroBiasTaken(const attfilter::SensorCalibration& c) {
    return c.gyroBias.x != 0.0 || c.gyroBias.y != 0.0 || c.gyroBias.z != 0.0;
}
bool SameMagnetometer(const attfilter::SensorCalibration& a,
                      const attfilter::SensorCalibration& b) {
    return a.magCalibrated == b.magCalibrated && a.hardIron.x == b.hardIron.x &&
           a.hardIron.y == b.hardIron.y && a.hardIron.z == b.hardIron.z && a.softIron == b.softIron;
}
// The values a step sets, taken from its result into the calibration in force (a heading
// offset stored while the step computed stays).
void TakeStepValues(CalibrationStep step, const attfilter::SensorCalibration& from,
                    attfilter::SensorCalibration& into) {
    switch (step) {
        case CalibrationStep::Rest:
            into.gyroBias = from.gyroBias;
            into.accelOffset = from.accelOffset;
            break;
        case CalibrationStep::Level:
            into.rollOffset = from.rollOffset;
            into.pitchOffset = from.pitchOffset;
            break;
        case CalibrationStep::Mag:
            into.hardIron = from.hardIron;
            into.softIron = from.softIron;
            into.magCalibrated = from.magCalibrated;
            break;
        case CalibrationStep::None:
            break;
    }
}

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
    ~CRecordDevice() override {
        Close();
        JoinWorker();
    }

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
        m_fused = m_source->Fused();
        m_id = m_source->Id();
        return S_OK;
    }
    void Close() override {
        Stop();
        {
            std::lock_guard control(m_controlMutex);
            JoinWorker();
        }
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
        m_magnitudes = MagnitudeCheck{};
        m_calibration = LoadCalibration(m_id, &reason).value_or(attfilter::SensorCalibration());
        if (!reason.empty()) {
            Report("Start",
                   "the stored calibration is unreadable (" + reason + "); running uncalibrated");
        } else if (!m_calibration.magCalibrated && !m_fused) {
            Report("Start", "the magnetometer of " + m_id +
                                " is not calibrated: its heading is not to be trusted "
                                "(tavimo-calibrate mag)");
        }
        m_filter.SetGyroCalibrated(GyroBiasTaken(m_calibration));
        {
            std::lock_guard cal(m_calMutex);
            m_live = m_calibration;
            m_calibrationChanged = false;
        }
        m_sawMag = false;
        m_ground.waiting.clear();
        m_ground.said = GroundVelocityUse::None;
        m_ground.lastAt = -1e300;
        m_sawQuaternion = false;
        m_sawRawAccel = false;
        m_firstRawSeconds = -1;
        m_standing = static_cast<int>(m_fused || m_calibration.magCalibrated
                                          ? HeadingStanding::Trusted
                                          : HeadingStanding::MagNotCalibrated);
        m_magFlagged = false;
        m_magReportedAt = -1e300;
        m_period = 1.0 / std::max<int>(1, m_config.sampleRate);
        m_haveTick = false;
        m_haveAttitude = false;
        OpenCapture();
        m_pending.clear();
        m_pending.push_back(SensorRecord{.restart = true});
        m_running = true;
        {
            std::lock_guard motion(m_motionMutex);
            m_motion.reset();
        }
        return S_OK;
    }
    void Stop() override {
        {
            std::lock_guard lock(m_mutex);
            m_running = false;
        }
        EndStep("the sensor stopped; the calibration is unchanged");
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
        if (m_calibrationChanged.load()) {
            TakeNewCalibration();
        }
        // While a step collects, the batch goes through under its lock (taken once a batch).
        std::unique_lock cal(m_calMutex, std::defer_lock);
        if (m_collecting.load()) {
            cal.lock();
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
            if (cal.owns_lock()) {
                Collect(r);
            }
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
        if (cal.owns_lock()) {
            cal.unlock();
            m_calWake.notify_all();
        }
        UpdateStanding();
        return any;
    }
    void Interrupt() override { m_source->Interrupt(); }

    // ---- Calibration while running
    bool Calibratable() const override {
        std::lock_guard lock(m_mutex);
        return m_open && !m_fused;
    }
    HRESULT BeginCalibrationStep(CalibrationStep step, double seconds) override {
        if (!Calibratable()) {
            return E_NOTIMPL;
        }
        if (step == CalibrationStep::None || !std::isfinite(seconds) || seconds > kMaxStepSeconds) {
            return E_INVALIDARG;
        }
        if (seconds <= 0) {
            seconds = DefaultStepSeconds(step);
        }
        std::lock_guard control(m_controlMutex);
        EndStep("cancelled by the next step; the calibration is unchanged");
        JoinWorker();
        double rate = 0;
        std::string id;
        {
            std::lock_guard lock(m_mutex);
            if (!m_running) {
                return E_FAIL;
            }
            rate = std::max<double>(1, m_config.sampleRate);
            id = m_id;
        }
        std::uint64_t generation = 0;
        {
            std::lock_guard cal(m_calMutex);
            // Room for the samples of the step at its rate (a device that delivers faster
            // than it was asked may grow it up to the bound).
            const double expected = rate * seconds + 64;
            m_step.stride = static_cast<std::size_t>(
                std::max(1.0, std::ceil(expected / static_cast<double>(kMaxStepSamples))));
            m_step.samples.clear();
            m_step.samples.reserve(std::min<std::size_t>(
                kMaxStepSamples, static_cast<std::size_t>(expected) / m_step.stride + 1));
            m_step.step = step;
            m_step.state = CalibrationState::Collecting;
            m_step.asked = seconds;
            m_step.firstSeconds = -1;
            m_step.collected = 0;
            m_step.seen = 0;
            m_step.sectors.fill(false);
            m_step.text.clear();
            m_step.deviceId = id;
            generation = ++m_step.generation;
            m_collecting = true;
        }
        m_worker = std::thread([this, generation] { RunStep(generation); });
        return S_OK;
    }
    HRESULT FinishCalibrationStep() override {
        {
            std::lock_guard cal(m_calMutex);
            if (m_step.state != CalibrationState::Collecting) {
                return E_FAIL;
            }
            m_step.state = CalibrationState::Computing;
            m_collecting = false;
        }
        m_calWake.notify_all();
        return S_OK;
    }
    HRESULT CancelCalibrationStep() override {
        std::lock_guard control(m_controlMutex);
        const bool ended = EndStep("cancelled; the calibration is unchanged");
        JoinWorker();
        return ended ? S_OK : S_FALSE;
    }
    CalibrationProgress CalibrationStatus() const override {
        std::lock_guard cal(m_calMutex);
        CalibrationProgress p;
        p.step = m_step.step;
        p.state = m_step.state;
        p.collectedSeconds = std::min(m_step.collected, m_step.asked);
        p.askedSeconds = m_step.asked;
        p.coverageDegrees =
            360.0 / kSectors *
            static_cast<double>(std::count(m_step.sectors.begin(), m_step.sectors.end(), true));
        p.text = m_step.text;
        return p;
    }
    HRESULT SetHeadingOffset(double degrees) override {
        if (!Calibratable()) {
            return E_NOTIMPL;
        }
        if (!std::isfinite(degrees) || degrees <= -360.0 || degrees >= 360.0) {
            return E_INVALIDARG;
        }
        const std::string id = DeviceId();
        std::lock_guard cal(m_calMutex);
        attfilter::SensorCalibration next = m_live;
        next.headingOffset = degrees;
        if (!SaveCalibration(id, next)) {
            return E_FAIL;
        }
        Use(next);
        return S_OK;
    }
    HRESULT UndoLastCalibration() override {
        return ChangeStored([](const std::string& id) { return UndoCalibration(id); });
    }
    HRESULT ForgetCalibration() override {
        return ChangeStored([](const std::string& id) { return ResetCalibration(id); });
    }
    HRESULT CalibrationText(std::string* current, std::string* previous) const override {
        if (!Calibratable()) {
            return E_NOTIMPL;
        }
        const std::string id = DeviceId();
        std::string reason;
        const auto stored = LoadCalibration(id, &reason);
        if (current != nullptr) {
            *current = stored           ? DescribeCalibration(*stored)
                       : reason.empty() ? std::string()
                                        : "unreadable: " + reason + "\n";
        }
        if (previous != nullptr) {
            const auto before = PreviousCalibration(id);
            *previous = before ? DescribeCalibration(*before) : std::string();
        }
        return S_OK;
    }
    HeadingStanding Standing() const override {
        return static_cast<HeadingStanding>(m_standing.load());
    }

    void SetHeaveSettings(const HeaveSettings& settings) override {
        std::shared_ptr<CGnssReceiver> gone;
        {
            std::lock_guard lock(m_motionMutex);
            m_heaveSettings = settings;
            if (!m_receiver || m_receiver->Port() != settings.gnssPort ||
                m_receiver->Baud() != settings.gnssBaud) {
                // The old receiver's thread ends here, outside the lock, unless the reader
                // still holds it; it lets go at its next sample.
                gone = std::move(m_receiver);
                m_receiver = std::make_shared<CGnssReceiver>(settings.gnssPort, settings.gnssBaud);
            }
            m_heaveSettingsChanged.store(true);
        }
    }
    std::optional<Motion> CurrentMotion() const override {
        std::lock_guard lock(m_motionMutex);
        return m_motion;
    }

private:
    // A step of calibration taken while running (m_calMutex).
    struct Step {
        CalibrationStep step = CalibrationStep::None;
        CalibrationState state = CalibrationState::Idle;
        double asked = 0;
        double firstSeconds = -1;
        double collected = 0;
        std::size_t stride = 1;
        std::size_t seen = 0;
        std::vector<attfilter::RawSample> samples;
        std::array<bool, kSectors> sectors{};
        std::string text;
        std::string deviceId;
        std::uint64_t generation = 0;
    };

    // Collects one record for the step (reader thread, m_calMutex held).
    void Collect(const SensorRecord& r) {
        if (r.restart || r.hasQuaternion || m_step.state != CalibrationState::Collecting) {
            return;
        }
        if (m_step.firstSeconds < 0) {
            m_step.firstSeconds = r.seconds;
        }
        m_step.collected = r.seconds - m_step.firstSeconds;
        if (m_step.seen++ % m_step.stride == 0 && m_step.samples.size() < kMaxStepSamples) {
            m_step.samples.push_back(RawSampleOf(r));
        }
        if (m_step.step == CalibrationStep::Mag && m_filter.HasAttitude()) {
            // The running heading (on the gyroscope while the magnetometer is not trusted)
            // follows the turn well enough to say how much of the circle is done.
            const double h =
                std::fmod(std::fmod(m_filter.Attitude().heading, 360.0) + 360.0, 360.0);
            m_step.sectors[static_cast<std::size_t>(h / (360.0 / kSectors)) % kSectors] = true;
        }
        if (m_step.collected >= m_step.asked || m_step.samples.size() >= kMaxStepSamples) {
            m_step.state = CalibrationState::Computing;
            m_collecting = false;
        }
    }

    // The step's own thread: waits for the collection to end, computes, stores and hands the
    // new calibration to the reader; nothing changes when the step was cancelled meanwhile.
    void RunStep(std::uint64_t generation) {
        std::unique_lock cal(m_calMutex);
        m_calWake.wait(cal, [&] {
            return m_step.generation != generation || m_step.state != CalibrationState::Collecting;
        });
        if (m_step.generation != generation || m_step.state != CalibrationState::Computing) {
            return;
        }
        const CalibrationStep step = m_step.step;
        const std::string id = m_step.deviceId;
        std::vector<attfilter::RawSample> samples = std::move(m_step.samples);
        m_step.samples = {};
        const attfilter::SensorCalibration current = m_live;
        cal.unlock();
        const StepOutcome outcome = CalibrateStep(step, current, std::move(samples));
        cal.lock();
        if (m_step.generation != generation || m_step.state != CalibrationState::Computing) {
            return;
        }
        std::string text = outcome.quality.empty() ? "" : outcome.quality + "\n";
        if (!outcome.accepted) {
            m_step.state = CalibrationState::Refused;
            m_step.text =
                text + StepName(step) + ": " + outcome.reason + "; the calibration is unchanged";
            Report("Calibration", m_step.text);
            return;
        }
        attfilter::SensorCalibration next = m_live;
        TakeStepValues(step, outcome.calibration, next);
        if (!SaveCalibration(id, next)) {
            m_step.state = CalibrationState::Refused;
            m_step.text = text + StepName(step) +
                          ": the registry could not be written; the calibration is unchanged";
            Report("Calibration", m_step.text);
            return;
        }
        Use(next);
        m_step.state = CalibrationState::Applied;
        m_step.text = text + StepName(step) + ": stored and applied:\n" + DescribeCalibration(next);
        Report("Calibration", std::string(StepName(step)) + " stored and applied");
    }

    // Ends a step collecting or computing, with the reason; false when none was.
    bool EndStep(const char* why) {
        {
            std::lock_guard cal(m_calMutex);
            if (m_step.state != CalibrationState::Collecting &&
                m_step.state != CalibrationState::Computing) {
                return false;
            }
            m_step.state = CalibrationState::Cancelled;
            m_step.text = why;
            m_step.samples = {};
            m_collecting = false;
        }
        m_calWake.notify_all();
        return true;
    }
    void JoinWorker() {
        if (m_worker.joinable() && m_worker.get_id() != std::this_thread::get_id()) {
            m_worker.join();
        }
    }

    // Makes a calibration the one in force: the reader takes it at its next batch
    // (m_calMutex held).
    void Use(const attfilter::SensorCalibration& next) {
        m_live = next;
        m_calibrationChanged = true;
    }
    // Undo or reset in the store, then in force.
    template <typename Change>
    HRESULT ChangeStored(Change change) {
        if (!Calibratable()) {
            return E_NOTIMPL;
        }
        const std::string id = DeviceId();
        std::lock_guard cal(m_calMutex);
        if (!change(id)) {
            return E_FAIL;
        }
        Use(LoadCalibration(id).value_or(attfilter::SensorCalibration()));
        return S_OK;
    }
    // The reader takes up a calibration changed while running: a new gyroscope bias taken at
    // rest tells the filter so (which starts it anew, forgetting the small bias it had found
    // under the old one), and a new magnetometer calibration starts the heading anew from the
    // field (the old heading came from the old one).
    void TakeNewCalibration() {
        attfilter::SensorCalibration next;
        {
            std::lock_guard cal(m_calMutex);
            next = m_live;
            m_calibrationChanged = false;
        }
        const bool newGyro = next.gyroBias.x != m_calibration.gyroBias.x ||
                             next.gyroBias.y != m_calibration.gyroBias.y ||
                             next.gyroBias.z != m_calibration.gyroBias.z;
        const bool newMag = !SameMagnetometer(next, m_calibration);
        m_calibration = next;
        if (newGyro || GyroBiasTaken(next) != m_filter.GyroCalibrated()) {
            m_filter.SetGyroCalibrated(GyroBiasTaken(next));
        } else if (newMag) {
            m_filter.Reset();
        }
        m_magFlagged = false;
    }

    // The standing of the heading after a batch (reader thread).
    void UpdateStanding() {
        HeadingStanding standing = HeadingStanding::Trusted;
        if (m_sawQuaternion || m_fused) {
            standing = HeadingStanding::Trusted;  // the device's own orientation
        } else if (!m_sawMag && m_firstRawSeconds >= 0 &&
                   m_lastRawSeconds - m_firstRawSeconds >= kNoMagSeconds) {
            standing = HeadingStanding::NoMagnetometer;
        } else if (!m_calibration.magCalibrated) {
            standing = HeadingStanding::MagNotCalibrated;
        } else if (m_filter.HasAttitude() && m_filter.MagneticDisturbance()) {
            standing = HeadingStanding::MagDisturbed;
        }
        m_standing = static_cast<int>(standing);
    }

    // Takes one record into the attitude; true when there is an attitude to deliver.
    bool Take(const SensorRecord& r) {
        if (r.restart) {
            m_filter.Reset();
            m_haveAttitude = false;
            m_haveTick = false;
            m_pointMotion.Reset();
            PublishMotion(m_sawRawAccel ? std::optional<Motion>(Motion{}) : std::nullopt);
            return false;
        }
        if (r.hasQuaternion) {
            // A device's own orientation comes without heave.
            PublishMotion(std::nullopt);
            m_sawQuaternion = true;
            m_attitude = AttitudeOfQuaternion(r.quaternion);
            m_haveExtra = false;
            m_haveAttitude = true;
            return true;
        }
        CheckMagnitudes(r);
        const attfilter::RawSample raw = m_calibration.Apply(RawSampleOf(r));
        m_filter.Update(raw);
        if (raw.hasAccel) {
            UpdateMotion(raw);
        }
        if (m_firstRawSeconds < 0) {
            m_firstRawSeconds = r.seconds;
        }
        m_lastRawSeconds = r.seconds;
        m_sawMag = m_sawMag || raw.hasMag;
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

    // The heave and accelerations at the monitoring point after one raw sample with an
    // acceleration (reader thread): settling ('u') until the filter has an attitude whose
    // roll and pitch have settled and the heave filter has settled too.
    void UpdateMotion(const attfilter::RawSample& raw) {
        m_sawRawAccel = true;
        if (m_heaveSettingsChanged.exchange(false)) {  // rare: no lock on every sample for it
            std::lock_guard lock(m_motionMutex);
            m_pointMotion.SetPoint({m_heaveSettings.x, m_heaveSettings.y, m_heaveSettings.z});
            m_pointMotion.SetPeriod(m_heaveSettings.period);
            m_ground.receiver = m_receiver;
            m_ground.antenna = {m_heaveSettings.antennaX, m_heaveSettings.antennaY,
                                m_heaveSettings.antennaZ};
            m_ground.variation = m_heaveSettings.variation;
        }
        if (m_ground.receiver) {
            TakeGroundVelocity(raw.seconds);
        }
        Motion motion;
        if (!m_filter.HasAttitude()) {
            m_pointMotion.Reset();
        } else {
            m_pointMotion.Update(raw.seconds, raw.accel, m_filter.Quaternion(),
                                 m_filter.LeverArm());
            const attfilter::PointMotion point = m_pointMotion.Motion();
            motion.heave = point.heave;
            motion.verticalAcceleration = point.verticalAcceleration;
            motion.horizontalAcceleration = point.horizontalAcceleration;
            motion.status = point.settled && m_filter.TiltUncertainty() <= kSettledTilt ? 'U' : 'u';
        }
        motion.ground = GroundUse(raw.seconds);
        PublishMotion(motion);
    }
    // Gives the attitude filter the receiver's readings whose moment its samples have reached
    // (reader thread). They are used only while the heading comes from a calibrated,
    // undisturbed magnetometer: only then is the filter's north the receiver's north turned
    // by the variation and the heading offset. A reading is refused by the filter while roll
    // and pitch are still settling, or when it is more than a second old.
    void TakeGroundVelocity(double seconds) {
        GroundState& g = m_ground;
        if (!g.receiver->Port().empty() && seconds - g.tracedAt >= kGroundTraceSeconds) {
            g.tracedAt = seconds;
            m_log.Trace("GNSS", "velocities taken %llu, refused %llu; receiver on %s: %s",
                        static_cast<unsigned long long>(g.taken),
                        static_cast<unsigned long long>(g.refused), g.receiver->Port().c_str(),
                        g.receiver->Counters().c_str());
        }
        g.receiver->Take(g.waiting);
        if (g.waiting.empty()) {
            return;
        }
        // Readings are on the PC clock, samples on the device's (a capture plays later).
        const double pcLessDevice = m_source->PcSeconds(seconds) - seconds;
        std::size_t done = 0;
        for (; done < g.waiting.size(); ++done) {
            const GroundReading& r = g.waiting[done];
            const double moment = r.moment - pcLessDevice;
            if (moment > seconds) {
                break;  // the samples have not reached it yet
            }
            const bool usable =
                m_sawMag && m_calibration.magCalibrated && !m_filter.MagneticDisturbance();
            g.lastAt = seconds;
            if (!usable) {
                g.last = GroundVelocityUse::NotUsed;
                if (g.said != GroundVelocityUse::NotUsed) {  // once each time it stops being usable
                    g.said = GroundVelocityUse::NotUsed;
                    Report("GNSS",
                           "the receiver's velocity over ground is not used: the "
                           "heading is not from a calibrated, undisturbed magnetometer");
                }
                continue;
            }
            const LevelVelocity v = FilterFrameVelocity(
                r.speed, r.course, r.variation.value_or(g.variation), m_calibration.headingOffset);
            const bool taken = m_filter.MeasureGroundVelocity(moment, v.north, v.west, g.antenna,
                                                              GroundVelocitySigma(r.speed));
            ++(taken ? g.taken : g.refused);
            g.last = taken ? GroundVelocityUse::Used : GroundVelocityUse::Waiting;
            if (taken && g.said != GroundVelocityUse::Used) {  // and once each time taken again
                g.said = GroundVelocityUse::Used;
                Report("GNSS", "the receiver's velocity over ground on " + g.receiver->Port() +
                                   " is used in turns");
            }
        }
        g.waiting.erase(g.waiting.begin(), g.waiting.begin() + static_cast<std::ptrdiff_t>(done));
        // A reading the samples never reach (a clock far off) is not kept for ever.
        if (g.waiting.size() > kMostGroundWaiting) {
            g.waiting.erase(g.waiting.begin());
        }
    }
    // How the receiver's readings stand now, from what became of the last one.
    GroundVelocityUse GroundUse(double seconds) const {
        const GroundState& g = m_ground;
        if (!g.receiver || g.receiver->Port().empty()) {
            return GroundVelocityUse::None;
        }
        return seconds - g.lastAt > kGroundFreshSeconds ? GroundVelocityUse::NoFix : g.last;
    }
    void PublishMotion(const std::optional<Motion>& motion) {
        std::lock_guard lock(m_motionMutex);
        m_motion = motion;
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

    // The first seconds of raw readings against what a vessel can show: gravity about
    // 9.8 m/s², rates under a few rad/s, the Earth's field 0.25 to 0.65 gauss. A reading far
    // off is a wrong scale (or unit) of its channel, said once a start with the channel.
    void CheckMagnitudes(const SensorRecord& r) {
        constexpr double kCheckSeconds = 2.0;
        MagnitudeCheck& c = m_magnitudes;
        if (c.done) {
            return;
        }
        if (c.first < 0) {
            c.first = r.seconds;
        }
        const auto norm = [](const std::array<double, 3>& v) {
            return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        };
        if (r.hasAccel) {
            c.accel += norm(r.accel);
            ++c.accels;
        }
        if (r.hasGyro) {
            c.gyro = std::max(c.gyro, norm(r.gyro));
        }
        if (r.hasMag) {
            c.mag += norm(r.mag);
            ++c.mags;
        }
        if (r.seconds - c.first < kCheckSeconds) {
            return;
        }
        c.done = true;
        char text[300];
        const auto off = [&text](const char* channel, double value, const char* unit,
                                 const char* expected, double typical) {
            const double ratio = value > typical ? value / typical : typical / value;
            std::snprintf(text, sizeof text,
                          "the %s reads %.4g %s (a vessel shows %s): its scale is off by about "
                          "%.3g times; check the device's scale attribute for it",
                          channel, value, unit, expected, ratio);
            return std::string(text);
        };
        if (c.accels > 0) {
            const double mean = c.accel / c.accels;
            if (mean < 4.9 || mean > 19.6) {
                Report("Start", off("accelerometer (in_accel)", mean, "m/s² on average",
                                    "about 9.8", 9.80665));
            }
        }
        if (c.gyro > 10.0) {
            Report("Start", off("gyroscope (in_anglvel)", c.gyro, "rad/s at most",
                                "a few rad/s at most", 1.0));
        }
        if (c.mags > 0) {
            const double mean = c.mag / c.mags;
            if (mean < 0.05 || mean > 2.0) {
                Report("Start", off("magnetometer (in_magn)", mean, "gauss on average",
                                    "0.25 to 0.65 gauss", 0.5));
            }
        }
    }
    struct MagnitudeCheck {
        double first = -1;
        double accel = 0, gyro = 0, mag = 0;
        int accels = 0, mags = 0;
        bool done = false;
    };
    MagnitudeCheck m_magnitudes;

    void Report(const char* context, const std::string& text) {
        m_log.TraceNow(context, "%s", text.c_str());
        // Before the device answered, it is named by its port.
        std::fprintf(stderr, "Tavimo: sensor %s: %s\n",
                     m_id.empty() ? ("on " + m_port).c_str() : m_id.c_str(), text.c_str());
    }

    const std::unique_ptr<IRecordSource> m_source;
    const std::string m_port;
    mutable std::mutex m_mutex;  // settings, state
    std::mutex m_readMutex;      // the source's reading side, and what only the reader uses
    CErrorLog m_log;
    SensorConfig m_config;
    std::string m_id;
    bool m_open = false;
    bool m_fused = false;
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
    bool m_sawMag = false;
    bool m_sawQuaternion = false;
    double m_firstRawSeconds = -1;
    double m_lastRawSeconds = -1;
    std::atomic<int> m_standing{static_cast<int>(HeadingStanding::Trusted)};
    attfilter::CPointMotion m_pointMotion;
    bool m_sawRawAccel = false;
    // The GNSS receiver's readings on their way to the filter.
    struct GroundState {
        std::shared_ptr<CGnssReceiver> receiver;
        std::vector<GroundReading> waiting;
        attfilter::Vec3 antenna;
        double variation = 0;
        GroundVelocityUse said = GroundVelocityUse::None;  // NotUsed or Used, once said
        std::uint64_t taken = 0, refused = 0;
        double tracedAt = -1e300;
        GroundVelocityUse last = GroundVelocityUse::NoFix;  // what became of the last reading
        double lastAt = -1e300;                             // and its sample's time
    };
    GroundState m_ground;
    // The heave settings handed in and the motion handed out (m_motionMutex).
    mutable std::mutex m_motionMutex;
    HeaveSettings m_heaveSettings;
    std::shared_ptr<CGnssReceiver> m_receiver;
    std::atomic<bool> m_heaveSettingsChanged{false};
    std::optional<Motion> m_motion;
    // Calibration while running: the step (collected by the reader, computed by its own
    // thread) and the calibration in force, handed to the reader through m_calibrationChanged.
    std::mutex m_controlMutex;  // begin and cancel, one at a time; the step's thread
    mutable std::mutex m_calMutex;
    std::condition_variable m_calWake;
    Step m_step;
    attfilter::SensorCalibration m_live;
    std::atomic<bool> m_collecting{false};
    std::atomic<bool> m_calibrationChanged{false};
    std::thread m_worker;
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
