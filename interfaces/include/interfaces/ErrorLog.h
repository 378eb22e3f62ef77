// The trace log each traced object owns: "time module object context text" lines in a
// rotating file under $XDG_STATE_HOME/tavimo/ when tracing is enabled for the object or
// TAVIMO_TRACE=1 is set. The callers never read anything back and never fail through it.
#pragma once

#include <cstdarg>
#include <exception>
#include <functional>
#include <string>

#include "platform/Types.h"

class CErrorLog {
public:
    CErrorLog() = default;
    virtual ~CErrorLog() = default;                                               // slot 0
    virtual void SetModuleName(const char* module);                               // slot 1
    virtual void SetObjectName(const char* object);                               // slot 2
    virtual void LogException(const std::exception& e, const char* context);      // slot 3
    virtual void LogError(HRESULT hr, const char* context, const char* text);     // slot 4
    virtual void LogError(HRESULT hr, const char* context);                       // slot 5
    virtual void LogSystemError(int errorNumber, const char* context);            // slot 6
    virtual void LogComError(HRESULT hr, const char* context, const char* text);  // slot 7

    void EnableTrace(bool enable) { m_enabled = enable; }
    bool IsTraceEnabled() const;
    void Trace(const char* context);
    void Trace(const char* context, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void TraceNow(const char* context, const char* format, ...)
        __attribute__((format(printf, 3, 4)));
    void SetApplicationName(const char* name);

    const std::string& ModuleName() const { return m_module; }
    const std::string& ObjectName() const { return m_object; }

private:
    void Write(const char* context, const std::string& text);
    // Both trace calls: the formatted line, when tracing is on.
    void TraceFormatted(const char* context, const char* format, va_list args);

    std::string m_module;
    std::string m_object;
    bool m_enabled = false;
};

namespace faultbook {
struct TraceRecord {
    std::string module;
    std::string object;
    std::string context;
    std::string text;
};
// Receives every line that is written (tests read traces through it); null removes it.
void SetTraceSink(std::function<void(const TraceRecord&)> sink);
// Re-reads TAVIMO_TRACE and the state folder.
void RefreshTraceSettings();
// The trace file's path.
std::string TraceFilePath();
}  // namespace faultbook
