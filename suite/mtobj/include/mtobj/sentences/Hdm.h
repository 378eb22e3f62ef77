// Heading, magnetic (NMEA):
//   $HCHDM,hhh.hhh,M*cc<CR><LF>
//          1       2
//   1 heading, degrees magnetic, "%07.3f"   2 "M"
// Read from any talker.
#pragma once

#include "mtobj/sentences/Sentence.h"

namespace mtobj::telegrams {
std::size_t FormatHDM(char* out, float magneticHeading);
ParseResult ParseHDM(std::string_view body);
extern const Sentence kHDM;
}  // namespace mtobj::telegrams
