#include "app/SampleBuffer.h"

#include <cmath>

#include "interfaces/ErrorLog.h"

namespace {
inline float F(double v) {
    return static_cast<float>(v);
}
}  // namespace

Quaternion Quaternion::operator+(const Quaternion& b) const {
    return {F(double(q0) + b.q0), F(double(q1) + b.q1), F(double(q2) + b.q2), F(double(q3) + b.q3)};
}

Quaternion Quaternion::operator-(const Quaternion& b) const {
    return {F(double(q0) - b.q0), F(double(q1) - b.q1), F(double(q2) - b.q2), F(double(q3) - b.q3)};
}

Quaternion Quaternion::operator*(double s) const {
    return {F(q0 * s), F(q1 * s), F(q2 * s), F(q3 * s)};
}

Quaternion Quaternion::operator/(double s) const {
    return {F(q0 / s), F(q1 / s), F(q2 / s), F(q3 / s)};
}

Quaternion Quaternion::operator*(const Quaternion& b) const {
    const Quaternion& a = *this;
    auto p = [](float x, float y) { return F(double(x) * y); };
    Quaternion r;
    r.q0 = F(double(F(double(F(double(p(a.q0, b.q0)) - p(a.q1, b.q1))) - p(a.q2, b.q2))) -
             p(a.q3, b.q3));
    r.q1 = F(double(F(double(F(double(p(a.q0, b.q1)) + p(a.q1, b.q0))) + p(a.q2, b.q3))) -
             p(a.q3, b.q2));
    r.q2 = F(double(F(double(F(double(p(a.q0, b.q2)) - p(a.q1, b.q3))) + p(a.q2, b.q0))) +
             p(a.q3, b.q1));
    r.q3 = F(double(F(double(F(double(p(a.q0, b.q3)) + p(a.q1, b.q2))) - p(a.q2, b.q1))) +
             p(a.q3, b.q0));
    return r;
}

double Quaternion::Norm() const {
    return std::sqrt(double(q0) * q0 + double(q1) * q1 + double(q2) * q2 + double(q3) * q3);
}

Quaternion Quaternion::Conjugate() const {
    return {q0, -q1, -q2, -q3};
}

Quaternion Quaternion::Inverse() const {
    const double n = Norm();
    return Conjugate() / (n * n);
}

double Quaternion::Dot(const Quaternion& b) const {
    return double(q0) * b.q0 + double(q1) * b.q1 + double(q2) * b.q2 + double(q3) * b.q3;
}

bool Normalise(Quaternion& v) {
    const double n = v.Norm();
    if (!(n > 0) || !std::isfinite(n)) {
        return false;
    }
    v = v / n;
    return true;
}

void CSampleBuffer::SetCapacity(std::uint32_t capacity) {
    m_capacity = capacity;
    while (m_samples.size() > m_capacity) {
        m_samples.pop_back();
    }
}

bool CSampleBuffer::AppendSample(const Quaternion& q, double time) {
    m_samples.push_front({q.q0, q.q1, q.q2, q.q3, time});
    while (m_samples.size() > m_capacity) {
        m_samples.pop_back();
    }
    return true;
}

bool CSampleBuffer::GetLatestSample(Quaternion& q, double& time) const {
    if (m_samples.empty()) {
        return false;
    }
    q = m_samples.front().Q();
    time = m_samples.front().time;
    return true;
}

bool CSampleBuffer::GetInWindow(Quaternion& q, double t, double window) const {
    const double t1 = t - window;
    if (m_samples.size() < 2) {
        if (m_samples.empty()) {
            return false;
        }
        q = m_samples.front().Q();
        m_log.TraceNow("Get in Window", "Only one sample in buffer");
        return true;
    }
    Quaternion sum{0, 0, 0, 0};
    int n = 0;
    for (const OrientationSample& s : m_samples) {
        if (s.time < t1) {
            break;
        }
        sum = sum + s.Q();
        ++n;
    }
    q = sum;
    const bool directed = Normalise(q);
    if (n <= 2) {
        m_log.TraceNow("Get in window",
                       " not enough data found in buffer n=%d Buff Size = %d t= %f t1= %f  \n", n,
                       static_cast<int>(m_samples.size()), t, t1);
        return false;
    }
    // Opposite samples can cancel: a sum without direction is no orientation.
    return directed;
}

bool CSampleBuffer::GetInterpolated(Quaternion& q, double t, const double& minimumGap) const {
    m_log.Trace("Get", "Sample Time PC millisecs %.14f", t);
    if (m_samples.size() < 2) {
        return false;
    }
    std::size_t i = 0;
    while (i < m_samples.size() && m_samples[i].time > t) {
        ++i;
    }
    if (i == m_samples.size()) {
        return false;  // before the oldest sample
    }
    const OrientationSample& s1 = m_samples[i];
    if (i > 0) {
        const OrientationSample& s2 = m_samples[i - 1];
        const double f = (t - s1.time) / (s2.time - s1.time);
        Quaternion v = s1.Q() * (1.0 - f) + s2.Q() * f;
        if (!Normalise(v)) {
            return false;
        }
        q = v;
        return true;
    }
    const OrientationSample& older = m_samples[1];
    const double gap = s1.time - older.time;
    if (!(gap > minimumGap)) {
        return false;
    }
    const Quaternion qN = s1.Q();
    const Quaternion rate = (qN * qN.Inverse()) * ((qN - older.Q()) / gap);
    Quaternion v = qN + rate * (t - s1.time);
    if (!Normalise(v)) {
        return false;
    }
    q = v;
    m_log.Trace("Get Extrapolating", "Sample Time PC millisecs %.14f", t);
    return true;
}
