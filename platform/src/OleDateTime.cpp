#include "platform/OleDateTime.h"

#include <cmath>
#include <ctime>

namespace {
// Days from 1970-01-01 for a civil date (proleptic Gregorian).
long long DaysFromCivil(int y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

constexpr double kMsPerDay = 86400000.0;
}  // namespace

COleDateTime::COleDateTime(int year, int month, int day, int hour, int minute, int second) {
    SetDateTime(year, month, day, hour, minute, second);
}

COleDateTime COleDateTime::FromUnixMilliseconds(double ms) {
    return {kUnixEpoch + ms / kMsPerDay};
}

double COleDateTime::ToUnixMilliseconds() const {
    return (m_dt - kUnixEpoch) * kMsPerDay;
}

int COleDateTime::SetDateTime(int year, int month, int day, int hour, int minute, int second) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > kDays[month - 1] + ((month == 2 && leap) ? 1 : 0) || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 59) {
        m_dt = 0.0;
        m_status = invalid;
        return 1;
    }
    const double days = static_cast<double>(DaysFromCivil(year, month, day)) + kUnixEpoch;
    m_dt = days + (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
    m_status = valid;
    return 0;
}

COleDateTime::Parts COleDateTime::Split() const {
    // Round to the millisecond so that 0.99999 days of float noise does not show as :59.
    const long long totalMs = std::llround(ToUnixMilliseconds());
    long long days = totalMs / 86400000LL;
    long long msOfDay = totalMs % 86400000LL;
    if (msOfDay < 0) {
        msOfDay += 86400000LL;
        --days;
    }
    Parts p{};
    CivilFromDays(days, p.year, p.month, p.day);
    p.hour = static_cast<int>(msOfDay / 3600000);
    p.minute = static_cast<int>(msOfDay / 60000 % 60);
    p.second = static_cast<int>(msOfDay / 1000 % 60);
    p.millisecond = static_cast<int>(msOfDay % 1000);
    p.dayOfWeek = static_cast<int>(((days % 7) + 7 + 4) % 7) + 1;  // 1970-01-01 was a Thursday
    return p;
}

int COleDateTime::GetYear() const {
    return Split().year;
}
int COleDateTime::GetMonth() const {
    return Split().month;
}
int COleDateTime::GetDay() const {
    return Split().day;
}
int COleDateTime::GetHour() const {
    return Split().hour;
}
int COleDateTime::GetMinute() const {
    return Split().minute;
}
int COleDateTime::GetSecond() const {
    return Split().second;
}
int COleDateTime::GetMillisecond() const {
    return Split().millisecond;
}
int COleDateTime::GetDayOfWeek() const {
    return Split().dayOfWeek;
}

std::string COleDateTime::Format(const char* format) const {
    if (m_status != valid || format == nullptr) {
        return {};
    }
    const Parts p = Split();
    std::tm tm{};
    tm.tm_year = p.year - 1900;
    tm.tm_mon = p.month - 1;
    tm.tm_mday = p.day;
    tm.tm_hour = p.hour;
    tm.tm_min = p.minute;
    tm.tm_sec = p.second;
    tm.tm_wday = p.dayOfWeek - 1;
    char buffer[256];
    const std::size_t n = std::strftime(buffer, sizeof(buffer), format, &tm);
    return std::string(buffer, n);
}
