// The capture file: reading, writing and checking it.
#include "mtobj/SensorCapture.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/File.h"

namespace mtobj {
namespace {

constexpr const char* kMagic = "tavimo-capture";
constexpr int kVersion = 1;

bool Fail(std::string* reason, std::size_t line, const std::string& text) {
    if (reason != nullptr) {
        *reason = line > 0 ? "line " + std::to_string(line) + ": " + text : text;
    }
    return false;
}

// Splits a line at blanks.
std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    std::string w;
    while (in >> w) {
        words.push_back(w);
    }
    return words;
}

bool Number(const std::string& word, double& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtod(word.c_str(), &end);
    return !word.empty() && end == word.c_str() + word.size() && std::isfinite(value);
}

bool ParseLine(const std::vector<std::string>& w, SensorRecord& r, std::string& why) {
    if (w.size() == 1 && w[0] == "restart") {
        r.restart = true;
        return true;
    }
    if (!Number(w[0], r.seconds)) {
        why = "'" + w[0].substr(0, 40) + "' is not a time in seconds";
        return false;
    }
    std::size_t i = 1;
    bool any = false;
    while (i < w.size()) {
        const std::string& field = w[i];
        double* target = nullptr;
        std::size_t count = 3;
        bool* has = nullptr;
        if (field == "A") {
            target = r.accel.data(), has = &r.hasAccel;
        } else if (field == "G") {
            target = r.gyro.data(), has = &r.hasGyro;
        } else if (field == "M") {
            target = r.mag.data(), has = &r.hasMag;
        } else if (field == "Q") {
            target = r.quaternion.data(), has = &r.hasQuaternion, count = 4;
        } else {
            why = "'" + field.substr(0, 40) + "' is not a field (A, G, M or Q)";
            return false;
        }
        if (*has) {
            why = "field " + field + " twice";
            return false;
        }
        if (i + count >= w.size()) {
            why = "field " + field + " needs " + std::to_string(count) + " numbers";
            return false;
        }
        for (std::size_t k = 0; k < count; ++k) {
            if (!Number(w[i + 1 + k], target[k])) {
                why = "'" + w[i + 1 + k].substr(0, 40) + "' is not a number";
                return false;
            }
        }
        *has = true;
        any = true;
        i += 1 + count;
    }
    if (!any) {
        why = "a record without any field";
        return false;
    }
    if (r.hasQuaternion) {
        const auto& q = r.quaternion;
        const double norm = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
        if (std::fabs(norm - 1.0) > 0.05) {
            why = "the quaternion is not of unit length";
            return false;
        }
        if (r.hasAccel || r.hasGyro || r.hasMag) {
            why = "a quaternion beside raw fields";
            return false;
        }
    }
    return true;
}

}  // namespace

CCaptureParser::Line CCaptureParser::Take(std::string line, SensorRecord& record,
                                          std::string* reason) {
    ++m_number;
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    if (line.size() > kMaxCaptureLine) {
        Fail(reason, m_number,
             "longer than " + std::to_string(kMaxCaptureLine) + " characters: not a capture line");
        return Line::Failed;
    }
    const auto w = Words(line);
    if (w.empty() || w[0][0] == '#') {
        return Line::Skipped;
    }
    if (!m_header) {
        if (w.size() != 2 || w[0] != kMagic) {
            Fail(reason, m_number, "not a capture file (it begins with \"tavimo-capture 1\")");
            return Line::Failed;
        }
        if (w[1] != std::to_string(kVersion)) {
            Fail(reason, m_number,
                 "capture version " + w[1].substr(0, 20) +
                     " is not known (this build reads version 1)");
            return Line::Failed;
        }
        m_header = true;
        return Line::Skipped;
    }
    if (!m_device) {
        if (w[0] != "device" || w.size() != 2) {
            Fail(reason, m_number, "\"device <id>\" expected after the first line");
            return Line::Failed;
        }
        m_deviceId = SafeDeviceId(w[1]);
        m_device = true;
        return Line::Skipped;
    }
    record = SensorRecord{};
    std::string why;
    if (!ParseLine(w, record, why)) {
        Fail(reason, m_number, why);
        return Line::Failed;
    }
    if (!record.restart) {
        if (m_haveLast && record.seconds < m_last) {
            Fail(reason, m_number, "the time goes back");
            return Line::Failed;
        }
        m_last = record.seconds;
        m_haveLast = true;
    }
    return Line::Record;
}

bool CCaptureParser::Finish(std::string* reason) const {
    if (!m_device) {
        return Fail(reason, 0, m_header ? "the capture names no device" : "the file is empty");
    }
    return true;
}

void CCaptureParser::RestartRecords(std::size_t lineNumber) {
    m_number = lineNumber;
    m_haveLast = false;
}

std::optional<Capture> ParseCapture(const std::string& text, std::string* reason) {
    Capture capture;
    CCaptureParser parser;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        SensorRecord r;
        const auto kind =
            parser.Take(text.substr(at, std::min(end - at, kMaxCaptureLine + 1)), r, reason);
        at = end + 1;
        if (kind == CCaptureParser::Line::Failed) {
            return std::nullopt;
        }
        if (kind == CCaptureParser::Line::Record) {
            if (capture.records.size() >= kMaxCaptureRecords) {
                Fail(reason, parser.LineNumber(), "more records than a capture may hold");
                return std::nullopt;
            }
            capture.records.push_back(r);
        }
    }
    if (!parser.Finish(reason)) {
        return std::nullopt;
    }
    capture.deviceId = parser.DeviceId();
    return capture;
}

std::optional<Capture> ReadCapture(const std::string& path, std::string* reason) {
    CCaptureReader reader;
    if (!reader.Open(path, reason)) {
        return std::nullopt;
    }
    Capture capture;
    capture.deviceId = reader.DeviceId();
    SensorRecord r;
    std::string why;
    while (reader.Next(r, &why)) {
        if (capture.records.size() >= kMaxCaptureRecords) {
            Fail(reason, 0, path + ": more records than a capture may hold");
            return std::nullopt;
        }
        capture.records.push_back(r);
    }
    if (!why.empty()) {
        Fail(reason, 0, path + ": " + why);
        return std::nullopt;
    }
    return capture;
}

CCaptureReader::~CCaptureReader() {
    Close();
}

namespace {

// One line without its newline, at most kMaxCaptureLine + 1 characters of it (the rest of a
// longer line is not read: the line is refused anyway). False at the end of the file.
bool ReadLine(std::FILE* file, std::string& line) {
    line.clear();
    int c = 0;
    bool any = false;
    while ((c = getc_unlocked(file)) != EOF) {
        any = true;
        if (c == '\n') {
            return true;
        }
        line.push_back(static_cast<char>(c));
        if (line.size() > kMaxCaptureLine) {
            return true;
        }
    }
    return any;
}

}  // namespace

bool CCaptureReader::Open(const std::string& path, std::string* reason) {
    Close();
    m_path = path;
    m_parser = CCaptureParser{};
    std::string why;
    m_file = platform::OpenRegularFile(path, &why);
    if (m_file == nullptr) {
        return Fail(reason, 0,
                    path + ": " + why +
                        (why == "not a regular file"
                             ? " (a capture is a file; a pipe, device or folder is not read)"
                             : ""));
    }
    std::string line;
    SensorRecord unused;
    bool failed = false;
    while (!failed && !m_parser.HasDevice() && ReadLine(m_file, line)) {
        failed = m_parser.Take(line, unused, &why) == CCaptureParser::Line::Failed;
    }
    if (failed || !m_parser.Finish(&why)) {
        Close();
        return Fail(reason, 0, path + ": " + why);
    }
    m_firstRecord = std::ftell(m_file);
    m_firstLine = m_parser.LineNumber();
    return true;
}

bool CCaptureReader::Next(SensorRecord& record, std::string* reason) {
    if (reason != nullptr) {
        reason->clear();
    }
    if (m_file == nullptr) {
        return false;
    }
    std::string line;
    while (ReadLine(m_file, line)) {
        switch (m_parser.Take(line, record, reason)) {
            case CCaptureParser::Line::Record:
                return true;
            case CCaptureParser::Line::Failed:
                return false;
            case CCaptureParser::Line::Skipped:
                break;
        }
    }
    if (std::ferror(m_file) != 0 && reason != nullptr) {
        *reason = m_path + ": " + std::strerror(errno);
    }
    return false;
}

bool CCaptureReader::Rewind(std::string* reason) {
    if (m_file == nullptr || std::fseek(m_file, m_firstRecord, SEEK_SET) != 0) {
        return Fail(reason, 0, m_path + ": cannot be read again from its start");
    }
    m_parser.RestartRecords(m_firstLine);
    return true;
}

void CCaptureReader::Close() {
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}

std::string SafeDeviceId(std::string_view id) {
    std::string safe;
    for (const char c : id) {
        const auto u = static_cast<unsigned char>(c);
        char piece[4] = {c, 0, 0, 0};
        if (u < 0x20 || u >= 0x7F || c == '\\' || c == '/') {
            std::snprintf(piece, sizeof piece, "%%%02X", u);
        }
        if (safe.size() + std::strlen(piece) > kMaxDeviceId) {
            break;
        }
        safe += piece;
    }
    return safe;
}

std::string FormatRecord(const SensorRecord& r) {
    if (r.restart) {
        return "restart";
    }
    std::string line;
    char number[32];
    const auto add = [&](double v) {
        std::snprintf(number, sizeof number, " %.17g", v);
        line += number;
    };
    std::snprintf(number, sizeof number, "%.17g", r.seconds);
    line = number;
    const auto field = [&](bool has, const char* name, const double* v, int n) {
        if (has) {
            line += ' ';
            line += name;
            for (int i = 0; i < n; ++i) {
                add(v[i]);
            }
        }
    };
    field(r.hasAccel, "A", r.accel.data(), 3);
    field(r.hasGyro, "G", r.gyro.data(), 3);
    field(r.hasMag, "M", r.mag.data(), 3);
    field(r.hasQuaternion, "Q", r.quaternion.data(), 4);
    return line;
}

CCaptureWriter::~CCaptureWriter() {
    Close();
}

bool CCaptureWriter::Open(const std::string& path, const std::string& deviceId,
                          std::string* reason) {
    Close();
    m_file = std::fopen(path.c_str(), "w");
    if (m_file == nullptr) {
        return Fail(reason, 0, path + ": " + std::strerror(errno));
    }
    std::string id = deviceId.empty() ? "unknown" : deviceId;
    for (char& c : id) {
        if (std::isspace(static_cast<unsigned char>(c)) != 0) {
            c = '_';
        }
    }
    std::fprintf(m_file, "%s %d\ndevice %s\n", kMagic, kVersion, id.c_str());
    if (std::fflush(m_file) != 0) {
        Close();
        return Fail(reason, 0, path + ": cannot be written");
    }
    return true;
}

bool CCaptureWriter::Write(const std::vector<SensorRecord>& records) {
    if (m_file == nullptr) {
        return false;
    }
    for (const auto& r : records) {
        const std::string line = FormatRecord(r);
        std::fputs(line.c_str(), m_file);
        std::fputc('\n', m_file);
    }
    return std::fflush(m_file) == 0;
}

void CCaptureWriter::Close() {
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}

}  // namespace mtobj
