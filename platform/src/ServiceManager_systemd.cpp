#include <systemd/sd-daemon.h>

#include <cstdint>

#include "platform/Paths.h"
#include "platform/ServiceManager.h"

namespace platform {

bool ServiceManagerListening() {
    const auto socket = EnvironmentValue("NOTIFY_SOCKET");
    return socket && !socket->empty();
}

bool NotifyServiceManager(const char* state) {
    return state != nullptr && sd_notify(0, state) > 0;
}

std::chrono::microseconds ServiceWatchdogInterval() {
    std::uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0) {
        return std::chrono::microseconds(0);
    }
    return std::chrono::microseconds(static_cast<std::int64_t>(usec));
}

}  // namespace platform
