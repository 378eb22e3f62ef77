#include "platform/Debug.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/Paths.h"

namespace {
std::atomic<int> g_debugOutput{-1};  // -1 not read yet, 0 off, 1 on

bool DebugOutputEnabled() {
    int value = g_debugOutput.load(std::memory_order_relaxed);
    if (value < 0) {
        value = platform::EnvironmentSwitch("TAVIMO_DEBUG") ? 1 : 0;
        g_debugOutput.store(value, std::memory_order_relaxed);
    }
    return value == 1;
}
}  // namespace

void OutputDebugStringA(const char* text) {
    if (text != nullptr && DebugOutputEnabled()) {
        std::fputs(text, stderr);
    }
}

namespace platform {
void RefreshDebugOutputSetting() {
    g_debugOutput.store(-1, std::memory_order_relaxed);
}
}  // namespace platform
