#include "app/XsensModule.h"

#include <functional>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <utility>

#include "app/ServiceActivity.h"
#include "interfaces/Tickwise.h"
#include "mtobj/sentences/Fields.h"
#include "platform/Prompt.h"

namespace {

constexpr double kPi = std::numbers::pi;
// Degrees per radian as the single-precision constant of the quaternion rule.
constexpr float kDegreesPerRadian = 57.295776F;
// The serial latency's fixed part, the single-precision constant.
constexpr double kLatencyOffsetMs = static_cast<double>(1.39F);
// The bits of one sample on the sensor's line: 270 per sample.
constexpr double kBitsPerSample = 270.0;
// A sensor that keeps answering "more data" cannot hold the data path forever.
constexpr int kMaxArraysPerEvent = 65536;
// What CoCreateInstance is asked for: in-process, local and remote server.
constexpr DWORD kTrackerContext = 21;

std::size_t ValuesNeeded(std::uint16_t mode) {
    switch (mode) {
        case 0:
            return 4;
        case 1:
            return 3;
        case 2:
            return 9;
        default:
            return 1;
    }
}

double LatencyFor(long baud) {
    return kBitsPerSample * 1000.0 / static_cast<double>(baud) + kLatencyOffsetMs;
}

}  // namespace

// ---- Construction ------------------------------------------------------------------------

CXsensModule::CXsensModule(void* unused) : CXsensModule(unused, 2) {}

CXsensModule::CXsensModule(void* unused, std::uint16_t outputMode)
    : CXsensModule(unused, outputMode, DefaultTelegramOutputFactory()) {}

CXsensModule::CXsensModule(void*, std::uint16_t outputMode, TelegramOutputFactory outputs)
    : m_outputs(std::move(outputs)), m_nOutputMode(outputMode) {
    m_log.SetApplicationName("Tavimo App");
    m_log.SetModuleName("Tavimo");
    m_log.SetObjectName("CXsensModule");
    m_log.EnableTrace(false);
    m_log.Trace("CXsensModule");
    m_sampleBuffer.SetCapacity(static_cast<std::uint32_t>(20000 * 0.025));
    if (m_outputs.sensorPort) {
        try {
            m_sensorPortWorker = m_outputs.sensorPort();
        } catch (const std::bad_alloc&) {
            m_sensorPortWorker.reset();
        }
        if (m_sensorPortWorker) {
            m_sensorPortWorker->Start();
            m_log.Trace("CXsensModule()", "MSIO Thread Started OK");
        } else {
            m_log.LogError(E_OUTOFMEMORY, "CXsensModule()");
        }
    }
    // The sink reaches the one sensor link of the process through the global: the link
    // publishes itself for its lifetime, and nobody else writes it.
    CSensorDataHandler* none = nullptr;
    g_pSensorDataHandler.compare_exchange_strong(none, this);
    m_log.Trace("CXsensModule()", "Constructor done OK");
}

CXsensModule::~CXsensModule() {
    CSensorDataHandler* self = this;
    g_pSensorDataHandler.compare_exchange_strong(self, nullptr);
    if (m_pTracker) {
        // Sampling stops first, so that no data event is still running on this object.
        try {
            m_pTracker->StopProcess();
        } catch (...) {
        }
        m_pHeave.Release();
        m_pTracker.Release();
        CoUninitialize();
    }
    std::map<int, std::unique_ptr<ITelegramOutput>> workers;
    {
        CSingleLock lock(m_workerLock);
        workers.swap(m_telegramWorkers);
    }
    for (auto& [id, worker] : workers) {
        if (worker) {
            worker->Stop();
        }
    }
    workers.clear();
    if (m_sensorPortWorker) {
        m_sensorPortWorker->Stop();
        m_sensorPortWorker.reset();
    }
    CSingleLock lock(m_logLock);
    if (m_eulerLogFile.is_open()) {
        m_eulerLogFile.close();
    }
}

// ---- Sensor object -------------------------------------------------------------------------

bool CXsensModule::Initialise() {
    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr)) {
        m_log.LogError(hr, "Initialise", "CoInitialize failed");
        return false;
    }
    hr = CoCreateInstance(CLSID_MTObj, nullptr, kTrackerContext, IID_IMotionTracker,
                          reinterpret_cast<void**>(&m_pTracker));
    if (FAILED(hr) || !m_pTracker) {
        m_log.LogError(FAILED(hr) ? hr : E_POINTER, "Initialise",
                       "Failed to create IID_IMotionTracker");
        CoUninitialize();
        return false;
    }
    void* heave = nullptr;
    if (SUCCEEDED(m_pTracker->QueryInterface(IID_IMotionTrackerHeave, &heave)) &&
        heave != nullptr) {
        m_pHeave.Attach(static_cast<IMotionTrackerHeave*>(heave));
        CSingleLock lock(m_heaveLock);
        ForwardHeaveSettings(m_heaveSettings);
    }
    try {
        m_pTracker->GetToken(&m_dwSensorToken);
    } catch (const std::exception& e) {
        m_log.LogException(e, "Initialise");
    } catch (...) {
        m_log.LogError(E_FAIL, "Initialise");
    }
    return true;
}

HRESULT CXsensModule::AdviseSink(IUnknown* sink, DWORD* cookie) {
    if (cookie != nullptr) {
        *cookie = 0;
    }
    CComPtr<IUnknown> held(sink);
    return OnSinkConnectionPoint(
        "AdviseSink", [&](IConnectionPoint& point) { return point.Advise(sink, cookie); });
}

HRESULT CXsensModule::UnadviseSink(DWORD cookie) {
    return OnSinkConnectionPoint(
        "UnadviseSink", [cookie](IConnectionPoint& point) { return point.Unadvise(cookie); });
}

HRESULT CXsensModule::OnSinkConnectionPoint(const char* context,
                                            const std::function<HRESULT(IConnectionPoint&)>& call) {
    if (!m_pTracker) {
        return E_POINTER;
    }
    try {
        // A sensor object without the sink's connection point is a null pointer to us.
        CComPtr<IConnectionPoint> point;
        if (FAILED(AtlFindConnectionPoint(m_pTracker, IID_IMotionTrackerSink, point)) || !point) {
            return E_POINTER;
        }
        return call(*point);
    } catch (const std::exception& e) {
        m_log.LogException(e, context);
        return E_FAIL;
    }
}

void CXsensModule::RecomputeRate() {
    if (m_nSampleRate <= 0) {
        return;  // a rate the sensor never reports; keep the last good period
    }
    CSingleLock lock(m_dataLock);
    m_dfSamplePeriod = 1000.0 / m_nSampleRate;
    m_sampleBuffer.SetCapacity(static_cast<std::uint32_t>(20000.0 / m_dfSamplePeriod));
}

void CXsensModule::OpenSensorPort(short port, long baud) {
    m_nPortNumber = port;
    m_nBaudRate = baud;
    if (baud > 0) {
        CSingleLock lock(m_dataLock);
        m_dfLatency = LatencyFor(baud);
    }
    m_deviceId.clear();
    if (!m_pTracker) {
        return;
    }
    try {
        if (SUCCEEDED(m_pTracker->OpenPort(port, baud))) {
            BSTR id;
            if (SUCCEEDED(m_pTracker->GetDeviceId(&id)) && id.Length() > 0) {
                m_deviceId = id.str();
            }
        }
    } catch (const std::exception& e) {
        m_log.LogException(e, "OpenSensorPort");
    } catch (...) {
        m_log.LogError(E_FAIL, "OpenSensorPort");
    }
}

void CXsensModule::SetFilterSettings(float gain, float weight) {
    RecomputeRate();
    m_fMagnetometerWeight = weight;
    m_fFilterGain = gain;
    {
        CSingleLock lock(m_dataLock);
        m_dfSampleTime = 0;
        m_bTimeBaseSet = false;
    }
    ApplySensorSettings();
}

void CXsensModule::ApplySensorSettings() {
    RecomputeRate();
    {
        CSingleLock lock(m_dataLock);
        m_dfSampleTime = 0;
        m_bTimeBaseSet = false;
    }
    if (m_pTracker) {
        try {
            m_pTracker->SetExtraData(0);
            m_pTracker->SetFilterSettings(m_fFilterGain, m_nFilterParameter, m_fMagnetometerWeight);
            if (m_nOutputMode == 3) {
                m_pTracker->SetOutputMode(0, 0);
                m_pTracker->SetExtraData(1);
            } else {
                m_pTracker->SetOutputMode(static_cast<std::int16_t>(m_nOutputMode), 0);
                m_pTracker->SetExtraData(0);
            }
        } catch (...) {
            // The sensor's fault ends the sequence; the next start tries again.
        }
    }
    CSingleLock lock(m_dataLock);
    m_bTimeBaseSet = false;
}

void CXsensModule::StartSensor() {
    {
        CSingleLock lock(m_dataLock);
        m_bTimeBaseSet = false;
    }
    ApplySensorSettings();
    if (m_pTracker) {
        try {
            m_pTracker->StartProcess();
        } catch (const std::exception& e) {
            m_log.LogException(e, "StartSensor");
        } catch (...) {
            m_log.LogError(E_FAIL, "StartSensor");
        }
    }
    m_healthCheck.StartThread();
}

void CXsensModule::StopSensor() {
    m_healthCheck.StopThread();
    if (m_pTracker) {
        try {
            m_pTracker->StopProcess();
        } catch (...) {
        }
    }
}

void CXsensModule::Reconnect() {
    if (!m_pTracker) {
        return;
    }
    try {
        m_pTracker->StopProcess();
    } catch (...) {
    }
    {
        CSingleLock lock(m_dataLock);
        m_bTimeBaseSet = false;
    }
    ApplySensorSettings();
    try {
        m_pTracker->StartProcess();
    } catch (const std::exception& e) {
        m_log.LogException(e, "Reconnect");
    } catch (...) {
        m_log.LogError(E_FAIL, "Reconnect");
    }
}

void CXsensModule::GetSensorSettings(short& port, long& baud, std::string& deviceId, float& gain,
                                     float& weight, short& rate) {
    // Each read stands alone: a failure (or a fault in the sensor) shows its message and
    // keeps the stored value.
    auto call = [this](auto&& fn) {
        try {
            return fn();
        } catch (const std::exception& e) {
            m_log.LogException(e, "GetSensorSettings");
            return E_FAIL;
        } catch (...) {
            return E_FAIL;
        }
    };
    if (m_pTracker) {
        float g = 0, w = 0;
        std::int16_t parameter = 0;
        if (FAILED(call([&] { return m_pTracker->GetFilterSettings(&g, &parameter, &w); }))) {
            AfxMessageBox("Get Filter Settings Failed");
        } else {
            m_fFilterGain = g;
            m_nFilterParameter = parameter;
            m_fMagnetometerWeight = w;
        }
        LONG b = 0;
        if (FAILED(call([&] { return m_pTracker->GetBaudRate(&b); }))) {
            AfxMessageBox("Get Motion Tracker Baudrate Failed");
        } else {
            m_nBaudRate = b;
        }
        std::int16_t r = 0;
        if (FAILED(call([&] { return m_pTracker->GetSampleRate(&r); }))) {
            AfxMessageBox("Get Motion Tracker Sample rate Failed");
        } else {
            m_nSampleRate = r;
        }
        BSTR id;
        if (SUCCEEDED(call([&] { return m_pTracker->GetDeviceId(&id); })) && id.Length() > 0) {
            m_deviceId = id.str();
        }
    }
    port = m_nPortNumber;
    baud = m_nBaudRate;
    deviceId = m_deviceId;
    gain = m_fFilterGain;
    weight = m_fMagnetometerWeight;
    rate = m_nSampleRate;
    RecomputeRate();
}

void CXsensModule::ShowSaveResult(HRESULT hr) {
    AfxMessageBox(hr == S_OK ? "MTObj Reported: \n\nSaving MTS data successfull"
                             : "MTObj Reported: \n\nSaving MTS data NOT successfull");
}

void CXsensModule::SetSensorBaudRate(long baud) {
    m_nBaudRate = baud;
    if (baud > 0) {
        // The same latency as on opening the port: the line time plus the fixed part.
        CSingleLock lock(m_dataLock);
        m_dfLatency = LatencyFor(baud);
    }
    ApplyAndStore([baud](IMotionTracker* tracker) { return tracker->SetBaudRate(baud); },
                  "Invalid Motion Tracker Baud Rate = %d", static_cast<int>(baud));
}

void CXsensModule::SetSampleRate(short rate) {
    m_nSampleRate = rate;
    RecomputeRate();
    ApplyAndStore([rate](IMotionTracker* tracker) { return tracker->SetSampleRate(rate); },
                  "Invalid Motion Tracker Sample Rate = %d", static_cast<int>(rate));
}

void CXsensModule::ApplyAndStore(const std::function<HRESULT(IMotionTracker*)>& apply,
                                 const char* refusedFormat, int value) {
    // A refused value is reported; an accepted one is stored in the sensor itself.
    if (!m_pTracker) {
        return;
    }
    try {
        const HRESULT hr = apply(m_pTracker.get());
        if (hr == E_INVALIDARG) {
            char text[96];
            std::snprintf(text, sizeof text, refusedFormat, value);
            AfxMessageBox(text, MB_ICONINFORMATION);
        }
        if (FAILED(hr)) {
            return;
        }
        if (!m_deviceId.empty()) {
            ShowSaveResult(m_pTracker->SaveSettings(CComBSTR(m_deviceId)));
        }
    } catch (...) {
    }
}

// ---- Heave ----------------------------------------------------------------------------------

bool CXsensModule::SetHeaveSettings(const mtobj::HeaveSettings& settings) {
    if (!settings.Problem().empty()) {
        return false;
    }
    CSingleLock lock(m_heaveLock);
    if (m_pHeave && FAILED(ForwardHeaveSettings(settings))) {
        return false;
    }
    m_heaveSettings = settings;
    return true;
}

void CXsensModule::SetMagneticVariation(float degrees) {
    m_fMagneticVariation = degrees;
    CSingleLock lock(m_heaveLock);
    if (m_pHeave) {
        ForwardHeaveSettings(m_heaveSettings);
    }
}

HRESULT CXsensModule::ForwardHeaveSettings(const mtobj::HeaveSettings& settings) {
    mtobj::HeaveSettings sent = settings;
    sent.variation = -static_cast<double>(m_fMagneticVariation.load());
    return m_pHeave->SetHeaveSettings(sent);
}

std::optional<mtobj::Motion> CXsensModule::GetMotion() const {
    mtobj::Motion motion;
    if (m_pHeave && m_pHeave->GetMotion(&motion) == S_OK) {
        return motion;
    }
    return std::nullopt;
}

// ---- Calibration ----------------------------------------------------------------------------

CComPtr<IMotionTrackerCalibration> CXsensModule::Calibration() const {
    CComPtr<IMotionTrackerCalibration> calibration;
    void* found = nullptr;
    if (m_pTracker &&
        SUCCEEDED(m_pTracker->QueryInterface(IID_IMotionTrackerCalibration, &found)) &&
        found != nullptr) {
        calibration.Attach(static_cast<IMotionTrackerCalibration*>(found));
    }
    return calibration;
}

bool CXsensModule::CanCalibrate(std::string* why) const {
    const auto calibration = Calibration();
    bool available = false;
    const HRESULT hr = calibration ? calibration->CalibrationAvailable(&available) : E_NOINTERFACE;
    if (why != nullptr) {
        *why = available       ? ""
               : FAILED(hr)    ? "This sensor cannot be calibrated from here."
               : hr == S_FALSE ? "The sensor is not connected: connect it to calibrate it."
                               : "This sensor needs no calibration: it is simulated, reads "
                                 "another instrument's telegrams or delivers its own orientation.";
    }
    return SUCCEEDED(hr) && available;
}

HRESULT CXsensModule::BeginCalibrationStep(mtobj::CalibrationStep step, double seconds) {
    const auto calibration = Calibration();
    return calibration ? calibration->BeginCalibrationStep(step, seconds) : E_NOTIMPL;
}

HRESULT CXsensModule::FinishCalibrationStep() {
    const auto calibration = Calibration();
    return calibration ? calibration->FinishCalibrationStep() : E_NOTIMPL;
}

HRESULT CXsensModule::CancelCalibrationStep() {
    const auto calibration = Calibration();
    return calibration ? calibration->CancelCalibrationStep() : E_NOTIMPL;
}

mtobj::CalibrationProgress CXsensModule::GetCalibrationProgress() const {
    mtobj::CalibrationProgress progress;
    if (const auto calibration = Calibration()) {
        calibration->GetCalibrationProgress(&progress);
    }
    return progress;
}

HRESULT CXsensModule::SetHeadingOffset(double degrees) {
    const auto calibration = Calibration();
    return calibration ? calibration->SetHeadingOffset(degrees) : E_NOTIMPL;
}

HRESULT CXsensModule::UndoCalibration() {
    const auto calibration = Calibration();
    return calibration ? calibration->UndoCalibration() : E_NOTIMPL;
}

HRESULT CXsensModule::ResetCalibration() {
    const auto calibration = Calibration();
    return calibration ? calibration->ResetCalibration() : E_NOTIMPL;
}

bool CXsensModule::DescribeCalibration(std::string& current, std::string& previous) const {
    const auto calibration = Calibration();
    return calibration && SUCCEEDED(calibration->DescribeCalibration(&current, &previous));
}

mtobj::HeadingStanding CXsensModule::GetHeadingStanding() const {
    mtobj::HeadingStanding standing = mtobj::HeadingStanding::Trusted;
    if (const auto calibration = Calibration()) {
        calibration->GetHeadingStanding(&standing);
    }
    return standing;
}

// ---- Data path ------------------------------------------------------------------------------

void CXsensModule::OnDataAvailable() {
    CComPtr<IMotionTracker> tracker = m_pTracker;
    if (!tracker) {
        return;
    }
    const std::size_t needed = ValuesNeeded(m_nOutputMode);
    std::int16_t flag = 1;
    VARIANT variant;
    for (int fetched = 0; flag != 0 && fetched < kMaxArraysPerEvent; ++fetched) {
        try {
            if (FAILED(tracker->GetNextSample(&flag, &variant, 0))) {
                break;  // the sensor cannot give data now; its next event tries again
            }
        } catch (const std::exception& e) {
            m_log.LogException(e, "OnDataAvailable");
            break;
        } catch (...) {
            m_log.LogError(E_FAIL, "OnDataAvailable");
            break;
        }
        if (flag != 1 || variant.vt() == VT_EMPTY) {
            variant.Clear();
            continue;
        }
        try {
            const std::vector<float>* array = variant.FloatArray();
            // A sample that is not a float array, is too short for the mode or holds a
            // value that is not a number would corrupt the orientation: it is skipped.
            if (array == nullptr || array->size() < needed ||
                !std::all_of(array->begin(), array->begin() + static_cast<long>(needed),
                             [](float v) { return std::isfinite(v); })) {
                m_log.Trace("OnDataAvailable", "Sample skipped: %zu values of type %u",
                            array ? array->size() : 0, static_cast<unsigned>(variant.vt()));
                variant.Clear();
                continue;
            }
            float values[9] = {};
            std::copy_n(array->begin(), std::min<std::size_t>(array->size(), 9), values);
            if (m_nOutputMode == 3) {
                // The extra data array that follows each sample: fetched and not used.
                std::int16_t extraFlag = 1;
                VARIANT extra;
                tracker->GetNextSample(&extraFlag, &extra, 0);
            }
            double sampleTime = 0;
            {
                CSingleLock lock(m_dataLock);
                if (!m_bTimeBaseSet) {
                    const double arrival = CTickwise::GetPCMilliSecs();
                    m_dfSampleTime = arrival - m_dfLatency - m_dfSamplePeriod;
                    m_bTimeBaseSet = true;
                }
                m_bNewData = true;
                switch (m_nOutputMode) {
                    case 0:
                        UpdateDataFromQuaternion(values);
                        break;
                    case 1:
                        UpdateDataFromEuler(values);
                        break;
                    case 2:
                        UpdateDataFromMatrix(values);
                        break;
                    default:
                        break;
                }
                sampleTime = m_dfSampleTime;
            }
            CServiceActivity::SampleArrived();
            if (m_bEulerLogging.load() && m_nOutputMode <= 2) {
                float logged[9];
                std::copy_n(values, 9, logged);
                if (m_nOutputMode == 1) {
                    CSingleLock lock(m_dataLock);
                    logged[0] = m_fRoll, logged[1] = m_fPitch, logged[2] = m_fYaw;
                }
                WriteEulerLog(logged, sampleTime);
            }
        } catch (const std::exception& e) {
            m_bNewData = false;
            m_log.LogException(e, "OnDataAvailable");
        } catch (...) {
            m_bNewData = false;
        }
        variant.Clear();
    }
    bool haveTime;
    {
        CSingleLock lock(m_dataLock);
        haveTime = m_dfSampleTime > 0;
    }
    if (haveTime && m_bNewData.load()) {
        if (OutputDue()) {
            OutputStep();
        }
        m_bNewData = false;
    }
}

void CXsensModule::UpdateDataFromQuaternion(const float* values) {
    try {
        if (!CoIsInitialized()) {
            CoInitialize(nullptr);
        }
        m_healthCheck.SampleReceived(values);
        m_dfSampleTime += m_dfSamplePeriod;
        m_sampleBuffer.AppendSample({values[0], values[1], values[2], values[3]}, m_dfSampleTime);
    } catch (const std::exception& e) {
        m_log.LogException(e, "UpdateDataFromQuaternion");
    }
}

void CXsensModule::UpdateDataFromEuler(const float* values) {
    if (!CoIsInitialized()) {
        CoInitialize(nullptr);
    }
    m_dfSampleTime += m_dfSamplePeriod;
    float roll = values[0];
    m_fPitch = -values[1];
    m_fYaw = -values[2];
    if (m_fYaw < 0) {
        m_fYaw += 360.0F;
    }
    roll = static_cast<float>(
        std::asin(std::cos(m_fPitch * kPi / 180.0) * std::sin(roll * kPi / 180.0)) * 180.0 / kPi);
    m_fRoll = roll;
}

void CXsensModule::UpdateDataFromMatrix(const float* values) {
    if (!CoIsInitialized()) {
        CoInitialize(nullptr);
    }
    static const float identity[4] = {1.0F, 0.0F, 0.0F, 0.0F};
    m_healthCheck.SampleReceived(identity);
    m_dfSampleTime += m_dfSamplePeriod;
    std::copy_n(values, 9, m_rotationMatrix.begin());
    // The buffer holds the matrix's orientation too, so smoothing and interpolation work in
    // this mode; successive quaternions stay in one hemisphere so blending them never tears.
    float pitch, roll, heading;
    AnglesFromMatrix(values, pitch, roll, heading);
    Quaternion q = QuaternionFromAngles(pitch, roll, heading);
    if (m_bHaveMatrixQuaternion && q.Dot(m_lastMatrixQuaternion) < 0) {
        q = q * -1.0;
    }
    m_lastMatrixQuaternion = q;
    m_bHaveMatrixQuaternion = true;
    m_sampleBuffer.AppendSample(q, m_dfSampleTime);
}

// Outputs follow samples: an output is due when a batch arrives at (or a quarter interval
// before) the next point of a grid spaced by the chosen interval. The grid advances by the
// interval, not from the arrival, so batches that come late or unevenly do not stretch the
// period: the chosen rate is delivered whenever samples come at least that fast, and each
// batch gives at most one output. A grid left more than an interval behind (a pause, or a
// sensor slower than the chosen rate, which then sets the rate) starts again from here.
bool CXsensModule::OutputDue() {
    const double now = CTickwise::GetPCMilliSecs();
    const double interval = m_dfOutputInterval.load();
    if (interval <= 0) {
        m_dfNextOutputTime = now;
        return true;
    }
    double next = m_dfNextOutputTime.load();
    if (next > now + 1.5 * interval) {
        // A faster rate was chosen: the slower grid's next point (at most an interval and a
        // quarter ahead of any output) is too far off.
        next = now;
    }
    if (now < next - interval / 4) {
        return false;
    }
    double following = next + interval;
    if (following < now - interval) {
        following = now + interval;
    }
    m_dfNextOutputTime = following;
    return true;
}

void CXsensModule::OutputStep() {
    double time = CTickwise::GetPCMilliSecs();
    float pitch = 0, roll = 0, heading = 0;
    const bool ok = m_bSmoothing.load() ? GetOrientationData(time, pitch, roll, heading)
                                        : GetOrientationDataLatest(time, pitch, roll, heading);
    if (!ok) {
        return;
    }
    const float variation = m_fMagneticVariation.load();
    const std::optional<mtobj::Motion> motion = GetMotion();
    const std::optional<float> rateOfTurn = RateOfTurn(time, heading);
    CSingleLock lock(m_workerLock);
    for (auto& [id, worker] : m_telegramWorkers) {
        if (worker) {
            worker->SetMotion(motion);
            worker->SetRateOfTurn(rateOfTurn);
            worker->SetAttitude(time, roll, pitch, heading, variation);
        }
    }
}

std::optional<float> CXsensModule::RateOfTurn(double time, float heading) {
    // The heading's change over the last second of the buffer: smooth enough for a
    // plotter's or an autopilot's rate of turn, and known once a second of samples is held.
    constexpr double kSpanMs = 1000.0;
    Quaternion q;
    {
        CSingleLock lock(m_dataLock);
        if (!m_sampleBuffer.GetInterpolated(q, time - kSpanMs, 0.0)) {
            return std::nullopt;
        }
    }
    float pitch = 0;
    float roll = 0;
    float before = 0;
    AnglesFromQuaternion(q, pitch, roll, before);
    const double change =
        mtobj::telegrams::fields::Wrap360(static_cast<double>(heading) - before + 180.0) - 180.0;
    return static_cast<float>(change * 60000.0 / kSpanMs);
}

// ---- Angles -----------------------------------------------------------------------------------

void CXsensModule::AnglesFromMatrix(const float m[9], float& pitch, float& roll, float& heading) {
    // A matrix element rounded just past 1 would make the arcsine undefined.
    const double m2 = std::clamp<double>(m[2], -1.0, 1.0);
    const double m5 = std::clamp<double>(m[5], -1.0, 1.0);
    pitch = static_cast<float>(std::asin(m2) * 180.0 / kPi);
    roll = static_cast<float>(std::asin(m5) * 180.0 / kPi);
    double h = -std::atan2(m[6] * m5 - m[7] * m2, -(m[7] * m5) - m[6] * m2) * 180.0 / kPi;
    while (h >= 360.0) {
        h -= 360.0;
    }
    while (h < 0.0) {
        h += 360.0;
    }
    heading = static_cast<float>(h);
    if (heading >= 360.0F) {
        heading = 0.0F;  // a value just below 360 that rounds up in single precision
    }
}

void CXsensModule::AnglesFromQuaternion(const Quaternion& q, float& pitch, float& roll,
                                        float& heading) {
    const float a = 2.0F * (q.q0 * q.q1 + q.q2 * q.q3);
    const float b = 2.0F * (q.q1 * q.q3 - q.q0 * q.q2);
    constexpr float kHalfPi = static_cast<float>(kPi / 2);
    if (std::fabs(b) > 0.9999F) {
        pitch = std::copysign(kHalfPi, b) * kDegreesPerRadian;
        roll = 0.0F;
    } else if (std::fabs(a) > 0.9999F) {
        roll = std::copysign(kHalfPi, a) * kDegreesPerRadian;
        pitch = 0.0F;
    } else {
        pitch = std::asin(b) * kDegreesPerRadian;
        roll = std::asin(a) * kDegreesPerRadian;
    }
    heading = std::atan2(-2.0F * q.q0 * q.q3, q.q0 * q.q0 - q.q3 * q.q3) * kDegreesPerRadian;
    if (heading < 0.0F) {
        heading += 360.0F;
    }
    if (heading >= 360.0F) {
        heading = 0.0F;
    }
}

Quaternion CXsensModule::QuaternionFromAngles(float pitch, float roll, float heading) {
    double a = std::sin(roll * kPi / 180.0);
    double b = std::sin(pitch * kPi / 180.0);
    double s = a * a + b * b;
    if (s > 1.0) {
        // Beyond what the rule can express: keep the direction of the tilt.
        const double k = 1.0 / std::sqrt(s);
        a *= k, b *= k, s = 1.0;
    }
    const double r2 = (1.0 + std::sqrt(1.0 - s)) / 2.0;
    const double r = std::sqrt(r2);
    const double half = heading * kPi / 360.0;
    const double q0 = r * std::cos(half);
    const double q3 = -r * std::sin(half);
    const double q1 = (q0 * a + q3 * b) / (2.0 * r2);
    const double q2 = (q3 * a - q0 * b) / (2.0 * r2);
    return {static_cast<float>(q0), static_cast<float>(q1), static_cast<float>(q2),
            static_cast<float>(q3)};
}

bool CXsensModule::GetOrientationDataLatest(double& time, float& pitch, float& roll,
                                            float& heading) {
    try {
        CSingleLock lock(m_dataLock);
        if (m_nOutputMode == 2) {
            time = m_dfSampleTime;
            AnglesFromMatrix(m_rotationMatrix.data(), pitch, roll, heading);
            return true;
        }
        Quaternion q;
        if (!m_sampleBuffer.GetLatestSample(q, time)) {
            pitch = roll = heading = 0;
            return false;
        }
        AnglesFromQuaternion(q, pitch, roll, heading);
        return true;
    } catch (const std::exception& e) {
        m_log.LogException(e, "GetOrientationDataLatest");
        return false;
    }
}

bool CXsensModule::GetOrientationData(double time, float& pitch, float& roll, float& heading) {
    Quaternion q;
    bool ok;
    {
        CSingleLock lock(m_dataLock);
        const double window = m_dfTimeWindow.load();
        ok = window > 0 ? m_sampleBuffer.GetInWindow(q, time, window)
                        : m_sampleBuffer.GetInterpolated(q, time, 0.0);
    }
    if (!ok) {
        pitch = roll = heading = 0;
        m_log.Trace("GetOrientationData", "Failed :: Sample Time PC millisecs %.14f", time);
        return false;
    }
    AnglesFromQuaternion(q, pitch, roll, heading);
    return true;
}

// ---- Telegram workers
// ----------------------------------------------------------------------------

int CXsensModule::AddTelegramWorker(int type, short port, unsigned baud) {
    std::unique_ptr<ITelegramOutput> worker;
    if (m_outputs.attitude) {
        try {
            worker = m_outputs.attitude(type, port, baud);
        } catch (const std::bad_alloc&) {
            worker.reset();
        }
    }
    if (worker) {
        worker->Start();
    }
    CSingleLock lock(m_workerLock);
    int id;
    do {
        id = std::rand();  // NOLINT(cert-msc30-c, cert-msc50-cpp): any unused id will do
    } while (m_telegramWorkers.count(id) != 0);
    m_telegramWorkers.emplace(id, std::move(worker));
    return id;
}

bool CXsensModule::IsTelegramOutputPortFailed(int id) {
    CSingleLock lock(m_workerLock);
    const auto it = m_telegramWorkers.find(id);
    return it != m_telegramWorkers.end() && it->second && it->second->IsPortFailed();
}

bool CXsensModule::ModifyTelegramWorker(int id, int type, short port, unsigned baud) {
    CSingleLock lock(m_workerLock);
    const auto it = m_telegramWorkers.find(id);
    if (it == m_telegramWorkers.end() || !it->second) {
        return false;
    }
    it->second->SetPort(port, baud);
    it->second->SetTelegramType(type);
    return true;
}

bool CXsensModule::RemoveTelegramWorker(int id) {
    std::unique_ptr<ITelegramOutput> worker;
    {
        CSingleLock lock(m_workerLock);
        const auto it = m_telegramWorkers.find(id);
        if (it == m_telegramWorkers.end()) {
            return false;
        }
        worker = std::move(it->second);
        m_telegramWorkers.erase(it);
    }
    if (worker) {
        worker->Stop();
    }
    return true;
}

void CXsensModule::SetSensorPortWorkerPort(short port, unsigned baud) {
    if (m_sensorPortWorker) {
        m_sensorPortWorker->SetPort(port, baud);
    }
}

// ---- Read-outs ---------------------------------------------------------------------------------

double CXsensModule::GetLatency() const {
    CSingleLock lock(m_dataLock);
    return m_dfLatency;
}

double CXsensModule::GetSamplePeriod() const {
    CSingleLock lock(m_dataLock);
    return m_dfSamplePeriod;
}

std::uint32_t CXsensModule::GetBufferCapacity() const {
    CSingleLock lock(m_dataLock);
    return m_sampleBuffer.Capacity();
}

std::uint32_t CXsensModule::GetBufferCount() const {
    CSingleLock lock(m_dataLock);
    return m_sampleBuffer.Count();
}

std::string CXsensModule::GetDeviceId() const {
    return m_deviceId;
}

std::array<float, 9> CXsensModule::GetRotationMatrix() const {
    CSingleLock lock(m_dataLock);
    return m_rotationMatrix;
}
