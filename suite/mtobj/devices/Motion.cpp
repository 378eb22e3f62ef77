#include "mtobj/Motion.h"

#include <cmath>
#include <cstdio>

namespace mtobj {

std::string HeaveSettings::Problem() const {
    using attfilter::CHeaveFilter;
    if (!std::isfinite(period) || period < CHeaveFilter::kMinPeriod ||
        period > CHeaveFilter::kMaxPeriod) {
        return "the heave filter's period must be 5 to 30 seconds";
    }
    for (const double metres : {x, y, z}) {
        if (!std::isfinite(metres) || std::abs(metres) > kLongestArm) {
            char text[96];
            std::snprintf(text, sizeof text,
                          "the monitoring point must lie within %.0f m of the sensor", kLongestArm);
            return text;
        }
    }
    return {};
}

}  // namespace mtobj
