// The attitude and heading telegrams Tavimo sends, character for character. Each
// formatter writes one whole telegram (line end included) into a caller's buffer of at
// least kMaxTelegramLength bytes and returns its length; nothing is allocated.
#pragma once

#include <cstddef>
#include <string>

#include "mtobj/Motion.h"

// Telegram type of an output: the position in the dialog's telegram list is the code.
enum EOutputTelegram : int {
    TELEGRAM_NONE = 0,
    TELEGRAM_HDM = 1,
    TELEGRAM_HDT = 2,
    TELEGRAM_TSS1 = 3,
    TELEGRAM_TSS2 = 4,
    TELEGRAM_PRDID = 5,
    TELEGRAM_HDT_TSS1 = 6,  // HDT, then TSS1
    TELEGRAM_HDM_TSS1 = 7,  // HDM, then TSS1
};
constexpr int kOutputTelegramCount = 8;
// The dialog's list texts, by code.
extern const char* const g_szOutputTelegramNames[kOutputTelegramCount];

namespace telegrams {

constexpr std::size_t kMaxTelegramLength = 256;

// True heading, NMEA:
//   $HCHDT,hhh.hhh,T*cc<CR><LF>
//   1 heading, degrees true, "%07.3f" (rounded, zero-padded to 7 characters)
//   cc checksum, two lower-case hex digits
std::size_t FormatHDT(char* out, float trueHeading);

// Magnetic heading, NMEA:
//   $HCHDM,hhh.hhh,M*cc<CR><LF>
std::size_t FormatHDM(char* out, float magneticHeading);

// Pitch, roll and heading:
//   $PRDID,ppp.ppp,rrr.rrr,hhh.hhh*cc<CR><LF>
//   each "%8.3f" (rounded, space-padded to 8 characters): pitch, roll, true heading
std::size_t FormatPRDID(char* out, float pitch, float roll, float trueHeading);

// TSS1 motion telegram, no checksum:
//   :XXAAAA SHHHHQSRRRR SPPPP<CR><LF>
//   XX   horizontal acceleration, 3.83 cm/s² a count, two upper-case hex digits (00..FF)
//   AAAA vertical acceleration, positive up, 0.0625 cm/s² a count, four hex digits of its
//        16-bit two's complement (±20.48 m/s²)
//   S    sign (space when >= 0, else "-"); HHHH |heave| in centimetres, positive up, rounded,
//        held at 9999
//   Q    status: U settled, u settling (or the letter a sending instrument gave)
//   RRRR/PPPP |roll|/|pitch| in hundredths of a degree, truncated, at least four digits
//        ("%04d"; 100 degrees or more gives five), each after its sign
// Without motion (a sensor that gives no heave) the first fields stay ":000000  0000U".
std::size_t FormatTSS1(char* out, float roll, float pitch, const mtobj::Motion* motion = nullptr);

// TSS2 motion telegram, no checksum:
//   :HHHHH SHHHHQSRRRR SPPPPF<CR><LF>
//   HHHHH true heading in hundredths of a degree, truncated ("%05d"); the heave, status,
//   roll and pitch as TSS1 (":HHHHH  0000U..." without motion)
std::size_t FormatTSS2(char* out, float trueHeading, float roll, float pitch,
                       const mtobj::Motion* motion = nullptr);

// Appends the NMEA checksum and the line end to a text that begins with "$" and ends
// with "*": the XOR of every character between them, as "%2.2x\r\n". The buffer form
// needs room for 4 more characters and returns the new length.
void AppendChecksum(std::string& text);
std::size_t AppendChecksum(char* text, std::size_t length);

}  // namespace telegrams
