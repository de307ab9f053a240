// Conversions between numbers and the text of the window's boxes, in the user's locale.
//
// The window writes every number the same way in every locale: ASCII digits, a plain "-"
// for negatives, "e" before an exponent, and only the decimal separator taken from the
// locale. The reader also takes what the locale itself would write: its own digits, its
// minus sign and exponent symbol, and the direction marks around them.
#pragma once

#include <QString>

#include <cstdint>

namespace numtext {

enum class Parse { Ok, Empty, NotANumber, OutOfRange };

// Reads a decimal number (sign and exponent allowed, blanks around it ignored, no
// group separators) and rounds it to single precision. value is written only on Ok.
Parse TextToSingle(const QString& text, float& value);

// Why a text was refused, in words for the user.
QString Reason(Parse result);

// At most 7 (single) or 15 (double) significant digits, no trailing zeros, no blanks.
QString SingleToText(float value);
QString DoubleToText(double value);

// value in whole hundredths, halves to even; false when that does not fit 32 bits.
bool Hundredths(float value, int32_t& hundredths);

}  // namespace numtext
