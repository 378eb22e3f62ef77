// A vessel's motion in closed form: a slow heading change with a yaw wobble, roll and
// pitch swell about a list and a trim, and a small high-frequency shiver standing in for
// noise. Every parameter comes from one seed, so a run repeats exactly and a test can
// compute the true attitude at any time.
#pragma once

#include <array>
#include <cstdint>

namespace mtobj {

struct Attitude {
    double heading = 0;  // degrees, [0, 360)
    double pitch = 0;    // degrees
    double roll = 0;     // degrees
};

class VesselMotion {
public:
    explicit VesselMotion(std::uint32_t seed);

    std::uint32_t Seed() const { return m_seed; }
    // The attitude at t seconds of motion time.
    Attitude At(double seconds) const;

    // What the sensor delivers for an attitude in each output mode.
    // Rotation matrix m0..m8, built so that the sensor link's matrix rule
    // (pitch = asin m2, roll = asin m5, heading from m5, m2, m6, m7) reads the attitude back.
    static std::array<float, 9> Matrix(const Attitude& a);
    // The unit quaternion (q0 scalar) of that matrix.
    static std::array<float, 4> Quaternion(const Attitude& a);
    // Euler angles in the sensor's own signs: roll', -pitch, -heading (signed), where
    // roll' is the bank angle that the sensor link's Euler rule turns back into roll.
    static std::array<float, 3> Euler(const Attitude& a);

private:
    std::uint32_t m_seed;
    double m_heading0, m_turnRate, m_yawAmp, m_yawPeriod, m_yawPhase;
    double m_list, m_rollAmp, m_rollPeriod, m_rollPhase;
    double m_trim, m_pitchAmp, m_pitchPeriod, m_pitchPhase;
    double m_shiverPhase;
};

}  // namespace mtobj
