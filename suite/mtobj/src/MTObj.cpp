// The simulated sensor object: the COM side of the sensor (settings, sample queue,
// data events from its own thread) over one ISensorDevice.
#include "mtobj/MTObj.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "interfaces/MotionTrackerSink.h"
#include "mtobj/SensorDevice.h"
#include "platform/Registry.h"
#include "platform/Scheduling.h"

namespace mtobj {
namespace {

constexpr std::int16_t kRates[] = {25, 50, 100, 200, 256, 320, 400, 512};
// The dialogs' baud rates, the two faster ones a high sample rate needs, and NMEA's 4800
// for an instrument that sends its telegrams to the sensor port.
constexpr LONG kBauds[] = {4800, 9600, 19200, 28800, 38400, 57600, 115200, 230400, 460800};
// Samples not fetched are kept for about four seconds, so memory never grows.
constexpr std::size_t kQueueLimit = 2048;
constexpr DWORD kReadTimeoutMs = 200;

bool ValidRate(std::int16_t rate) {
    return std::find(std::begin(kRates), std::end(kRates), rate) != std::end(kRates);
}
bool ValidBaud(LONG baud) {
    return std::find(std::begin(kBauds), std::end(kBauds), baud) != std::end(kBauds);
}
// The Advanced dialog's range for filter gain and magnetometer weight is 0.1 to 100.
bool ValidFilter(float gain, float weight) {
    return std::isfinite(gain) && std::isfinite(weight) && gain >= 0 && weight >= 0 &&
           gain <= 100.0F && weight <= 100.0F;
}

std::atomic<DWORD> g_nextToken{0x4D540001};

class CMotionTrackerObject;

// The connection point of IMotionTrackerSink; lives and counts with its object.
class CSinkConnectionPoint final : public IConnectionPoint {
public:
    explicit CSinkConnectionPoint(IUnknown& owner) : m_owner(owner) {}
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IConnectionPoint) {
            return ComHandOut<IConnectionPoint>(this, object);
        }
        return ComNoInterface(object);
    }
    ULONG AddRef() override { return m_owner.AddRef(); }
    ULONG Release() override { return m_owner.Release(); }
    HRESULT GetConnectionInterface(IID* iid) override {
        if (iid == nullptr) {
            return E_POINTER;
        }
        *iid = IID_IMotionTrackerSink;
        return S_OK;
    }
    HRESULT Advise(IUnknown* sink, DWORD* cookie) override {
        if (cookie != nullptr) {
            *cookie = 0;
        }
        return m_sinks.Add(sink, IID_IMotionTrackerSink, cookie);
    }
    HRESULT Unadvise(DWORD cookie) override { return m_sinks.Remove(cookie); }

    void Fire() {
        for (const auto& sink : m_sinks.Snapshot()) {
            sink->OnDataAvailable();
        }
    }
    void Clear() { m_sinks.Clear(); }

private:
    IUnknown& m_owner;
    CConnectionList<IMotionTrackerSink> m_sinks;
};

#define MT_RESERVED(n)               \
    HRESULT Reserved##n() override { \
        return E_NOTIMPL;            \
    }

class CMotionTrackerObject final : public CDispatchBase<IMotionTracker>,
                                   public IConnectionPointContainer,
                                   public IMotionTrackerSimulation,
                                   public IMotionTrackerCalibration,
                                   public IMotionTrackerHeave {
    TAVIMO_COM_REFCOUNT()
public:
    CMotionTrackerObject() : m_point(static_cast<IMotionTracker&>(*this)) {
        std::string port = "COM1";
        std::string kindText;
        DWORD seed = 1;
        CRegKey key;
        if (key.Open(HKEY_CURRENT_USER, kSettingsKey, KEY_READ) == ERROR_SUCCESS) {
            port = key.QueryString("Port").value_or(port);
            kindText = key.QueryString("Kind").value_or(kindText);
            seed = key.QueryDWORD("Seed").value_or(seed);
        }
        m_seed = seed;
        std::string reason;
        if (const auto kind = ParseDeviceKind(kindText, &reason)) {
            m_device = MakeDevice(*kind, seed, port, &reason);
        } else {
            m_device = MakeUnavailableDevice(reason);
        }
        if (!reason.empty()) {
            // The sensor port's device cannot be made: say why once; every open then fails.
            std::fprintf(stderr, "Tavimo: the sensor on %s cannot be used: %s\n", port.c_str(),
                         reason.c_str());
        }
        LoadSavedSettings();
    }
    ~CMotionTrackerObject() override {
        StopDelivery();
        m_device->Close();
        m_point.Clear();
    }

    // ---- IUnknown
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IConnectionPointContainer) {
            return ComHandOut<IConnectionPointContainer>(this, object);
        }
        if (iid == IID_IMotionTrackerSimulation) {
            return ComHandOut<IMotionTrackerSimulation>(this, object);
        }
        if (iid == IID_IMotionTrackerCalibration) {
            return ComHandOut<IMotionTrackerCalibration>(this, object);
        }
        if (iid == IID_IMotionTrackerHeave) {
            return ComHandOut<IMotionTrackerHeave>(this, object);
        }
        // The sensor is driven through its slots only: IDispatch has no names or Invoke.
        return Query(iid, IID_IMotionTracker, object);
    }

    // ---- IMotionTracker
    HRESULT SetOutputMode(std::int16_t mode, std::int16_t) override {
        if (const HRESULT hr = Check(7); hr != S_OK) {
            return hr;
        }
        if (mode < 0 || mode > 2) {
            return E_INVALIDARG;
        }
        std::lock_guard lock(m_mutex);
        SensorConfig next = m_config;
        next.outputMode = mode;
        return Apply(next);
    }
    HRESULT GetOutputMode(std::int16_t* mode) override {
        if (mode == nullptr) {
            return E_POINTER;
        }
        std::lock_guard lock(m_mutex);
        *mode = m_config.outputMode;
        return S_OK;
    }
    HRESULT SetExtraData(std::int16_t flag) override {
        if (const HRESULT hr = Check(9); hr != S_OK) {
            return hr;
        }
        std::lock_guard lock(m_mutex);
        SensorConfig next = m_config;
        next.extraData = flag != 0;
        return Apply(next);
    }
    HRESULT OpenPort(std::int16_t port, LONG baud) override {
        if (const HRESULT hr = Check(10); hr != S_OK) {
            return hr;
        }
        if (!ValidBaud(baud)) {
            return E_INVALIDARG;
        }
        StopDelivery();
        m_device->Close();
        const HRESULT hr = m_device->Open("COM" + std::to_string(port), baud);
        std::lock_guard lock(m_mutex);
        m_open = SUCCEEDED(hr);
        if (m_open) {
            m_baud = baud;
            // A device whose sender sets the rate runs at that rate; another is a change
            // it refuses.
            if (const std::int16_t fixed = m_device->FixedSampleRate(); fixed > 0) {
                m_config.sampleRate = fixed;
            }
        }
        return hr;
    }
    HRESULT ClosePort() override {
        StopDelivery();
        m_device->Close();
        std::lock_guard lock(m_mutex);
        m_open = false;
        return S_OK;
    }
    HRESULT SetFilterSettings(float gain, std::int16_t parameter, float weight) override {
        if (const HRESULT hr = Check(12); hr != S_OK) {
            return hr;
        }
        if (!ValidFilter(gain, weight)) {
            return E_INVALIDARG;
        }
        std::lock_guard lock(m_mutex);
        SensorConfig next = m_config;
        next.gain = gain;
        next.filterParameter = parameter;
        next.weight = weight;
        return Apply(next);
    }
    MT_RESERVED(13)
    HRESULT GetNextSample(std::int16_t* flag, VARIANT* sample, std::int16_t) override {
        if (const HRESULT hr = Check(14); hr != S_OK) {
            return hr;
        }
        if (flag == nullptr || sample == nullptr) {
            return E_POINTER;
        }
        std::lock_guard lock(m_mutex);
        if (m_queue.empty()) {
            *flag = 0;
            sample->Clear();
            return S_OK;
        }
        *sample = std::move(m_queue.front());
        m_queue.pop_front();
        *flag = 1;
        return S_OK;
    }
    MT_RESERVED(15)
    HRESULT GetFilterSettings(float* gain, std::int16_t* parameter, float* weight) override {
        if (const HRESULT hr = Check(16); hr != S_OK) {
            return hr;
        }
        if (gain == nullptr || parameter == nullptr || weight == nullptr) {
            return E_POINTER;
        }
        std::lock_guard lock(m_mutex);
        *gain = m_config.gain;
        *parameter = m_config.filterParameter;
        *weight = m_config.weight;
        return S_OK;
    }
    MT_RESERVED(17)
    HRESULT StartProcess() override {
        if (const HRESULT hr = Check(18); hr != S_OK) {
            return hr;
        }
        StopDelivery();
        {
            std::lock_guard lock(m_mutex);
            if (!m_open) {
                return E_FAIL;
            }
            if (const HRESULT hr = m_device->Configure(m_config); FAILED(hr)) {
                return hr;
            }
        }
        if (const HRESULT hr = m_device->Start(); FAILED(hr)) {
            return hr;
        }
        m_delivering = true;
        m_thread = std::thread([this] { DeliveryLoop(); });
        return S_OK;
    }
    HRESULT StopProcess() override {
        if (const HRESULT hr = Check(19); hr != S_OK) {
            return hr;
        }
        StopDelivery();
        return S_OK;
    }
    MT_RESERVED(20)
    MT_RESERVED(21)
    MT_RESERVED(22)
    MT_RESERVED(23)
    MT_RESERVED(24)
    MT_RESERVED(25)
    MT_RESERVED(26)
    HRESULT GetDeviceId(BSTR* deviceId) override {
        if (const HRESULT hr = Check(27); hr != S_OK) {
            return hr;
        }
        if (deviceId == nullptr) {
            return E_POINTER;
        }
        std::lock_guard lock(m_mutex);
        *deviceId = CComBSTR(m_open ? m_device->DeviceId() : std::string());
        return S_OK;
    }
    MT_RESERVED(28)
    MT_RESERVED(29)
    MT_RESERVED(30)
    HRESULT SetSampleRate(std::int16_t rate) override {
        if (const HRESULT hr = Check(31); hr != S_OK) {
            return hr;
        }
        if (!ValidRate(rate)) {
            return E_INVALIDARG;
        }
        std::lock_guard lock(m_mutex);
        SensorConfig next = m_config;
        next.sampleRate = rate;
        return Apply(next);
    }
    HRESULT GetSampleRate(std::int16_t* rate) override {
        if (const HRESULT hr = Check(32); hr != S_OK) {
            return hr;
        }
        if (rate == nullptr) {
            return E_POINTER;
        }
        std::lock_guard lock(m_mutex);
        const std::int16_t fixed = m_device->FixedSampleRate();
        *rate = fixed > 0 ? fixed : m_config.sampleRate;
        return S_OK;
    }
    MT_RESERVED(33)
    MT_RESERVED(34)
    HRESULT SetBaudRate(LONG baud) override {
        if (const HRESULT hr = Check(35); hr != S_OK) {
            return hr;
        }
        if (!ValidBaud(baud)) {
            return E_INVALIDARG;
        }
        std::lock_guard lock(m_mutex);
        m_baud = baud;
        return S_OK;
    }
    HRESULT GetBaudRate(LONG* baud) override {
        if (const HRESULT hr = Check(36); hr != S_OK) {
            return hr;
        }
        if (baud == nullptr) {
            return E_POINTER;
        }
        std::lock_guard lock(m_mutex);
        *baud = m_baud;
        return S_OK;
    }
    HRESULT SaveSettings(BSTR deviceId) override {
        if (const HRESULT hr = Check(37); hr != S_OK) {
            return hr;
        }
        std::lock_guard lock(m_mutex);
        if (deviceId.str() != m_device->DeviceId()) {
            return E_INVALIDARG;
        }
        CRegKey key;
        if (key.Create(HKEY_CURRENT_USER, DeviceKey()) != ERROR_SUCCESS) {
            return E_FAIL;
        }
        const bool stored =
            key.SetDWORD("SampleRate", static_cast<DWORD>(m_config.sampleRate)) == ERROR_SUCCESS &&
            key.SetDWORD("BaudRate", static_cast<DWORD>(m_baud)) == ERROR_SUCCESS &&
            key.SetString("Gain", std::to_string(m_config.gain)) == ERROR_SUCCESS &&
            key.SetDWORD("FilterParameter", static_cast<DWORD>(m_config.filterParameter)) ==
                ERROR_SUCCESS &&
            key.SetString("Weight", std::to_string(m_config.weight)) == ERROR_SUCCESS;
        return stored ? S_OK : E_FAIL;
    }
    MT_RESERVED(38)
    MT_RESERVED(39)
    MT_RESERVED(40)
    MT_RESERVED(41)
    MT_RESERVED(42)
    MT_RESERVED(43)
    MT_RESERVED(44)
    MT_RESERVED(45)
    MT_RESERVED(46)
    MT_RESERVED(47)
    MT_RESERVED(48)
    MT_RESERVED(49)
    MT_RESERVED(50)
    MT_RESERVED(51)
    MT_RESERVED(52)
    MT_RESERVED(53)
    MT_RESERVED(54)
    MT_RESERVED(55)
    MT_RESERVED(56)
    MT_RESERVED(57)
    MT_RESERVED(58)
    MT_RESERVED(59)
    MT_RESERVED(60)
    MT_RESERVED(61)
    MT_RESERVED(62)
    MT_RESERVED(63)
    MT_RESERVED(64)
    MT_RESERVED(65)
    HRESULT GetToken(DWORD* token) override {
        if (const HRESULT hr = Check(66); hr != S_OK) {
            return hr;
        }
        if (token == nullptr) {
            return E_POINTER;
        }
        *token = m_token;
        return S_OK;
    }

    // ---- IConnectionPointContainer
    HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
        if (point == nullptr) {
            return E_POINTER;
        }
        *point = nullptr;
        if (!(iid == IID_IMotionTrackerSink)) {
            return CONNECT_E_NOCONNECTION;
        }
        *point = &m_point;
        m_point.AddRef();
        return S_OK;
    }

    // ---- IMotionTrackerSimulation
    HRESULT FallSilent() override {
        m_silent = true;
        return S_OK;
    }
    HRESULT Resume() override {
        m_silent = false;
        return S_OK;
    }
    HRESULT RefuseSetting(int slot, HRESULT result) override {
        std::lock_guard lock(m_faultMutex);
        if (result == S_OK) {
            m_refused.erase(slot);
        } else {
            m_refused[slot] = result;
        }
        return S_OK;
    }
    HRESULT ThrowFrom(int slot, bool enable) override {
        std::lock_guard lock(m_faultMutex);
        if (enable) {
            m_throwing[slot] = true;
        } else {
            m_throwing.erase(slot);
        }
        return S_OK;
    }
    HRESULT InjectBatch(const std::vector<VARIANT>& arrays) override {
        {
            std::lock_guard lock(m_mutex);
            for (const auto& a : arrays) {
                m_queue.push_back(a);
            }
        }
        m_events.fetch_add(1);
        m_point.Fire();
        return S_OK;
    }
    HRESULT GetSeed(DWORD* seed) override {
        if (seed == nullptr) {
            return E_POINTER;
        }
        *seed = m_seed;
        return S_OK;
    }
    HRESULT GetLastSampleSeconds(double* seconds) override {
        if (seconds == nullptr) {
            return E_POINTER;
        }
        *seconds = m_lastSeconds.load();
        return S_OK;
    }
    HRESULT GetLastSampleSteadySeconds(double* seconds) override {
        if (seconds == nullptr) {
            return E_POINTER;
        }
        *seconds = m_lastSteadySeconds.load();
        return S_OK;
    }
    HRESULT GetCounts(DWORD* arrays, DWORD* events) override {
        if (arrays != nullptr) {
            *arrays = m_arrays.load();
        }
        if (events != nullptr) {
            *events = m_events.load();
        }
        return S_OK;
    }

    // ---- IMotionTrackerCalibration
    HRESULT CalibrationAvailable(bool* available) override {
        if (available == nullptr) {
            return E_POINTER;
        }
        std::lock_guard lock(m_mutex);
        *available = m_open && m_device->Calibratable();
        return m_open ? S_OK : S_FALSE;
    }
    HRESULT BeginCalibrationStep(CalibrationStep step, double seconds) override {
        return m_device->BeginCalibrationStep(step, seconds);
    }
    HRESULT FinishCalibrationStep() override { return m_device->FinishCalibrationStep(); }
    HRESULT CancelCalibrationStep() override { return m_device->CancelCalibrationStep(); }
    HRESULT GetCalibrationProgress(CalibrationProgress* progress) override {
        if (progress == nullptr) {
            return E_POINTER;
        }
        *progress = m_device->CalibrationStatus();
        return S_OK;
    }
    HRESULT SetHeadingOffset(double degrees) override {
        return m_device->SetHeadingOffset(degrees);
    }
    HRESULT UndoCalibration() override { return m_device->UndoLastCalibration(); }
    HRESULT ResetCalibration() override { return m_device->ForgetCalibration(); }
    HRESULT DescribeCalibration(std::string* current, std::string* previous) override {
        return m_device->CalibrationText(current, previous);
    }
    HRESULT GetHeadingStanding(HeadingStanding* standing) override {
        if (standing == nullptr) {
            return E_POINTER;
        }
        *standing = m_device->Standing();
        return S_OK;
    }

    // ---- IMotionTrackerHeave
    HRESULT SetHeaveSettings(const HeaveSettings& settings) override {
        if (!settings.Problem().empty()) {
            return E_INVALIDARG;
        }
        m_device->SetHeaveSettings(settings);
        return S_OK;
    }
    HRESULT GetMotion(Motion* motion) override {
        if (motion == nullptr) {
            return E_POINTER;
        }
        const std::optional<Motion> now = m_device->CurrentMotion();
        if (!now) {
            return S_FALSE;
        }
        *motion = *now;
        return S_OK;
    }

private:
    // Hands new settings to the device and keeps them only when it takes them (m_mutex held).
    HRESULT Apply(const SensorConfig& next) {
        if (const HRESULT hr = m_device->Configure(next); FAILED(hr)) {
            return hr;
        }
        m_config = next;
        return S_OK;
    }

    HRESULT Check(int slot) {
        std::lock_guard lock(m_faultMutex);
        if (m_throwing.count(slot) != 0) {
            throw std::runtime_error("motion sensor fault in slot " + std::to_string(slot));
        }
        const auto it = m_refused.find(slot);
        return it == m_refused.end() ? S_OK : it->second;
    }

    std::string DeviceKey() const {
        return std::string(kSettingsKey) + "\\Devices\\" + m_device->DeviceId();
    }

    void LoadSavedSettings() {
        CRegKey key;
        if (key.Open(HKEY_CURRENT_USER, DeviceKey(), KEY_READ) != ERROR_SUCCESS) {
            return;
        }
        const auto rate = key.QueryDWORD("SampleRate");
        if (rate && ValidRate(static_cast<std::int16_t>(*rate))) {
            m_config.sampleRate = static_cast<std::int16_t>(*rate);
        }
        const auto baud = key.QueryDWORD("BaudRate");
        if (baud && ValidBaud(static_cast<LONG>(*baud))) {
            m_baud = static_cast<LONG>(*baud);
        }
        const float gain = std::strtof(key.QueryString("Gain").value_or("").c_str(), nullptr);
        const float weight = std::strtof(key.QueryString("Weight").value_or("").c_str(), nullptr);
        if (key.QueryString("Gain") && key.QueryString("Weight") && ValidFilter(gain, weight)) {
            m_config.gain = gain;
            m_config.weight = weight;
        }
        if (const auto parameter = key.QueryDWORD("FilterParameter")) {
            m_config.filterParameter = static_cast<std::int16_t>(*parameter);
        }
    }

    // The sensor's delivery runs on the path from sample to telegram byte (the sink's
    // handler sends the telegrams' attitudes from here): real-time where granted.
    void DeliveryLoop() {
        platform::MakeCurrentThreadTimeCritical();
        std::vector<std::vector<float>> arrays;
        while (m_delivering.load()) {
            arrays.clear();
            double newest = -1;
            if (!m_device->ReadBatch(arrays, newest, kReadTimeoutMs) || m_silent.load()) {
                continue;
            }
            {
                std::lock_guard lock(m_mutex);
                for (auto& a : arrays) {
                    m_queue.emplace_back(std::move(a));
                }
                while (m_queue.size() > kQueueLimit) {
                    m_queue.pop_front();
                }
            }
            m_arrays.fetch_add(static_cast<DWORD>(arrays.size()));
            m_lastSeconds = newest;
            m_lastSteadySeconds = m_device->DueSteadySeconds(newest);
            m_events.fetch_add(1);
            m_point.Fire();
        }
    }

    // Ends the delivery thread; from inside a data event the thread only learns to stop
    // and is joined by the next start or by the destructor.
    void StopDelivery() {
        m_delivering = false;
        m_device->Stop();
        std::lock_guard lock(m_threadMutex);
        if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) {
            m_thread.join();
        }
    }

    CSinkConnectionPoint m_point;
    std::unique_ptr<ISensorDevice> m_device;
    DWORD m_seed = 1;
    const DWORD m_token = g_nextToken.fetch_add(1);
    std::mutex m_mutex;  // settings and queue
    SensorConfig m_config;
    LONG m_baud = 115200;
    bool m_open = false;
    std::deque<VARIANT> m_queue;
    std::mutex m_threadMutex;
    std::thread m_thread;
    std::atomic<bool> m_delivering{false};
    std::atomic<bool> m_silent{false};
    std::atomic<double> m_lastSeconds{-1};
    std::atomic<double> m_lastSteadySeconds{-1};
    std::atomic<DWORD> m_arrays{0};
    std::atomic<DWORD> m_events{0};
    std::mutex m_faultMutex;
    std::map<int, HRESULT> m_refused;
    std::map<int, bool> m_throwing;
};

HRESULT CreateMotionTracker(IUnknown* outer, REFIID iid, void** object) {
    return ComCreateInstance<CMotionTrackerObject, IMotionTracker>(outer, iid, object);
}

CComLibraryClass& LibraryClass() {
    static CComLibraryClass libraryClass(CLSID_MTObj, "MTObj.MotionTracker.1", CreateMotionTracker);
    return libraryClass;
}
// Linking the library makes the sensor object available to CoCreateInstance.
const bool g_registered = LibraryClass().IsRegistered();

}  // namespace

void UnregisterClass() {
    LibraryClass().Unregister();
}

void RegisterClass() {
    LibraryClass().Register();
}

}  // namespace mtobj
