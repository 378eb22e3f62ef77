#include "MahonyFilter.h"

#include <cmath>

namespace {
using attfilter::Quat;
using attfilter::Vec3;

Vec3 Cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vec3 Unit(const Vec3& v) {
    const double n = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return n > 0 ? Vec3{v.x / n, v.y / n, v.z / n} : v;
}
// v turned by q (body to level), and turned back.
Vec3 Turn(const Quat& q, const Vec3& v, bool back) {
    const double w = q[0], x = back ? -q[1] : q[1], y = back ? -q[2] : q[2],
                 z = back ? -q[3] : q[3];
    return {
        v.x * (1 - 2 * (y * y + z * z)) + v.y * 2 * (x * y - w * z) + v.z * 2 * (x * z + w * y),
        v.x * 2 * (x * y + w * z) + v.y * (1 - 2 * (x * x + z * z)) + v.z * 2 * (y * z - w * x),
        v.x * 2 * (x * z - w * y) + v.y * 2 * (y * z + w * x) + v.z * (1 - 2 * (x * x + y * y))};
}
}  // namespace

void CMahonyFilter::Update(const Vec3& gyro, const Vec3& accel, const Vec3& mag, double dt) {
    // The correction ω_mes = Σ v_i × v̂_i: measured directions against the ones the estimate
    // expects, in body axes (up: the specific force; the field: its reference turned back).
    Vec3 correction;
    const Vec3 up = Unit(accel);
    const Vec3 field = Unit(mag);
    if (up.x != 0 || up.y != 0 || up.z != 0) {
        const Vec3 expectedUp = Turn(m_q, {0, 0, 1}, true);
        correction = Cross(up, expectedUp);
        if (field.x != 0 || field.y != 0 || field.z != 0) {
            const Vec3 h = Turn(m_q, field, false);
            const Vec3 reference = Unit({std::sqrt(h.x * h.x + h.y * h.y), 0, h.z});
            const Vec3 c = Cross(field, Turn(m_q, reference, true));
            correction = {correction.x + c.x, correction.y + c.y, correction.z + c.z};
        }
    }
    // m_bias holds the negated bias estimate, -b̂, whose rate is ki ω_mes.
    m_bias = {m_bias.x + m_ki * correction.x * dt, m_bias.y + m_ki * correction.y * dt,
              m_bias.z + m_ki * correction.z * dt};
    const Vec3 w{gyro.x + m_bias.x + m_kp * correction.x, gyro.y + m_bias.y + m_kp * correction.y,
                 gyro.z + m_bias.z + m_kp * correction.z};
    // q ⊗ exp(ω dt / 2).
    const double angle = std::sqrt(w.x * w.x + w.y * w.y + w.z * w.z) * dt;
    const double s = angle > 1e-12 ? std::sin(angle / 2) / (angle / dt) : dt / 2;
    const Quat d{std::cos(angle / 2), w.x * s, w.y * s, w.z * s};
    const Quat& q = m_q;
    Quat n{q[0] * d[0] - q[1] * d[1] - q[2] * d[2] - q[3] * d[3],
           q[0] * d[1] + q[1] * d[0] + q[2] * d[3] - q[3] * d[2],
           q[0] * d[2] - q[1] * d[3] + q[2] * d[0] + q[3] * d[1],
           q[0] * d[3] + q[1] * d[2] - q[2] * d[1] + q[3] * d[0]};
    const double norm = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2] + n[3] * n[3]);
    m_q = {n[0] / norm, n[1] / norm, n[2] / norm, n[3] / norm};
}
