// TSS1 motion telegram, fixed columns, no checksum:
//   :XXAAAA SHHHHQSRRRR SPPPP<CR><LF>
//   0123456789012345678901234
//   1-2   XX    horizontal acceleration, 3.83 cm/s² a count, two upper-case hex digits
//               (00..FF)
//   3-6   AAAA  vertical acceleration, positive up, 0.0625 cm/s² a count, four hex digits of
//               its 16-bit two's complement (±20.48 m/s²)
//   8     S     heave sign (space when >= 0, else "-"; "+" read too)
//   9-12  HHHH  |heave| in centimetres, positive up, rounded, held at 9999
//   13    Q     status: U settled, u settling (U, G, H, F settled and u, g, h, f settling
//               read; another instrument's letter passed on as it came)
//   14-18 SRRRR roll, sign and |roll| in hundredths of a degree, truncated, at least four
//               digits ("%04d"; 100 degrees or more gives five)
//   20-24 SPPPP pitch, likewise
// Without motion (a sensor that gives no heave) the first fields stay ":000000  0000U".
#pragma once

#include "mtobj/sentences/Sentence.h"

namespace mtobj::telegrams {
std::size_t FormatTSS1(char* out, float roll, float pitch, const Motion* motion = nullptr);
ParseResult ParseTSS1(std::string_view line);
extern const Sentence kTSS1;
}  // namespace mtobj::telegrams
