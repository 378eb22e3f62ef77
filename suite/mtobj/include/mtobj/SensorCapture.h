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
// is not a capture of this version (a bad number, an unknown field, times that go back, more
// than kMaxRecords records).
std::optional<Capture> ParseCapture(const std::string& text, std::string* reason);
std::optional<Capture> ReadCapture(const std::string& path, std::string* reason);
constexpr std::size_t kMaxCaptureRecords = 20'000'000;

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
