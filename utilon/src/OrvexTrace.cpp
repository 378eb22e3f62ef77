#include "utilon/OrvexTrace.h"

int gOrvexTraceLevel = 0;

void ORVEX_TRACE(int /*level*/, const char* /*format*/, ...) {}
