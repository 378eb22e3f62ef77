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
// How long the mean of the vessel's roll and pitch is taken over for the height the lever
// adds (s): long beside the groups of waves, whose slow sinking is heave.
constexpr double kLevelMemory = 600.0;
// The centre as the attitude filter learns it moves from one sample to the next by its
// noise; fed through the second difference as it stands, that noise times the roll's rate,
// integrated twice, would be tens of centimetres of heave. It is smoothed over a minute: a
// centre that stays a metre off costs the heave next to nothing, one that jitters a lot.
constexpr double kCentreSmoothing = 60.0;

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

std::complex<double> CHeaveFilter::Response(double omega) const {
    // H(s) = (s⁴ + b1 s³ + b2 s²) / D(s) at s = jω, D by Horner's rule.
    const std::complex<double> s(0.0, omega);
    std::complex<double> d = 1.0;
    for (const double c : m_denominator) {
        d = d * s + c;
    }
    const std::complex<double> n =
        ((s + kNumerator1 * m_denominator[0]) * s + kNumerator2 * m_denominator[1]) * s * s;
    return n / d;
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
    // A reading beyond any accelerometer's (or not a number) is passed over.
    const auto measurable = [](double a) { return std::abs(a) <= kMaxForce; };
    if (!std::isfinite(seconds) || !measurable(verticalAcceleration) ||
        !std::all_of(leaks.begin(), leaks.end(), measurable)) {
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
// The filters' periods as shares of the set one, longest first (27, 18, 15, 12, 10 and 8 s
// at the default); the set one is CPointMotion::kSet. Each is clamped into 5..30 s, so near
// either end of the setting some filters are the same; each filter's noise added to its
// products (kNoiseRidge below) keeps the mix solvable then.
constexpr std::array<double, CPointMotion::kFilters> kPeriodShares{1.5,       1.0,       5.0 / 6.0,
                                                                   2.0 / 3.0, 5.0 / 9.0, 4.0 / 9.0};
// The mix. The filters' heaves' products are averaged over kProductsMemory; the weights are
// solved once kProductsSeconds of them are in and the set filter has settled, and again every
// kRefitSeconds. The accelerometer's white noise is measured from the vertical acceleration's
// second differences (6 σ² for white noise; a wave's are smaller by the square of its angular
// frequency times the sample interval, squared), but taken as no more than a good sensor's,
// kNoiseDensity (g/√Hz, as velocity random walk: 1 g/√Hz is 9.80665 m/s over a second's
// square root): the vessel's vibration shows there too, and taking noise for more than it is
// sends long waves away, while taking it for less only gives back part of what the mix
// gains. Each filter's own noise is added once more to its products (kNoiseRidge): the
// measured products are an estimate over a few minutes, and a mix that leaned hard on their
// small differences would follow that estimate's error.
constexpr double kProductsMemory = 180.0;
constexpr double kProductsSeconds = 60.0;
constexpr double kNoiseDensity = 100e-6;
constexpr double kNoiseRidge = 1.0;
// The noise's products are integrated over frequency from kLowestNoise to kHighestNoise (Hz),
// in kNoiseSteps steps even in the logarithm: the filters pass nothing below the first, and
// the double integration leaves next to nothing above the second.
constexpr double kLowestNoise = 1e-4;
constexpr double kHighestNoise = 10.0;
constexpr int kNoiseSteps = 2000;
// What leaks into the vertical acceleration: a tilt error turns a part of the horizontal
// specific force into it. The tilt error an accelerometer's bias leaves, and the one a turn
// leaves while the filter learns the vessel's speed, stay with the vessel's axes, and so does
// the turn's acceleration: the leak is a constant share of the horizontal force along and
// across the bow.
CHeaveFilter::Leaks LeaksOf(const Vec3& levelForce, const Mat3& bodyToLevel) {
    const Vec3 bow{bodyToLevel[0], bodyToLevel[3], bodyToLevel[6]};  // the body's x, level
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
    static_assert(kPeriodShares[kSet] == 1.0);
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
    if (!changed && m_noise[0][0] > 0.0) {
        return;
    }
    // The noise's part of the filters' heaves' products for a noise of 1 (m/s²)²/Hz
    // (two-sided): through each pair of responses, over positive and negative frequencies.
    const double step = std::log(kHighestNoise / kLowestNoise) / kNoiseSteps;
    m_noise = {};
    for (int k = 0; k < kNoiseSteps; ++k) {
        const double hertz = kLowestNoise * std::exp((k + 0.5) * step);
        std::array<std::complex<double>, kFilters> response;
        for (int i = 0; i < kFilters; ++i) {
            response[i] = m_filters[i].Response(2.0 * std::numbers::pi * hertz);
        }
        const double weight = 2.0 * hertz * step;
        for (int i = 0; i < kFilters; ++i) {
            for (int j = 0; j < kFilters; ++j) {
                m_noise[i][j] += weight * std::real(response[i] * std::conj(response[j]));
            }
        }
    }
}

void CPointMotion::Reset() {
    for (CHeaveFilter& filter : m_filters) {
        filter.Reset();
    }
    m_products = {};
    m_weights = {};
    m_haveWeights = false;
    m_productsSince = -1;
    m_nextWeights = 0;
    m_noiseSquares = 0;
    m_lastVertical = {};
    m_noiseHistory = 0;
    m_noiseSamples = 0;
    m_started = false;
    m_older = 0;
    m_haveRates = false;
    m_smooth1 = m_smooth2 = {};
    m_meanUpSince = -1;
    m_lever = 0;
    m_haveCentre = false;
    m_centre = {};
}

std::array<double, CPointMotion::kFilters> CPointMotion::Weights() const {
    if (Combined()) {
        return m_weights;
    }
    std::array<double, kFilters> alone{};
    alone[kSet] = 1.0;
    return alone;
}

void CPointMotion::Update(double seconds, const Vec3& specificForce, const Quat& bodyToLevel,
                          const Vec3& sensorFromCentre) {
    // A reading beyond any accelerometer's or an orientation that is no rotation (either not a
    // number, say) is passed over: taken in, it would stay in the mean level and the smoothed
    // accelerations for good.
    if (!std::isfinite(seconds) || !(Norm(specificForce) <= kMaxForce) || !Rotation(bodyToLevel)) {
        return;
    }
    // An older sample is passed over, as the attitude filter passes it over (two devices'
    // readings merged a trace out of order); a run of them says the clock went back, and the
    // heave starts anew from them.
    if (m_started && seconds < m_lastSeconds && ++m_older < kOlderInARow) {
        return;
    }
    m_older = 0;
    const Mat3 rotation = RotationOf(bodyToLevel);
    const Vec3 arm = Apply(rotation, m_point);
    const Vec3 up{rotation[6], rotation[7], rotation[8]};  // the level's up, in body axes
    Vec3 accel = Apply(rotation, specificForce);
    accel.z -= kStandardGravity;
    const CHeaveFilter::Leaks leaks = LeaksOf(accel, rotation);
    const Vec3 centre = UpdateLever(seconds, up, sensorFromCentre);
    const double dt = seconds - m_lastSeconds;
    if (!m_started || dt <= 0.0 || dt > kLongestGap) {
        m_started = true;
        m_lastSeconds = seconds;
        m_lastArm = arm;
        m_lastUp = up;
        m_haveRates = false;
        m_smooth1 = m_smooth2 = accel;
        m_noiseHistory = 0;  // a gap: the next second difference would span it
        for (CHeaveFilter& filter : m_filters) {
            filter.Update(seconds, accel.z, leaks);
        }
        return;
    }
    MeasureNoise(accel.z, dt);
    // The centre's vertical acceleration: the sensor's, less the second difference of the
    // sensor's height over the centre, taken with the centre as it stands now at all three
    // times (as it is learnt it moves, and its moves are no acceleration). The heave
    // filter's two integrations undo the differences, so the orientation's small noise
    // reaches the heave at no more than its own size.
    const Vec3 upRate = Scale(Sub(up, m_lastUp), 1.0 / dt);
    double vertical = accel.z;
    if (m_haveRates) {
        vertical -= Dot(Sub(upRate, m_lastUpRate), centre) / dt;
    }
    m_lastUpRate = upRate;
    m_lastUp = up;
    // The point's acceleration, for the motion telegram: the sensor's, and the second
    // difference of where the lever puts the point.
    const Vec3 armRate = Scale(Sub(arm, m_lastArm), 1.0 / dt);
    if (m_haveRates) {
        accel = Add(accel, Scale(Sub(armRate, m_lastArmRate), 1.0 / dt));
    }
    m_lastArmRate = armRate;
    m_haveRates = true;
    m_lastArm = arm;
    m_lastSeconds = seconds;
    for (CHeaveFilter& filter : m_filters) {
        filter.Update(seconds, vertical, leaks);
    }
    Combine(seconds, dt);
    const double share = 1.0 - std::exp(-dt / kSmoothing);
    m_smooth1 = Add(m_smooth1, Scale(Sub(accel, m_smooth1), share));
    m_smooth2 = Add(m_smooth2, Scale(Sub(m_smooth1, m_smooth2), share));
}

Vec3 CPointMotion::UpdateLever(double seconds, const Vec3& up, const Vec3& sensorFromCentre) {
    const double dt = seconds - m_lastSeconds;
    const bool following = m_started && dt > 0.0 && dt <= kLongestGap;
    if (m_meanUpSince < 0 || seconds < m_lastSeconds) {
        m_meanUpSince = seconds;
        m_meanUp = up;
    } else if (following) {
        const double span = std::clamp(seconds - m_meanUpSince, dt, kLevelMemory);
        m_meanUp = Add(m_meanUp, Scale(Sub(up, m_meanUp), 1.0 - std::exp(-dt / span)));
    }
    if (Finite(sensorFromCentre)) {
        if (!m_haveCentre) {
            m_centre = sensorFromCentre;
            m_haveCentre = true;
        } else if (following) {
            m_centre = Add(m_centre, Scale(Sub(sensorFromCentre, m_centre),
                                           1.0 - std::exp(-dt / kCentreSmoothing)));
        }
    }
    m_lever = Dot(Sub(up, m_meanUp), Add(m_centre, m_point));
    return m_centre;
}

void CPointMotion::MeasureNoise(double vertical, double dt) {
    // The sensor's own vertical acceleration, before the lever adds the turn of the point:
    // the orientation's noise in that turn is no accelerometer noise.
    if (m_noiseHistory >= 2) {
        const double second = vertical - 2.0 * m_lastVertical[0] + m_lastVertical[1];
        // σ² = density² / dt for white noise: the density² is σ² dt.
        const double sample = second * second * dt / 6.0;
        ++m_noiseSamples;
        m_noiseSquares += (sample - m_noiseSquares) / static_cast<double>(m_noiseSamples);
    }
    m_lastVertical[1] = m_lastVertical[0];
    m_lastVertical[0] = vertical;
    m_noiseHistory = std::min(m_noiseHistory + 1, 2);
}

double CPointMotion::NoiseDensity() const {
    if (m_noiseSamples == 0) {
        return kNoiseDensity;
    }
    return std::min(kNoiseDensity, std::sqrt(m_noiseSquares) / kStandardGravity);
}

void CPointMotion::Combine(double seconds, double dt) {
    // The heave of the first half of the settling still carries the start's fit: it is not
    // the sea's.
    const CHeaveFilter& set = m_filters[kSet];
    if (!m_following || set.SettlingLeft() > CHeaveFilter::kSettlingSeconds / 2) {
        return;
    }
    if (m_productsSince < 0) {
        m_productsSince = seconds;
    }
    // An average of all there is until the memory is full, forgetting from then on.
    const double span = std::clamp(seconds - m_productsSince, dt, kProductsMemory);
    const double forget = 1.0 - std::exp(-dt / span);
    // The products are symmetric: the upper triangle is averaged, the lower one copied at the
    // solve.
    for (int i = 0; i < kFilters; ++i) {
        for (int j = i; j < kFilters; ++j) {
            const double product = m_filters[i].Heave() * m_filters[j].Heave();
            m_products[i][j] += forget * (product - m_products[i][j]);
        }
    }
    if (!set.Settled() || seconds - m_productsSince < kProductsSeconds || seconds < m_nextWeights) {
        return;
    }
    m_nextWeights = seconds + kRefitSeconds;
    // The weights w that leave the least error: Σ_j products_ij w_j = what filter i's heave
    // shares with the sea's, taken as the set filter's heave less its noise.
    Square a = m_products;
    for (int i = 1; i < kFilters; ++i) {
        for (int j = 0; j < i; ++j) {
            a[i][j] = a[j][i];
        }
    }
    std::array<double, kFilters> b{};
    const double noise = NoiseDensity() * NoiseDensity() * kStandardGravity * kStandardGravity;
    for (int i = 0; i < kFilters; ++i) {
        b[i] = a[kSet][i] - noise * m_noise[kSet][i];  // before the ridge is added below
        a[i][i] += kNoiseRidge * noise * m_noise[i][i];
    }
    std::array<double, kFilters> weights{};
    if (Solve<kFilters>(a, b, weights) &&
        std::all_of(weights.begin(), weights.end(), [](double w) { return std::isfinite(w); })) {
        m_weights = weights;
        m_haveWeights = true;
    }
}

PointMotion CPointMotion::Motion() const {
    PointMotion motion;
    const std::array<double, kFilters> weights = Weights();
    for (int i = 0; i < kFilters; ++i) {
        motion.heave += weights[i] * m_filters[i].Heave();
    }
    motion.heave += m_lever;
    motion.verticalAcceleration = m_smooth2.z;
    motion.horizontalAcceleration = std::hypot(m_smooth2.x, m_smooth2.y);
    motion.settled = m_filters[kSet].Settled();
    return motion;
}

}  // namespace attfilter
