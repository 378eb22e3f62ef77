#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <stdexcept>

#include "interfaces/ErrorLog.h"
#include "platform/Paths.h"

namespace {
std::mutex g_mutex;
std::function<void(const faultbook::TraceRecord&)> g_sink;
std::shared_ptr<spdlog::logger> g_logger;
bool g_fileFailed = false;
platform::CEnvironmentSwitch g_traceAll("TAVIMO_TRACE");
std::string g_applicationName = "Tavimo";

spdlog::logger* Logger() {
    if (g_logger || g_fileFailed) {
        return g_logger.get();
    }
    const std::string path = faultbook::TraceFilePath();
    try {
        std::string why;
        if (!platform::MakeFolders(std::filesystem::path(path).parent_path().string(), &why)) {
            throw std::runtime_error(why);
        }
        // The trace is appended to: a link in its place (planted, or left by another
        // program) would send it into somebody else's file.
        std::error_code ec;
        const auto status = std::filesystem::symlink_status(path, ec);
        if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
            throw std::runtime_error("it is a link or not a regular file");
        }
        auto sink =
            std::make_shared<spdlog::sinks::rotating_file_sink_mt>(path, 5 * 1024 * 1024, 3);
        g_logger = std::make_shared<spdlog::logger>("tavimo-trace", sink);
        g_logger->set_pattern("%Y-%m-%d %H:%M:%S.%e %v");
        g_logger->flush_on(spdlog::level::info);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tavimo: cannot write the trace log %s: %s\n", path.c_str(), e.what());
        g_fileFailed = true;
    }
    return g_logger.get();
}

std::string Format(const char* format, va_list args) {
    if (format == nullptr) {
        return {};
    }
    char buffer[1024];
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(buffer, sizeof(buffer), format, copy);
    va_end(copy);
    if (n < 0) {
        return {};
    }
    if (static_cast<std::size_t>(n) < sizeof(buffer)) {
        return std::string(buffer, static_cast<std::size_t>(n));
    }
    std::string text(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(n));
    return text;
}

std::string HResultText(HRESULT hr) {
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "HRESULT 0x%08X", static_cast<unsigned>(hr));
    return buffer;
}
}  // namespace

void CErrorLog::SetModuleName(const char* module) {
    m_module = module != nullptr ? module : "";
}
void CErrorLog::SetObjectName(const char* object) {
    m_object = object != nullptr ? object : "";
}

bool CErrorLog::IsTraceEnabled() const {
    return m_enabled || g_traceAll.IsOn();
}

void CErrorLog::Write(const char* context, const std::string& text) {
    if (!IsTraceEnabled()) {
        return;
    }
    faultbook::TraceRecord record{m_module, m_object, context != nullptr ? context : "", text};
    // Trailing line ends of printf-style texts would split the file's lines.
    while (!record.text.empty() && (record.text.back() == '\n' || record.text.back() == '\r')) {
        record.text.pop_back();
    }
    std::lock_guard lock(g_mutex);
    if (spdlog::logger* logger = Logger()) {
        logger->info("{} {} {} {}", record.module, record.object, record.context, record.text);
    }
    if (g_sink) {
        g_sink(record);
    }
}

void CErrorLog::Trace(const char* context) {
    Write(context, "");
}

void CErrorLog::TraceFormatted(const char* context, const char* format, va_list args) {
    if (IsTraceEnabled()) {
        Write(context, Format(format, args));
    }
}

void CErrorLog::Trace(const char* context, const char* format, ...) {
    va_list args;
    va_start(args, format);
    TraceFormatted(context, format, args);
    va_end(args);
}

// The same line as Trace; callers use it for life-cycle events, waits and failures.
void CErrorLog::TraceNow(const char* context, const char* format, ...) {
    va_list args;
    va_start(args, format);
    TraceFormatted(context, format, args);
    va_end(args);
}

void CErrorLog::SetApplicationName(const char* name) {
    std::lock_guard lock(g_mutex);
    g_applicationName = name != nullptr ? name : "";
}

void CErrorLog::LogException(const std::exception& e, const char* context) {
    Write(context, std::string("Exception: ") + e.what());
}

void CErrorLog::LogError(HRESULT hr, const char* context, const char* text) {
    Write(context, HResultText(hr) + ": " + (text != nullptr ? text : ""));
}

void CErrorLog::LogError(HRESULT hr, const char* context) {
    Write(context, HResultText(hr));
}

void CErrorLog::LogSystemError(int errorNumber, const char* context) {
    Write(context, std::string("System error ") + std::to_string(errorNumber) + ": " +
                       std::strerror(errorNumber));
}

void CErrorLog::LogComError(HRESULT hr, const char* context, const char* text) {
    Write(context, "COM " + HResultText(hr) + ": " + (text != nullptr ? text : ""));
}

namespace faultbook {
void SetTraceSink(std::function<void(const TraceRecord&)> sink) {
    std::lock_guard lock(g_mutex);
    g_sink = std::move(sink);
}

void RefreshTraceSettings() {
    std::lock_guard lock(g_mutex);
    g_traceAll.Refresh();
    g_logger.reset();
    g_fileFailed = false;
}

std::string TraceFilePath() {
    return platform::StateFolder() + "/Tavimo.log";
}
}  // namespace faultbook
