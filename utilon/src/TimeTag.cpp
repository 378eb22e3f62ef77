#include "utilon/TimeTag.h"

#include "interfaces/Tickwise.h"
#include "utilon/EventService.h"

void SetTimeSource(const std::string& name) {
    _RaiseEvent("Tickwise", "Time source changed to \"" + name + "\"", std::string());
    CTickwise::SetTimeSource(name);
}
