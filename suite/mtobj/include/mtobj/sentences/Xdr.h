// Pitch and roll as angular-displacement transducers (NMEA XDR), as plotters' dashboards
// (OpenCPN among them) and python's pynmea2 read them:
//   $HCXDR,A,p.pp,D,PTCH,A,r.rr,D,ROLL*cc<CR><LF>
//          1 2    3 4    5 6    7 8
//   1, 5 transducer type "A" (angular displacement)   2 pitch, degrees, bow up positive
//   3, 7 unit "D" (degrees)                            4 "PTCH", the pitch transducer's name
//   6 roll, degrees, positive with the starboard side down (port side up)
//   8 "ROLL", the roll transducer's name
//   each value "%.2f" with "-" for negative.
#pragma once

#include "mtobj/sentences/Sentence.h"

namespace mtobj::telegrams {
std::size_t FormatXDR(char* out, float pitch, float roll);
extern const Sentence kXDR;
}  // namespace mtobj::telegrams
