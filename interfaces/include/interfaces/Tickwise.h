// The PC clock: a monotonic millisecond clock whose origin is the wall clock (UTC) at
// start-up, so it never jumps; converts to OLE dates (days since 1899-12-30).
#pragma once

#include <functional>
#include <string>

#include "platform/OleDateTime.h"
#include "platform/Types.h"

class CTickwise {
public:
    static double GetPCMilliSecs();
    static DATE ConvertPCMilliSecsToDATE(double ms);
    static COleDateTime ConvertPCMilliSecsToOleDateTime(double ms);
    static bool AdjustedPCMilliSecsToUTCDate(double ms, double& date);
    static bool ConvertPCMilliSecsToUTCDate(double ms, double& date);
    static COleDateTime GetPCOleDateTime();
    static COleDateTime GetAdjustedPCOleDateTime();
    static void SetTimeSource(const std::string& name);
    static std::string GetTimeSource();
    // The inverse of ConvertPCMilliSecsToDATE, exact to the millisecond.
    static double ConvertDATEToPCMilliSecs(DATE date);

    // Replaces the clock for a test (null restores the real one).
    static void SetClockForTesting(std::function<double()> clock);
};
