// Rate of turn (NMEA), what autopilots and plotters read:
//   $HCROT,r.r,A*cc<CR><LF>
//          1   2
//   1 rate of turn, degrees a minute, "%.1f", negative while the bow turns to port
//   2 "A" valid; "V" with field 1 empty while no rate is known yet (the first second)
// The rate is the true heading's change over the last second of samples.
#pragma once

#include <optional>

#include "mtobj/sentences/Sentence.h"

namespace mtobj::telegrams {
std::size_t FormatROT(char* out, std::optional<float> degreesPerMinute);
extern const Sentence kROT;
}  // namespace mtobj::telegrams
