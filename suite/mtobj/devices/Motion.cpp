#include "mtobj/Motion.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <initializer_list>

namespace mtobj {

const char* GroundVelocityText(GroundVelocityUse use) {
    switch (use) {
        case GroundVelocityUse::NoFix:
            return "no GNSS fix";
        case GroundVelocityUse::NotUsed:
            return "GNSS not used: the heading is not from a calibrated magnetometer";
        case GroundVelocityUse::Waiting:
            return "GNSS velocity waits for roll and pitch to settle";
        case GroundVelocityUse::Used:
            return "GNSS velocity in use";
        case GroundVelocityUse::None:
            break;
    }
    return "";
}

std::string HeaveSettings::Problem() const {
    using attfilter::CHeaveFilter;
    if (!std::isfinite(period) || period < CHeaveFilter::kMinPeriod ||
        period > CHeaveFilter::kMaxPeriod) {
        return "the heave filter's period must be 5 to 30 seconds";
    }
    const auto within = [](std::initializer_list<double> arm) {
        return std::all_of(arm.begin(), arm.end(), [](double metres) {
            return std::isfinite(metres) && std::abs(metres) <= kLongestArm;
        });
    };
    char text[96];
    if (!within({x, y, z})) {
        std::snprintf(text, sizeof text,
                      "the monitoring point must lie within %.0f m of the sensor", kLongestArm);
        return text;
    }
    if (!within({antennaX, antennaY, antennaZ})) {
        std::snprintf(text, sizeof text, "the GNSS antenna must lie within %.0f m of the sensor",
                      kLongestArm);
        return text;
    }
    if (gnssBaud <= 0 || gnssBaud > kFastestBaud) {
        return "the GNSS receiver's baud rate must be 1 to 4000000";
    }
    if (gnssPort.size() > kLongestPortName ||
        std::any_of(gnssPort.begin(), gnssPort.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
        return "the GNSS receiver's port must be a port name such as COM5, or a device path";
    }
    if (!std::isfinite(variation) || std::abs(variation) > 180) {
        return "the magnetic variation must be -180 to 180 degrees";
    }
    return {};
}

}  // namespace mtobj
