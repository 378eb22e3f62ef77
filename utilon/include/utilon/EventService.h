// The suite's event service as the utility library reaches it. Our stand-in records
// each event in the trace log (module "Tavimo", object "EventService", the event's
// source as context); events are always recorded, whatever the trace setting.
#pragma once

#include <string>

// Raises one event; never fails toward the caller.
void _RaiseEvent(const std::string& source, const std::string& message,
                 const std::string& extra = std::string());
