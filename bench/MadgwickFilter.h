// The baseline the attitude filter is measured against: the gradient-descent orientation
// filter for gyroscope, accelerometer and magnetometer of Madgwick's 2010 report, with its
// magnetic distortion compensation and without gyroscope bias compensation (zeta 0), as
// textbooks give it. Frames as the filter's: body x bow, y port, z up; level x north, y west,
// z up; the quaternion turns body into level axes.
#pragma once

#include "filter/AttitudeFilter.h"

class CMadgwickFilter {
public:
    explicit CMadgwickFilter(double beta = 0.1) : m_beta(beta) {}

    void SetQuaternion(const attfilter::Quat& q) { m_q = q; }
    const attfilter::Quat& Quaternion() const { return m_q; }
    // One step of dt seconds with the rate (rad/s), specific force and field (any units).
    void Update(const attfilter::Vec3& gyro, const attfilter::Vec3& accel,
                const attfilter::Vec3& mag, double dt);

private:
    double m_beta;
    attfilter::Quat m_q{1, 0, 0, 0};
};
