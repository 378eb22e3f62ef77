// What the device tests share: the true attitude as a fused device's quaternion, the sensor
// link's rules that read the delivered arrays back, a device driven through its table, and
// captured trace lines.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <mutex>
#include <numbers>
#include <string>
#include <vector>

#include "filter/AttitudeFilter.h"
#include "interfaces/ErrorLog.h"
#include "mtobj/IioScan.h"
#include "mtobj/SensorDevice.h"
#include "mtobj/VesselMotion.h"

namespace iio_test {

constexpr double kRad = std::numbers::pi / 180.0;

inline double AngleDiff(double a, double b) {
    return std::fabs(std::fmod(a - b + 540.0, 360.0) - 180.0);
}

// The largest of the three differences between two attitudes.
inline double Error(const mtobj::Attitude& a, const mtobj::Attitude& b) {
    return std::max({AngleDiff(a.heading, b.heading), std::fabs(a.pitch - b.pitch),
                     std::fabs(a.roll - b.roll)});
}

using Quat = std::array<double, 4>;  // w, x, y, z
inline Quat Multiply(const Quat& a, const Quat& b) {
    return attfilter::QuaternionProduct(a, b);
}
// A turn by `degrees` about the x (0), y (1) or z (2) axis.
inline Quat About(int axis, double degrees) {
    Quat q{std::cos(degrees * kRad / 2), 0, 0, 0};
    q[static_cast<std::size_t>(axis) + 1] = std::sin(degrees * kRad / 2);
    return q;
}

// Reads an attitude back from the arrays of one sample, as the sensor link does: its matrix
// rule in mode 2, its Euler rule in mode 1.
inline mtobj::Attitude ReadBack(const std::vector<float>& v, int mode) {
    constexpr double K = 57.295776;
    mtobj::Attitude a;
    if (mode == 2) {
        a.pitch = std::asin(v[2]) * K;
        a.roll = std::asin(v[5]) * K;
        a.heading = -std::atan2(v[6] * v[5] - v[7] * v[2], -(v[7] * v[5]) - v[6] * v[2]) * K;
    } else {
        a.pitch = -v[1];
        a.heading = -v[2];
        a.roll = std::asin(std::cos(a.pitch * kRad) * std::sin(v[0] * kRad)) / kRad;
    }
    while (a.heading < 0) {
        a.heading += 360;
    }
    while (a.heading >= 360) {
        a.heading -= 360;
    }
    return a;
}

// Every trace line while it lives.
class Traces {
public:
    Traces() {
        faultbook::SetTraceSink([this](const faultbook::TraceRecord& r) {
            std::lock_guard lock(m_mutex);
            m_lines.push_back(r.context + ": " + r.text);
        });
    }
    ~Traces() { faultbook::SetTraceSink(nullptr); }
    bool Has(const std::string& part) const {
        std::lock_guard lock(m_mutex);
        return std::any_of(m_lines.begin(), m_lines.end(),
                           [&](const std::string& l) { return l.find(part) != std::string::npos; });
    }
    std::string All() const {
        std::lock_guard lock(m_mutex);
        std::string all;
        for (const auto& l : m_lines) {
            all += l + "\n";
        }
        return all;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

// Reads batches until `count` arrays came or `seconds` passed.
inline std::vector<std::vector<float>> ReadArrays(mtobj::ISensorDevice& device, std::size_t count,
                                                  double seconds = 10) {
    std::vector<std::vector<float>> arrays;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (arrays.size() < count && std::chrono::steady_clock::now() < end) {
        double newest = 0;
        device.ReadBatch(arrays, newest, 100);
    }
    return arrays;
}

}  // namespace iio_test
