// The second baseline the attitude filter is measured against: the explicit complementary
// filter on the rotation group of Mahony, Hamel and Pflimlin (2008), with its gyroscope bias
// estimate, as textbooks give it: the accelerometer taken as the vertical, the magnetometer's
// direction against a reference learnt in the level frame (its strength along north and its
// vertical part), proportional gain kp and integral gain ki. Frames as the filter's: body x
// bow, y port, z up; level x north, y west, z up; the quaternion turns body into level axes.
#pragma once

#include "filter/AttitudeFilter.h"

class CMahonyFilter {
public:
    explicit CMahonyFilter(double kp = 0.2, double ki = 0.02) : m_kp(kp), m_ki(ki) {}

    void SetQuaternion(const attfilter::Quat& q) { m_q = q; }
    const attfilter::Quat& Quaternion() const { return m_q; }
    // One step of dt seconds with the rate (rad/s), specific force and field (any units).
    void Update(const attfilter::Vec3& gyro, const attfilter::Vec3& accel,
                const attfilter::Vec3& mag, double dt);

private:
    double m_kp;
    double m_ki;
    attfilter::Quat m_q{1, 0, 0, 0};
    attfilter::Vec3 m_bias;
};
