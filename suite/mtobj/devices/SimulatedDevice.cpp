#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "mtobj/SensorDevice.h"
#include "mtobj/VesselMotion.h"
#include "platform/Paths.h"
#include "platform/Sync.h"

namespace mtobj {
namespace {

using Clock = std::chrono::steady_clock;

// Batches come at most this often (about 60 data events a second), so a fast rate costs
// the program a wake-up per batch, not one per sample: at 512 Hz the whole chain from
// sensor to two telegram outputs then stays near 1% of a core.
constexpr double kMinBatchMs = 16.0;

// A seam for fault tests of the whole program: with TAVIMO_SIMULATED_SENSOR_SILENT_AFTER_MS
// set to n, every simulated device of the process stops delivering samples n ms after the
// first device was made, like a sensor that stops talking while its port stays open.
// Reconnecting does not bring it back.
std::optional<Clock::time_point> SilentFrom() {
    static const std::optional<Clock::time_point> from = []() -> std::optional<Clock::time_point> {
        const auto value = platform::EnvironmentValue("TAVIMO_SIMULATED_SENSOR_SILENT_AFTER_MS");
        const char* text = value ? value->c_str() : nullptr;
        char* end = nullptr;
        const long ms = text != nullptr ? std::strtol(text, &end, 10) : -1;
        if (text == nullptr || end == text || *end != '\0' || ms < 0) {
            return std::nullopt;
        }
        return Clock::now() + std::chrono::milliseconds(ms);
    }();
    return from;
}

class CSimulatedDevice final : public ISensorDevice {
public:
    CSimulatedDevice(std::uint32_t seed, std::string port)
        : m_motion(seed), m_port(std::move(port)), m_created(Clock::now()) {
        SilentFrom();  // the silence is counted from the first device
        char id[16];
        std::snprintf(id, sizeof id, "%08X", 0x00300000U + (seed & 0xFFFFU));
        m_deviceId = id;
    }

    HRESULT Open(const std::string& port, LONG baud) override {
        std::lock_guard lock(m_mutex);
        if (port != m_port || baud <= 0) {
            return E_FAIL;
        }
        m_open = true;
        return S_OK;
    }
    void Close() override {
        Stop();
        std::lock_guard lock(m_mutex);
        m_open = false;
    }
    std::string DeviceId() const override { return m_deviceId; }
    HRESULT Configure(const SensorConfig& config) override {
        std::lock_guard lock(m_mutex);
        m_config = config;
        return S_OK;
    }
    HRESULT Start() override {
        std::lock_guard lock(m_mutex);
        if (!m_open) {
            return E_FAIL;
        }
        m_running = true;
        m_period = 1000.0 / std::max<int>(1, m_config.sampleRate);
        // The first sample is due one period from now, then one period apart.
        m_startMs = NowMs();
        m_next = 1;
        return S_OK;
    }
    void Stop() override {
        {
            std::lock_guard lock(m_mutex);
            m_running = false;
        }
        m_wake.Set();
    }
    bool ReadBatch(std::vector<std::vector<float>>& arrays, double& newestSeconds,
                   DWORD timeoutMs) override {
        double dueMs;
        {
            std::lock_guard lock(m_mutex);
            if (!m_running) {
                return false;
            }
            dueMs = std::max(m_startMs + m_next * m_period, m_lastBatchMs + kMinBatchMs);
        }
        const double waitMs = dueMs - NowMs();
        if (waitMs > 0) {
            const DWORD wait = static_cast<DWORD>(std::min<double>(std::ceil(waitMs), timeoutMs));
            if (m_wake.Wait(wait)) {
                return false;
            }
        }
        if (const auto silent = SilentFrom(); silent && Clock::now() >= *silent) {
            m_wake.Wait(timeoutMs);
            return false;
        }
        std::lock_guard lock(m_mutex);
        if (!m_running) {
            return false;
        }
        const double now = NowMs();
        m_lastBatchMs = now;
        bool any = false;
        while (m_startMs + m_next * m_period <= now) {
            const double seconds = (m_startMs + m_next * m_period) / 1000.0;
            ++m_next;
            AppendAttitude(arrays, m_motion.At(seconds), m_config);
            newestSeconds = seconds;
            any = true;
        }
        return any;
    }
    void Interrupt() override { m_wake.Set(); }

private:
    double NowMs() const {
        return std::chrono::duration<double, std::milli>(Clock::now() - m_created).count();
    }
    VesselMotion m_motion;
    const std::string m_port;
    const Clock::time_point m_created;
    std::string m_deviceId;
    std::mutex m_mutex;
    CEvent m_wake;
    SensorConfig m_config;
    bool m_open = false;
    bool m_running = false;
    double m_period = 10.0;
    double m_startMs = 0;
    double m_lastBatchMs = -1e9;
    std::uint64_t m_next = 1;
};

}  // namespace

std::unique_ptr<ISensorDevice> MakeSimulatedDevice(std::uint32_t seed, const std::string& port) {
    return std::make_unique<CSimulatedDevice>(seed, port);
}

}  // namespace mtobj
