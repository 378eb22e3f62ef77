// Decimal rounding and the conversions between numbers and their display text that
// every property and unit conversion uses.
#pragma once

#include <string>

// Nearest whole number, halves away from zero (0.0 gives -0.0, as ceil(-0.5) does).
double Round(double value);
// Rounded to the given number of decimal places, on the double-precision product.
double Round(double value, unsigned int places);

// places >= 0: fixed point with exactly that many decimals; places < 0: "%.15f" with
// trailing zeros and then trailing points removed (12.5 -> "12.5", 100.0 -> "100").
std::string FloatToStr(double value, int places);
// The leading number of the text (strtod); endIndex receives the index of the first
// character not used (0 when nothing was a number).
double StrToFloat(const std::string& text, int* endIndex = nullptr);
// Nonzero when the whole text is one number, blanks and tabs around it allowed.
int IsNumeric(const char* text, double* value = nullptr);
std::string IntToStr(int value);
