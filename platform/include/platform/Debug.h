// Debugger output: written to standard error when TAVIMO_DEBUG=1, else dropped.
#pragma once

void OutputDebugStringA(const char* text);
inline void OutputDebugString(const char* text) {
    OutputDebugStringA(text);
}

namespace platform {
// Re-reads TAVIMO_DEBUG (tests switch it on after start-up).
void RefreshDebugOutputSetting();
}  // namespace platform
