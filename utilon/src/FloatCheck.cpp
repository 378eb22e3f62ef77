#include "utilon/FloatCheck.h"

#include <cmath>
#include <mutex>

#include "platform/Debug.h"

BOOL g_bEnableFPUExceptions = 1;

namespace {
std::mutex g_messageMutex;
std::string g_lastMessage;

const char* Describe(double value) {
    switch (std::fpclassify(value)) {
        case FP_NAN:
            return issignaling(value) ? "\n\nFPU: ----------------------->  signaling NaN\n\n"
                                      : "\n\nFPU: ----------------------->  quiet NaN\n\n";
        case FP_INFINITE:
            return std::signbit(value) ? "\n\nFPU: ----------------------->  negative infinity\n\n"
                                       : "\n\nFPU: ----------------------->  positive infinity\n\n";
        default:
            break;
    }
    if (std::isnan(value)) {
        return "\n\nFPU: ----------------------->  nan\n\n";
    }
    return std::isfinite(value) ? nullptr : "\n\nFPU: ----------------------->  not finite\n\n";
}
}  // namespace

int IsFpValid(double value) {
    const char* message = Describe(value);
    if (message == nullptr) {
        return 1;
    }
    OutputDebugString(message);
    std::lock_guard lock(g_messageMutex);
    g_lastMessage = message;
    return 0;
}

std::string LastFpMessage() {
    std::lock_guard lock(g_messageMutex);
    return g_lastMessage;
}
