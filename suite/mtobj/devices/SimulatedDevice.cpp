#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <utility>

#include "mtobj/SensorDevice.h"
#include "mtobj/VesselMotion.h"
#include "platform/Paths.h"

namespace mtobj {
namespace {

using Clock = std::chrono::steady_clock;

// By default each sample is delivered at its own due time, as a sensor on a serial line
// sends it (every 1.95 ms at 512 Hz). TAVIMO_SIMULATED_SENSOR_BATCH_MS=n asks for batches
// instead: samples then come at most every n ms (16 gives about 60 data events a second,
// which costs fewer wake-ups at the price of up to n ms of age). Read at every start.
double BatchMsFromEnvironment() {
    const auto value = platform::EnvironmentValue("TAVIMO_SIMULATED_SENSOR_BATCH_MS");
    const char* text = value ? value->c_str() : nullptr;
    char* end = nullptr;
    const double ms = text != nullptr ? std::strtod(text, &end) : 0.0;
    if (text == nullptr || end == text || *end != '\0' || !(ms > 0)) {
        return 0.0;
    }
    return std::min(ms, 1000.0);
}

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
        m_interrupted = false;
        m_period = 1000.0 / std::max<int>(1, m_config.sampleRate);
        // The first sample is due one period from now, then one period apart.
        m_startMs = NowMs();
        m_lastBatchMs = -1e9;
        m_batchMs = BatchMsFromEnvironment();
        m_next = 1;
        return S_OK;
    }
    void Stop() override {
        {
            std::lock_guard lock(m_mutex);
            m_running = false;
        }
        m_wake.notify_all();
    }
    // Sleeps on one timed wait until the next delivery is due (the next sample's time, or
    // with batches also the batch interval after the last delivery): no polling, no
    // spinning, so the delivering thread may run at real-time priority.
    bool ReadBatch(std::vector<std::vector<float>>& arrays, double& newestSeconds,
                   DWORD timeoutMs) override {
        std::unique_lock lock(m_mutex);
        const Clock::time_point limit = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (!m_running) {
                return false;
            }
            if (std::exchange(m_interrupted, false)) {
                return false;
            }
            const Clock::time_point due =
                At(std::max(m_startMs + m_next * m_period, m_lastBatchMs + m_batchMs));
            const Clock::time_point now = Clock::now();
            if (now >= due) {
                break;
            }
            if (now >= limit) {
                return false;
            }
            m_wake.wait_until(lock, std::min(due, limit));
        }
        if (const auto silent = SilentFrom(); silent && Clock::now() >= *silent) {
            m_wake.wait_until(lock, limit, [this] { return !m_running || m_interrupted; });
            m_interrupted = false;
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
    void Interrupt() override {
        {
            std::lock_guard lock(m_mutex);
            m_interrupted = true;
        }
        m_wake.notify_all();
    }
    double DueSteadySeconds(double deviceSeconds) const override {
        return std::chrono::duration<double>(m_created.time_since_epoch()).count() + deviceSeconds;
    }

private:
    double NowMs() const {
        return std::chrono::duration<double, std::milli>(Clock::now() - m_created).count();
    }
    Clock::time_point At(double deviceMs) const {
        return m_created + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double, std::milli>(deviceMs));
    }
    VesselMotion m_motion;
    const std::string m_port;
    const Clock::time_point m_created;
    std::string m_deviceId;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_interrupted = false;
    SensorConfig m_config;
    bool m_open = false;
    bool m_running = false;
    double m_period = 10.0;
    double m_startMs = 0;
    double m_lastBatchMs = -1e9;
    double m_batchMs = 0.0;  // 0: each sample at its due time
    std::uint64_t m_next = 1;
};

}  // namespace

std::unique_ptr<ISensorDevice> MakeSimulatedDevice(std::uint32_t seed, const std::string& port) {
    return std::make_unique<CSimulatedDevice>(seed, port);
}

}  // namespace mtobj
