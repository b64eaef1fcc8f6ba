#include "framework/format.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace apura {

FormatSettings& CurrentFormat() {
  static FormatSettings settings;
  return settings;
}

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// |v| as the decimal digits a double reliably carries: value = 0.digits × 10^exp,
// at most 15 significant digits, no trailing zeros; digits empty when v is zero.
// Everything shown to the user starts from this form, so a number typed as 2.675
// is formatted as 2.675 and not as the binary neighbour 2.67499999...
struct Decimal {
  std::string digits;
  int exp = 0;
};

Decimal ToDecimal(double v) {
  Decimal r;
  if (v == 0 || !std::isfinite(v)) return r;
  char buf[64];
  const auto res =
      std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::scientific, 14);
  const std::string_view s(buf, static_cast<size_t>(res.ptr - buf));
  const size_t e = s.find('e');
  r.digits.assign(1, s[0]);
  r.digits.append(s.substr(2, e - 2));
  while (!r.digits.empty() && r.digits.back() == '0') r.digits.pop_back();
  int ex = 0;
  std::from_chars(s.data() + e + (s[e + 1] == '+' ? 2 : 1), s.data() + s.size(), ex);
  r.exp = ex + 1;
  return r;
}

// The integer value × 10^decimals of d, rounded half away from zero, as digits
// without leading zeros ("" for zero).
std::string ScaledDigits(const Decimal& d, int decimals) {
  const long keep = static_cast<long>(d.exp) + decimals;
  const long len = static_cast<long>(d.digits.size());
  if (d.digits.empty() || keep < 0) return "";
  if (keep >= len) return d.digits + std::string(static_cast<size_t>(keep - len), '0');
  std::string out = d.digits.substr(0, static_cast<size_t>(keep));
  if (d.digits[static_cast<size_t>(keep)] >= '5') {
    size_t i = out.size();
    while (i > 0 && out[i - 1] == '9') out[--i] = '0';
    if (i == 0) {
      out.insert(out.begin(), '1');
    } else {
      ++out[i - 1];
    }
  }
  return out;
}

// --- number pictures --------------------------------------------------------

struct PictureToken {
  enum Kind { IntDigit, FracDigit, Point, Literal } kind;
  std::string text;  // literal text
};

struct Picture {
  std::vector<PictureToken> tokens;
  int intPlaceholders = 0;
  int minInt = 0;  // from the first '0' of the integer part to its end
  int fracPlaceholders = 0;
  int minFrac = 0;  // up to the last '0' of the fraction
  bool grouping = false;
};

Picture ParsePicture(std::string_view s) {
  Picture p;
  bool inFraction = false;
  int firstZero = -1;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '\'' || c == '"') {
      const size_t end = s.find(c, i + 1);
      const size_t stop = end == std::string_view::npos ? s.size() : end;
      p.tokens.push_back({PictureToken::Literal, std::string(s.substr(i + 1, stop - i - 1))});
      i = stop;
    } else if (c == '0' || c == '#') {
      if (inFraction) {
        ++p.fracPlaceholders;
        if (c == '0') p.minFrac = p.fracPlaceholders;
        p.tokens.push_back({PictureToken::FracDigit, {}});
      } else {
        if (c == '0' && firstZero < 0) firstZero = p.intPlaceholders;
        ++p.intPlaceholders;
        p.tokens.push_back({PictureToken::IntDigit, {}});
      }
    } else if (c == '.') {
      if (!inFraction) p.tokens.push_back({PictureToken::Point, {}});
      inFraction = true;  // a second point is ignored
    } else if (c == ',') {
      if (!inFraction) p.grouping = true;
    } else {
      p.tokens.push_back({PictureToken::Literal, std::string(1, c)});
    }
  }
  if (firstZero >= 0) p.minInt = p.intPlaceholders - firstZero;
  return p;
}

std::vector<std::string_view> SplitSections(std::string_view s) {
  std::vector<std::string_view> out;
  size_t start = 0;
  char quote = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == ';') {
      out.push_back(s.substr(start, i - start));
      start = i + 1;
    }
  }
  out.push_back(s.substr(start));
  return out;
}

std::string Render(const Picture& p, const std::string& scaled, bool negative) {
  const FormatSettings& fs = CurrentFormat();
  const size_t decimals = static_cast<size_t>(p.fracPlaceholders);
  std::string intDigits, frac;
  if (scaled.size() > decimals) {
    intDigits = scaled.substr(0, scaled.size() - decimals);
    frac = scaled.substr(scaled.size() - decimals);
  } else {
    frac = std::string(decimals - scaled.size(), '0') + scaled;
  }
  while (frac.size() > static_cast<size_t>(p.minFrac) && frac.back() == '0') frac.pop_back();
  if (intDigits.size() < static_cast<size_t>(p.minInt)) {
    intDigits.insert(0, static_cast<size_t>(p.minInt) - intDigits.size(), '0');
  }

  std::string out = negative ? "-" : "";
  const long len = static_cast<long>(intDigits.size());
  auto emit = [&](long pos) {  // pos counts from the units digit
    out += intDigits[static_cast<size_t>(len - 1 - pos)];
    if (p.grouping && pos > 0 && pos % 3 == 0) out += fs.thousandSeparator;
  };
  int k = 0;
  size_t j = 0;
  bool intEmitted = false;
  for (const PictureToken& t : p.tokens) {
    switch (t.kind) {
      case PictureToken::IntDigit: {
        const long pos = p.intPlaceholders - 1 - k;
        if (k == 0) {
          for (long q = len - 1; q > pos; --q) emit(q);  // digits beyond the picture
        }
        if (pos < len) emit(pos);
        ++k;
        intEmitted = true;
        break;
      }
      case PictureToken::Point:
        if (!intEmitted) {  // a picture such as ".00" still shows the integer part
          for (long q = len - 1; q >= 0; --q) emit(q);
          intEmitted = true;
        }
        if (!frac.empty()) out += fs.decimalSeparator;
        break;
      case PictureToken::FracDigit:
        if (j < frac.size()) out += frac[j];
        ++j;
        break;
      case PictureToken::Literal:
        out += t.text;
        break;
    }
  }
  return out;
}

// --- date pictures ----------------------------------------------------------

const char* const kShortDays[] = {"dom", "seg", "ter", "qua", "qui", "sex", "sáb"};
const char* const kLongDays[] = {"domingo",      "segunda-feira", "terça-feira", "quarta-feira",
                                 "quinta-feira", "sexta-feira",   "sábado"};
const char* const kShortMonths[] = {"jan", "fev", "mar", "abr", "mai", "jun",
                                    "jul", "ago", "set", "out", "nov", "dez"};
const char* const kLongMonths[] = {"janeiro",  "fevereiro", "março",    "abril",
                                   "maio",     "junho",     "julho",    "agosto",
                                   "setembro", "outubro",   "novembro", "dezembro"};

std::string Pad(int v, int width) {
  std::string s = std::to_string(v);
  if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), '0');
  return s;
}

// Reads 1 to maxDigits digits at s[i].
bool ReadNumber(std::string_view s, size_t& i, int maxDigits, int& out, int& digits) {
  out = 0;
  digits = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9' && digits < maxDigits) {
    out = out * 10 + (s[i] - '0');
    ++i;
    ++digits;
  }
  return digits > 0 && !(i < s.size() && s[i] >= '0' && s[i] <= '9');
}

// The first character of a picture that is neither a specifier letter nor quoted.
char SeparatorOf(std::string_view picture, char fallback) {
  for (size_t i = 0; i < picture.size(); ++i) {
    const char c = picture[i];
    if (c == '\'' || c == '"') {
      const size_t end = picture.find(c, i + 1);
      if (end == std::string_view::npos) break;
      i = end;
    } else if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) && !IsBlank(c)) {
      return c;
    }
  }
  return fallback;
}

// --- edit masks -------------------------------------------------------------

// One character of UTF-8 text (a code point), so that sizes count characters.
std::vector<std::string_view> Chars(std::string_view s) {
  std::vector<std::string_view> out;
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 1;
    if (i + n > s.size()) n = s.size() - i;
    out.push_back(s.substr(i, n));
    i += n;
  }
  return out;
}

struct MaskPosition {
  bool literal = false;
  std::string_view text;  // the literal
  int caseMode = 0;       // 1 upper, -1 lower
};

std::vector<MaskPosition> Layout(std::string_view mask) {
  std::vector<MaskPosition> out;
  const auto chars = Chars(mask);
  int caseMode = 0;
  for (size_t i = 0; i < chars.size(); ++i) {
    const std::string_view c = chars[i];
    if (c == "\\") {
      if (i + 1 < chars.size()) out.push_back({true, chars[++i], 0});
    } else if (c == ">") {
      caseMode = 1;
    } else if (c == "<") {
      if (i + 1 < chars.size() && chars[i + 1] == ">") {
        caseMode = 0;
        ++i;
      } else {
        caseMode = -1;
      }
    } else if (c == "!") {
      // Trimming direction of optional positions: it changes nothing in a laid-out text.
    } else if (c.size() == 1 &&
               std::string_view("90#AaLlCc").find(c[0]) != std::string_view::npos) {
      out.push_back({false, {}, caseMode});
    } else {
      out.push_back({true, c, 0});
    }
  }
  return out;
}

}  // namespace

std::string FloatToText(double v) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
  const Decimal d = ToDecimal(v);
  if (d.digits.empty()) return "0";
  const char sep = CurrentFormat().decimalSeparator;
  const int len = static_cast<int>(d.digits.size());
  const int sci = d.exp - 1;
  std::string out = v < 0 ? "-" : "";
  if (sci >= 15 || sci < -4) {
    out += d.digits[0];
    if (len > 1) {
      out += sep;
      out.append(d.digits, 1);
    }
    out += 'E';
    out += std::to_string(sci);
  } else if (d.exp <= 0) {
    out += '0';
    out += sep;
    out.append(static_cast<size_t>(-d.exp), '0');
    out += d.digits;
  } else if (d.exp >= len) {
    out += d.digits;
    out.append(static_cast<size_t>(d.exp - len), '0');
  } else {
    out.append(d.digits, 0, static_cast<size_t>(d.exp));
    out += sep;
    out.append(d.digits, static_cast<size_t>(d.exp));
  }
  return out;
}

bool TextToFloat(std::string_view text, double& out) {
  const FormatSettings& fs = CurrentFormat();
  const std::string_view s = Trim(text);
  std::string norm;
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') norm += '-';
    ++i;
  }
  int mantissaDigits = 0;
  bool point = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c >= '0' && c <= '9') {
      norm += c;
      ++mantissaDigits;
    } else if (!point && (c == fs.decimalSeparator || (c == '.' && fs.thousandSeparator != '.'))) {
      norm += '.';
      point = true;
    } else {
      break;
    }
  }
  if (mantissaDigits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    norm += 'e';
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) norm += s[i++];
    int expDigits = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, ++expDigits) norm += s[i];
    if (expDigits == 0) return false;
  }
  if (i != s.size()) return false;
  double v = 0;
  const auto res = std::from_chars(norm.data(), norm.data() + norm.size(), v);
  if (res.ec != std::errc() || res.ptr != norm.data() + norm.size() || !std::isfinite(v)) {
    return false;
  }
  out = v;
  return true;
}

std::string FormatFloat(std::string_view picture, double v) {
  if (!std::isfinite(v)) return FloatToText(v);
  const auto sections = SplitSections(picture);
  const std::string_view pos = sections[0];
  const std::string_view neg = sections.size() > 1 ? sections[1] : std::string_view();
  const std::string_view zero = sections.size() > 2 ? sections[2] : std::string_view();
  if (pos.empty() && neg.empty() && zero.empty()) return FloatToText(v);

  const bool negative = v < 0;
  const bool ownNegative = negative && !neg.empty();
  const Picture p = ParsePicture(ownNegative ? neg : pos);
  const Decimal d = ToDecimal(v);
  const std::string scaled = ScaledDigits(d, p.fracPlaceholders);
  if (scaled.empty()) {
    // Zero after rounding: never "-0,00", and the zero section when there is one.
    if (!zero.empty()) return Render(ParsePicture(zero), "", false);
    return Render(ownNegative ? ParsePicture(pos) : p, "", false);
  }
  return Render(p, scaled, negative && !ownNegative);
}

std::string FormatDateTime(std::string_view picture, DateTime dt) {
  int year, month, day, hour, minute, second, msec;
  dt.Decode(year, month, day);
  dt.DecodeTime(hour, minute, second, msec);
  std::string out;
  bool afterHour = false;
  for (size_t i = 0; i < picture.size();) {
    const char c = picture[i];
    if (c == '\'' || c == '"') {
      const size_t end = picture.find(c, i + 1);
      const size_t stop = end == std::string_view::npos ? picture.size() : end;
      out.append(picture.substr(i + 1, stop - i - 1));
      i = stop + 1;
      continue;
    }
    const char l = Lower(c);
    if (std::string_view("dmyhnsz").find(l) == std::string_view::npos) {
      out += c;
      ++i;
      continue;
    }
    size_t n = 1;
    while (i + n < picture.size() && Lower(picture[i + n]) == l) ++n;
    i += n;
    const int count = static_cast<int>(n);
    switch (l) {
      case 'd':
        if (count == 1)
          out += std::to_string(day);
        else if (count == 2)
          out += Pad(day, 2);
        else if (count == 3)
          out += kShortDays[dt.DayOfWeek() - 1];
        else
          out += kLongDays[dt.DayOfWeek() - 1];
        break;
      case 'm':
        if (afterHour && count <= 2)
          out += Pad(minute, count);
        else if (count <= 2)
          out += Pad(month, count);
        else if (count == 3)
          out += kShortMonths[month - 1];
        else
          out += kLongMonths[month - 1];
        break;
      case 'y':
        out += count <= 2 ? Pad(year % 100, 2) : Pad(year, 4);
        break;
      case 'h':
        out += Pad(hour, count >= 2 ? 2 : 1);
        break;
      case 'n':
        out += Pad(minute, count >= 2 ? 2 : 1);
        break;
      case 's':
        out += Pad(second, count >= 2 ? 2 : 1);
        break;
      case 'z':
        out += Pad(msec, count >= 2 ? 3 : 1);
        break;
    }
    afterHour = l == 'h';
  }
  return out;
}

std::string DateTimeToText(DateTime d) {
  const FormatSettings& fs = CurrentFormat();
  std::string out = FormatDateTime(fs.shortDateFormat, d);
  if (d.HasTime()) {
    out += ' ';
    out += FormatDateTime(fs.longTimeFormat, d);
  }
  return out;
}

bool TextToDateTime(std::string_view text, DateTime& out) {
  const FormatSettings& fs = CurrentFormat();
  // Field order and separator come from the short date format: "dd/mm/yyyy"
  // reads day, month, year separated by '/'.
  std::string order;
  for (size_t i = 0; i < fs.shortDateFormat.size(); ++i) {
    const char c = fs.shortDateFormat[i];
    if (c == '\'' || c == '"') {
      const size_t end = fs.shortDateFormat.find(c, i + 1);
      if (end == std::string::npos) break;
      i = end;
      continue;
    }
    const char l = Lower(c);
    if ((l == 'd' || l == 'm' || l == 'y') && order.find(l) == std::string::npos) order += l;
  }
  if (order.size() != 3) order = "dmy";
  const char dateSep = SeparatorOf(fs.shortDateFormat, '/');
  const char timeSep = SeparatorOf(fs.longTimeFormat, ':');

  const std::string_view s = Trim(text);
  size_t i = 0;
  int fields[3] = {0, 0, 0};
  int yearDigits = 0;
  for (int f = 0; f < 3; ++f) {
    if (f > 0) {
      if (i >= s.size() || s[i] != dateSep) return false;
      ++i;
    }
    int digits = 0;
    if (!ReadNumber(s, i, order[f] == 'y' ? 4 : 2, fields[f], digits)) return false;
    if (order[f] == 'y') yearDigits = digits;
  }
  int day = 0, month = 0, year = 0;
  for (int f = 0; f < 3; ++f) {
    if (order[f] == 'd') day = fields[f];
    if (order[f] == 'm') month = fields[f];
    if (order[f] == 'y') year = fields[f];
  }
  // A two-digit year falls in 1950..2049, whatever the clock says, so a text
  // reads the same date on every run.
  if (yearDigits <= 2) year += year < 50 ? 2000 : 1900;
  if (year < 1 || month < 1 || month > 12 || day < 1) return false;
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (day > kDays[month - 1]) return false;
  if (month == 2 && day == 29 && !((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) {
    return false;
  }

  int hour = 0, minute = 0, second = 0, msec = 0;
  if (i < s.size()) {
    if (!IsBlank(s[i])) return false;
    while (i < s.size() && IsBlank(s[i])) ++i;
    int digits = 0;
    if (!ReadNumber(s, i, 2, hour, digits)) return false;
    if (i >= s.size() || s[i] != timeSep) return false;
    ++i;
    if (!ReadNumber(s, i, 2, minute, digits)) return false;
    if (i < s.size() && s[i] == timeSep) {
      ++i;
      if (!ReadNumber(s, i, 2, second, digits)) return false;
      if (i < s.size() && (s[i] == '.' || s[i] == fs.decimalSeparator)) {
        ++i;
        if (!ReadNumber(s, i, 3, msec, digits)) return false;
        for (int k = digits; k < 3; ++k) msec *= 10;
      }
    }
    if (i != s.size() || hour > 23 || minute > 59 || second > 59) return false;
  }
  DateTime dt = DateTime::FromDateTime(year, month, day, hour, minute, second);
  dt.days += msec / 86400000.0;
  out = dt;
  return true;
}

EditMask EditMask::Parse(std::string_view text) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == ';') {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  parts.push_back(text.substr(start));

  EditMask m;
  std::string_view save, blank;
  if (parts.size() >= 3) {
    // Only the last two sections are settings; an unquoted ';' before them
    // belongs to the picture.
    const size_t maskEnd = static_cast<size_t>(parts[parts.size() - 2].data() - text.data()) - 1;
    m.mask = std::string(text.substr(0, maskEnd));
    save = parts[parts.size() - 2];
    blank = parts.back();
  } else if (parts.size() == 2) {
    m.mask = std::string(parts[0]);
    save = parts[1];
  } else {
    m.mask = std::string(text);
  }
  m.saveLiterals = Trim(save) != "0";
  if (!blank.empty()) m.blank = blank[0];
  return m;
}

std::string ApplyEditMask(std::string_view maskText, std::string_view value) {
  const EditMask m = EditMask::Parse(maskText);
  if (m.mask.empty()) return std::string(value);
  const auto layout = Layout(m.mask);
  const auto chars = Chars(value);

  // A value that already carries the literals (stored through a mask that
  // saved them) is shown as it is instead of being laid out a second time.
  if (!m.saveLiterals && chars.size() == layout.size()) {
    bool shaped = false;
    bool fits = true;
    for (size_t i = 0; i < layout.size() && fits; ++i) {
      if (layout[i].literal) {
        fits = chars[i] == layout[i].text;
        shaped = true;
      }
    }
    if (shaped && fits) return std::string(value);
  }

  const std::string blank(1, m.blank);
  std::string out;
  size_t i = 0;
  for (const MaskPosition& p : layout) {
    if (p.literal) {
      out += p.text;
      if (m.saveLiterals && i < chars.size() && chars[i] == p.text) ++i;
    } else if (i < chars.size()) {
      const std::string_view c = chars[i++];
      if (c == " ") {
        out += blank;
      } else if (c.size() == 1 && p.caseMode != 0) {
        out += p.caseMode > 0 ? Upper(c[0]) : Lower(c[0]);
      } else {
        out += c;
      }
    } else {
      out += blank;
    }
  }
  // Characters beyond the mask are still shown: a display never hides data.
  for (; i < chars.size(); ++i) out += chars[i];
  return out;
}

std::string StripEditMask(std::string_view maskText, std::string_view shown) {
  const EditMask m = EditMask::Parse(maskText);
  if (m.mask.empty()) return std::string(shown);
  const auto layout = Layout(m.mask);
  const auto chars = Chars(shown);
  const std::string blank(1, m.blank);
  std::string out;
  size_t i = 0;
  for (const MaskPosition& p : layout) {
    if (i >= chars.size()) break;
    if (p.literal) {
      if (chars[i] == p.text) ++i;
      if (m.saveLiterals) out += p.text;
    } else {
      const std::string_view c = chars[i++];
      if (c == blank) {
        out += ' ';
      } else {
        out += c;
      }
    }
  }
  for (; i < chars.size(); ++i) out += chars[i];
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

}  // namespace apura
