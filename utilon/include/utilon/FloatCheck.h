// One check for valid floating-point values, shared by every geometric value type: an
// invalid value is reported once on the debugger output and remembered.
#pragma once

#include <string>

#include "platform/Types.h"

// The libraries' switch for stopping on an invalid value while debugging (initially 1).
// This build never stops the process: an invalid value is reported and the caller goes on.
extern BOOL g_bEnableFPUExceptions;

// 1 for a finite value; 0 for a NaN or an infinity, after writing its message.
int IsFpValid(double value);
// The last message IsFpValid wrote (empty before the first).
std::string LastFpMessage();
