// Reading a date and time typed by a user, or written by a time-stamp property.
#pragma once

#include <string>

#include "platform/OleDateTime.h"

namespace tagbook {
// Accepts, with or without a time of day:
//   "Tue 08 Dec 2026, 14:15:03"   (what a time-stamp property writes; weekday optional)
//   "8 December 2026 2:15 PM", "Dec 8 2026 14:15"
//   "08/12/2026 14:15:03", "8-12-2026", "8.12.2026"  (day, month, year)
//   "2026-12-08 14:15:03", "2026-12-08T14:15:03", "2026/12/08"
//   "14:15:03" alone (the time of day on the OLE zero date, as the platform parser does)
// Seconds and a fraction of seconds are optional; "AM"/"PM" follow the time. False, and
// the value untouched, for anything else or for a date that does not exist.
bool ParseDateTimeText(const std::string& text, COleDateTime& value);
}  // namespace tagbook
