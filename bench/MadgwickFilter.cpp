#include "MadgwickFilter.h"

#include <cmath>

void CMadgwickFilter::Update(const attfilter::Vec3& gyro, const attfilter::Vec3& accel,
                             const attfilter::Vec3& mag, double dt) {
    const double w = m_q[0], x = m_q[1], y = m_q[2], z = m_q[3];
    // Rate of change from the gyroscope: ½ q ⊗ (0, ω).
    double dw = 0.5 * (-x * gyro.x - y * gyro.y - z * gyro.z);
    double dx = 0.5 * (w * gyro.x + y * gyro.z - z * gyro.y);
    double dy = 0.5 * (w * gyro.y - x * gyro.z + z * gyro.x);
    double dz = 0.5 * (w * gyro.z + x * gyro.y - y * gyro.x);

    const double an = std::sqrt(accel.x * accel.x + accel.y * accel.y + accel.z * accel.z);
    const double mn = std::sqrt(mag.x * mag.x + mag.y * mag.y + mag.z * mag.z);
    if (an > 0 && mn > 0) {
        const double ax = accel.x / an, ay = accel.y / an, az = accel.z / an;
        const double mx = mag.x / mn, my = mag.y / mn, mz = mag.z / mn;
        // Magnetic distortion compensation: the measured field in level axes, h = q m q*,
        // kept as a reference of its horizontal strength along north and its vertical part.
        const double hx =
            mx * (1 - 2 * (y * y + z * z)) + my * 2 * (x * y - w * z) + mz * 2 * (x * z + w * y);
        const double hy =
            mx * 2 * (x * y + w * z) + my * (1 - 2 * (x * x + z * z)) + mz * 2 * (y * z - w * x);
        const double hz =
            mx * 2 * (x * z - w * y) + my * 2 * (y * z + w * x) + mz * (1 - 2 * (x * x + y * y));
        const double bx = std::sqrt(hx * hx + hy * hy);
        const double bz = hz;
        // Objective: the references turned into body axes less the measurements.
        const double f1 = 2 * (x * z - w * y) - ax;
        const double f2 = 2 * (w * x + y * z) - ay;
        const double f3 = 2 * (0.5 - x * x - y * y) - az;
        const double f4 = 2 * bx * (0.5 - y * y - z * z) + 2 * bz * (x * z - w * y) - mx;
        const double f5 = 2 * bx * (x * y - w * z) + 2 * bz * (w * x + y * z) - my;
        const double f6 = 2 * bx * (w * y + x * z) + 2 * bz * (0.5 - x * x - y * y) - mz;
        // Gradient Jᵀ f over (w, x, y, z).
        double gw = -2 * y * f1 + 2 * x * f2 - 2 * bz * y * f4 + (-2 * bx * z + 2 * bz * x) * f5 +
                    2 * bx * y * f6;
        double gx = 2 * z * f1 + 2 * w * f2 - 4 * x * f3 + 2 * bz * z * f4 +
                    (2 * bx * y + 2 * bz * w) * f5 + (2 * bx * z - 4 * bz * x) * f6;
        double gy = -2 * w * f1 + 2 * z * f2 - 4 * y * f3 + (-4 * bx * y - 2 * bz * w) * f4 +
                    (2 * bx * x + 2 * bz * z) * f5 + (2 * bx * w - 4 * bz * y) * f6;
        double gz = 2 * x * f1 + 2 * y * f2 + (-4 * bx * z + 2 * bz * x) * f4 +
                    (-2 * bx * w + 2 * bz * y) * f5 + 2 * bx * x * f6;
        const double gn = std::sqrt(gw * gw + gx * gx + gy * gy + gz * gz);
        if (gn > 0) {
            dw -= m_beta * gw / gn;
            dx -= m_beta * gx / gn;
            dy -= m_beta * gy / gn;
            dz -= m_beta * gz / gn;
        }
    }
    double nw = w + dw * dt, nx = x + dx * dt, ny = y + dy * dt, nz = z + dz * dt;
    const double n = std::sqrt(nw * nw + nx * nx + ny * ny + nz * nz);
    m_q = {nw / n, nx / n, ny / n, nz / n};
}
