// Heading, true (NMEA):
//   $HCHDT,hhh.hhh,T*cc<CR><LF>
//          1       2
//   1 heading, degrees true, "%07.3f" (rounded, zero-padded to 7 characters)   2 "T"
//   cc checksum, two hex digits (written lower case, read in either case)
// Read from any talker ("$HEHDT", "$GPHDT").
#pragma once

#include "mtobj/sentences/Sentence.h"

namespace mtobj::telegrams {
std::size_t FormatHDT(char* out, float trueHeading);
ParseResult ParseHDT(std::string_view body);
extern const Sentence kHDT;
}  // namespace mtobj::telegrams
