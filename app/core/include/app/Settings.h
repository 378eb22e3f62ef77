// The module's persistent settings: twenty text nodes of the configuration file, read once
// when the main window starts and written back whenever the user applies a change and when
// the window closes. The window holds a CTavimoSettings and its selection lists; this file
// fixes the keys, formats, defaults and the order of reading and writing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "mtobj/Motion.h"

class CCommandLineInfoEx;
class CConfig;

// A node of the configuration file whose text was not understood: what the file holds,
// what the node can hold, and the value used instead (as the file would hold it). While the
// value in use is still that one, a save writes the file's text back, so the user's text
// is never replaced by a fallback the user did not choose.
struct SettingNotUnderstood {
    std::string node;
    std::string text;
    std::string valid;
    std::string usedInstead;
};

struct CTavimoSettings {
    float m_fFilterGain = 0.2f;
    double m_dMagneticVariation = 0.0;  // degrees, east positive
    float m_fMagnetometerWeight = 1.0f;
    // Not kept in the file: the sensor reports its own rate at each connection.
    short m_nSampleRate = 25;
    // The sensor port and baud are held by their lists: LoadSettings gives the text to
    // select (the window selects the first entry with exactly this text and keeps the
    // first entry when none matches); before SaveSettings the window puts the lists'
    // displayed texts here, so that what is shown is what gets written.
    std::string m_strSensorPort = "COM1";
    std::string m_strSensorBaud = "115200";
    std::string m_strPrimaryTelegram;  // "" until the window stores its list's text
    std::string m_strPrimaryPort = "COM2";
    std::string m_strPrimaryBaud = "115200";
    std::string m_strSecondaryTelegram;
    std::string m_strSecondaryPort = "COM3";
    std::string m_strSecondaryBaud = "115200";
    bool m_bEnableOutputUI = true;  // read only: a value set by hand survives every save
    bool m_bLogging = false;
    std::string m_strLogFolder;  // the user's data folder (DefaultLogFolder)
    bool m_bApplySmoothing = false;
    int m_nTimeWindow = 0;  // milliseconds
    std::string m_strFrequency = "Max Output";
    short m_nMSIOPort = 100;  // COM port number of the binary sensor-side port
    int m_nMSIOBaud = 115200;
    // The monitoring point and the heave filter's period (Heave/...: absent from older
    // files, which then keep the defaults).
    mtobj::HeaveSettings m_heave;
    // What LoadSettings (and the window, for its lists) did not understand, in file order.
    std::vector<SettingNotUnderstood> m_notUnderstood;

    CTavimoSettings();
    // Records a node not understood (the window's lists call it too).
    void NotUnderstood(std::string node, std::string text, std::string valid,
                       std::string usedInstead);
};

class CTavimoSettingsStore {
public:
    // The file named on the command line; empty means "Tavimo.xml" in the current folder.
    explicit CTavimoSettingsStore(std::string fileName = {});
    static std::string FileNameFromCommandLine(const CCommandLineInfoEx& commandLine);

    // The path the store reads and writes.
    std::string FileName() const;

    // When the configuration file does not exist, writes the shipped default there
    // (creating its folder), with the user's data folder as log folder, so that every
    // later change is kept. An existing file is never touched, even a malformed one.
    // True when the file exists afterwards; otherwise *reason says why it could not be made.
    bool CreateIfMissing(std::string* reason = nullptr) const;

    // Resets what is not carried over between runs (filter gain, variation, weight,
    // sample rate, logging, sensor port and baud texts), then reads every key in the
    // module's order; a missing key keeps the value the settings held. False when the
    // file could not be loaded (then only the defaults apply), with the reason in *reason.
    bool LoadSettings(CTavimoSettings& settings, std::string* reason = nullptr) const;
    // Writes every key in the module's order and saves the file. False when the file
    // could not be loaded or saved (read-only, malformed); the settings stay as they are
    // in memory and the trace says why. A file that has gone is first written afresh.
    bool SaveSettings(const CTavimoSettings& settings) const;
    // "HeadingOffsetDegs", read when the 3-D view opens; false when it is absent.
    bool GetHeadingOffset(float& degrees) const;

    // One line for a node not understood: the file, the node, the text found, what it can
    // hold and what is used instead.
    std::string Describe(const SettingNotUnderstood& entry) const;

    // Flag rule: the text upper-cased equals "TRUE"; anything else ("1", "yes") is false.
    static bool ParseFlag(const std::string& text);
    // $XDG_DATA_HOME/tavimo, else ~/.local/share/tavimo.
    static std::string DefaultLogFolder();
    // The shipped default configuration (data/Tavimo.xml) as built into the program.
    static const char* DefaultConfiguration();

    // Where SaveSettings puts the settings when the file changed on disk since it was read:
    // the file's name with ".tavimo" added.
    std::string BesideFileName() const { return FileName() + ".tavimo"; }

private:
    // What the file was when this store last read or wrote it: a save never overwrites a
    // file that changed on disk since (an edit made while the module runs).
    struct FileStamp {
        std::int64_t time = 0;
        std::uintmax_t size = 0;
        bool operator==(const FileStamp&) const = default;
    };
    std::optional<FileStamp> StampNow() const;
    mutable std::optional<FileStamp> m_stamp;
    mutable std::optional<FileStamp> m_toldAbout;  // the changed file already said once

    // The heave nodes, each checked; one not understood is recorded and the default kept.
    void ReadHeave(CConfig& config, CTavimoSettings& s) const;

    std::string m_fileName;
};
