// Pitch, roll and heading (proprietary):
//   $PRDID,ppp.ppp,rrr.rrr,hhh.hhh*cc<CR><LF>
//          1       2       3
//   1 pitch, degrees, bow up positive   2 roll, degrees, port up positive
//   3 heading, degrees true
//   each written "%8.3f" (rounded, space-padded to 8 characters); read with or without the
//   padding.
#pragma once

#include "mtobj/sentences/Sentence.h"

namespace mtobj::telegrams {
std::size_t FormatPRDID(char* out, float pitch, float roll, float trueHeading);
ParseResult ParsePRDID(std::string_view body);
extern const Sentence kPRDID;
}  // namespace mtobj::telegrams
