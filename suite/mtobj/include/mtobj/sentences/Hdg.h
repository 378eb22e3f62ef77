// Heading, deviation and variation (NMEA), what autopilots and plotters read:
//   $HCHDG,hhh.hhh,d.d,a,v.vvv,a*cc<CR><LF>
//          1       2   3 4     5
//   1 magnetic sensor heading, degrees   2 deviation, degrees   3 "E" or "W"
//   4 variation, degrees                 5 "E" or "W"
// Magnetic heading = sensor heading + deviation (east positive); true heading = magnetic
// heading + variation. Without a variation the heading stays magnetic.
// Written with the magnetic heading, no deviation (fields 2 and 3 empty: the heading is
// already the compass's corrected one) and the module's magnetic variation, so a reader's
// true heading is the one HDT carries; read from any talker.
#pragma once

#include "mtobj/sentences/Sentence.h"

namespace mtobj::telegrams {
// `variation` as the module holds it: true = magnetic - variation.
std::size_t FormatHDG(char* out, float magneticHeading, float variation);
ParseResult ParseHDG(std::string_view body);
extern const Sentence kHDG;
}  // namespace mtobj::telegrams
