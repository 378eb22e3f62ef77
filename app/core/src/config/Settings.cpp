#include "app/Settings.h"

#include <locale.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "app/Config.h"
#include "app/ConfigKeys.h"
#include "interfaces/ErrorLog.h"
#include "platform/File.h"
#include "platform/Paths.h"
#include "utilon/CommandLineInfoEx.h"

namespace tavimo_config {
// Generated at build time from data/Tavimo.xml.
extern const char kDefaultConfiguration[];
}  // namespace tavimo_config

namespace {
// Numbers in the file are C text ("0.20"), whatever locale the desktop gave the process.
class CCLocaleScope {
public:
    CCLocaleScope() {
        static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        m_previous = c != static_cast<locale_t>(nullptr) ? uselocale(c) : nullptr;
    }
    ~CCLocaleScope() {
        if (m_previous != static_cast<locale_t>(nullptr)) {
            uselocale(m_previous);
        }
    }
    CCLocaleScope(const CCLocaleScope&) = delete;
    CCLocaleScope& operator=(const CCLocaleScope&) = delete;

private:
    locale_t m_previous = static_cast<locale_t>(nullptr);
};

// atof: the leading number, 0 for text that is none. A value that is not finite ("nan",
// "inf", beyond the range of the held type) would run into every telegram: it reads as 0
// like any other text that is not a usable number.
double ReadDouble(const std::string& text) {
    CCLocaleScope locale;
    const double value = std::strtod(text.c_str(), nullptr);
    return std::isfinite(value) ? value : 0.0;
}

float ReadFloat(const std::string& text) {
    const double value = ReadDouble(text);
    return std::fabs(value) <= FLT_MAX ? static_cast<float>(value) : 0.0f;
}

// atoi, clamped to the held type instead of wrapping.
long ReadInteger(const std::string& text, long lowest, long highest) {
    const long value = std::strtol(text.c_str(), nullptr, 10);
    return value < lowest ? lowest : (value > highest ? highest : value);
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    CCLocaleScope locale;
    char buffer[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    return n < 0 ? std::string()
                 : std::string(buffer, std::min<std::size_t>(n, sizeof(buffer) - 1));
}

const char* FlagText(bool flag) {
    return flag ? "TRUE" : "FALSE";
}

CErrorLog& Log() {
    static CErrorLog log = [] {
        CErrorLog l;
        l.SetModuleName("Tavimo");
        l.SetObjectName("CTavimoSettingsStore");
        return l;
    }();
    return log;
}

// Reads one key into a setting; a missing key leaves the setting as it was.
// A number the whole text is (spaces around it allowed); nullopt for anything else.
std::optional<double> ReadNumber(const std::string& text) {
    CCLocaleScope locale;
    const char* begin = text.c_str();
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    if (end == begin || !std::isfinite(value)) {
        return std::nullopt;
    }
    while (*end == ' ' || *end == '\t' || *end == '\n' || *end == '\r') {
        ++end;
    }
    return *end == '\0' ? std::optional<double>(value) : std::nullopt;
}

bool Read(CConfig& config, const char* key, std::string& value) {
    BSTR text;
    if (!config.GetValue(key, text)) {
        return false;
    }
    value = text.str();
    return true;
}
}  // namespace

CTavimoSettings::CTavimoSettings() : m_strLogFolder(CTavimoSettingsStore::DefaultLogFolder()) {}

CTavimoSettingsStore::CTavimoSettingsStore(std::string fileName)
    : m_fileName(std::move(fileName)) {}

std::string CTavimoSettingsStore::FileNameFromCommandLine(const CCommandLineInfoEx& commandLine) {
    return commandLine.m_strFileName;
}

std::string CTavimoSettingsStore::FileName() const {
    return m_fileName.empty() ? CConfig().FileName() : m_fileName;
}

const char* CTavimoSettingsStore::DefaultConfiguration() {
    return tavimo_config::kDefaultConfiguration;
}

std::string CTavimoSettingsStore::DefaultLogFolder() {
    return platform::DataFolder();
}

bool CTavimoSettingsStore::ParseFlag(const std::string& text) {
    std::string upper = text;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return upper == "TRUE";
}

bool CTavimoSettingsStore::CreateIfMissing(std::string* reason) const {
    namespace fs = std::filesystem;
    const fs::path target(FileName());
    std::error_code ec;
    if (fs::exists(fs::symlink_status(target, ec))) {
        return fs::exists(target, ec);
    }
    std::string why;
    if (target.has_parent_path() &&
        !platform::MakeFolders(fs::absolute(target.parent_path(), ec).string(), &why)) {
        Log().Trace("CreateIfMissing", "unable to make the folder of %s: %s", target.c_str(),
                    why.c_str());
        if (reason != nullptr) {
            *reason = "its folder " + target.parent_path().string() +
                      " does not exist and cannot be made (" + why + ")";
        }
        return false;
    }
    // The shipped file names a folder for every user; this user's goes in before the
    // file takes its name, and a file that appeared meanwhile is never replaced.
    const auto withUsersFolder = [](const std::string& written) {
        CConfig config;
        return config.Load(written) && config.SetValue(XML_LOGGING_FILE_PATH, DefaultLogFolder()) &&
               config.Save("");
    };
    const platform::SaveResult result =
        platform::SaveFile(target.string(), std::string_view(DefaultConfiguration()),
                           {.check = withUsersFolder, .replace = false, .newFileMode = 0644});
    if (!result) {
        Log().Trace("CreateIfMissing", "unable to write the default configuration %s: %s",
                    target.c_str(), result.Describe().c_str());
        if (reason != nullptr) {
            *reason = result.Describe();
        }
        return fs::exists(target, ec);
    }
    Log().Trace("CreateIfMissing", "wrote the default configuration %s", target.c_str());
    return true;
}

bool CTavimoSettingsStore::LoadSettings(CTavimoSettings& s, std::string* reason) const {
    s.m_fFilterGain = 0.2f;
    s.m_dMagneticVariation = 0.0;
    s.m_fMagnetometerWeight = 1.0f;
    s.m_nSampleRate = 25;
    s.m_bLogging = false;
    s.m_strSensorPort = "COM1";
    s.m_strSensorBaud = "115200";

    CConfig config;
    const bool loaded = config.Load(m_fileName);
    if (!loaded && reason != nullptr) {
        *reason = config.LastError();
    }
    std::string text;
    if (Read(config, XML_FILTER_GAIN, text)) {
        s.m_fFilterGain = ReadFloat(text);
    }
    if (Read(config, XML_MAGNETIC_VARIATION, text)) {
        s.m_dMagneticVariation = ReadDouble(text);
    }
    if (Read(config, XML_MAGNETOMETER_WEIGHT, text)) {
        s.m_fMagnetometerWeight = ReadFloat(text);
    }
    Read(config, XML_SENSOR_PORT, s.m_strSensorPort);
    Read(config, XML_SENSOR_BAUD, s.m_strSensorBaud);
    Read(config, XML_PRIMARY_TELEGRAM, s.m_strPrimaryTelegram);
    Read(config, XML_PRIMARY_PORT, s.m_strPrimaryPort);
    Read(config, XML_PRIMARY_BAUD, s.m_strPrimaryBaud);
    Read(config, XML_SECONDARY_TELEGRAM, s.m_strSecondaryTelegram);
    Read(config, XML_SECONDARY_PORT, s.m_strSecondaryPort);
    Read(config, XML_SECONDARY_BAUD, s.m_strSecondaryBaud);

    s.m_bEnableOutputUI = true;
    if (Read(config, XML_ENABLE_OUTPUT_UI, text)) {
        s.m_bEnableOutputUI = ParseFlag(text);
    }
    if (Read(config, XML_LOGGING_ENABLE, text)) {
        s.m_bLogging = ParseFlag(text);
    }
    Read(config, XML_LOGGING_FILE_PATH, s.m_strLogFolder);
    if (Read(config, XML_APPLY_SMOOTHING, text)) {
        s.m_bApplySmoothing = ParseFlag(text);
    }
    if (Read(config, XML_TIME_WINDOW, text)) {
        s.m_nTimeWindow = static_cast<int>(ReadInteger(text, INT_MIN, INT_MAX));
    }
    Read(config, XML_TELEGRAM_OUTPUT_FREQUENCY, s.m_strFrequency);
    if (Read(config, XML_MSIO_PORT, text)) {
        s.m_nMSIOPort = static_cast<short>(ReadInteger(text, SHRT_MIN, SHRT_MAX));
    }
    if (Read(config, XML_MSIO_BAUD, text)) {
        s.m_nMSIOBaud = static_cast<int>(ReadInteger(text, INT_MIN, INT_MAX));
    }
    ReadHeave(config, s.m_heave);
    return loaded;
}

bool CTavimoSettingsStore::SaveSettings(const CTavimoSettings& s) const {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(FileName(), ec))) {
        CreateIfMissing();
    }
    CConfig config;
    if (!config.Load(m_fileName)) {
        Log().Trace("SaveSettings", "settings not saved: unable to load %s", FileName().c_str());
        return false;
    }
    config.SetValue(XML_FILTER_GAIN, Format("%5.2f", static_cast<double>(s.m_fFilterGain)));
    config.SetValue(XML_MAGNETIC_VARIATION, Format("%0.15f", s.m_dMagneticVariation));
    config.SetValue(XML_MAGNETOMETER_WEIGHT,
                    Format("%0.2f", static_cast<double>(s.m_fMagnetometerWeight)));
    config.SetValue(XML_SENSOR_PORT, s.m_strSensorPort);
    config.SetValue(XML_SENSOR_BAUD, s.m_strSensorBaud);
    config.SetValue(XML_PRIMARY_TELEGRAM, s.m_strPrimaryTelegram);
    config.SetValue(XML_PRIMARY_PORT, s.m_strPrimaryPort);
    config.SetValue(XML_PRIMARY_BAUD, s.m_strPrimaryBaud);
    config.SetValue(XML_SECONDARY_TELEGRAM, s.m_strSecondaryTelegram);
    config.SetValue(XML_SECONDARY_PORT, s.m_strSecondaryPort);
    config.SetValue(XML_SECONDARY_BAUD, s.m_strSecondaryBaud);
    config.SetValue(XML_LOGGING_ENABLE, FlagText(s.m_bLogging));
    config.SetValue(XML_LOGGING_FILE_PATH, s.m_strLogFolder);
    config.SetValue(XML_APPLY_SMOOTHING, FlagText(s.m_bApplySmoothing));
    config.SetValue(XML_TIME_WINDOW, Format("%d", s.m_nTimeWindow));
    config.SetValue(XML_TELEGRAM_OUTPUT_FREQUENCY, s.m_strFrequency);
    config.SetValue(XML_MSIO_PORT, Format("%d", s.m_nMSIOPort));
    config.SetValue(XML_MSIO_BAUD, Format("%d", s.m_nMSIOBaud));
    // The heave nodes go into a file that lacks them only once they differ from the default,
    // so an older file is written back as it was.
    const mtobj::HeaveSettings defaults;
    const auto keep = [&config](const char* key, double value, double fallback) {
        std::string existing;
        if (value != fallback || Read(config, key, existing)) {
            config.SetOrAddValue(key, Format("%g", value));
        }
    };
    keep(XML_HEAVE_PERIOD, s.m_heave.period, defaults.period);
    keep(XML_MONITORING_POINT_X, s.m_heave.x, defaults.x);
    keep(XML_MONITORING_POINT_Y, s.m_heave.y, defaults.y);
    keep(XML_MONITORING_POINT_Z, s.m_heave.z, defaults.z);
    if (!config.Save("")) {
        Log().Trace("SaveSettings", "settings not saved to %s; they stay in use in memory",
                    FileName().c_str());
        return false;
    }
    return true;
}

void CTavimoSettingsStore::ReadHeave(CConfig& config, mtobj::HeaveSettings& heave) const {
    // Each node on its own: a value not understood is named, with what is used instead,
    // and the rest still count.
    const auto take = [&](const char* key, double mtobj::HeaveSettings::*field, const char* what) {
        std::string text;
        if (!Read(config, key, text)) {
            return;
        }
        mtobj::HeaveSettings trial = heave;
        const std::optional<double> number = ReadNumber(text);
        if (number) {
            trial.*field = *number;
            if (trial.Problem().empty()) {
                heave = trial;
                return;
            }
        }
        const std::string note = Format("%s: %s \"%s\" is not %s; using %g", m_fileName.c_str(),
                                        key, text.substr(0, 40).c_str(), what, heave.*field);
        Log().Trace("LoadSettings", "%s", note.c_str());
        std::fprintf(stderr, "Tavimo: %s\n", note.c_str());
    };
    take(XML_HEAVE_PERIOD, &mtobj::HeaveSettings::period, "a period of 5 to 30 seconds");
    const char* const distance = "a distance in metres within 500 m";
    take(XML_MONITORING_POINT_X, &mtobj::HeaveSettings::x, distance);
    take(XML_MONITORING_POINT_Y, &mtobj::HeaveSettings::y, distance);
    take(XML_MONITORING_POINT_Z, &mtobj::HeaveSettings::z, distance);
}

bool CTavimoSettingsStore::GetHeadingOffset(float& degrees) const {
    CConfig config;
    config.Load(m_fileName);
    std::string text;
    if (!Read(config, XML_HEADING_OFFSET, text)) {
        return false;
    }
    degrees = ReadFloat(text);
    return true;
}
