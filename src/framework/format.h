#pragma once
// Locale-dependent text forms of numbers and dates, number pictures and edit masks.

#include <string>
#include <string_view>

#include "framework/value.h"

namespace apura {

// Process-wide, as the host's locale settings are; the host sets them at start.
struct FormatSettings {
  char decimalSeparator = ',';
  char thousandSeparator = '.';
  std::string shortDateFormat = "dd/mm/yyyy";
  std::string longTimeFormat = "hh:nn:ss";
};
FormatSettings& CurrentFormat();

// Shortest text that reads back as the same double (at most 15 significant
// digits, like the platform's general float format), with the locale's decimal
// separator and no thousands separator.
std::string FloatToText(double v);
// Accepts the locale's decimal separator (and '.' when that is not the thousands
// separator); surrounding blanks allowed. False when the text is not a number.
bool TextToFloat(std::string_view text, double& out);

// Number pictures: '#' optional digit, '0' mandatory digit, ',' thousands
// separator (anywhere in the integer part turns grouping on), '.' decimal point,
// other characters literal; a picture may hold "positive;negative;zero" sections.
// Output uses the locale's separators; rounding is half away from zero.
std::string FormatFloat(std::string_view picture, double v);

// Date pictures: d dd ddd dddd m mm mmm mmmm yy yyyy h hh n nn s ss, '/' and ':'
// literal, quoted text literal.
std::string FormatDateTime(std::string_view picture, DateTime d);
// Short date format, followed by a blank and the long time format when the time
// of day is not midnight.
std::string DateTimeToText(DateTime d);
// Reads a date in the short date format, optionally followed by a time.
bool TextToDateTime(std::string_view text, DateTime& out);

// Edit masks "mask;save literals;blank", e.g. "9.99.999.9999;0;_": 9 and 0 digit
// positions, A/a alphanumeric, L/l letter, C/c any character, other characters
// literal, '\\' quotes the next character.
struct EditMask {
  std::string mask;          // the picture part
  bool saveLiterals = true;  // second section
  char blank = '_';          // third section
  static EditMask Parse(std::string_view text);
};
// Lays a stored value (without literals when the mask does not save them) over
// the mask, as an edit box shows it.
std::string ApplyEditMask(std::string_view maskText, std::string_view value);
// Takes the literals out again when the mask does not save them.
std::string StripEditMask(std::string_view maskText, std::string_view shown);

}  // namespace apura
