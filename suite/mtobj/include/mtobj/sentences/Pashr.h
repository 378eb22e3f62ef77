// Attitude and heave in the motion sentence that gpsd and many hydrographic packages read
// ($PASHR in its attitude form, with "T" in field 3):
//   $PASHR,hhmmss.sss,HHH.HH,T,sRR.RR,sPP.PP,sH.HH,a.aaa,b.bbb,c.ccc,g,i*cc<CR><LF>
//          1          2      3 4      5      6     7     8     9     10 11
//   1 the sample's UTC time of day        2 true heading, degrees, "%06.2f"   3 "T"
//   4 roll, degrees, always signed, positive with the port side up (starboard down)
//   5 pitch, degrees, always signed, positive bow up
//   6 heave, metres, always signed, positive up; empty when the sensor gives no heave
//   7-9 roll, pitch and heading accuracy, degrees: empty (no estimate is made)
//   10 position aiding: 0 (none)
//   11 attitude status: 1 settled, 0 while roll, pitch or heave settle (TSS1's "u")
// Read from another motion sensor (the attitude form only, "T" in field 3): heading, roll and
// pitch, and the heave when field 6 holds one, passed on to the motion telegrams like a TSS1's
// (its accelerations 0); the fields after pitch may be left out or empty. An attitude status
// of 0 (not settled) is not used.
#pragma once

#include "mtobj/sentences/Sentence.h"

namespace mtobj::telegrams {
std::size_t FormatPASHR(char* out, const Moment& moment);
ParseResult ParsePASHR(std::string_view body);
extern const Sentence kPASHR;
}  // namespace mtobj::telegrams
