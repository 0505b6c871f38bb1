// SPDX-License-Identifier: MIT
// Text-to-number and text-to-time conversions used when the settings file is
// read and when the edit fields are checked before saving. They follow the
// classic BASIC conversions (a numeric test, CInt with banker's rounding, a
// time-of-day test) but accept only the plain forms listed here, independent of
// the locale.
//
// Numbers (parseNumber, toInt16):
//   [blanks] [+|-] digits [. [digits]] [(e|E) [+|-] digits] [blanks]
//   [blanks] [+|-] . digits [(e|E) [+|-] digits] [blanks]
//   where blanks are spaces and tabs and digits are 0-9 (any count).
//   Examples: "5", " -12 ", "+3.25", ".5", "5.", "1e3", "2.5E-1".
//   Not numbers: "", " ", "+", ".", "1e", "1e+", "0x10", "1,000", "1 000",
//   "inf", "nan", "5 apples", full-width digits.
//   A value beyond the range of a double reads as plus or minus infinity and
//   one too small for it as zero, so such text is still "a number" but never a
//   16-bit integer.
//
// Times of day (normaliseTime):
//   [spaces] H:M [spaces]  or  [spaces] H:M:S [spaces]
//   H is one or two digits 0-23, M and S are one or two digits 0-59; spaces and
//   tabs around the time are allowed, none inside it. The result is "hh:mm" in
//   24-hour form with the seconds dropped.
//   Examples: "7:5" -> "07:05", "9:30" -> "09:30", "23:00" -> "23:00",
//   "0:0" -> "00:00", " 08:15:59 " -> "08:15".
//   Not times: "", "abc", "7", "7:", ":5", "25:00", "12:60", "007:00",
//   "1:2:3:4", "7 : 05", "7:05 PM", "7.05".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zorvek::settings {

// Blanks are spaces and tabs, the characters the readers below skip.
constexpr bool isBlank(char c) { return c == ' ' || c == '\t'; }

// `text` without its leading and trailing blanks.
std::string_view trimBlanks(std::string_view text);

// The value of `text` when it reads as a number in the form above, else
// nothing. Linear in the length of the text.
std::optional<double> parseNumber(std::string_view text);

// Rounds to the nearest integer, halves to the even neighbour:
// 0.5 -> 0, 1.5 -> 2, 2.5 -> 2, -0.5 -> -0, -1.5 -> -2. Infinities and NaN
// come back unchanged.
double roundHalfEven(double value);

// CInt: the value rounded half to even, or nothing when it is NaN or the
// rounded value lies outside -32768..32767.
std::optional<int16_t> toInt16(double value);

// CInt of text: parseNumber, then the conversion above. Nothing when the text
// is not a number or the rounded value does not fit in 16 bits.
std::optional<int16_t> toInt16(std::string_view text);

// Shortest decimal text that reads back as the same value ("5", "0.1",
// "1.5e+20"); negative zero is written "0". Infinities give "inf"/"-inf" and
// NaN "nan", none of which parseNumber accepts.
std::string formatNumber(double value);

// "hh:mm" when `text` reads as a time of day in the form above, else nothing.
std::optional<std::string> normaliseTime(std::string_view text);

}  // namespace zorvek::settings
