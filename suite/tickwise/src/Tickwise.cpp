#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>

#include "interfaces/Tickwise.h"

namespace {
constexpr double kMsPerDay = 86400000.0;

struct Origin {
    double wallMs;
    std::chrono::steady_clock::time_point steady;
};

const Origin& ClockOrigin() {
    static const Origin origin = [] {
        const auto wall = std::chrono::system_clock::now().time_since_epoch();
        return Origin{static_cast<double>(
                          std::chrono::duration_cast<std::chrono::microseconds>(wall).count()) /
                          1000.0,
                      std::chrono::steady_clock::now()};
    }();
    return origin;
}

std::atomic<bool> g_overridden{false};
std::mutex g_mutex;
std::shared_ptr<std::function<double()>> g_override;
std::string g_timeSource = "PC Clock";
}  // namespace

double CTickwise::GetPCMilliSecs() {
    if (g_overridden.load(std::memory_order_acquire)) {
        std::shared_ptr<std::function<double()>> clock;
        {
            std::lock_guard lock(g_mutex);
            clock = g_override;
        }
        if (clock) {
            return (*clock)();
        }
    }
    const Origin& origin = ClockOrigin();
    const auto elapsed = std::chrono::steady_clock::now() - origin.steady;
    return origin.wallMs +
           static_cast<double>(
               std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()) /
               1e6;
}

DATE CTickwise::ConvertPCMilliSecsToDATE(double ms) {
    return COleDateTime::kUnixEpoch + ms / kMsPerDay;
}

double CTickwise::ConvertDATEToPCMilliSecs(DATE date) {
    return (date - COleDateTime::kUnixEpoch) * kMsPerDay;
}

COleDateTime CTickwise::ConvertPCMilliSecsToOleDateTime(double ms) {
    return {ConvertPCMilliSecsToDATE(ms)};
}

bool CTickwise::AdjustedPCMilliSecsToUTCDate(double ms, double& date) {
    // No outside time source corrects this clock: the adjusted time is the PC time.
    date = ConvertPCMilliSecsToDATE(ms);
    return std::isfinite(date);
}

bool CTickwise::ConvertPCMilliSecsToUTCDate(double ms, double& date) {
    date = ConvertPCMilliSecsToDATE(ms);
    return std::isfinite(date);
}

COleDateTime CTickwise::GetPCOleDateTime() {
    return ConvertPCMilliSecsToOleDateTime(GetPCMilliSecs());
}
COleDateTime CTickwise::GetAdjustedPCOleDateTime() {
    return GetPCOleDateTime();
}

void CTickwise::SetTimeSource(const std::string& name) {
    std::lock_guard lock(g_mutex);
    g_timeSource = name;
}

std::string CTickwise::GetTimeSource() {
    std::lock_guard lock(g_mutex);
    return g_timeSource;
}

void CTickwise::SetClockForTesting(std::function<double()> clock) {
    std::lock_guard lock(g_mutex);
    g_override = clock ? std::make_shared<std::function<double()>>(std::move(clock)) : nullptr;
    g_overridden.store(g_override != nullptr, std::memory_order_release);
}
