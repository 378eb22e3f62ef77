#include "platform/Debug.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/Paths.h"

namespace {
platform::CEnvironmentSwitch g_debugOutput("TAVIMO_DEBUG");
}  // namespace

void OutputDebugStringA(const char* text) {
    if (text != nullptr && g_debugOutput.IsOn()) {
        std::fputs(text, stderr);
    }
}

namespace platform {
void RefreshDebugOutputSetting() {
    g_debugOutput.Refresh();
}
}  // namespace platform
