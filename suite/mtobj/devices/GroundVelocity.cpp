// The GNSS receiver's velocity over ground: RMC read, put on the PC clock, turned into the
// attitude filter's frame (no I/O here: the receiver's port is read in GnssReceiver.cpp).
#include "mtobj/GroundVelocity.h"

#include <algorithm>
#include <cmath>
#include <numbers>

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
    if (!telegrams::fields::SplitFields(body, f)) {
        return Refuse(why, "a sentence with more fields than any has");
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
    m_lags.push_back(arrivalPc - fixPc);
    if (m_lags.size() > kLagsKept) {
        m_lags.pop_front();
    }
    return fixPc + *std::min_element(m_lags.begin(), m_lags.end());
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

}  // namespace mtobj
