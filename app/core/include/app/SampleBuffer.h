// The last twenty seconds of orientation samples, newest first, and the two answers the
// sensor link draws from them: the smoothed orientation over a window and the orientation
// at a time by interpolation or extrapolation.
#pragma once

#include <cstdint>
#include <deque>

class CErrorLog;

// A unit quaternion (q0 scalar). Every operation forms its intermediate products and sums
// in double and stores each back as float, as the stored samples are single precision.
struct Quaternion {
    float q0 = 1.0F;
    float q1 = 0.0F;
    float q2 = 0.0F;
    float q3 = 0.0F;

    Quaternion operator+(const Quaternion& b) const;
    Quaternion operator-(const Quaternion& b) const;
    Quaternion operator*(double s) const;
    Quaternion operator/(double s) const;
    // The Hamilton product this ⊗ b.
    Quaternion operator*(const Quaternion& b) const;
    double Norm() const;
    Quaternion Conjugate() const;
    Quaternion Inverse() const;
    double Dot(const Quaternion& b) const;
};

struct OrientationSample {
    float q0, q1, q2, q3;
    double time;  // PC ms
    Quaternion Q() const { return {q0, q1, q2, q3}; }
};

class CSampleBuffer {
public:
    // Traces go to the owner's trace log.
    explicit CSampleBuffer(CErrorLog& log) : m_log(log) {}

    void SetCapacity(std::uint32_t capacity);
    std::uint32_t Capacity() const { return m_capacity; }
    std::uint32_t Count() const { return static_cast<std::uint32_t>(m_samples.size()); }
    void Clear() { m_samples.clear(); }

    bool AppendSample(const Quaternion& q, double time);
    bool GetLatestSample(Quaternion& q, double& time) const;
    // The normalised mean of the samples from t - window on (the window has no upper end);
    // fails with fewer than three. A single sample is returned as it is.
    bool GetInWindow(Quaternion& q, double t, double window) const;
    // The normalised blend of the two samples around t, or the step from the two newest
    // when t lies after the newest; fails before the oldest sample.
    bool GetInterpolated(Quaternion& q, double t, const double& minimumGap) const;

private:
    CErrorLog& m_log;
    std::uint32_t m_capacity = 500;
    std::deque<OrientationSample> m_samples;  // newest at the front
};

// v / |v|; false (v unchanged) when v has no direction, e.g. the mean of opposite samples.
bool Normalise(Quaternion& v);
