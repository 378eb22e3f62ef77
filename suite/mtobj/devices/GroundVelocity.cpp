// The GNSS receiver's velocity over ground: RMC read, put on the PC clock, turned into the
// attitude filter's frame; and the receiver's port read on a thread of its own.
#include "mtobj/GroundVelocity.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "comlane/SerialDevice.h"
#include "interfaces/Tickwise.h"
#include "mtobj/TelegramSentences.h"
#include "mtobj/sentences/Fields.h"

namespace mtobj {
namespace {

constexpr double kMetresPerSecondPerKnot = 1852.0 / 3600.0;
constexpr double kSecondsPerDay = 86400.0;
// A speed over ground no vessel makes: the line is taken for broken.
constexpr double kMostKnots = 200.0;
// Below this speed a receiver may leave the course empty (it is noise at rest).
constexpr double kCourselessKnots = 0.2;
// Readings the reader has not taken yet, at most (the oldest go first): a few seconds at
// any receiver's rate, and far more than the reader leaves between its batches.
constexpr std::size_t kMostWaiting = 64;
constexpr DWORD kRetryMs = 2000;
constexpr int kReadableMs = 100;

std::optional<GroundFix> Refuse(std::string* why, const char* text) {
    if (why != nullptr) {
        *why = text;
    }
    return std::nullopt;
}

// "hhmmss[.sss]" as seconds of the day.
bool TimeOfDay(std::string_view field, double& seconds) {
    if (field.size() < 6 || field.find_first_not_of("0123456789.") != std::string_view::npos) {
        return false;
    }
    const auto two = [&](std::size_t at) { return (field[at] - '0') * 10 + (field[at + 1] - '0'); };
    double fraction = 0;
    if (field.size() > 6) {
        if (field[6] != '.' || telegrams::fields::ParseDecimal(field.substr(6), fraction) !=
                                   telegrams::fields::ENumber::Ok) {
            return false;
        }
    }
    const int h = two(0), m = two(2), s = two(4);
    if (h > 23 || m > 59 || s > 60) {  // 60: a leap second
        return false;
    }
    seconds = h * 3600.0 + m * 60.0 + s + fraction;
    return true;
}

}  // namespace

std::optional<GroundFix> ParseRmc(std::string_view line, std::string* why) {
    using telegrams::fields::ENumber;
    using telegrams::fields::ParseDecimal;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    std::string_view body;
    if (!telegrams::CheckNmeaChecksum(telegrams::fields::Trim(line), body)) {
        return Refuse(why, "not an NMEA sentence, or its checksum is wrong");
    }
    std::vector<std::string_view> f;
    for (std::size_t at = 0;;) {
        const std::size_t comma = body.find(',', at);
        f.push_back(body.substr(at, comma == std::string_view::npos ? comma : comma - at));
        if (comma == std::string_view::npos || f.size() > 20) {
            break;
        }
        at = comma + 1;
    }
    if (f[0].size() != 5 || f[0].substr(2) != "RMC") {
        return Refuse(why, "not RMC");
    }
    if (f.size() < 12) {
        return Refuse(why, "RMC with fields missing");
    }
    if (f[2] != "A" || (f.size() > 12 && (f[12] == "N" || f[12] == "E"))) {
        return Refuse(why, "the receiver marks the fix not valid");
    }
    GroundFix fix;
    double knots = 0;
    if (!TimeOfDay(f[1], fix.secondsOfDay) || ParseDecimal(f[7], knots) != ENumber::Ok ||
        !std::isfinite(knots) || knots < 0 || knots > kMostKnots) {
        return Refuse(why, "RMC with a bad time or speed");
    }
    fix.speed = knots * kMetresPerSecondPerKnot;
    const ENumber course = ParseDecimal(f[8], fix.course);
    if (course == ENumber::Empty && knots < kCourselessKnots) {
        fix.course = 0;
    } else if (course != ENumber::Ok || fix.course < 0 || fix.course > 360) {
        return Refuse(why, "RMC with a bad course");
    }
    double variation = 0;
    bool given = false;
    if (telegrams::fields::Correction(f[10], f[11], variation, given) ||
        std::abs(variation) > 180) {
        return Refuse(why, "RMC with a bad variation");
    }
    if (given) {
        fix.variation = variation;
    }
    return fix;
}

double CFixClock::Moment(double secondsOfDay, double arrivalPc) {
    // The fix's time on the arrival's UTC day, or the day next to it when nearer (a fix
    // just before midnight arriving just after).
    double fixPc = std::floor(arrivalPc / kSecondsPerDay) * kSecondsPerDay + secondsOfDay;
    if (fixPc - arrivalPc > kSecondsPerDay / 2) {
        fixPc -= kSecondsPerDay;
    } else if (arrivalPc - fixPc > kSecondsPerDay / 2) {
        fixPc += kSecondsPerDay;
    }
    const double lag = arrivalPc - fixPc;
    m_lags.push_back(lag);
    if (m_lags.size() > kLagsKept) {
        m_lags.pop_front();
    }
    m_keepsUtc = lag >= 0 && lag <= kMostLag;
    if (m_keepsUtc) {
        return fixPc;
    }
    return fixPc + *std::min_element(m_lags.begin(), m_lags.end());
}

void CFixClock::Reset() {
    m_lags.clear();
    m_keepsUtc = false;
}

LevelVelocity FilterFrameVelocity(double speed, double trueCourse, double variation,
                                  double headingOffset) {
    const double course = (trueCourse - variation - headingOffset) * std::numbers::pi / 180.0;
    // The course is clockwise from north, seen from above; west is the level frame's y.
    return {speed * std::cos(course), -speed * std::sin(course)};
}

double GroundVelocitySigma(double speed) {
    constexpr double kReceiver = 0.05;                             // m/s
    constexpr double kCourseOff = 2.0 * std::numbers::pi / 180.0;  // rad
    return std::hypot(kReceiver, speed * kCourseOff);
}

CGnssReceiver::CGnssReceiver(std::string port, long baud) : m_port(std::move(port)), m_baud(baud) {
    if (!m_port.empty()) {
        m_thread = std::thread([this] { Run(); });
    }
}

CGnssReceiver::~CGnssReceiver() {
    m_quit.Set();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void CGnssReceiver::Take(std::vector<GroundReading>& into) {
    if (!m_any.load(std::memory_order_acquire)) {
        return;
    }
    std::lock_guard lock(m_mutex);
    into.insert(into.end(), m_readings.begin(), m_readings.end());
    m_readings.clear();
    m_any.store(false, std::memory_order_release);
}

std::string CGnssReceiver::Counters() const {
    std::lock_guard lock(m_mutex);
    std::string text = "lines read " + std::to_string(m_lines) + ", fixes " +
                       std::to_string(m_fixes) + ", dropped " + std::to_string(m_dropped);
    return m_lastWhy.empty() ? text : text + " (last: " + m_lastWhy + ")";
}

void CGnssReceiver::Run() {
    comlane::CSerialDevice serial;
    telegrams::CLineReader reader;
    CFixClock clock;
    std::string lastError;
    const comlane::LineSettings line{static_cast<unsigned>(m_baud), 8, 0, 0};
    const double charMs = comlane::CharacterTime(line);
    while (!m_quit.Wait(0)) {
        if (!serial.IsOpen()) {
            std::string error;
            if (!comlane::OpenNamedPort(m_port, serial, &error) || !serial.SetLine(line)) {
                serial.Close();
                if (error != lastError) {  // said once for each new reason
                    std::fprintf(stderr,
                                 "Tavimo: the GNSS receiver's port %s cannot be opened: %s\n",
                                 m_port.c_str(), error.c_str());
                    lastError = error;
                }
                m_quit.Wait(kRetryMs);
                continue;
            }
            lastError.clear();
            reader.Reset();
            clock.Reset();
        }
        if (!serial.WaitReadable(kReadableMs)) {
            continue;
        }
        char block[512];
        const long n = serial.Read(block, sizeof block);
        const double now = CTickwise::GetPCMilliSecs();
        if (n < 0) {
            serial.Close();
            continue;
        }
        const auto count = static_cast<std::size_t>(n);
        reader.Feed(
            block, count,
            [&](const telegrams::CLineReader::Line& l) {
                // The line began its own length before its last byte, which came
                // (count - 1 - endIndex) characters before the read returned.
                const double arrival =
                    (now - charMs * static_cast<double>(count - 1 - l.endIndex + l.bytes)) / 1000.0;
                std::string why;
                const std::optional<GroundFix> fix = ParseRmc(l.text, &why);
                std::lock_guard lock(m_mutex);
                ++m_lines;
                if (!fix) {
                    if (why != "not RMC") {  // a receiver sends many sentences; only RMC is read
                        ++m_dropped;
                        m_lastWhy = why;
                    }
                    return;
                }
                ++m_fixes;
                if (m_readings.size() >= kMostWaiting) {
                    m_readings.erase(m_readings.begin());
                }
                m_readings.push_back({clock.Moment(fix->secondsOfDay, arrival), fix->speed,
                                      fix->course, fix->variation});
                m_any.store(true, std::memory_order_release);
            },
            [&](telegrams::EDrop reason, std::string_view) {
                std::lock_guard lock(m_mutex);
                ++m_lines;
                ++m_dropped;
                m_lastWhy = telegrams::DropName(reason);
            });
    }
}

}  // namespace mtobj
