#include "app/Settings.h"

#include <locale.h>

#include <algorithm>
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

// The text with its ASCII letters in upper case.
std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// True when the text begins with a finite number ("12.9ms"): the module has always taken
// that number from it.
bool HasLeadingNumber(const std::string& text) {
    CCLocaleScope locale;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    return end != text.c_str() && std::isfinite(value);
}

// The ranges the window offers for the gain and weight, and the time window (ms).
constexpr double kLeastGain = 0.1;
constexpr double kMostGain = 100.0;
constexpr double kLongestTimeWindow = 10000.0;

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

void CTavimoSettings::NotUnderstood(std::string node, std::string text, std::string valid,
                                    std::string usedInstead) {
    m_notUnderstood.push_back(
        {std::move(node), std::move(text), std::move(valid), std::move(usedInstead)});
}

std::string CTavimoSettingsStore::Describe(const SettingNotUnderstood& entry) const {
    // The text as found, bounded and with its control characters shown escaped.
    std::string shown;
    for (const char c : entry.text.substr(0, 60)) {
        if (static_cast<unsigned char>(c) < 0x20) {
            shown += Format("\\x%02X", static_cast<unsigned char>(c));
        } else {
            shown += c;
        }
    }
    if (entry.text.size() > 60) {
        shown += "...";
    }
    return FileName() + ": " + entry.node + " \"" + shown + "\" is not " + entry.valid +
           "; using " + (entry.usedInstead.empty() ? "nothing" : entry.usedInstead);
}

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
    return Upper(text) == "TRUE";
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
    s.m_notUnderstood.clear();
    // A number the whole text is, within [low, high]. Anything else is recorded, with what
    // is used: the number the module has always taken from such a text (its leading
    // number), or the default when it begins with none, brought within the range.
    const auto number = [&](const char* key, double low, double high, const char* valid,
                            const char* format, double& value) {
        std::string text;
        if (!Read(config, key, text)) {
            return;
        }
        const bool integral = std::strcmp(format, "%.0f") == 0;
        const std::optional<double> read = ReadNumber(text);
        const bool whole = read && (!integral || std::floor(*read) == *read);
        double taken = value;  // no number at all: the default stays
        if (whole) {
            taken = *read;
        } else if (HasLeadingNumber(text)) {
            taken = integral ? static_cast<double>(ReadInteger(text, LONG_MIN, LONG_MAX))
                             : ReadDouble(text);
        }
        value = std::clamp(taken, low, high);
        if (!whole || taken != value) {
            s.NotUnderstood(key, text, valid, Format(format, value));
        }
    };
    const auto flag = [&](const char* key, bool& value) {
        std::string text;
        if (!Read(config, key, text)) {
            return;
        }
        value = ParseFlag(text);
        if (!value && Upper(text) != "FALSE") {
            s.NotUnderstood(key, text, "TRUE or FALSE", FlagText(value));
        }
    };
    double gain = s.m_fFilterGain;
    number(XML_FILTER_GAIN, kLeastGain, kMostGain, "a gain of 0.1 to 100", "%.2f", gain);
    s.m_fFilterGain = static_cast<float>(gain);
    number(XML_MAGNETIC_VARIATION, -180, 180, "a variation of -180 to 180 degrees", "%0.15f",
           s.m_dMagneticVariation);
    double weight = s.m_fMagnetometerWeight;
    number(XML_MAGNETOMETER_WEIGHT, kLeastGain, kMostGain, "a weight of 0.1 to 100", "%0.2f",
           weight);
    s.m_fMagnetometerWeight = static_cast<float>(weight);
    Read(config, XML_SENSOR_PORT, s.m_strSensorPort);
    Read(config, XML_SENSOR_BAUD, s.m_strSensorBaud);
    Read(config, XML_PRIMARY_TELEGRAM, s.m_strPrimaryTelegram);
    Read(config, XML_PRIMARY_PORT, s.m_strPrimaryPort);
    Read(config, XML_PRIMARY_BAUD, s.m_strPrimaryBaud);
    Read(config, XML_SECONDARY_TELEGRAM, s.m_strSecondaryTelegram);
    Read(config, XML_SECONDARY_PORT, s.m_strSecondaryPort);
    Read(config, XML_SECONDARY_BAUD, s.m_strSecondaryBaud);

    s.m_bEnableOutputUI = true;
    flag(XML_ENABLE_OUTPUT_UI, s.m_bEnableOutputUI);
    flag(XML_LOGGING_ENABLE, s.m_bLogging);
    Read(config, XML_LOGGING_FILE_PATH, s.m_strLogFolder);
    flag(XML_APPLY_SMOOTHING, s.m_bApplySmoothing);
    double window = s.m_nTimeWindow;
    number(XML_TIME_WINDOW, 0, kLongestTimeWindow, "a whole number of 0 to 10000 ms", "%.0f",
           window);
    s.m_nTimeWindow = static_cast<int>(window);
    Read(config, XML_TELEGRAM_OUTPUT_FREQUENCY, s.m_strFrequency);
    double msioPort = s.m_nMSIOPort;
    number(XML_MSIO_PORT, 0, SHRT_MAX, "a port number of 0 to 32767", "%.0f", msioPort);
    s.m_nMSIOPort = static_cast<short>(msioPort);
    double msioBaud = s.m_nMSIOBaud;
    number(XML_MSIO_BAUD, 0, INT_MAX, "a baud rate", "%.0f", msioBaud);
    s.m_nMSIOBaud = static_cast<int>(msioBaud);
    ReadHeave(config, s);
    if (loaded) {
        m_stamp = StampNow();
    }
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
    // Changed on disk since it was read (edited while the module runs): the file is kept as
    // it is, and the settings in use go beside it, said once for each change.
    const std::optional<FileStamp> now = StampNow();
    const bool changed = m_stamp && now && !(*now == *m_stamp);
    // A node whose text was not understood keeps that text while the value in use is still
    // the one taken instead of it: the user's text is the user's to change.
    const auto text = [&s](const char* key, const std::string& value) {
        for (const SettingNotUnderstood& entry : s.m_notUnderstood) {
            if (entry.node == key && entry.usedInstead == value) {
                return entry.text;
            }
        }
        return value;
    };
    const auto put = [&](const char* key, const std::string& value) {
        config.SetValue(key, text(key, value));
    };
    put(XML_FILTER_GAIN, Format("%.2f", static_cast<double>(s.m_fFilterGain)));
    put(XML_MAGNETIC_VARIATION, Format("%0.15f", s.m_dMagneticVariation));
    put(XML_MAGNETOMETER_WEIGHT, Format("%0.2f", static_cast<double>(s.m_fMagnetometerWeight)));
    put(XML_SENSOR_PORT, s.m_strSensorPort);
    put(XML_SENSOR_BAUD, s.m_strSensorBaud);
    put(XML_PRIMARY_TELEGRAM, s.m_strPrimaryTelegram);
    put(XML_PRIMARY_PORT, s.m_strPrimaryPort);
    put(XML_PRIMARY_BAUD, s.m_strPrimaryBaud);
    put(XML_SECONDARY_TELEGRAM, s.m_strSecondaryTelegram);
    put(XML_SECONDARY_PORT, s.m_strSecondaryPort);
    put(XML_SECONDARY_BAUD, s.m_strSecondaryBaud);
    put(XML_LOGGING_ENABLE, FlagText(s.m_bLogging));
    put(XML_LOGGING_FILE_PATH, s.m_strLogFolder);
    put(XML_APPLY_SMOOTHING, FlagText(s.m_bApplySmoothing));
    put(XML_TIME_WINDOW, Format("%d", s.m_nTimeWindow));
    put(XML_TELEGRAM_OUTPUT_FREQUENCY, s.m_strFrequency);
    put(XML_MSIO_PORT, Format("%d", s.m_nMSIOPort));
    put(XML_MSIO_BAUD, Format("%d", s.m_nMSIOBaud));
    // The heave nodes go into a file that lacks them only once they differ from the default,
    // so an older file is written back as it was.
    const mtobj::HeaveSettings defaults;
    const auto keep = [&](const char* key, double value, double fallback) {
        std::string existing;
        if (value != fallback || Read(config, key, existing)) {
            config.SetOrAddValue(key, text(key, Format("%g", value)));
        }
    };
    keep(XML_HEAVE_PERIOD, s.m_heave.period, defaults.period);
    keep(XML_MONITORING_POINT_X, s.m_heave.x, defaults.x);
    keep(XML_MONITORING_POINT_Y, s.m_heave.y, defaults.y);
    keep(XML_MONITORING_POINT_Z, s.m_heave.z, defaults.z);
    std::string existing;
    if (!s.m_heave.gnssPort.empty() || Read(config, XML_GNSS_PORT, existing)) {
        config.SetOrAddValue(XML_GNSS_PORT, text(XML_GNSS_PORT, s.m_heave.gnssPort));
    }
    keep(XML_GNSS_BAUD, static_cast<double>(s.m_heave.gnssBaud),
         static_cast<double>(defaults.gnssBaud));
    keep(XML_GNSS_ANTENNA_X, s.m_heave.antennaX, defaults.antennaX);
    keep(XML_GNSS_ANTENNA_Y, s.m_heave.antennaY, defaults.antennaY);
    keep(XML_GNSS_ANTENNA_Z, s.m_heave.antennaZ, defaults.antennaZ);
    if (changed) {
        const std::string beside = BesideFileName();
        const bool saved = config.Save(BSTR(beside));
        if (!(m_toldAbout && *m_toldAbout == *now)) {
            m_toldAbout = now;
            const std::string message =
                FileName() + " changed on disk since Tavimo read it: it is kept as it is" +
                (saved ? ", and the settings in use are written beside it to " + beside
                       : std::string(", and the settings in use could not be written beside it")) +
                " (reload the file into the running module with SIGHUP: systemctl --user "
                "reload tavimo)";
            Log().TraceNow("SaveSettings", "%s", message.c_str());
            std::fprintf(stderr, "Tavimo: %s\n", message.c_str());
        }
        return saved;
    }
    if (!config.Save("")) {
        Log().Trace("SaveSettings", "settings not saved to %s; they stay in use in memory",
                    FileName().c_str());
        return false;
    }
    m_stamp = StampNow();
    return true;
}

std::optional<CTavimoSettingsStore::FileStamp> CTavimoSettingsStore::StampNow() const {
    std::error_code ec;
    const std::filesystem::path path(FileName());
    const auto time = std::filesystem::last_write_time(path, ec);
    if (ec) {
        return std::nullopt;
    }
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        return std::nullopt;
    }
    return FileStamp{time.time_since_epoch().count(), size};
}

void CTavimoSettingsStore::ReadHeave(CConfig& config, CTavimoSettings& s) const {
    // Each node on its own: a value not understood is recorded with the default kept, and
    // the rest still count.
    mtobj::HeaveSettings& heave = s.m_heave;
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
        s.NotUnderstood(key, text, what, Format("%g", heave.*field));
    };
    take(XML_HEAVE_PERIOD, &mtobj::HeaveSettings::period, "a period of 5 to 30 seconds");
    const char* const distance = "a distance in metres within 500 m";
    take(XML_MONITORING_POINT_X, &mtobj::HeaveSettings::x, distance);
    take(XML_MONITORING_POINT_Y, &mtobj::HeaveSettings::y, distance);
    take(XML_MONITORING_POINT_Z, &mtobj::HeaveSettings::z, distance);
    take(XML_GNSS_ANTENNA_X, &mtobj::HeaveSettings::antennaX, distance);
    take(XML_GNSS_ANTENNA_Y, &mtobj::HeaveSettings::antennaY, distance);
    take(XML_GNSS_ANTENNA_Z, &mtobj::HeaveSettings::antennaZ, distance);
    std::string text;
    if (Read(config, XML_GNSS_PORT, text)) {
        mtobj::HeaveSettings trial = heave;
        trial.gnssPort = text;
        if (trial.Problem().empty()) {
            heave = trial;
        } else {
            s.NotUnderstood(XML_GNSS_PORT, text, "a port name such as COM5, or a device path",
                            heave.gnssPort.empty() ? "none" : heave.gnssPort);
        }
    }
    if (Read(config, XML_GNSS_BAUD, text)) {
        const std::optional<double> number = ReadNumber(text);
        mtobj::HeaveSettings trial = heave;
        if (number && *number == std::floor(*number) && *number >= 1 &&
            *number <= static_cast<double>(mtobj::HeaveSettings::kFastestBaud)) {
            trial.gnssBaud = static_cast<long>(*number);
            heave = trial;
        } else {
            s.NotUnderstood(XML_GNSS_BAUD, text, "a baud rate", Format("%ld", heave.gnssBaud));
        }
    }
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
