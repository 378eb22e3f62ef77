#include "mtobj/VesselMotion.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace mtobj {
namespace {
constexpr double kPi = std::numbers::pi;
constexpr double kRad = kPi / 180.0;

// splitmix64: a small, well-mixed generator whose sequence is the same everywhere.
class SeedSequence {
public:
    explicit SeedSequence(std::uint32_t seed) : m_state(seed) {}
    double Uniform(double low, double high) {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        z ^= z >> 31;
        return low + (high - low) * static_cast<double>(z >> 11) / 9007199254740992.0;
    }

private:
    std::uint64_t m_state;
};

double Wave(double amplitude, double period, double phase, double t) {
    return amplitude * std::sin(2.0 * kPi * t / period + phase);
}
}  // namespace

VesselMotion::VesselMotion(std::uint32_t seed) : m_seed(seed) {
    SeedSequence s(seed);
    m_heading0 = s.Uniform(0, 360);
    m_turnRate = s.Uniform(-1.5, 1.5);
    m_yawAmp = s.Uniform(0.5, 2.0);
    m_yawPeriod = s.Uniform(15, 30);
    m_yawPhase = s.Uniform(0, 2 * kPi);
    m_list = s.Uniform(1.0, 3.0) * (s.Uniform(0, 1) < 0.5 ? -1 : 1);
    m_rollAmp = s.Uniform(4, 12);
    m_rollPeriod = s.Uniform(6, 10);
    m_rollPhase = s.Uniform(0, 2 * kPi);
    m_trim = s.Uniform(0.5, 2.0) * (s.Uniform(0, 1) < 0.5 ? -1 : 1);
    m_pitchAmp = s.Uniform(1.5, 5);
    m_pitchPeriod = s.Uniform(4, 7);
    m_pitchPhase = s.Uniform(0, 2 * kPi);
    m_shiverPhase = s.Uniform(0, 2 * kPi);
}

Attitude VesselMotion::At(double t) const {
    Attitude a;
    const double shiver = std::sin(2.0 * kPi * t / 0.37 + m_shiverPhase);
    double heading =
        m_heading0 + m_turnRate * t + Wave(m_yawAmp, m_yawPeriod, m_yawPhase, t) + 0.05 * shiver;
    heading = std::fmod(heading, 360.0);
    if (heading < 0) {
        heading += 360.0;
    }
    a.heading = heading;
    a.roll = m_list + Wave(m_rollAmp, m_rollPeriod, m_rollPhase, t) + 0.1 * shiver;
    a.pitch = m_trim + Wave(m_pitchAmp, m_pitchPeriod, m_pitchPhase, t) - 0.08 * shiver;
    return a;
}

std::array<float, 9> VesselMotion::Matrix(const Attitude& a) {
    // The third column is (sin pitch, sin roll, m8) and the third row (m6, m7, m8), with
    // m6, m7 chosen so that the heading rule gives the heading; the whole matrix is the
    // z-y-z rotation with that column and row.
    const double sp = std::sin(a.pitch * kRad);
    const double sr = std::sin(a.roll * kRad);
    const double ch = std::cos(a.heading * kRad);
    const double sh = std::sin(a.heading * kRad);
    const double k = sp * sp + sr * sr;
    const double m8 = std::sqrt(std::max(0.0, 1.0 - k));
    double alpha = 0;
    double gamma = -a.heading * kRad;
    if (k > 0) {
        alpha = std::atan2(sr, sp);
        const double m6 = -sp * ch - sr * sh;
        const double m7 = -sr * ch + sp * sh;
        gamma = std::atan2(m7, -m6);
    }
    const double beta = std::acos(std::clamp(m8, -1.0, 1.0));
    const double ca = std::cos(alpha), sa = std::sin(alpha);
    const double cb = std::cos(beta), sb = std::sin(beta);
    const double cg = std::cos(gamma), sg = std::sin(gamma);
    return {static_cast<float>(ca * cb * cg - sa * sg),
            static_cast<float>(-ca * cb * sg - sa * cg),
            static_cast<float>(ca * sb),
            static_cast<float>(sa * cb * cg + ca * sg),
            static_cast<float>(-sa * cb * sg + ca * cg),
            static_cast<float>(sa * sb),
            static_cast<float>(-sb * cg),
            static_cast<float>(sb * sg),
            static_cast<float>(cb)};
}

std::array<float, 4> VesselMotion::Quaternion(const Attitude& a) {
    const std::array<float, 9> f = Matrix(a);
    double m[9];
    std::copy(f.begin(), f.end(), m);
    double w, x, y, z;
    const double trace = m[0] + m[4] + m[8];
    if (trace > 0) {
        const double s = std::sqrt(trace + 1.0) * 2;
        w = 0.25 * s;
        x = (m[7] - m[5]) / s;
        y = (m[2] - m[6]) / s;
        z = (m[3] - m[1]) / s;
    } else if (m[0] > m[4] && m[0] > m[8]) {
        const double s = std::sqrt(1.0 + m[0] - m[4] - m[8]) * 2;
        w = (m[7] - m[5]) / s;
        x = 0.25 * s;
        y = (m[1] + m[3]) / s;
        z = (m[2] + m[6]) / s;
    } else if (m[4] > m[8]) {
        const double s = std::sqrt(1.0 + m[4] - m[0] - m[8]) * 2;
        w = (m[2] - m[6]) / s;
        x = (m[1] + m[3]) / s;
        y = 0.25 * s;
        z = (m[5] + m[7]) / s;
    } else {
        const double s = std::sqrt(1.0 + m[8] - m[0] - m[4]) * 2;
        w = (m[3] - m[1]) / s;
        x = (m[2] + m[6]) / s;
        y = (m[5] + m[7]) / s;
        z = 0.25 * s;
    }
    if (w < 0) {
        w = -w, x = -x, y = -y, z = -z;
    }
    return {static_cast<float>(w), static_cast<float>(x), static_cast<float>(y),
            static_cast<float>(z)};
}

std::array<float, 3> VesselMotion::Euler(const Attitude& a) {
    const double bank = std::sin(a.roll * kRad) / std::cos(a.pitch * kRad);
    const double heading = a.heading > 180.0 ? a.heading - 360.0 : a.heading;
    return {static_cast<float>(std::asin(std::clamp(bank, -1.0, 1.0)) / kRad),
            static_cast<float>(-a.pitch), static_cast<float>(-heading)};
}

}  // namespace mtobj
