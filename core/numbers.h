// Numbers in files and on command lines: always "." as decimal separator, whatever the
// locale, and written so that they read back exactly.
#pragma once

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

namespace hv {

// A finite decimal number, blanks around it ignored, a leading "+" or "-" allowed.
// On failure says why ("not a number", "too large").
bool ParseNumber(std::string_view text, double& value, std::string& why);

// A temperature in degrees Celsius ("25"), or in kelvin with a trailing K ("298.15K"),
// rounded to single precision as the window reads a typed number. Below absolute zero is
// refused.
bool ParseTemperature(std::string_view text, float& celsius, std::string& why);
// The same check for a Celsius value already in hand.
bool CheckTemperature(float celsius, std::string& why);

// Any bytes made safe to quote in a message: cut after 32, non-printing bytes as '?'.
std::string Quoted(std::string_view text);

// The shortest text that reads back as the same value; "0" for either zero.
std::string Shortest(float value);
std::string Shortest(double value);
// std::to_chars(first, last, value) as libstdc++ writes it, on every standard library.
std::to_chars_result ToChars(char* first, char* last, double value);

// value in whole hundredths, halves to even; false when that does not fit 32 bits.
bool Hundredths(float value, int32_t& hundredths);

}  // namespace hv
