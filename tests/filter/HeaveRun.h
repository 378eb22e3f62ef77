// Runs the attitude filter and the heave filter over a simulated raw sensor and measures the
// heave against the simulator's truth, at the sensor and at a monitoring point, beside a
// textbook heave filter fed the same accelerations: what the heave tests and the heave
// benchmark are built on.
#pragma once

#include <cstdint>
#include <vector>

#include "filter/HeaveFilter.h"
#include "mtobj/RawMotion.h"

// A drawn irregular sea with the given peak period (s) and significant heave (m): the rest of
// the heavy sea's draw (sensor place, gyroscope bias, speed, heading; turns with
// `withTurns`), roll, pitch and the sway growing with the heave as they do in a real seaway
// (roll 1 + 4° a metre of significant heave, at most 18°), and an accelerometer bias of up to
// 0.05 m/s² on each axis.
mtobj::RawScenario HeaveSea(double peakPeriod, double significantHeave, bool withTurns,
                            std::uint32_t seed);

struct HeaveErrors {
    // RMS of the heave error from `from` on (m), about its mean: heave is measured from the
    // mean level, and the truth's own mean (a point above the roll axis sinks a little on
    // average as the vessel rolls) is no wave.
    double rms = 0;
    double baselineRms = 0;  // the textbook filter's
    // The time after which the error over every 30 s stayed within `limit` RMS, about its
    // mean over those 30 s (s).
    double settled = 0;
    // The share of samples from `from` on whose status said settled ('U').
    double settledShare = 0;
    // The RMS error about its mean over each whole 30 s since the heave filter started: how
    // the error comes down from a cold start.
    std::vector<double> windows;
};

struct HeaveRun {
    mtobj::RawScenario scenario;
    double seconds = 300;
    double rate = 100;
    double period = attfilter::CHeaveFilter::kDefaultPeriod;
    attfilter::Vec3 point;  // the monitoring point from the sensor (body axes, m)
    // The attitude filter's tuning: the module's shipped settings unless told.
    attfilter::FilterTuning tuning{0.2, 1.0};
    double from = 180;
    double limit = 0.05;  // m, for `settled`
    // The simulator's true attitude in place of the attitude filter's: what the heave
    // filter does with a perfect attitude.
    bool trueAttitude = false;
    // The heave filter follows the sea (its filters mixed for the sea); off, the set period
    // alone.
    bool followSea = true;
    // The sensor's place from the centre the vessel rolls and pitches about, as the heave
    // filter is given it: as the attitude filter learns it (what the module does), none, or
    // the simulator's own.
    enum class Centre { Learnt, None, True };
    Centre centre = Centre::Learnt;
    // A GNSS receiver's velocity over ground given to the attitude filter as the module gives
    // it (its sigma for the speed), five readings a second with 3 cm/s of noise, each arriving
    // `groundVelocityLag` seconds after the moment it holds for; negative: none.
    double groundVelocityLag = -1;
    attfilter::Vec3 antenna;  // the receiver's antenna from the sensor (body axes, m)
    // What the module may get wrong about a reading: its moment stamped this late (s, a PC
    // clock not on UTC stamps by the receiver's shortest latency), its course turned by this
    // much (degrees, a variation or heading offset off), and the antenna given this far
    // from where it is (m).
    double groundStampLate = 0;
    double groundCourseOff = 0;
    attfilter::Vec3 antennaOff;
    // No readings for `groundLostFor` seconds from `groundLostFrom` (the receiver lost).
    double groundLostFrom = 0;
    double groundLostFor = 0;

    HeaveErrors Run() const;
};

// The textbook heave filter: the vertical acceleration integrated twice, each integral
// through a second-order Butterworth high-pass at the period (a band-pass s / (s² + √2 ωs +
// ω²) a stage, by the bilinear transform).
class CTextbookHeave {
public:
    CTextbookHeave(double period, double rate);
    double Update(double verticalAcceleration);  // the heave (m)

private:
    struct Stage {
        double b0 = 0, b2 = 0, a1 = 0, a2 = 0;
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        double Step(double x);
    };
    Stage m_velocity, m_position;
};
