#include "HeaveRun.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <numbers>
#include <random>

#include "filter/AttitudeFilter.h"
#include "mtobj/GroundVelocity.h"

mtobj::RawScenario HeaveSea(double peakPeriod, double significantHeave, bool withTurns,
                            std::uint32_t seed) {
    mtobj::RawScenario s = mtobj::DrawScenario(
        withTurns ? mtobj::SeaKind::HeavyWithTurns : mtobj::SeaKind::Heavy, seed);
    s.sea.heavePeriod = peakPeriod;
    s.sea.heaveSignificant = significantHeave;
    s.sea.rollSignificant = std::min(18.0, 1.0 + 4.0 * significantHeave);
    s.sea.pitchSignificant = 0.5 + 1.5 * significantHeave;
    s.sea.swaySignificant = 0.4 * significantHeave;
    s.sea.surgeSignificant = 0.15 * significantHeave;
    std::mt19937 draw(seed * 2654435761U + 17U);
    std::uniform_real_distribution<double> bias(-0.05, 0.05);
    s.accelOffset = {bias(draw), bias(draw), bias(draw)};
    return s;
}

CTextbookHeave::CTextbookHeave(double period, double rate) {
    const double w = 2.0 * std::numbers::pi / period;
    const double k = 2.0 * rate;  // the bilinear transform's 2 / dt
    const double a1 = std::numbers::sqrt2 * w;
    const double norm = k * k + a1 * k + w * w;
    for (Stage* stage : {&m_velocity, &m_position}) {
        // s / (s² + a1 s + w²), each integral in one: v = BP(a), x = BP(v), each divided by
        // dt's worth of gain so the pass band integrates.
        stage->b0 = k / norm;
        stage->b2 = -k / norm;
        stage->a1 = 2.0 * (w * w - k * k) / norm;
        stage->a2 = (k * k - a1 * k + w * w) / norm;
    }
}

double CTextbookHeave::Stage::Step(double x) {
    const double y = b0 * x + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
}

double CTextbookHeave::Update(double verticalAcceleration) {
    return m_position.Step(m_velocity.Step(verticalAcceleration));
}

HeaveErrors HeaveRun::Run() const {
    mtobj::CRawMotion motion(scenario, rate);
    attfilter::CAttitudeFilter filter(tuning);
    attfilter::CPointMotion heave(point, period);
    heave.SetFollowingTheSea(followSea);
    CTextbookHeave textbook(period, rate);
    // The point's height over the sensor at the last two samples, for the textbook filter's
    // acceleration at the point.
    double height1 = 0, height2 = 0;
    int heights = 0;
    double sum = 0, squares = 0, baseSum = 0, baseSquares = 0;
    long counted = 0, settledCount = 0;
    std::deque<double> window;  // the errors over the last 30 s
    double windowSum = 0, windowSquares = 0;
    const auto windowLength = static_cast<std::size_t>(30 * rate);
    std::size_t sinceWindow = 0;  // samples since the last whole window was recorded
    HeaveErrors e;
    std::mt19937 receiverNoise(static_cast<std::uint32_t>(scenario.speedKnots * 1000));
    std::normal_distribution<double> velocityNoise(0.0, 0.03);
    double nextReading = 0;
    const auto count = static_cast<long>(seconds * rate);
    for (long i = 0; i < count; ++i) {
        mtobj::RawTruth truth;
        const attfilter::RawSample raw = motion.Next(&truth);
        filter.Update(raw);
        const bool lost =
            raw.seconds >= groundLostFrom && raw.seconds < groundLostFrom + groundLostFor;
        if (groundVelocityLag >= 0 && raw.seconds >= nextReading && !lost) {
            nextReading = raw.seconds + 0.2;
            const double then = raw.seconds - groundVelocityLag;
            const attfilter::Vec3 v = motion.VelocityAt(then, antenna);
            const double north = v.x + velocityNoise(receiverNoise);
            const double west = v.y + velocityNoise(receiverNoise);
            const double off = groundCourseOff * std::numbers::pi / 180.0;  // clockwise
            const double c = std::cos(off), s = std::sin(off);
            filter.MeasureGroundVelocity(
                std::min(raw.seconds, then + groundStampLate), c * north + s * west,
                c * west - s * north,
                {antenna.x + antennaOff.x, antenna.y + antennaOff.y, antenna.z + antennaOff.z},
                mtobj::GroundVelocitySigma(std::hypot(north, west)));
        }
        if (!filter.HasAttitude()) {
            e.settled = truth.seconds;
            continue;
        }
        const attfilter::Quat q =
            trueAttitude ? attfilter::OrientationOf(truth.attitude) : filter.Quaternion();
        const attfilter::Vec3 sensorFromCentre = centre == Centre::Learnt ? filter.LeverArm()
                                                 : centre == Centre::True ? scenario.leverArm
                                                                          : attfilter::Vec3{};
        heave.Update(raw.seconds, raw.accel, q, sensorFromCentre);
        // The textbook filter: the same vertical acceleration at the point.
        const double w = q[0], x = q[1], y = q[2], z = q[3];
        const double up[3] = {2 * (x * z - w * y), 2 * (y * z + w * x),
                              1 - 2 * (x * x + y * y)};  // the level z axis in body axes
        double vertical = up[0] * raw.accel.x + up[1] * raw.accel.y + up[2] * raw.accel.z - 9.80665;
        const double height = up[0] * point.x + up[1] * point.y + up[2] * point.z;
        if (heights >= 2) {
            vertical += (height - 2 * height1 + height2) * rate * rate;
        }
        height2 = height1;
        height1 = height;
        heights = std::min(heights + 1, 2);
        const double base = textbook.Update(vertical);

        const double truthHeave = motion.HeaveAt(truth.seconds, point);
        const double error = heave.Motion().heave - truthHeave;
        window.push_back(error);
        windowSum += error;
        windowSquares += error * error;
        if (window.size() > windowLength) {
            windowSum -= window.front();
            windowSquares -= window.front() * window.front();
            window.pop_front();
        }
        const auto n = static_cast<double>(window.size());
        if (++sinceWindow == windowLength) {
            sinceWindow = 0;
            e.windows.push_back(
                std::sqrt(std::max(0.0, windowSquares / n - (windowSum / n) * (windowSum / n))));
        }
        if (window.size() < windowLength ||
            windowSquares / n - (windowSum / n) * (windowSum / n) > limit * limit) {
            e.settled = truth.seconds;
        }
        if (truth.seconds < from) {
            continue;
        }
        sum += error;
        squares += error * error;
        const double baseError = base - truthHeave;
        baseSum += baseError;
        baseSquares += baseError * baseError;
        settledCount += heave.Motion().settled ? 1 : 0;
        ++counted;
    }
    if (counted > 0) {
        const auto n = static_cast<double>(counted);
        e.rms = std::sqrt(std::max(0.0, squares / n - (sum / n) * (sum / n)));
        e.baselineRms = std::sqrt(std::max(0.0, baseSquares / n - (baseSum / n) * (baseSum / n)));
        e.settledShare = static_cast<double>(settledCount) / n;
    }
    return e;
}
