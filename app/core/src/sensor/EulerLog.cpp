// The Euler log: one line per processed sample in a time-stamped file of the chosen
// folder, rolled over after 32001 lines.
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iomanip>
#include <sstream>

#include "app/XsensModule.h"
#include "interfaces/Tickwise.h"

namespace {
constexpr std::uint32_t kMaxLinesPerFile = 32000;
}  // namespace

std::string MakeTimestampedFileName(const std::string& stem) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &local);
    if (stem.size() < 5) {
        return std::string("/Data") + stamp + ".txt";
    }
    // Only a dot in the file part is an extension: a dot in a folder name (~/.local)
    // must not move the file into another folder.
    const std::size_t dot = stem.rfind('.');
    const std::size_t slash = stem.rfind('/');
    if (dot != std::string::npos && dot > 4 && (slash == std::string::npos || dot > slash)) {
        return stem.substr(0, dot) + stamp + "." + stem.substr(dot + 1);
    }
    return stem + stamp + ".txt";
}

std::string FormatEulerLogLine(double sampleTime, const float* values, int count) {
    const double wholeSeconds = std::floor(sampleTime / 1000.0) * 1000.0;
    const COleDateTime when = CTickwise::ConvertPCMilliSecsToOleDateTime(wholeSeconds);
    const int millisecond = static_cast<int>(std::fmod(sampleTime, 1000.0));
    std::ostringstream line;
    line << std::setfill('0') << std::setw(2) << when.GetHour() << ':' << std::setw(2)
         << when.GetMinute() << ':' << std::setw(2) << when.GetSecond() << '.' << std::setw(3)
         << millisecond << ',' << std::setfill(' ') << std::fixed << std::setprecision(3)
         << std::setw(15) << sampleTime * 0.001;
    for (int i = 0; i < count; ++i) {
        line << ',';
        if (i == 0) {
            line << std::setw(8);
        }
        line << values[i];
    }
    return line.str();
}

void CXsensModule::SetEulerLogFolder(bool enable, const std::string& folder) {
    CSingleLock lock(m_logLock);
    if (m_eulerLogFile.is_open()) {
        m_eulerLogFile.close();
    }
    m_bEulerLogging = enable;
    m_eulerLogStem = folder + "/Euler_Log_";
}

std::string CXsensModule::GetEulerLogFileName() const {
    CSingleLock lock(m_logLock);
    return m_eulerLogFileName;
}

void CXsensModule::WriteEulerLog(const float* values, double sampleTime) {
    const int count = m_nOutputMode == 0 ? 4 : m_nOutputMode == 1 ? 3 : 9;
    const std::string line = FormatEulerLogLine(sampleTime, values, count);
    CSingleLock lock(m_logLock);
    if (!m_bEulerLogging.load()) {
        return;  // switched off while this sample was on its way
    }
    if (!m_eulerLogFile.is_open()) {
        m_eulerLogFileName = MakeTimestampedFileName(m_eulerLogStem);
        m_eulerLogFile.clear();
        m_eulerLogFile.open(m_eulerLogFileName, std::ios::out | std::ios::app);
        m_eulerLogLines = 0;
        if (!m_eulerLogFile.is_open()) {
            return;  // a folder that is missing or not writable: nothing is written
        }
    }
    m_eulerLogFile << line << std::endl;
    ++m_eulerLogLines;
    if (!m_eulerLogFile.good()) {
        // A full disk: close, so that the next sample tries afresh and nothing half-written
        // is appended behind a failed line.
        if (!m_bEulerLogWriteFailed) {
            m_log.TraceNow("WriteEulerLog", "Writing %s failed", m_eulerLogFileName.c_str());
        }
        m_bEulerLogWriteFailed = true;
        m_eulerLogFile.close();
        return;
    }
    m_bEulerLogWriteFailed = false;
    if (m_eulerLogLines > kMaxLinesPerFile) {
        m_eulerLogFile.close();
    }
}
