// The vessel's motion at the monitoring point, as motion telegrams carry it beside roll and
// pitch: heave and the accelerations there, and whether they can be trusted yet. Made by a
// raw sensor's heave filter, or read from another instrument's motion telegrams.
#pragma once

#include <cstddef>
#include <string>

#include "filter/HeaveFilter.h"

namespace mtobj {

// The units of TSS1's acceleration fields (cm/s² a count): the horizontal one unsigned, the
// vertical one in 16-bit two's complement.
constexpr double kHorizontalAccelerationUnit = 3.83;
constexpr double kVerticalAccelerationUnit = 0.0625;

// How a GNSS receiver's velocity over ground stands in the attitude this motion is made with.
enum class GroundVelocityUse : unsigned char {
    None,     // no receiver set, or motion read from another instrument
    NoFix,    // a receiver is set, but no fix came in the last seconds
    NotUsed,  // fixes come, but the heading is not from a calibrated, undisturbed magnetometer
    Waiting,  // fixes come; the attitude filter takes them once roll and pitch have settled
    Used,     // the attitude filter takes them
};
// What the window says of it ("" for None).
const char* GroundVelocityText(GroundVelocityUse use);

struct Motion {
    double heave = 0;                   // m, positive up
    double verticalAcceleration = 0;    // m/s², positive up, gravity taken out
    double horizontalAcceleration = 0;  // m/s², its size in the level plane
    // 'U' when roll, pitch and heave have settled, 'u' while any is settling or not to be
    // trusted; a letter another instrument sent is passed on as it came.
    char status = 'u';
    GroundVelocityUse ground = GroundVelocityUse::None;
};

// Where the heave is wanted and how it is filtered: the monitoring point (the echo sounder's
// transducer, say) from the sensor in vessel axes (x toward the bow, y toward port, z up;
// metres) and the heave filter's period (the longest waves kept, seconds). A GNSS receiver's
// velocity over ground steadies the attitude in turns, and so the heave: its port (none when
// empty), baud rate and antenna from the sensor in the same axes, and the magnetic variation
// its true course is turned by when the receiver gives none.
struct HeaveSettings {
    double x = 0, y = 0, z = 0;
    double period = attfilter::CHeaveFilter::kDefaultPeriod;  // 5 to 30 s
    std::string gnssPort;
    long gnssBaud = 4800;
    double antennaX = 0, antennaY = 0, antennaZ = 0;
    double variation = 0;  // degrees, east positive
    // A lever arm longer than any vessel's is taken for a mistake.
    static constexpr double kLongestArm = 500;
    static constexpr long kFastestBaud = 4000000;
    static constexpr std::size_t kLongestPortName = 200;

    // Empty when the settings can be used, else why not.
    std::string Problem() const;
};

}  // namespace mtobj
