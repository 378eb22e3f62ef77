// The capture file: reading, writing and checking it.
#include "mtobj/SensorCapture.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

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

std::optional<Capture> ParseCapture(const std::string& text, std::string* reason) {
    Capture capture;
    std::istringstream in(text);
    std::string line;
    std::size_t number = 0;
    bool header = false;
    bool device = false;
    double last = -INFINITY;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const auto w = Words(line);
        if (w.empty() || w[0][0] == '#') {
            continue;
        }
        if (!header) {
            if (w.size() != 2 || w[0] != kMagic) {
                Fail(reason, number, "not a capture file (it begins with \"tavimo-capture 1\")");
                return std::nullopt;
            }
            if (w[1] != std::to_string(kVersion)) {
                Fail(reason, number,
                     "capture version " + w[1].substr(0, 20) +
                         " is not known (this build reads version 1)");
                return std::nullopt;
            }
            header = true;
            continue;
        }
        if (!device) {
            if (w[0] != "device" || w.size() != 2) {
                Fail(reason, number, "\"device <id>\" expected after the first line");
                return std::nullopt;
            }
            capture.deviceId = w[1];
            device = true;
            continue;
        }
        SensorRecord r;
        std::string why;
        if (!ParseLine(w, r, why)) {
            Fail(reason, number, why);
            return std::nullopt;
        }
        if (!r.restart) {
            if (r.seconds < last) {
                Fail(reason, number, "the time goes back");
                return std::nullopt;
            }
            last = r.seconds;
        }
        if (capture.records.size() >= kMaxCaptureRecords) {
            Fail(reason, number, "more records than a capture may hold");
            return std::nullopt;
        }
        capture.records.push_back(r);
    }
    if (!device) {
        Fail(reason, 0, header ? "the capture names no device" : "the file is empty");
        return std::nullopt;
    }
    return capture;
}

std::optional<Capture> ReadCapture(const std::string& path, std::string* reason) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Fail(reason, 0, path + ": " + std::strerror(errno));
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::string why;
    auto capture = ParseCapture(text.str(), &why);
    if (!capture) {
        Fail(reason, 0, path + ": " + why);
    }
    return capture;
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
