// Heave: how far a point of the vessel stands above its mean level, from the accelerometer.
//
// The vertical acceleration in the level frame (gravity taken out) integrated twice is the
// heave, but any error at all (a bias of a thousandth of g, the sensor's noise, a tilt) grows
// without bound through the two integrations. The heave filter is the double integration
// inside a sixth-order high-pass: waves are kept, the slow drift is taken out. Its one setting
// is the period of the longest waves it keeps (5 to 30 s, 18 by default): waves of that period
// are kept at full height with a lead of a fraction of their period, shorter ones within a few
// percent; longer swell is taken for drift and lost.
//
// From a cold start the filter does not know where in the wave the vessel is, nor the
// accelerometer's bias; left alone, what it guessed would take minutes to die out. It fits
// the start and the bias to the first minute and a quarter instead (a wave's heave averages
// out, a wrong start does not) and takes them out; its heave counts as settled 150 s after the
// start. CPointMotion below feeds it the vertical acceleration of the centre the vessel rolls
// and pitches about and adds what roll and pitch add at the point wanted.
//
// A tilt error of a few tenths of a degree turns as much of the horizontal acceleration into
// the vertical: nothing in a sea, whose horizontal accelerations come and go with the waves,
// but in a turn its centripetal acceleration holds for a minute, and the double integration
// makes tens of centimetres of it. Fed the horizontal force along and across the bow beside
// the vertical acceleration, the filter runs its response to each beside it and finds, by
// least squares over the last five minutes, the share of each in the heave (the waves' heave
// does not follow them, a leak does), and takes it out.
//
// Plain C++, no operating-system dependency; not thread-safe: one thread feeds and reads it.
#pragma once

#include <array>
#include <complex>

#include "filter/AttitudeFilter.h"

namespace attfilter {

class CHeaveFilter {
public:
    static constexpr double kMinPeriod = 5.0;
    static constexpr double kMaxPeriod = 30.0;
    static constexpr double kDefaultPeriod = 18.0;
    // How long the heave takes to settle from a cold start, a reset or a new period.
    static constexpr double kSettlingSeconds = 150.0;

    // A period outside 5..30 s is clamped into it; one that is not a number gives the default.
    explicit CHeaveFilter(double period = kDefaultPeriod);
    static double ClampPeriod(double seconds);

    // A new period starts the settling anew.
    void SetPeriod(double seconds);
    double Period() const { return m_period; }
    // Forgets the heave; the next sample starts the filter cold.
    void Reset();

    // Feeds one sample at `seconds` (samples in time order; an older one or a gap of more than
    // a second resets): the vertical acceleration (m/s², up, gravity taken out) of the point
    // whose heave is wanted.
    void Update(double seconds, double verticalAcceleration);
    // The same, with inputs that may leak into the vertical acceleration, each by a share
    // that is constant over minutes: the share is found from the heave and taken out.
    static constexpr int kLeaks = 2;
    using Leaks = std::array<double, kLeaks>;
    void Update(double seconds, double verticalAcceleration, const Leaks& leaks);
    // The share of each leak input found in the vertical acceleration so far.
    Leaks LeakShares() const { return m_leakFit; }
    // The filter's response from the vertical acceleration to the heave at the angular
    // frequency `omega` (rad/s): what it makes of a wave, and of the accelerometer's noise.
    std::complex<double> Response(double omega) const;

    // The heave of the point (m, positive up); 0 before the first sample.
    double Heave() const { return m_heave; }
    bool Started() const { return m_started; }
    // True once the settling time has passed since the start.
    bool Settled() const { return m_started && SettlingLeft() <= 0.0; }
    // Seconds of settling still to go (the whole settling time before the first sample).
    double SettlingLeft() const;

private:
    using State = std::array<double, 6>;
    // The parts of the start that are fitted: the six states and a constant acceleration.
    static constexpr int kFitted = 7;
    using Fit = std::array<double, kFitted>;
    // The state's rate of change under the acceleration `u`.
    State Derivative(const State& x, double u) const;
    // One step of dt with the acceleration going linearly from u0 to u1.
    void Step(State& x, double dt, double u0, double u1) const;
    // Solves the start's fit from what is gathered; false while it cannot be told yet.
    bool SolveFit(Fit& fit) const;
    // The start's fit and the leaks' fit, each taking its part out of the heave.
    void FitStart(double seconds, double dt);
    void FitLeaks(double seconds, double dt, const Leaks& leaks);

    double m_period;
    std::array<double, 6> m_denominator{};  // the polynomial's coefficients at the corner
    bool m_started = false;
    double m_startSeconds = 0;
    double m_lastSeconds = 0;
    double m_lastAccel = 0;
    State m_x{};
    double m_heave = 0;
    // The start's fit: the filter's response to each fitted part, run beside it, and the
    // normal equations of the least-squares fit of those responses to its heave.
    bool m_fitting = false;
    double m_nextSolve = 0;
    std::array<State, kFitted> m_responses{};
    std::array<Fit, kFitted> m_normal{};
    Fit m_normalRight{};
    Fit m_fit{};
    double m_bias = 0;  // the fitted accelerometer bias (m/s²), taken out of the input
    // The leaks' fit: the filter's response to each leak input, and the normal equations of
    // the fit of those responses to the heave, forgetting over minutes.
    Leaks m_lastLeaks{};
    std::array<State, kLeaks> m_leakResponses{};
    std::array<Leaks, kLeaks> m_leakNormal{};
    Leaks m_leakRight{};
    Leaks m_leakFit{};
    double m_heaveSquares = 0;
    double m_nextLeakSolve = 0;
};

// The vessel's motion at one point, as a motion telegram carries it.
struct PointMotion {
    double heave = 0;                   // m, positive up
    double verticalAcceleration = 0;    // m/s², positive up, gravity taken out
    double horizontalAcceleration = 0;  // m/s², its size in the level plane
    bool settled = false;               // the heave filter has settled
};

// The motion of a point given by its place from the sensor (body axes: x toward the bow, y
// toward port, z up; metres), from the accelerometer and the orientation the attitude filter
// gives at the same time: its heave through the heave filter, and its accelerations, smoothed
// over a few tenths of a second so the gyroscope's noise in the turn of the lever does not
// show.
//
// The heave filters are fed the vertical acceleration of the centre the vessel rolls and
// pitches about, and what roll and pitch add at the point is added to their heave as it
// stands: the height of the point over that centre, less its mean over the last minutes.
// Through a filter it would lose what changes slowly with the roll's size from one group of
// waves to the next: a point high above the centre sinks as the vessel rolls (by its height
// times 1 - cos roll), and that slow sinking is as much heave as the waves'.
//
// The heave follows the sea. Beside the filter at the set period run one at half as long again
// and four shorter ones, at five sixths, two thirds, five ninths and four ninths of it (27, 15,
// 12, 10 and 8 s beside 18 s): a period of about 1.25 times the sea's peak period loses no
// wave, and each shorter one passes less of the accelerometer's noise and of the slow error a
// turn leaves (that error falls with the square of the period), but loses more of the long
// waves; the longer one passes more noise but leads the longest waves of a long sea the least,
// and mixed with the others it keeps what the set one alone bends. Once the set filter has
// settled, the heave is the six filters' heaves mixed by the weights that leave the least error
// (a Wiener combination): each filter's heave is the sea's heave through its response plus the
// accelerometer's noise through it. How the filters' heaves vary together is measured over the
// last few minutes; how much of that is the noise follows from their responses and the
// accelerometer's white noise, measured from the acceleration but taken as no more than a good
// sensor's (100 µg/√Hz); the set filter's heave, less its noise, stands for the sea's. So each
// sea gets its own mix: a short sea mostly the short filters, whose noise is least, with what
// the longer ones see beyond them; a long sea or a swell under a short one mostly the long
// filters; calm water, whose heave is noise, next to nothing.
class CPointMotion {
public:
    explicit CPointMotion(const Vec3& point = {}, double period = CHeaveFilter::kDefaultPeriod);

    // A new point or period starts the settling anew.
    void SetPoint(const Vec3& point);
    Vec3 Point() const { return m_point; }
    void SetPeriod(double seconds);
    double Period() const { return m_filters[kSet].Period(); }
    void Reset();

    // One accelerometer reading (m/s², specific force, body axes) and the orientation (body
    // to level) at its time; `sensorFromCentre` is the sensor's place from the centre the
    // vessel rolls and pitches about (body axes, m), as the attitude filter learns it
    // (CAttitudeFilter::LeverArm), or nothing where it is not known. Samples come in time
    // order: an older one is passed over, but after 50 in a row (the clock went back), or
    // after a gap of more than a second, the heave starts anew.
    void Update(double seconds, const Vec3& specificForce, const Quat& bodyToLevel,
                const Vec3& sensorFromCentre = {});

    PointMotion Motion() const;
    bool Started() const { return m_filters[kSet].Started(); }
    double SettlingLeft() const { return m_filters[kSet].SettlingLeft(); }
    // Following the sea is on unless turned off; off, the heave is the set period's alone (to
    // measure what a period does by itself).
    void SetFollowingTheSea(bool on) { m_following = on; }
    // The filters: one at the set period (kSet), one longer and four shorter.
    static constexpr int kFilters = 6;
    static constexpr int kSet = 1;
    // True while the heave is the filters' mix; their weights, longest period first (the set
    // period's heave alone before).
    bool Combined() const { return m_following && m_haveWeights; }
    std::array<double, kFilters> Weights() const;
    // The accelerometer's white noise the combination takes (g/√Hz): the sensor's as measured,
    // at most a good sensor's.
    double NoiseDensity() const;

private:
    // One row and one column a filter, longest first.
    using Square = std::array<std::array<double, kFilters>, kFilters>;
    // Measures how the filters' heaves vary together and solves the weights of their mix.
    void Combine(double seconds, double dt);
    // Measures the accelerometer's white noise from the sensor's vertical acceleration.
    void MeasureNoise(double vertical, double dt);
    // Follows the centre, smoothed, and the point's height over it less its mean (before the
    // sample's time is taken as the last); returns the centre.
    Vec3 UpdateLever(double seconds, const Vec3& up, const Vec3& sensorFromCentre);
    std::array<CHeaveFilter, kFilters> m_filters;
    bool m_following = true;
    // The combination: the filters' heaves' products averaged over the last minutes, the
    // part of them the accelerometer's noise makes, and the weights.
    Square m_products{};
    Square m_noise{};
    std::array<double, kFilters> m_weights{};
    bool m_haveWeights = false;
    double m_productsSince = -1;
    double m_nextWeights = 0;
    double m_noiseSquares = 0;               // the noise density² measured ((m/s²)²/Hz)
    std::array<double, 2> m_lastVertical{};  // the last two, newest first
    int m_noiseHistory = 0;                  // how many of them follow without a gap
    long m_noiseSamples = 0;
    Vec3 m_point;
    bool m_started = false;
    double m_lastSeconds = 0;
    int m_older = 0;            // samples in a row older than the last
    Vec3 m_lastArm;             // the point from the sensor in the level frame
    Vec3 m_lastArmRate;         // and its rate
    bool m_haveRates = false;   // the arm's and the up's rates are there (from the second sample)
    Vec3 m_smooth1, m_smooth2;  // the point's acceleration through two smoothing stages
    // The level frame's up in body axes at the last sample, its rate then, and its mean over
    // the last minutes (an average of all there is until the memory is full): the point's
    // height over the centre is up · (centre to sensor + sensor to point).
    Vec3 m_lastUp;
    Vec3 m_lastUpRate;
    Vec3 m_meanUp;
    double m_meanUpSince = -1;
    double m_lever = 0;  // the point's height over the centre less its mean (m)
    Vec3 m_centre;       // the sensor's place from the centre, smoothed
    bool m_haveCentre = false;
};

}  // namespace attfilter
