// What a real sensor delivered, sample by sample, and its capture file: a recording of a
// device that the `replay:FILE` device plays back through the whole module.
//
// The capture file is text, one line a record, every number written so that it reads back
// to the same double:
//
//   tavimo-capture 1                  first line: the format and its version
//   device <id>                       the device id (the IIO name) the samples came from
//   <seconds> [A x y z] [G x y z] [M x y z] [Q w x y z]
//   restart                           the device was started again (after a reconnect)
//
// Seconds are on the PC clock; A is specific force (m/s²), G rates (rad/s), M the field
// (gauss), Q an orientation quaternion (vessel axes to east-north-up), all in the vessel's
// axes (x bow, y port, z up) before calibration. Lines starting with '#' are comments.
#pragma once

#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mtobj {

struct SensorRecord {
    double seconds = 0;    // PC clock
    bool restart = false;  // a start of the device, no sample
    bool hasAccel = false;
    bool hasGyro = false;
    bool hasMag = false;
    bool hasQuaternion = false;
    std::array<double, 3> accel{};
    std::array<double, 3> gyro{};
    std::array<double, 3> mag{};
    std::array<double, 4> quaternion{1, 0, 0, 0};

    bool operator==(const SensorRecord&) const = default;
};

struct Capture {
    std::string deviceId;
    std::vector<SensorRecord> records;
};

// Reads a capture from text; nullopt, and the line and reason in *reason, for anything that
// is not a capture of this version (a bad number, an unknown field, times that go back, a
// line longer than kMaxCaptureLine, more than kMaxRecords records).
std::optional<Capture> ParseCapture(const std::string& text, std::string* reason);
// The same from a file, read through CCaptureReader: only a regular file is read.
std::optional<Capture> ReadCapture(const std::string& path, std::string* reason);
constexpr std::size_t kMaxCaptureRecords = 20'000'000;
// The longest line a capture may hold: a record with every field at full precision takes
// about 350 characters.
constexpr std::size_t kMaxCaptureLine = 4096;

// Takes a capture's lines one by one: the header, the device line, then records.
class CCaptureParser {
public:
    enum class Line { Skipped, Record, Failed };
    // A line without its newline; a record goes into `record`, a failure's reason (with the
    // line number) into *reason.
    Line Take(std::string line, SensorRecord& record, std::string* reason);
    // After the last line: false, with the reason, when the capture never named its device.
    bool Finish(std::string* reason) const;
    bool HasDevice() const { return m_device; }
    const std::string& DeviceId() const { return m_deviceId; }
    std::size_t LineNumber() const { return m_number; }
    // Goes back to just after the device line (the reader rewinds to it).
    void RestartRecords(std::size_t lineNumber);

private:
    bool m_header = false;
    bool m_device = false;
    std::string m_deviceId;
    double m_last = 0;
    bool m_haveLast = false;
    std::size_t m_number = 0;
};

// Reads a capture file a record at a time, so a capture of any size is read in bounded
// memory. Only a regular file is opened (checked on the opened file, so a FIFO never blocks
// and a device never streams without end); a line longer than kMaxCaptureLine is refused.
class CCaptureReader {
public:
    CCaptureReader() = default;
    ~CCaptureReader();
    CCaptureReader(const CCaptureReader&) = delete;
    CCaptureReader& operator=(const CCaptureReader&) = delete;

    // Opens the file and reads its header and device line; false with the reason.
    bool Open(const std::string& path, std::string* reason);
    const std::string& DeviceId() const { return m_parser.DeviceId(); }
    // The next record: true with it; false at the end (*reason left empty) or at a line that
    // is not a record (*reason says which line and why).
    bool Next(SensorRecord& record, std::string* reason);
    // Back to the first record.
    bool Rewind(std::string* reason);
    void Close();

private:
    std::FILE* m_file = nullptr;
    std::string m_path;
    CCaptureParser m_parser;
    long m_firstRecord = 0;  // the file offset just after the device line
    std::size_t m_firstLine = 0;
};

// A device id as a device or capture names it, made fit for messages and registry keys: at
// most kMaxDeviceId characters, and every character that is not printable ASCII, or is a
// key separator ('\\', '/'), written as %XX. An id that is fit already stays as it is.
std::string SafeDeviceId(std::string_view id);
constexpr std::size_t kMaxDeviceId = 64;

// The line of one record (without the newline).
std::string FormatRecord(const SensorRecord& record);

// Appends a device's records to a capture file as they come.
class CCaptureWriter {
public:
    CCaptureWriter() = default;
    ~CCaptureWriter();
    CCaptureWriter(const CCaptureWriter&) = delete;
    CCaptureWriter& operator=(const CCaptureWriter&) = delete;

    // Creates (replaces) the file and writes its header; false, with the reason, when it
    // cannot be written.
    bool Open(const std::string& path, const std::string& deviceId, std::string* reason);
    bool IsOpen() const { return m_file != nullptr; }
    // Writes the records and flushes, so a capture is whole up to its last batch.
    bool Write(const std::vector<SensorRecord>& records);
    void Close();

private:
    std::FILE* m_file = nullptr;
};

}  // namespace mtobj
