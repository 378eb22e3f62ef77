#include "filter/HeaveFilter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "Math.h"

namespace attfilter {
namespace {

// The filter, from acceleration to heave: H(s) = (s⁴ + b1 s³ + b2 s²) / D(s), D a sixth-order
// Butterworth polynomial about the corner. Its numerator makes the heave's response to waves
// G(s) = s²·H(s) = 1 - E(s) with an error E that is small above the corner; and the s² in it
// takes a constant acceleration (a bias) out of the heave for good. Numerator coefficients at
// the denominator's own (b = a) would make E fall fastest, but lift the filter's gain near
// the corner more than fivefold, and with it the accelerometer's noise at periods where no
// wave is; taking them a little lower (0.8 and 0.85 of it) trades a little of that fall for
// half the noise. The corner's period is 48/18 of the setting: over drawn seas of 5 to 15 s
// peak periods, 0.5 to 4 m significant heave and a sensor noise of 100 µg/√Hz, that balance of
// noise and lost wave is where the error is least.
constexpr std::array<double, 6> kButterworth{3.8637033051562732, 7.4641016151377546,
                                             9.1416201726856413, 7.4641016151377546,
                                             3.8637033051562732, 1.0};
constexpr double kNumerator1 = 0.80;
constexpr double kNumerator2 = 0.85;
constexpr double kCornerPerPeriod = 48.0 / 18.0;
// The cold start. The filter starts from rest while the vessel is mid-wave and the
// accelerometer has a bias: both leave a transient that the filter's own poles take minutes to
// damp. Over the first kFitSeconds the filter's response to each part of its start (its six
// states, and a constant acceleration from the start on) is run beside it, and the start that
// leaves the least heave (a sea's heave averages out, a transient does not) is fitted by least
// squares and taken out; the fitted bias is taken out of the input from then on.
constexpr double kFitSeconds = 75.0;
constexpr double kRefitSeconds = 1.0;  // how often the fit is solved while it gathers
// A gap in the samples this long (or time going back) starts the filter cold.
constexpr double kLongestGap = 1.0;
constexpr double kStandardGravity = 9.80665;
// Each stage of the accelerations' smoothing (s): waves of 3 s and more pass with a few
// degrees of lag.
constexpr double kSmoothing = 0.1;
// The leaks' fit forgets over kLeakMemory. A share is held toward nothing as a prior of
// kLeakShareSigma (a tilt error of about a degree) would hold it, against the heave itself as
// the fit's noise, one independent value of it every kWaveSeconds: in a sea without turns the
// horizontal force is the waves' alone and its responses find no share worth taking.
constexpr double kLeakMemory = 300.0;
constexpr double kLeakShareSigma = 0.02;
constexpr double kWaveSeconds = 10.0;

}  // namespace

CHeaveFilter::CHeaveFilter(double period) : m_period(ClampPeriod(period)) {
    SetPeriod(m_period);
    Reset();
}

double CHeaveFilter::ClampPeriod(double seconds) {
    if (!std::isfinite(seconds)) {
        return kDefaultPeriod;
    }
    return std::clamp(seconds, kMinPeriod, kMaxPeriod);
}

void CHeaveFilter::SetPeriod(double seconds) {
    const double period = ClampPeriod(seconds);
    if (period == m_period && m_denominator[0] > 0.0) {
        return;
    }
    m_period = period;
    const double corner = 2.0 * std::numbers::pi / (kCornerPerPeriod * m_period);
    double power = 1.0;
    for (std::size_t i = 0; i < m_denominator.size(); ++i) {
        power *= corner;
        m_denominator[i] = kButterworth[i] * power;
    }
    Reset();
}

void CHeaveFilter::Reset() {
    m_started = false;
    m_x = {};
    m_heave = 0;
    m_fitting = false;
    m_bias = 0;
}

double CHeaveFilter::SettlingLeft() const {
    if (!m_started) {
        return kSettlingSeconds;
    }
    return std::max(0.0, kSettlingSeconds - (m_lastSeconds - m_startSeconds));
}

CHeaveFilter::State CHeaveFilter::Derivative(const State& x, double u) const {
    // Observer form: x1 is the heave; every state feeds the one above it and takes its share
    // of the heave back (the denominator) and of the acceleration in (the numerator).
    const std::array<double, 6>& a = m_denominator;
    const std::array<double, 6> in{0.0, 1.0, kNumerator1 * a[0], kNumerator2 * a[1], 0.0, 0.0};
    State d{};
    for (std::size_t i = 0; i < d.size(); ++i) {
        const double next = i + 1 < d.size() ? x[i + 1] : 0.0;
        d[i] = -a[i] * x[0] + next + in[i] * u;
    }
    return d;
}

void CHeaveFilter::Step(State& x, double dt, double u0, double u1) const {
    // Heun's step with the acceleration taken as linear over the interval (the trapezoid rule
    // for the double integration: no half-sample lag).
    const State k1 = Derivative(x, u0);
    State trial = x;
    for (std::size_t i = 0; i < trial.size(); ++i) {
        trial[i] += dt * k1[i];
    }
    const State k2 = Derivative(trial, u1);
    for (std::size_t i = 0; i < x.size(); ++i) {
        x[i] += 0.5 * dt * (k1[i] + k2[i]);
    }
}

bool CHeaveFilter::SolveFit(Fit& fit) const {
    // The responses differ in size by powers of the corner: scale the equations to a unit
    // diagonal, and hold the fit a little toward nothing where the data cannot tell the parts
    // apart yet.
    Fit scale{};
    for (int i = 0; i < kFitted; ++i) {
        if (!(m_normal[i][i] > 0.0)) {
            return false;
        }
        scale[i] = 1.0 / std::sqrt(m_normal[i][i]);
    }
    std::array<Fit, kFitted> a{};
    Fit b{};
    for (int i = 0; i < kFitted; ++i) {
        for (int j = 0; j < kFitted; ++j) {
            a[i][j] = m_normal[i][j] * scale[i] * scale[j];
        }
        a[i][i] += 1e-9;
        b[i] = m_normalRight[i] * scale[i];
    }
    if (!Solve<kFitted>(a, b, fit)) {
        return false;
    }
    for (int i = 0; i < kFitted; ++i) {
        fit[i] *= scale[i];
    }
    return true;
}

void CHeaveFilter::Update(double seconds, double verticalAcceleration) {
    Update(seconds, verticalAcceleration, Leaks{});
}

void CHeaveFilter::Update(double seconds, double verticalAcceleration, const Leaks& leaks) {
    if (!std::isfinite(seconds) || !std::isfinite(verticalAcceleration) ||
        !std::all_of(leaks.begin(), leaks.end(), [](double v) { return std::isfinite(v); })) {
        return;
    }
    const double dt = seconds - m_lastSeconds;
    if (m_started && (dt < 0.0 || dt > kLongestGap)) {
        Reset();
    }
    if (!m_started) {
        m_started = true;
        m_startSeconds = m_lastSeconds = m_nextSolve = seconds;
        m_lastAccel = verticalAcceleration;
        m_fitting = true;
        m_responses = {};
        for (std::size_t i = 0; i < m_x.size(); ++i) {
            m_responses[i][i] = 1.0;
        }
        m_normal = {};
        m_normalRight = {};
        m_fit = {};
        m_lastLeaks = leaks;
        m_leakResponses = {};
        m_leakNormal = {};
        m_leakRight = {};
        m_leakFit = {};
        m_heaveSquares = 0;
        m_nextLeakSolve = seconds;
        return;
    }
    if (dt <= 0.0) {
        return;
    }
    const double accel = verticalAcceleration;
    Step(m_x, dt, m_lastAccel - m_bias, accel - m_bias);
    m_lastAccel = accel;
    m_lastSeconds = seconds;
    m_heave = m_x[0];
    FitStart(seconds, dt);
    FitLeaks(seconds, dt, leaks);
}

void CHeaveFilter::FitLeaks(double seconds, double dt, const Leaks& leaks) {
    Leaks response{};
    for (int j = 0; j < kLeaks; ++j) {
        Step(m_leakResponses[j], dt, m_lastLeaks[j], leaks[j]);
        response[j] = m_leakResponses[j][0];
    }
    m_lastLeaks = leaks;
    const double forget = 1.0 - std::exp(-dt / kLeakMemory);
    m_heaveSquares += forget * (m_heave * m_heave - m_heaveSquares);
    for (int i = 0; i < kLeaks; ++i) {
        for (int j = 0; j < kLeaks; ++j) {
            m_leakNormal[i][j] += forget * (response[i] * response[j] - m_leakNormal[i][j]);
        }
        m_leakRight[i] += forget * (response[i] * m_heave - m_leakRight[i]);
    }
    if (seconds >= m_nextLeakSolve) {
        m_nextLeakSolve = seconds + kRefitSeconds;
        const double ridge =
            m_heaveSquares / (kLeakMemory / kWaveSeconds) / (kLeakShareSigma * kLeakShareSigma);
        // The averages above hold this much of the time since the start: the prior weighs
        // as much as they do.
        const double weight = 1.0 - std::exp(-(seconds - m_startSeconds) / kLeakMemory);
        std::array<Leaks, kLeaks> a = m_leakNormal;
        Leaks b = m_leakRight;
        for (int i = 0; i < kLeaks; ++i) {
            a[i][i] += ridge * weight + 1e-12;
        }
        Leaks fit{};
        if (Solve<kLeaks>(a, b, fit)) {
            m_leakFit = fit;
        }
    }
    for (int j = 0; j < kLeaks; ++j) {
        m_heave -= m_leakFit[j] * response[j];
    }
}

void CHeaveFilter::FitStart(double seconds, double dt) {
    if (!m_fitting) {
        return;
    }
    // The start's fit: each part's response and its share of the heave so far.
    Fit response{};
    for (int i = 0; i < kFitted; ++i) {
        const bool bias = i == kFitted - 1;
        Step(m_responses[i], dt, bias ? 1.0 : 0.0, bias ? 1.0 : 0.0);
        response[i] = m_responses[i][0];
    }
    for (int i = 0; i < kFitted; ++i) {
        for (int j = 0; j < kFitted; ++j) {
            m_normal[i][j] += response[i] * response[j];
        }
        m_normalRight[i] += response[i] * m_heave;
    }
    const bool last = seconds - m_startSeconds >= kFitSeconds;
    if (last || seconds >= m_nextSolve) {
        m_nextSolve = seconds + kRefitSeconds;
        Fit fit{};
        if (SolveFit(fit)) {
            m_fit = fit;
        }
    }
    if (last) {
        // From now on the filter runs as if it had started where the fit says, without the
        // bias.
        for (int i = 0; i < kFitted; ++i) {
            for (std::size_t k = 0; k < m_x.size(); ++k) {
                m_x[k] -= m_fit[i] * m_responses[i][k];
            }
        }
        m_bias = m_fit[kFitted - 1];
        m_fitting = false;
        m_heave = m_x[0];
        return;
    }
    for (int i = 0; i < kFitted; ++i) {
        m_heave -= m_fit[i] * response[i];
    }
}

namespace {
// The filters' periods as shares of the set one (18, 15, 12 and 10 s at the default).
constexpr std::array<double, 4> kPeriodShares{1.0, 5.0 / 6.0, 2.0 / 3.0, 5.0 / 9.0};
// The sea is followed with these: a crossing counts once the heave has been below -kBand and
// comes up through +kBand; the mean of the crossing intervals forgets over kMemorySeconds; a
// filter is taken at or below kTakeShorter of its period and left above kLeaveShorter; the
// heave passes from one filter to the next over kPassSeconds.
constexpr double kBand = 0.01;  // m
constexpr double kMemorySeconds = 180.0;
constexpr double kTakeShorter = 0.66;
constexpr double kLeaveShorter = 0.72;
constexpr double kPassSeconds = 20.0;
// Waves longer than a filter's period show as a difference between its heave and the next
// longer filter's: it may reach kLoss of the heave (or kLossFloor, what the accelerometer's
// noise alone makes) for the filter to be taken, and past kLossLeave of it the longer one is
// taken again. A swell under a short sea, or the roll's heave at a point away from the
// sensor, does not send its long waves away.
constexpr double kLoss = 0.08;
constexpr double kLossFloor = 0.03;  // m
constexpr double kLossLeave = 0.10;
constexpr double kLossFloorLeave = 0.04;  // m
// What leaks into the vertical acceleration: a tilt error turns a part of the horizontal
// specific force into it. The tilt error an accelerometer's bias leaves, and the one a turn
// leaves while the filter learns the vessel's speed, stay with the vessel's axes, and so does
// the turn's acceleration: the leak is a constant share of the horizontal force along and
// across the bow.
CHeaveFilter::Leaks LeaksOf(const Vec3& levelForce, const Quat& bodyToLevel) {
    const Vec3 bow = Rotate(bodyToLevel, Vec3{1, 0, 0});
    const double length = std::hypot(bow.x, bow.y);
    if (!(length > 1e-6)) {
        return {};
    }
    const double ax = bow.x / length, ay = bow.y / length;
    return {levelForce.x * ax + levelForce.y * ay, levelForce.y * ax - levelForce.x * ay};
}
}  // namespace

CPointMotion::CPointMotion(const Vec3& point, double period) : m_point(point) {
    SetPeriod(period);
    Reset();
}

void CPointMotion::SetPoint(const Vec3& point) {
    if (point.x != m_point.x || point.y != m_point.y || point.z != m_point.z) {
        m_point = point;
        Reset();
    }
}

void CPointMotion::SetPeriod(double seconds) {
    static_assert(kPeriodShares.size() == kFilters);
    const double period = CHeaveFilter::ClampPeriod(seconds);
    bool changed = false;
    for (int i = 0; i < kFilters; ++i) {
        const double share = CHeaveFilter::ClampPeriod(period * kPeriodShares[i]);
        changed = changed || share != m_filters[i].Period();
        m_filters[i].SetPeriod(share);
    }
    if (changed) {
        Reset();
    }
}

void CPointMotion::Reset() {
    for (CHeaveFilter& filter : m_filters) {
        filter.Reset();
    }
    m_below = false;
    m_lastCrossing = -1;
    m_crossingPeriod = 0;
    m_crossings = 0;
    m_heaveSquares = 0;
    m_lossSquares = {};
    m_chosen = 0;
    m_position = 0;
    m_started = false;
    m_haveArmRate = false;
    m_smooth1 = m_smooth2 = {};
}

template <typename Value>
double CPointMotion::AtPosition(Value value) const {
    const auto low = static_cast<int>(std::floor(m_position));
    const int high = std::min(low + 1, kFilters - 1);
    const double share = m_position - low;
    return value(m_filters[low]) + share * (value(m_filters[high]) - value(m_filters[low]));
}

double CPointMotion::FollowedPeriod() const {
    return AtPosition([](const CHeaveFilter& filter) { return filter.Period(); });
}

void CPointMotion::Update(double seconds, const Vec3& specificForce, const Quat& bodyToLevel) {
    if (!std::isfinite(seconds) || !Finite(specificForce)) {
        return;
    }
    const Vec3 arm = Rotate(bodyToLevel, m_point);
    Vec3 accel = Rotate(bodyToLevel, specificForce);
    accel.z -= kStandardGravity;
    const CHeaveFilter::Leaks leaks = LeaksOf(accel, bodyToLevel);
    const double dt = seconds - m_lastSeconds;
    if (!m_started || dt <= 0.0 || dt > kLongestGap) {
        m_started = true;
        m_lastSeconds = seconds;
        m_lastArm = arm;
        m_haveArmRate = false;
        m_smooth1 = m_smooth2 = accel;
        for (CHeaveFilter& filter : m_filters) {
            filter.Update(seconds, accel.z, leaks);
        }
        return;
    }
    // The point's acceleration: the sensor's, and the second difference of where the lever
    // puts the point (the heave filter's two integrations undo the differences, so the
    // orientation's small noise reaches the heave at no more than its own size).
    const Vec3 armRate = Scale(Sub(arm, m_lastArm), 1.0 / dt);
    if (m_haveArmRate) {
        accel = Add(accel, Scale(Sub(armRate, m_lastArmRate), 1.0 / dt));
    }
    m_lastArmRate = armRate;
    m_haveArmRate = true;
    m_lastArm = arm;
    m_lastSeconds = seconds;
    for (CHeaveFilter& filter : m_filters) {
        filter.Update(seconds, accel.z, leaks);
    }
    FollowTheSea(seconds, dt);
    const double share = 1.0 - std::exp(-dt / kSmoothing);
    m_smooth1 = Add(m_smooth1, Scale(Sub(accel, m_smooth1), share));
    m_smooth2 = Add(m_smooth2, Scale(Sub(m_smooth1, m_smooth2), share));
}

void CPointMotion::FollowTheSea(double seconds, double dt) {
    // The heave of the first half of the settling still carries the start's fit: its
    // crossings are not the sea's.
    const CHeaveFilter& set = m_filters[0];
    if (set.SettlingLeft() > CHeaveFilter::kSettlingSeconds / 2) {
        return;
    }
    const double heave = set.Heave();
    const double forget = 1.0 - std::exp(-dt / kMemorySeconds);
    m_heaveSquares += forget * (heave * heave - m_heaveSquares);
    for (int i = 1; i < kFilters; ++i) {
        const double loss = m_filters[i - 1].Heave() - m_filters[i].Heave();
        m_lossSquares[i] += forget * (loss * loss - m_lossSquares[i]);
    }
    if (heave < -kBand) {
        m_below = true;
    } else if (heave > kBand && m_below) {
        m_below = false;
        if (m_lastCrossing >= 0) {
            const double interval = seconds - m_lastCrossing;
            // Each interval weighs by its length: the mean forgets by time, not by count.
            const double weight =
                m_crossings == 0 ? 1.0 : 1.0 - std::exp(-interval / kMemorySeconds);
            m_crossingPeriod += weight * (interval - m_crossingPeriod);
            ++m_crossings;
        }
        m_lastCrossing = seconds;
    }
    // The shortest filter whose own and every longer filter's test the sea passes; between
    // the two thresholds a filter already followed stays, so a sea near them does not flip it.
    int chosen = 0;
    if (m_following && set.Settled() && m_crossings >= kFewestCrossings) {
        const double heaveRms = std::sqrt(m_heaveSquares);
        for (int i = 1; i < kFilters; ++i) {
            const double period = m_filters[i].Period();
            const double lossRms = std::sqrt(m_lossSquares[i]);
            const bool take = m_crossingPeriod <= kTakeShorter * period &&
                              lossRms <= std::max(kLossFloor, kLoss * heaveRms);
            const bool leave = m_crossingPeriod > kLeaveShorter * period ||
                               lossRms > std::max(kLossFloorLeave, kLossLeave * heaveRms);
            const bool keep = i <= m_chosen ? !leave : take;
            if (!keep || !(period < m_filters[i - 1].Period())) {
                break;
            }
            chosen = i;
        }
    }
    m_chosen = chosen;
    const double step = dt / kPassSeconds;
    m_position = std::clamp(m_position + std::clamp(m_chosen - m_position, -step, step), 0.0,
                            static_cast<double>(kFilters - 1));
}

PointMotion CPointMotion::Motion() const {
    PointMotion motion;
    motion.heave = AtPosition([](const CHeaveFilter& filter) { return filter.Heave(); });
    motion.verticalAcceleration = m_smooth2.z;
    motion.horizontalAcceleration = std::hypot(m_smooth2.x, m_smooth2.y);
    motion.settled = m_filters[0].Settled();
    return motion;
}

}  // namespace attfilter
