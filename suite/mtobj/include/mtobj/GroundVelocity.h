// The vessel's velocity over ground from a GNSS receiver, for the attitude filter of a raw
// sensor: in a turn, the filter tells the turn's acceleration from a tilt by the velocity it
// is given. The receiver sends RMC on a serial port; each fix's speed and true course are
// read with the UTC time the fix holds for, and put on the PC clock.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/Sync.h"

namespace mtobj {

// One RMC fix: what it says of the way over ground, and when.
struct GroundFix {
    double secondsOfDay = 0;  // UTC time of the fix, 0 to 86400
    double speed = 0;         // m/s over ground
    double course = 0;        // degrees true, 0 to 360
    // The magnetic variation the receiver gives (degrees, east positive), when it gives one.
    std::optional<double> variation;
};

// Reads an RMC line ("$GPRMC,...", any talker, checksum checked when present). Nothing, and
// why in *why, for another sentence, a broken line, or a fix the receiver marks not valid
// (status V, mode N) or has no course for while under way.
std::optional<GroundFix> ParseRmc(std::string_view line, std::string* why = nullptr);

// Puts fixes on the PC clock (seconds since 1970): each at its UTC time plus the shortest
// lag from fix to arrival of the last kLagsKept fixes. So the receiver's jitter goes, a PC
// clock that is off UTC by any amount costs nothing, and the stamp is late by the receiver's
// shortest latency only (tens of milliseconds). Taking the fix's time as it stands would be
// exact on a PC clock kept on UTC, but a clock half a second off would put every reading
// half a second out.
class CFixClock {
public:
    static constexpr std::size_t kLagsKept = 50;

    // The PC moment the fix holds for, given the PC time its line began to arrive.
    double Moment(double secondsOfDay, double arrivalPc);
    void Reset() { m_lags.clear(); }

private:
    std::deque<double> m_lags;
};

// A reading as the attitude filter takes it.
struct GroundReading {
    double moment = 0;  // PC seconds the velocity holds for
    double speed = 0;   // m/s
    double course = 0;  // degrees true
    std::optional<double> variation;
};

// The velocity's north and west parts (m/s) in the attitude filter's frame, whose north is
// magnetic north less the heading offset: a true course turned by the variation (east
// positive: true = magnetic + variation) and by the heading offset (added to the filter's
// heading).
struct LevelVelocity {
    double north = 0, west = 0;
};
LevelVelocity FilterFrameVelocity(double speed, double trueCourse, double variation,
                                  double headingOffset);

// The uncertainty (m/s, one sigma) the filter is told for a reading at a speed: the
// receiver's few cm/s, and the cross-track error of a course off by a degree or two (a
// variation or heading offset not quite right turns the whole velocity).
double GroundVelocitySigma(double speed);

// Reads a receiver on a named port from a thread of its own and keeps its newest readings
// for the sensor's reader to take. Opening is retried while the port is missing; what it
// read, used and dropped is counted. A port that cannot be opened, and one open that gives
// no fix for `silentSeconds` (a wrong baud rate, no RMC sent), is said on standard error.
class CGnssReceiver {
public:
    static constexpr double kSilentSeconds = 10.0;

    // Starts reading `port` ("COM5") at `baud`; an empty port reads nothing.
    CGnssReceiver(std::string port, long baud, double silentSeconds = kSilentSeconds);
    ~CGnssReceiver();
    CGnssReceiver(const CGnssReceiver&) = delete;
    CGnssReceiver& operator=(const CGnssReceiver&) = delete;

    // Moves the readings that came since the last call into `into` (appended, oldest first).
    void Take(std::vector<GroundReading>& into);
    // "lines read N, fixes M, dropped K (why)" for the trace.
    std::string Counters() const;
    const std::string& Port() const { return m_port; }
    long Baud() const { return m_baud; }

private:
    void Run();

    const std::string m_port;
    const long m_baud;
    const double m_silentSeconds;
    CEvent m_quit{true, false};
    std::atomic<bool> m_any{false};  // readings wait: the reader takes the lock only then
    mutable std::mutex m_mutex;
    std::vector<GroundReading> m_readings;  // bounded: the oldest go first
    std::uint64_t m_lines = 0, m_fixes = 0, m_dropped = 0;
    std::string m_lastWhy;
    std::thread m_thread;
};

}  // namespace mtobj
