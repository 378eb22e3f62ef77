// TSS2 motion telegram, fixed columns, no checksum:
//   :HHHHH SHHHHQSRRRR SPPPPF<CR><LF>
//   HHHHH true heading in hundredths of a degree, truncated ("%05d"); the heave, status,
//   roll and pitch as TSS1 (":HHHHH  0000U..." without motion); "F" closes it.
#pragma once

#include "mtobj/sentences/Sentence.h"

namespace mtobj::telegrams {
std::size_t FormatTSS2(char* out, float trueHeading, float roll, float pitch,
                       const Motion* motion = nullptr);
extern const Sentence kTSS2;
}  // namespace mtobj::telegrams
