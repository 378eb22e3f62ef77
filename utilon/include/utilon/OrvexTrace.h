// The utility libraries' own trace call; it writes nothing.
#pragma once

extern int gOrvexTraceLevel;
void ORVEX_TRACE(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
