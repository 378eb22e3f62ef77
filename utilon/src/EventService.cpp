#include "utilon/EventService.h"

#include "interfaces/ErrorLog.h"

namespace {
CErrorLog& EventLog() {
    static CErrorLog* log = [] {
        auto* l = new CErrorLog;
        l->SetModuleName("Tavimo");
        l->SetObjectName("EventService");
        l->EnableTrace(true);
        return l;
    }();
    return *log;
}
}  // namespace

void _RaiseEvent(const std::string& source, const std::string& message, const std::string& extra) {
    if (extra.empty()) {
        EventLog().Trace(source.c_str(), "%s", message.c_str());
    } else {
        EventLog().Trace(source.c_str(), "%s (%s)", message.c_str(), extra.c_str());
    }
}
