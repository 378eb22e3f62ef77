// The framework's date-time value: an OLE date (days since 1899-12-30, fraction for the
// time of day) with a status.
#pragma once

#include <string>

#include "platform/Types.h"

class COleDateTime {
public:
    enum DateTimeStatus { valid = 0, invalid = 1, null = 2 };

    COleDateTime() = default;
    COleDateTime(DATE date) : m_dt(date) {}  // NOLINT(google-explicit-constructor)
    COleDateTime(int year, int month, int day, int hour, int minute, int second);

    // Days between 1899-12-30 and the Unix epoch.
    static constexpr double kUnixEpoch = 25569.0;
    static COleDateTime FromUnixMilliseconds(double ms);
    double ToUnixMilliseconds() const;

    int SetDateTime(int year, int month, int day, int hour, int minute, int second);
    int GetYear() const;
    int GetMonth() const;
    int GetDay() const;
    int GetHour() const;
    int GetMinute() const;
    int GetSecond() const;
    int GetMillisecond() const;
    int GetDayOfWeek() const;  // 1 = Sunday
    // strftime-style format ("%Y-%m-%d %H:%M:%S"); empty when not valid.
    std::string Format(const char* format = "%Y-%m-%d %H:%M:%S") const;

    DateTimeStatus GetStatus() const { return m_status; }
    void SetStatus(DateTimeStatus status) { m_status = status; }
    operator DATE() const { return m_dt; }  // NOLINT(google-explicit-constructor)

    DATE m_dt = 0.0;
    DateTimeStatus m_status = valid;

private:
    struct Parts {
        int year, month, day, hour, minute, second, millisecond, dayOfWeek;
    };
    Parts Split() const;
};
