// True heading and its mode (NMEA), read only:
//   $--THS,x.x,a*hh<CR><LF>
//          1   2
//   1 heading, degrees true
//   2 mode: A autonomous, E estimated (dead reckoning), M manual, S simulator, V not valid
// Only an autonomous heading is used.
#pragma once

#include "mtobj/sentences/Sentence.h"

namespace mtobj::telegrams {
ParseResult ParseTHS(std::string_view body);
extern const Sentence kTHS;
}  // namespace mtobj::telegrams
