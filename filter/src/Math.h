// Small vector, matrix and quaternion helpers of the filter (quaternions w, x, y, z; matrices
// row-major). Private to the library.
#pragma once

#include <array>
#include <cmath>
#include <numbers>

#include "filter/AttitudeFilter.h"

namespace attfilter {

using Mat3 = std::array<double, 9>;

// One degree in radians.
inline constexpr double kDeg = std::numbers::pi / 180.0;
inline constexpr double kStandardGravity = 9.80665;  // m/s²
// No accelerometer reads beyond this (m/s², MEMS ranges end at 16 g): a reading beyond it,
// taken in, would overflow the filters' sums of squares.
inline constexpr double kMaxForce = 20 * kStandardGravity;
// A sample older than the newest is passed over; after this many in a row the clock is taken
// to have gone back, and their times are taken up.
inline constexpr int kOlderInARow = 50;

inline Vec3 Add(const Vec3& a, const Vec3& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 Sub(const Vec3& a, const Vec3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 Scale(const Vec3& a, double s) {
    return {a.x * s, a.y * s, a.z * s};
}
inline double Dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3 Cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double Norm(const Vec3& a) {
    return std::sqrt(Dot(a, a));
}
inline Vec3 Normalised(const Vec3& a) {
    const double n = Norm(a);
    return n > 0 ? Scale(a, 1.0 / n) : a;
}
inline bool Finite(const Vec3& a) {
    return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z);
}
// True for a rotation's quaternion: of unit length, near enough (false for one that is not a
// number).
inline bool Rotation(const Quat& q) {
    return std::abs(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3] - 1.0) < 1e-6;
}
inline Vec3 Apply(const Mat3& m, const Vec3& v) {
    return {m[0] * v.x + m[1] * v.y + m[2] * v.z, m[3] * v.x + m[4] * v.y + m[5] * v.z,
            m[6] * v.x + m[7] * v.y + m[8] * v.z};
}

inline Quat Multiply(const Quat& a, const Quat& b) {
    return {a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3],
            a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2],
            a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1],
            a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0]};
}
inline Quat Normalised(const Quat& q) {
    const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    return {q[0] / n, q[1] / n, q[2] / n, q[3] / n};
}
inline Quat AxisAngle(const Vec3& unitAxis, double angle) {
    const double s = std::sin(angle / 2);
    return {std::cos(angle / 2), unitAxis.x * s, unitAxis.y * s, unitAxis.z * s};
}
// The rotation by a rotation vector (axis times angle, radians).
inline Quat RotationQuat(const Vec3& v) {
    const double angle = Norm(v);
    if (angle < 1e-12) {
        return Normalised(Quat{1, v.x / 2, v.y / 2, v.z / 2});
    }
    return AxisAngle(Scale(v, 1.0 / angle), angle);
}
// Row-major matrix of q: v' = R v.
inline Mat3 RotationOf(const Quat& q) {
    const double w = q[0], x = q[1], y = q[2], z = q[3];
    return {1 - 2 * (y * y + z * z), 2 * (x * y - w * z),     2 * (x * z + w * y),
            2 * (x * y + w * z),     1 - 2 * (x * x + z * z), 2 * (y * z - w * x),
            2 * (x * z - w * y),     2 * (y * z + w * x),     1 - 2 * (x * x + y * y)};
}
inline Mat3 Product(const Mat3& a, const Mat3& b) {
    Mat3 c{};
    for (std::size_t i = 0; i < 3; ++i) {
        for (std::size_t j = 0; j < 3; ++j) {
            c[i * 3 + j] = a[i * 3] * b[j] + a[i * 3 + 1] * b[3 + j] + a[i * 3 + 2] * b[6 + j];
        }
    }
    return c;
}

inline Mat3 Transposed(const Mat3& a) {
    return {a[0], a[3], a[6], a[1], a[4], a[7], a[2], a[5], a[8]};
}

// The quaternion of a rotation matrix (w >= 0).
inline Quat QuatOf(const Mat3& m) {
    Quat q;
    const double trace = m[0] + m[4] + m[8];
    if (trace > 0) {
        const double s = std::sqrt(trace + 1.0) * 2;
        q = {0.25 * s, (m[7] - m[5]) / s, (m[2] - m[6]) / s, (m[3] - m[1]) / s};
    } else if (m[0] > m[4] && m[0] > m[8]) {
        const double s = std::sqrt(1.0 + m[0] - m[4] - m[8]) * 2;
        q = {(m[7] - m[5]) / s, 0.25 * s, (m[1] + m[3]) / s, (m[2] + m[6]) / s};
    } else if (m[4] > m[8]) {
        const double s = std::sqrt(1.0 + m[4] - m[0] - m[8]) * 2;
        q = {(m[2] - m[6]) / s, (m[1] + m[3]) / s, 0.25 * s, (m[5] + m[7]) / s};
    } else {
        const double s = std::sqrt(1.0 + m[8] - m[0] - m[4]) * 2;
        q = {(m[3] - m[1]) / s, (m[2] + m[6]) / s, (m[5] + m[7]) / s, 0.25 * s};
    }
    if (q[0] < 0) {
        q = {-q[0], -q[1], -q[2], -q[3]};
    }
    return Normalised(q);
}
// v turned by q, and turned back.
inline Vec3 Rotate(const Quat& q, const Vec3& v) {
    return Apply(RotationOf(q), v);
}
inline Vec3 RotateBack(const Quat& q, const Vec3& v) {
    return Rotate({q[0], -q[1], -q[2], -q[3]}, v);
}

// Solves a·x = b for a small square system by Gaussian elimination with partial pivoting;
// false when singular.
template <int N>
inline bool Solve(std::array<std::array<double, N>, N> a, std::array<double, N> b,
                  std::array<double, N>& x) {
    for (int col = 0; col < N; ++col) {
        int pivot = col;
        for (int row = col + 1; row < N; ++row) {
            if (std::abs(a[row][col]) > std::abs(a[pivot][col])) {
                pivot = row;
            }
        }
        if (std::abs(a[pivot][col]) < 1e-12) {
            return false;
        }
        std::swap(a[col], a[pivot]);
        std::swap(b[col], b[pivot]);
        for (int row = col + 1; row < N; ++row) {
            const double f = a[row][col] / a[col][col];
            for (int k = col; k < N; ++k) {
                a[row][k] -= f * a[col][k];
            }
            b[row] -= f * b[col];
        }
    }
    for (int row = N - 1; row >= 0; --row) {
        double s = b[row];
        for (int k = row + 1; k < N; ++k) {
            s -= a[row][k] * x[k];
        }
        x[row] = s / a[row][row];
    }
    return true;
}

}  // namespace attfilter
