#include "framework/value.h"

#include <cmath>
#include <cstdlib>

#include "framework/format.h"
#include "framework/packet.h"

namespace apura {

namespace {

constexpr int64_t kMsPerDay = 86400000;
// 1899-12-30 counted from 1970-01-01.
constexpr int64_t kEpochOffset = -25569;
// Years 1 to 9999: anything outside is a corrupt value, not a date.
constexpr double kMinDays = -693594;  // 0001-01-01
constexpr double kMaxDays = 2958466;  // 10000-01-01

// Days from 1970-01-01 in the proleptic Gregorian calendar (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

bool IsLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// The moment rounded to the millisecond, split into whole days (floored, so a
// day before 1899-12-30 still has a non-negative time of day) and milliseconds
// into that day. Rounding first keeps Decode and DecodeTime in step when the
// fraction is a hair below midnight.
void Split(double days, int64_t& day, int64_t& ms) {
  if (!std::isfinite(days) || days < kMinDays || days >= kMaxDays) {
    throw ConversionError("Invalid date-time value " + std::to_string(days));
  }
  const int64_t total = std::llround(days * static_cast<double>(kMsPerDay));
  day = total / kMsPerDay;
  ms = total % kMsPerDay;
  if (ms < 0) {
    ms += kMsPerDay;
    --day;
  }
}

std::string Describe(const Value& v) {
  std::string s = KindName(v.kind());
  if (v.kind() == Value::Kind::Text) {
    // Enough of the text to recognise it; a whole memo field does not belong in a message.
    const std::string t = v.ToText();
    if (t.size() > 60) {
      size_t cut = 57;
      while (cut > 0 && (static_cast<unsigned char>(t[cut]) & 0xC0) == 0x80) --cut;
      s += " \"" + t.substr(0, cut) + "...\"";
    } else {
      s += " \"" + t + "\"";
    }
  }
  return s;
}

[[noreturn]] void CannotConvert(const Value& v, const char* target) {
  throw ConversionError("Cannot convert " + Describe(v) + " to " + target);
}

bool FoldedEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Half away from zero, as the host rounds a float into an integer.
bool RoundToInteger(double d, int64_t& out) {
  if (!std::isfinite(d)) return false;
  const double r = std::round(d);
  if (r < -9223372036854775808.0 || r >= 9223372036854775808.0) return false;
  out = static_cast<int64_t>(r);
  return true;
}

bool ParseInteger(std::string_view s, int64_t& out) {
  s = Trim(s);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty() || s.size() > 19) return false;
  uint64_t acc = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    acc = acc * 10 + static_cast<uint64_t>(c - '0');
  }
  const uint64_t limit = negative ? 9223372036854775808ull : 9223372036854775807ull;
  if (acc > limit) return false;
  out = negative ? static_cast<int64_t>(0 - acc) : static_cast<int64_t>(acc);
  return true;
}

}  // namespace

DateTime DateTime::FromDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month)) {
    throw ConversionError("Invalid date: year " + std::to_string(year) + ", month " +
                          std::to_string(month) + ", day " + std::to_string(day));
  }
  return DateTime{static_cast<double>(DaysFromCivil(year, month, day) - kEpochOffset)};
}

DateTime DateTime::FromDateTime(int year, int month, int day, int hour, int minute, int second) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
    throw ConversionError("Invalid time: " + std::to_string(hour) + ":" + std::to_string(minute) +
                          ":" + std::to_string(second));
  }
  const DateTime date = FromDate(year, month, day);
  const int64_t ms = ((hour * 60 + minute) * 60 + second) * int64_t{1000};
  return DateTime{date.days + static_cast<double>(ms) / kMsPerDay};
}

void DateTime::Decode(int& year, int& month, int& day) const {
  int64_t d, ms;
  Split(days, d, ms);
  CivilFromDays(d + kEpochOffset, year, month, day);
}

void DateTime::DecodeTime(int& hour, int& minute, int& second, int& msec) const {
  int64_t d, ms;
  Split(days, d, ms);
  msec = static_cast<int>(ms % 1000);
  ms /= 1000;
  second = static_cast<int>(ms % 60);
  ms /= 60;
  minute = static_cast<int>(ms % 60);
  hour = static_cast<int>(ms / 60);
}

DateTime DateTime::DateOnly() const {
  int64_t d, ms;
  Split(days, d, ms);
  return DateTime{static_cast<double>(d)};
}

bool DateTime::HasTime() const {
  int64_t d, ms;
  Split(days, d, ms);
  return ms != 0;
}

int DateTime::DayOfWeek() const {
  int64_t d, ms;
  Split(days, d, ms);
  // 1899-12-30 was a Saturday.
  int64_t w = (d + 6) % 7;
  if (w < 0) w += 7;
  return static_cast<int>(w) + 1;
}

// Made non-const, so that TakePacket may move out of it when it holds the only
// reference.
Value::Value(DataPacket p)
    : v_(std::shared_ptr<const DataPacket>(std::make_shared<DataPacket>(std::move(p)))) {}

bool Value::AsBoolean() const {
  switch (kind()) {
    case Kind::Boolean:
      return std::get<bool>(v_);
    case Kind::Integer:
      return std::get<int64_t>(v_) != 0;
    case Kind::Float:
      return std::get<double>(v_) != 0;
    case Kind::Text: {
      const std::string_view s = Trim(std::get<std::string>(v_));
      if (FoldedEquals(s, "true")) return true;
      if (FoldedEquals(s, "false")) return false;
      double d;
      if (TextToFloat(s, d)) return d != 0;
      break;
    }
    default:
      break;
  }
  CannotConvert(*this, "Boolean");
}

int64_t Value::AsInteger() const {
  int64_t out = 0;
  switch (kind()) {
    case Kind::Boolean:
      return std::get<bool>(v_) ? 1 : 0;
    case Kind::Integer:
      return std::get<int64_t>(v_);
    case Kind::Float:
      if (RoundToInteger(std::get<double>(v_), out)) return out;
      break;
    case Kind::Date:
      if (RoundToInteger(std::get<DateTime>(v_).days, out)) return out;
      break;
    case Kind::Text: {
      const std::string& s = std::get<std::string>(v_);
      if (ParseInteger(s, out)) return out;
      double d;
      if (TextToFloat(s, d) && RoundToInteger(d, out)) return out;
      break;
    }
    default:
      break;
  }
  CannotConvert(*this, "Integer");
}

double Value::AsFloat() const {
  switch (kind()) {
    case Kind::Boolean:
      return std::get<bool>(v_) ? 1 : 0;
    case Kind::Integer:
      return static_cast<double>(std::get<int64_t>(v_));
    case Kind::Float:
      return std::get<double>(v_);
    case Kind::Date:
      return std::get<DateTime>(v_).days;
    case Kind::Text: {
      double d;
      if (TextToFloat(std::get<std::string>(v_), d)) return d;
      break;
    }
    default:
      break;
  }
  CannotConvert(*this, "Float");
}

DateTime Value::AsDate() const {
  switch (kind()) {
    case Kind::Date:
      return std::get<DateTime>(v_);
    case Kind::Integer:
      return DateTime{static_cast<double>(std::get<int64_t>(v_))};
    case Kind::Float:
      if (std::isfinite(std::get<double>(v_))) return DateTime{std::get<double>(v_)};
      break;
    case Kind::Text: {
      DateTime d;
      if (TextToDateTime(std::get<std::string>(v_), d)) return d;
      break;
    }
    default:
      break;
  }
  CannotConvert(*this, "Date");
}

const DataPacket& Value::AsPacket() const {
  if (kind() != Kind::Packet) CannotConvert(*this, "Packet");
  return *std::get<std::shared_ptr<const DataPacket>>(v_);
}

DataPacket Value::TakePacket() && {
  if (kind() != Kind::Packet) CannotConvert(*this, "Packet");
  std::shared_ptr<const DataPacket> held =
      std::move(std::get<std::shared_ptr<const DataPacket>>(v_));
  v_ = std::monostate{};
  if (held.use_count() == 1) return std::move(const_cast<DataPacket&>(*held));
  return *held;
}

const ValueArray& Value::AsArray() const {
  if (kind() != Kind::Array) CannotConvert(*this, "Array");
  return std::get<ValueArray>(v_);
}

ValueArray& Value::AsArray() {
  if (kind() != Kind::Array) CannotConvert(*this, "Array");
  return std::get<ValueArray>(v_);
}

std::string Value::ToText() const {
  switch (kind()) {
    case Kind::Null:
      return "";
    case Kind::Boolean:
      return std::get<bool>(v_) ? "True" : "False";
    case Kind::Integer:
      return std::to_string(std::get<int64_t>(v_));
    case Kind::Float:
      return FloatToText(std::get<double>(v_));
    case Kind::Text:
      return std::get<std::string>(v_);
    case Kind::Date:
      return DateTimeToText(std::get<DateTime>(v_));
    case Kind::Packet:
    case Kind::Array:
      break;
  }
  CannotConvert(*this, "Text");
}

bool operator==(const Value& a, const Value& b) {
  if (a.kind() != b.kind()) return false;
  if (a.kind() == Value::Kind::Packet) {
    // A packet is a shared immutable body: two values are the same packet when
    // they share it, never by comparing contents cell by cell.
    const auto& pa = std::get<std::shared_ptr<const DataPacket>>(a.v_);
    const auto& pb = std::get<std::shared_ptr<const DataPacket>>(b.v_);
    if (pa == pb) return true;
    if (pa->empty() || pb->empty()) return pa->empty() && pb->empty();
    return &pa->body() == &pb->body();
  }
  return a.v_ == b.v_;
}

const char* KindName(Value::Kind k) {
  switch (k) {
    case Value::Kind::Null:
      return "Null";
    case Value::Kind::Boolean:
      return "Boolean";
    case Value::Kind::Integer:
      return "Integer";
    case Value::Kind::Float:
      return "Float";
    case Value::Kind::Text:
      return "Text";
    case Value::Kind::Date:
      return "Date";
    case Value::Kind::Packet:
      return "Packet";
    case Value::Kind::Array:
      return "Array";
  }
  return "Unknown";
}

}  // namespace apura
