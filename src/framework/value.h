#pragma once
// The variant that crosses every boundary of the worksheet: server arguments and
// results, launch values, field values.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace apura {

class DataPacket;  // packet.h

// Days since 1899-12-30, the fraction being the time of day.
struct DateTime {
  double days = 0;
  friend bool operator==(DateTime a, DateTime b) { return a.days == b.days; }
  friend auto operator<=>(DateTime a, DateTime b) { return a.days <=> b.days; }

  static DateTime FromDate(int year, int month, int day);
  static DateTime FromDateTime(int year, int month, int day, int hour, int minute, int second);
  void Decode(int& year, int& month, int& day) const;
  void DecodeTime(int& hour, int& minute, int& second, int& msec) const;
  DateTime DateOnly() const;
  bool HasTime() const;
  int DayOfWeek() const;  // 1 = Sunday ... 7 = Saturday
};

// Raised where the platform would raise its conversion error.
class ConversionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Value;
using ValueArray = std::vector<Value>;

class Value {
 public:
  enum class Kind { Null, Boolean, Integer, Float, Text, Date, Packet, Array };

  Value() = default;
  Value(std::nullptr_t) {}
  Value(bool b) : v_(b) {}
  Value(int i) : v_(static_cast<int64_t>(i)) {}
  Value(int64_t i) : v_(i) {}
  Value(double d) : v_(d) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(std::string s) : v_(std::move(s)) {}
  Value(std::string_view s) : v_(std::string(s)) {}
  Value(DateTime d) : v_(d) {}
  Value(DataPacket p);
  Value(ValueArray a) : v_(std::move(a)) {}

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool IsNull() const { return kind() == Kind::Null; }

  bool AsBoolean() const;
  int64_t AsInteger() const;
  double AsFloat() const;
  DateTime AsDate() const;
  const DataPacket& AsPacket() const;  // throws ConversionError when not a packet
  // The packet for a new owner, moved out when this value is its only holder;
  // the value is left null. Throws ConversionError when not a packet.
  DataPacket TakePacket() &&;
  const ValueArray& AsArray() const;
  ValueArray& AsArray();

  // The platform's value-to-text conversion, with the current FormatSettings:
  // numbers in text form with the locale's decimal separator, dates in the
  // short date format (time appended only when it is not midnight), null as
  // empty text. Packets and arrays cannot be converted.
  std::string ToText() const;

  friend bool operator==(const Value& a, const Value& b);

 private:
  std::variant<std::monostate, bool, int64_t, double, std::string, DateTime,
               std::shared_ptr<const DataPacket>, ValueArray>
      v_;
};

const char* KindName(Value::Kind k);

}  // namespace apura
