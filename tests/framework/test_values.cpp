#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "framework/format.h"
#include "framework/packet.h"
#include "framework/value.h"

namespace apura {
namespace {

// Every test here reads the process-wide settings; each starts from the defaults.
class ValueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = CurrentFormat();
    CurrentFormat() = FormatSettings{};
  }
  void TearDown() override { CurrentFormat() = saved_; }
  FormatSettings saved_;
};

struct Ymd {
  int y, m, d;
};
Ymd DecodeDate(DateTime d) {
  Ymd r{};
  d.Decode(r.y, r.m, r.d);
  return r;
}

TEST_F(ValueTest, DateAnchorsAndCalendarRules) {
  EXPECT_EQ(DateTime::FromDate(1899, 12, 30).days, 0);
  EXPECT_EQ(DateTime::FromDate(1899, 12, 29).days, -1);
  EXPECT_EQ(DateTime::FromDate(1900, 1, 1).days, 2);
  EXPECT_EQ(DateTime::FromDate(1900, 3, 1).days, 61);  // 1900 was not a leap year
  EXPECT_EQ(DateTime::FromDate(2000, 1, 1).days, 36526);
  EXPECT_EQ(DateTime::FromDate(1800, 1, 1).days, -36522);
  EXPECT_EQ(DateTime::FromDate(2000, 3, 1).days - DateTime::FromDate(2000, 2, 28).days, 2);

  EXPECT_THROW(DateTime::FromDate(1900, 2, 29), ConversionError);
  EXPECT_THROW(DateTime::FromDate(2023, 2, 29), ConversionError);
  EXPECT_THROW(DateTime::FromDate(2023, 4, 31), ConversionError);
  EXPECT_THROW(DateTime::FromDate(2023, 13, 1), ConversionError);
  EXPECT_THROW(DateTime::FromDate(0, 1, 1), ConversionError);
  EXPECT_THROW(DateTime::FromDateTime(2023, 1, 1, 24, 0, 0), ConversionError);
  EXPECT_THROW(DateTime::FromDateTime(2023, 1, 1, 0, 60, 0), ConversionError);
}

TEST_F(ValueTest, DecodeIsTheInverseOfEncodeAcrossTheWholeRange) {
  // Years 1 to 9999, on both sides of 1899-12-30.
  for (double d = -693593; d < 2958466; d += 997) {
    const Ymd ymd = DecodeDate(DateTime{d});
    ASSERT_EQ(DateTime::FromDate(ymd.y, ymd.m, ymd.d).days, d) << ymd.y << "-" << ymd.m;
  }
  const Ymd first = DecodeDate(DateTime{-693593});
  EXPECT_EQ(first.y, 1);
  EXPECT_EQ(first.m, 1);
  EXPECT_EQ(first.d, 1);
  EXPECT_THROW(DecodeDate(DateTime{std::nan("")}), ConversionError);
  EXPECT_THROW(DecodeDate(DateTime{1e300}), ConversionError);
}

TEST_F(ValueTest, TimesBeforeTheEpochCountForwardFromTheirDay) {
  // 1899-12-29 06:00 lies three quarters of a day before the epoch.
  const DateTime t = DateTime::FromDateTime(1899, 12, 29, 6, 0, 0);
  EXPECT_DOUBLE_EQ(t.days, -0.75);
  const Ymd ymd = DecodeDate(t);
  EXPECT_EQ(ymd.y, 1899);
  EXPECT_EQ(ymd.m, 12);
  EXPECT_EQ(ymd.d, 29);
  int h, n, s, ms;
  t.DecodeTime(h, n, s, ms);
  EXPECT_EQ(h, 6);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(t.DateOnly().days, -1);
  EXPECT_TRUE(t.HasTime());
  EXPECT_LT(t, DateTime::FromDate(1899, 12, 30));
  EXPECT_GT(t, DateTime::FromDate(1899, 12, 29));

  const DateTime old = DateTime::FromDateTime(1850, 6, 15, 23, 59, 59);
  EXPECT_EQ(old.DateOnly(), DateTime::FromDate(1850, 6, 15));
  old.DecodeTime(h, n, s, ms);
  EXPECT_EQ(h * 3600 + n * 60 + s, 86399);
}

TEST_F(ValueTest, AFractionAHairBelowMidnightIsTheNextDay) {
  // Arithmetic on dates leaves such values; date and time must agree on the day.
  const double nextDay = DateTime::FromDate(2026, 12, 9).days;
  const DateTime almost{nextDay - 1e-10};
  EXPECT_EQ(almost.DateOnly().days, nextDay);
  EXPECT_FALSE(almost.HasTime());
  const Ymd ymd = DecodeDate(almost);
  EXPECT_EQ(ymd.d, 9);

  const DateTime lastMs{nextDay - 1.0 / 86400000};
  int h, n, s, ms;
  lastMs.DecodeTime(h, n, s, ms);
  EXPECT_EQ(h, 23);
  EXPECT_EQ(n, 59);
  EXPECT_EQ(s, 59);
  EXPECT_EQ(ms, 999);
  EXPECT_EQ(DecodeDate(lastMs).d, 8);
}

TEST_F(ValueTest, DayOfWeekOnBothSidesOfTheEpoch) {
  EXPECT_EQ(DateTime::FromDate(1899, 12, 30).DayOfWeek(), 7);  // Saturday
  EXPECT_EQ(DateTime::FromDate(1899, 12, 31).DayOfWeek(), 1);  // Sunday
  EXPECT_EQ(DateTime::FromDate(1899, 12, 29).DayOfWeek(), 6);  // Friday
  EXPECT_EQ(DateTime::FromDate(1800, 1, 1).DayOfWeek(), 4);    // Wednesday
  EXPECT_EQ(DateTime::FromDate(2026, 12, 8).DayOfWeek(), 3);   // Tuesday
  EXPECT_EQ(DateTime::FromDateTime(1899, 12, 29, 18, 0, 0).DayOfWeek(), 6);
}

TEST_F(ValueTest, NumericConversions) {
  EXPECT_EQ(Value(int64_t{-7}).AsFloat(), -7.0);
  EXPECT_EQ(Value(true).AsInteger(), 1);
  EXPECT_EQ(Value(2.5).AsInteger(), 3);  // half away from zero
  EXPECT_EQ(Value(-2.5).AsInteger(), -3);
  EXPECT_EQ(Value(2.4999).AsInteger(), 2);
  EXPECT_EQ(Value("  42 ").AsInteger(), 42);
  EXPECT_EQ(Value("-9223372036854775808").AsInteger(), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(Value("1,5").AsInteger(), 2);
  EXPECT_DOUBLE_EQ(Value("1,25").AsFloat(), 1.25);
  EXPECT_DOUBLE_EQ(Value(DateTime{36526.5}).AsFloat(), 36526.5);
  EXPECT_TRUE(Value(0.5).AsBoolean());
  EXPECT_FALSE(Value(int64_t{0}).AsBoolean());
  EXPECT_TRUE(Value("TRUE").AsBoolean());
  EXPECT_FALSE(Value(" false ").AsBoolean());

  CurrentFormat().decimalSeparator = '.';
  CurrentFormat().thousandSeparator = ',';
  EXPECT_DOUBLE_EQ(Value("1.25").AsFloat(), 1.25);
  EXPECT_THROW(Value("1,25").AsFloat(), ConversionError);
}

TEST_F(ValueTest, DateConversions) {
  EXPECT_EQ(Value("08/12/2026").AsDate(), DateTime::FromDate(2026, 12, 8));
  EXPECT_EQ(Value("08/12/2026 13:05:09").AsDate(), DateTime::FromDateTime(2026, 12, 8, 13, 5, 9));
  EXPECT_EQ(Value(36526.25).AsDate().days, 36526.25);
  EXPECT_EQ(Value(int64_t{2}).AsDate(), DateTime::FromDate(1900, 1, 1));
}

TEST_F(ValueTest, ImpossibleConversionsNameBothKinds) {
  auto message = [](auto&& f) -> std::string {
    try {
      f();
    } catch (const ConversionError& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_EQ(message([] { Value("abc").AsFloat(); }), "Cannot convert Text \"abc\" to Float");
  EXPECT_EQ(message([] { Value().AsInteger(); }), "Cannot convert Null to Integer");
  EXPECT_EQ(message([] { Value(int64_t{3}).AsPacket(); }), "Cannot convert Integer to Packet");
  EXPECT_EQ(message([] { Value(1.5).AsArray(); }), "Cannot convert Float to Array");
  EXPECT_EQ(message([] { Value("31/02/2026").AsDate(); }),
            "Cannot convert Text \"31/02/2026\" to Date");
  EXPECT_EQ(message([] { Value(ValueArray{}).ToText(); }), "Cannot convert Array to Text");
  EXPECT_EQ(message([] { Value(DataPacket{}).ToText(); }), "Cannot convert Packet to Text");
  EXPECT_EQ(message([] { Value(true).AsDate(); }), "Cannot convert Boolean to Date");
  EXPECT_EQ(message([] { Value("maybe").AsBoolean(); }),
            "Cannot convert Text \"maybe\" to Boolean");

  const std::string longText = message([] { Value(std::string(500, 'x')).AsFloat(); });
  EXPECT_EQ(longText, "Cannot convert Text \"" + std::string(57, 'x') + "...\" to Float");

  EXPECT_THROW(Value(1e30).AsInteger(), ConversionError);
  EXPECT_THROW(Value(std::nan("")).AsInteger(), ConversionError);
  EXPECT_THROW(Value("99999999999999999999").AsInteger(), ConversionError);
  EXPECT_THROW(Value("").AsFloat(), ConversionError);
  Value mutableText("x");
  EXPECT_THROW(mutableText.AsArray(), ConversionError);
}

TEST_F(ValueTest, ToTextFollowsTheLocale) {
  EXPECT_EQ(Value().ToText(), "");
  EXPECT_EQ(Value(true).ToText(), "True");
  EXPECT_EQ(Value(false).ToText(), "False");
  EXPECT_EQ(Value(std::numeric_limits<int64_t>::min()).ToText(), "-9223372036854775808");
  EXPECT_EQ(Value(1.5).ToText(), "1,5");
  EXPECT_EQ(Value(100.0).ToText(), "100");
  EXPECT_EQ(Value(1234567.25).ToText(), "1234567,25");
  EXPECT_EQ(Value("já").ToText(), "já");
  EXPECT_EQ(Value(DateTime::FromDate(2026, 12, 8)).ToText(), "08/12/2026");
  EXPECT_EQ(Value(DateTime::FromDateTime(2026, 12, 8, 0, 0, 1)).ToText(), "08/12/2026 00:00:01");

  // A launch array: every element, null included, becomes text.
  const ValueArray launch{Value("001"), Value(int64_t{15}), Value(), Value(2.5),
                          Value(DateTime::FromDate(2026, 1, 31))};
  std::vector<std::string> texts;
  for (const Value& v : launch) texts.push_back(v.ToText());
  EXPECT_EQ(texts, (std::vector<std::string>{"001", "15", "", "2,5", "31/01/2026"}));

  CurrentFormat().decimalSeparator = '.';
  CurrentFormat().shortDateFormat = "yyyy-mm-dd";
  EXPECT_EQ(Value(-0.125).ToText(), "-0.125");
  EXPECT_EQ(Value(DateTime::FromDate(2026, 1, 31)).ToText(), "2026-01-31");
}

TEST_F(ValueTest, EqualityNeedsTheSameKind) {
  EXPECT_EQ(Value(), Value(nullptr));
  EXPECT_NE(Value(), Value(""));
  EXPECT_NE(Value(int64_t{1}), Value(1.0));
  EXPECT_NE(Value(int64_t{1}), Value(true));
  EXPECT_NE(Value("1"), Value(int64_t{1}));
  EXPECT_NE(Value(2.0), Value(DateTime{2.0}));
  EXPECT_EQ(Value("abc"), Value(std::string("abc")));
  EXPECT_NE(Value("abc"), Value("ABC"));
  EXPECT_EQ(Value(DateTime{36526.5}), Value(DateTime{36526.5}));
  EXPECT_NE(Value(std::nan("")), Value(std::nan("")));

  const Value nested(ValueArray{Value(int64_t{1}), Value(ValueArray{Value("a"), Value()})});
  EXPECT_EQ(nested, Value(ValueArray{Value(int64_t{1}), Value(ValueArray{Value("a"), Value()})}));
  EXPECT_NE(nested, Value(ValueArray{Value(int64_t{1}), Value(ValueArray{Value("a")})}));
}

TEST_F(ValueTest, PacketsCompareByIdentityAndShareTheirBody) {
  const DataPacket p = PacketBuilder({{"CODE", FieldType::String, 5}}).Add({Value("A")}).Build();
  const DataPacket same = PacketBuilder({{"CODE", FieldType::String, 5}}).Add({Value("A")}).Build();
  const Value a(p);
  const Value copyOfA = a;
  EXPECT_EQ(a, copyOfA);
  EXPECT_EQ(a, Value(p));     // another value over the same packet
  EXPECT_NE(a, Value(same));  // equal contents, different packet
  EXPECT_EQ(&a.AsPacket().body(), &p.body());
  EXPECT_EQ(a.AsPacket().RowCount(), 1u);
  EXPECT_EQ(Value(DataPacket{}), Value(DataPacket{}));
  EXPECT_NE(Value(DataPacket{}), a);
}

}  // namespace
}  // namespace apura
