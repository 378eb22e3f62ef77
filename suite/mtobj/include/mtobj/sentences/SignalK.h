// The attitude as a Signal K delta message, one JSON object a line, for a Signal K server's
// "Signal K" data connection (TCP, UDP or serial):
//   {"context":"vessels.self","updates":[{"$source":"tavimo","timestamp":"<ISO 8601 UTC>",
//    "values":[{"path":"navigation.attitude","value":{"roll":r,"pitch":p,"yaw":y}},
//              {"path":"navigation.headingTrue","value":t},
//              {"path":"navigation.headingMagnetic","value":m},
//              {"path":"navigation.rateOfTurn","value":w}]}]}<CR><LF>
// (written on one line). Radians and radians a second, six decimals: roll positive with a
// list to starboard (Tavimo's port side up), pitch positive bow up, yaw the true heading
// (0 to 2π, positive turning to starboard), rate of turn positive turning to starboard.
// The time stamp is the sample's PC time. The rate of turn is left out until it is known;
// a value that is not a number (or beyond a million radians) is written as null.
#pragma once

#include "mtobj/sentences/Sentence.h"

namespace mtobj::telegrams {
std::size_t FormatSignalK(char* out, const Moment& moment);
extern const Sentence kSignalK;
}  // namespace mtobj::telegrams
