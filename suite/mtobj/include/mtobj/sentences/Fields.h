// The pieces sentences are written and read with: numbers in the widths and roundings the
// formats fix (without printf, so the send path allocates nothing), the NMEA checksum, and
// the checks of fields read from another instrument.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mtobj/Motion.h"
#include "mtobj/TelegramSentences.h"

namespace mtobj::telegrams::fields {

// ---- Writing ----------------------------------------------------------------------------

// Copies a text in at `at`; returns the new length.
std::size_t Append(char* out, std::size_t at, std::string_view text);
// printf's "%0<width>.<decimals>f" (zeroPad) or "%<width>.<decimals>f" (decimals 0 to 6),
// and with `plus` a "+" before a value that is not negative.
std::size_t Fixed(char* out, double value, int decimals, int width = 0, bool zeroPad = false,
                  bool plus = false);
// printf's "%0<width>d".
std::size_t PaddedInt(char* out, int value, int width);
// Hundredths of a degree, truncated toward zero, held within five digits; not a number is 0.
int Hundredths(double degrees);
// A value rounded to the nearest whole unit and held within [low, high]; not a number is 0.
int RoundedWithin(double value, int low, int high);
// Upper-case hex digits of the low `digits` nibbles.
std::size_t UpperHex(char* out, unsigned value, int digits);
// The sign and hundredths of a motion telegram's roll or pitch field: " 0225", "-0150".
std::size_t SignedHundredths(char* out, float angle);
// A motion telegram's heave and status fields, "SHHHHQ" (" 0000U" without motion).
std::size_t HeaveFields(char* out, const Motion* motion);
// The UTC time of day of a PC time (ms since 1970) as "hhmmss.sss".
std::size_t TimeOfDay(char* out, double pcMilliseconds);
// The UTC date and time of a PC time as ISO 8601, "2026-12-10T07:05:00.123Z".
std::size_t IsoTime(char* out, double pcMilliseconds);
// Appends "hh\r\n" to a text that begins with "$" and ends with "*": the XOR of every
// character between them, two lower-case hex digits. Needs room for 4 more characters and
// returns the new length.
std::size_t AppendChecksum(char* text, std::size_t length);
void AppendChecksum(std::string& text);
// Degrees within [0, 360).
double Wrap360(double degrees);
// A one-heading NMEA sentence: head, the heading as "%07.3f", tail ("...*"), checksum.
std::size_t HeadingSentence(char* out, std::string_view head, float heading, std::string_view tail);

// ---- Reading ----------------------------------------------------------------------------

ParseResult Dropped(EDrop reason, std::string note = {});
ParseResult Read(Reading reading);
std::string_view Trim(std::string_view text);
// Splits a checked sentence's body at its commas, the address the first field; false for
// more fields than any sentence has (24).
bool SplitFields(std::string_view body, std::vector<std::string_view>& fields);
// The fields of a checked sentence, and whether there are exactly `count` of them (the
// address counted).
bool Fields(std::string_view body, std::size_t count, std::vector<std::string_view>& fields);

enum class ENumber { Ok, Empty, Bad };
// A signed decimal: [+-]digits[.digits] or [+-].digits, spaces around it allowed. Nothing
// else: no exponent, no "inf", no letters.
ENumber ParseDecimal(std::string_view field, double& value);
// A decimal that must be there: why not, or nothing.
std::optional<EDrop> Number(std::string_view field, double& value);
// A heading field: a decimal in 0..360 (360 read as 0).
std::optional<EDrop> HeadingField(std::string_view field, double& heading);
// An optional signed correction: value and E/W, both empty for none. East is positive.
std::optional<EDrop> Correction(std::string_view value, std::string_view side, double& degrees,
                                bool& given);
bool IsHexDigit(char c);
int HexValue(char c);
// A motion telegram field of a sign (" ", "+" or "-") and 4 or 5 digits, in hundredths;
// `at` moves on.
std::optional<EDrop> SignedHundredths(std::string_view line, std::size_t& at, double& value);
// A reading of one heading field from the sentence with that address.
ParseResult HeadingReading(std::string_view address, std::string_view field, bool magnetic);
// A one-heading sentence, "address,heading,unit": the unit letter tells them apart.
ParseResult OneHeading(std::string_view body, std::string_view unit);
// Roll and pitch within what an attitude can be (pitch ±90, roll ±180).
bool AttitudeInRange(double roll, double pitch);

}  // namespace mtobj::telegrams::fields
