#include <gtest/gtest.h>

#include <cmath>

#include "framework/format.h"

namespace apura {
namespace {

class FormatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = CurrentFormat();
    CurrentFormat() = FormatSettings{};
  }
  void TearDown() override { CurrentFormat() = saved_; }
  void UseDotDecimal() {
    CurrentFormat().decimalSeparator = '.';
    CurrentFormat().thousandSeparator = ',';
  }
  FormatSettings saved_;
};

// --- FloatToText / TextToFloat ----------------------------------------------

TEST_F(FormatTest, FloatToTextGeneralForm) {
  EXPECT_EQ(FloatToText(1.5), "1,5");
  EXPECT_EQ(FloatToText(100), "100");
  EXPECT_EQ(FloatToText(0), "0");
  EXPECT_EQ(FloatToText(-0.0), "0");
  EXPECT_EQ(FloatToText(-2.25), "-2,25");
  EXPECT_EQ(FloatToText(1234567), "1234567");  // never grouped
  EXPECT_EQ(FloatToText(0.1 + 0.2), "0,3");    // 15 digits, not the binary tail
  EXPECT_EQ(FloatToText(1.0 / 3), "0,333333333333333");
  EXPECT_EQ(FloatToText(2.0 / 3), "0,666666666666667");
  EXPECT_EQ(FloatToText(123456789012345.0), "123456789012345");
  EXPECT_EQ(FloatToText(0.0001), "0,0001");
  EXPECT_EQ(FloatToText(-0.00012), "-0,00012");
}

TEST_F(FormatTest, FloatToTextScientificOnlyForVeryLargeOrSmall) {
  EXPECT_EQ(FloatToText(1e15), "1E15");
  EXPECT_EQ(FloatToText(1e20), "1E20");
  EXPECT_EQ(FloatToText(-1.23456789e20), "-1,23456789E20");
  EXPECT_EQ(FloatToText(0.00001), "1E-5");
  EXPECT_EQ(FloatToText(1.5e-7), "1,5E-7");
  EXPECT_EQ(FloatToText(999999999999999.0), "999999999999999");
  EXPECT_EQ(FloatToText(9999999999999999.0), "1E16");  // rounds to 15 digits
  EXPECT_EQ(FloatToText(std::nan("")), "NAN");
  EXPECT_EQ(FloatToText(-INFINITY), "-INF");
}

TEST_F(FormatTest, FloatTextReadsBack) {
  for (double v : {1.5, -2.25, 0.1, 123.456, 1e-5, 1.5e-7, 1e20, 987654321.125, 0.0001}) {
    double back = 0;
    ASSERT_TRUE(TextToFloat(FloatToText(v), back)) << FloatToText(v);
    EXPECT_EQ(back, v) << FloatToText(v);
  }
  UseDotDecimal();
  EXPECT_EQ(FloatToText(1234.5), "1234.5");
  double back = 0;
  ASSERT_TRUE(TextToFloat(FloatToText(-1.5e-7), back));
  EXPECT_EQ(back, -1.5e-7);
}

TEST_F(FormatTest, TextToFloatAcceptsOnlyNumbers) {
  double v = 0;
  EXPECT_TRUE(TextToFloat(" 1,5 ", v));
  EXPECT_EQ(v, 1.5);
  EXPECT_TRUE(TextToFloat("-,5", v));
  EXPECT_EQ(v, -0.5);
  EXPECT_TRUE(TextToFloat("+7", v));
  EXPECT_EQ(v, 7);
  EXPECT_TRUE(TextToFloat("1,5E3", v));
  EXPECT_EQ(v, 1500);
  EXPECT_TRUE(TextToFloat("2e-2", v));
  EXPECT_EQ(v, 0.02);

  v = 42;
  for (const char* bad : {"", "  ", "abc", "1.5", "1.234,5", "1,2,3", "1e", "--1", "1 2", ",", "-",
                          "1,5x", "inf", "nan", "1e999", "0x10"}) {
    EXPECT_FALSE(TextToFloat(bad, v)) << '"' << bad << '"';
  }
  EXPECT_EQ(v, 42) << "a failed read leaves the target alone";

  // '.' is read as a decimal point whenever it cannot be the thousands separator.
  CurrentFormat().thousandSeparator = ' ';
  EXPECT_TRUE(TextToFloat("1.25", v));
  EXPECT_EQ(v, 1.25);
  EXPECT_TRUE(TextToFloat("1,75", v));
  EXPECT_EQ(v, 1.75);
  UseDotDecimal();
  EXPECT_TRUE(TextToFloat("1.25", v));
  EXPECT_FALSE(TextToFloat("1,25", v));
}

// --- FormatFloat ------------------------------------------------------------

TEST_F(FormatTest, PicturesOfTheWorksheet) {
  EXPECT_EQ(FormatFloat("#,##0.00000", 1234567.891), "1.234.567,89100");
  EXPECT_EQ(FormatFloat("#,##0.00000", 0), "0,00000");
  EXPECT_EQ(FormatFloat("#,##0.00000", 0.5), "0,50000");
  EXPECT_EQ(FormatFloat("#,##0.00000", -1234.5), "-1.234,50000");
  EXPECT_EQ(FormatFloat("####,##0.00000", 12.3), "12,30000");
  EXPECT_EQ(FormatFloat("####,##0.00000", 123456789.5), "123.456.789,50000");
  EXPECT_EQ(FormatFloat("#0.000", 5), "5,000");
  EXPECT_EQ(FormatFloat("#0.000", 1234.5678), "1234,568");  // no grouping
  EXPECT_EQ(FormatFloat("##0.000", 0.0005), "0,001");
  EXPECT_EQ(FormatFloat("#,##0.000", 999.9995), "1.000,000");
  EXPECT_EQ(FormatFloat("#,##0.000", -999999.9996), "-1.000.000,000");
  EXPECT_EQ(FormatFloat("#,##0", 1e15), "1.000.000.000.000.000");
  EXPECT_EQ(FormatFloat("#,##0", 100), "100");
  EXPECT_EQ(FormatFloat("#,##0", 1000), "1.000");
}

TEST_F(FormatTest, RoundingIsHalfAwayFromZeroOnTheShownDigits) {
  // 2.675 is 2.67499999... in binary; what the user typed and sees is 2.675,
  // so it rounds up, as does its negative.
  EXPECT_EQ(FormatFloat("0.00", 2.675), "2,68");
  EXPECT_EQ(FormatFloat("0.00", -2.675), "-2,68");
  EXPECT_EQ(FormatFloat("0.00", 1.005), "1,01");
  EXPECT_EQ(FormatFloat("0.00", 0.125), "0,13");  // not to even
  EXPECT_EQ(FormatFloat("0.00", 0.124999), "0,12");
  EXPECT_EQ(FormatFloat("0", 2.5), "3");
  EXPECT_EQ(FormatFloat("0", -0.5), "-1");
  EXPECT_EQ(FormatFloat("0.00", 9.995), "10,00");
  EXPECT_EQ(FormatFloat("#,##0.00", 99999.995), "100.000,00");
}

TEST_F(FormatTest, NegativesThatRoundToZeroLoseTheirSign) {
  EXPECT_EQ(FormatFloat("0.00", -0.001), "0,00");
  EXPECT_EQ(FormatFloat("#,##0.00000", -0.000001), "0,00000");
  EXPECT_EQ(FormatFloat("0.00;(0.00)", -0.001), "0,00");
  EXPECT_EQ(FormatFloat("0.00", -0.0), "0,00");
}

TEST_F(FormatTest, Sections) {
  const char* pic = "#,##0.00;(#,##0.00);'zero'";
  EXPECT_EQ(FormatFloat(pic, 1234.5), "1.234,50");
  EXPECT_EQ(FormatFloat(pic, -1234.5), "(1.234,50)");
  EXPECT_EQ(FormatFloat(pic, 0), "zero");
  EXPECT_EQ(FormatFloat(pic, 0.001), "zero");
  EXPECT_EQ(FormatFloat(pic, -0.001), "zero");
  EXPECT_EQ(FormatFloat("0.00;;-", -5), "-5,00");  // empty negative section
  EXPECT_EQ(FormatFloat("0.00;;-", 0), "-");
  EXPECT_EQ(FormatFloat("0.0;0.0-", -2), "2,0-");
  EXPECT_EQ(FormatFloat("0.0;0.0-", 0), "0,0");
  EXPECT_EQ(FormatFloat("'a;b' 0", 3), "a;b 3");  // a quoted ';' is not a section break
  EXPECT_EQ(FormatFloat("", 1.5), "1,5");
}

TEST_F(FormatTest, PlaceholdersAndLiterals) {
  EXPECT_EQ(FormatFloat("0.##", 1), "1");
  EXPECT_EQ(FormatFloat("0.##", 1.5), "1,5");
  EXPECT_EQ(FormatFloat("0.0#", 1.555), "1,56");
  EXPECT_EQ(FormatFloat("00.00", 5.5), "05,50");
  EXPECT_EQ(FormatFloat("#0", 123456), "123456");  // digits beyond the picture stay
  EXPECT_EQ(FormatFloat("#.00", 0.5), ",50");
  EXPECT_EQ(FormatFloat(".00", 12.5), "12,50");
  EXPECT_EQ(FormatFloat("R$ #,##0.00", 1234.5), "R$ 1.234,50");
  EXPECT_EQ(FormatFloat("R$ #,##0.00", -3), "-R$ 3,00");
  EXPECT_EQ(FormatFloat("0.0 'kg'", 1.5), "1,5 kg");
  EXPECT_EQ(FormatFloat("\"#0\" 0", 5), "#0 5");
  EXPECT_EQ(FormatFloat("0.0%", 12.34), "12,3%");
  EXPECT_EQ(FormatFloat("0000,0", 12), "00.012");  // padded zeros are grouped too
}

TEST_F(FormatTest, PicturesWithSwitchedSeparators) {
  UseDotDecimal();
  EXPECT_EQ(FormatFloat("#,##0.00000", 1234567.891), "1,234,567.89100");
  EXPECT_EQ(FormatFloat("#0.000", -0.25), "-0.250");
  CurrentFormat().thousandSeparator = ' ';
  EXPECT_EQ(FormatFloat("#,##0.00", 1234567), "1 234 567.00");
}

// --- dates ------------------------------------------------------------------

TEST_F(FormatTest, DatePictures) {
  const DateTime d = DateTime::FromDateTime(2026, 1, 5, 7, 3, 9);
  EXPECT_EQ(FormatDateTime("dd/mm/yyyy", d), "05/01/2026");
  EXPECT_EQ(FormatDateTime("d/m/yy", d), "5/1/26");
  EXPECT_EQ(FormatDateTime("hh:nn:ss", d), "07:03:09");
  EXPECT_EQ(FormatDateTime("h:n:s", d), "7:3:9");
  EXPECT_EQ(FormatDateTime("hh:mm", d), "07:03");  // m after an hour is minutes
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd", d), "2026-01-05");
  EXPECT_EQ(FormatDateTime("ddd dd mmm", d), "seg 05 jan");
  EXPECT_EQ(FormatDateTime("dddd, d 'de' mmmm 'de' yyyy", d),
            "segunda-feira, 5 de janeiro de 2026");
  EXPECT_EQ(FormatDateTime("DD/MM/YYYY", d), "05/01/2026");
  EXPECT_EQ(FormatDateTime("yyyy", DateTime::FromDate(33, 3, 3)), "0033");
  EXPECT_EQ(FormatDateTime("dd/mm/yyyy hh:nn", DateTime{-0.75}), "29/12/1899 06:00");
}

TEST_F(FormatTest, TimeIsAppendedOnlyWhenNotMidnight) {
  const double day = DateTime::FromDate(2026, 12, 8).days;
  EXPECT_EQ(DateTimeToText(DateTime{day}), "08/12/2026");
  EXPECT_EQ(DateTimeToText(DateTime{day + 1.0 / 86400}), "08/12/2026 00:00:01");
  EXPECT_EQ(DateTimeToText(DateTime{day + 0.5}), "08/12/2026 12:00:00");
  EXPECT_EQ(DateTimeToText(DateTime{day - 1.0 / 86400}), "07/12/2026 23:59:59");
  // Less than half a millisecond before midnight is midnight of the next day.
  EXPECT_EQ(DateTimeToText(DateTime{day + 1 - 1e-10}), "09/12/2026");
  EXPECT_EQ(DateTimeToText(DateTime{-1}), "29/12/1899");
  EXPECT_EQ(DateTimeToText(DateTime{-0.75}), "29/12/1899 06:00:00");
  EXPECT_EQ(DateTimeToText(DateTime{0}), "30/12/1899");

  CurrentFormat().shortDateFormat = "yyyy-mm-dd";
  CurrentFormat().longTimeFormat = "hh'h'nn";
  EXPECT_EQ(DateTimeToText(DateTime{day + 0.75}), "2026-12-08 18h00");
}

TEST_F(FormatTest, TextToDateTimeReadsTheShortFormat) {
  DateTime d;
  ASSERT_TRUE(TextToDateTime("08/12/2026", d));
  EXPECT_EQ(d, DateTime::FromDate(2026, 12, 8));
  ASSERT_TRUE(TextToDateTime(" 8/1/2026 ", d));
  EXPECT_EQ(d, DateTime::FromDate(2026, 1, 8));
  ASSERT_TRUE(TextToDateTime("08/12/2026 13:05", d));
  EXPECT_EQ(d, DateTime::FromDateTime(2026, 12, 8, 13, 5, 0));
  ASSERT_TRUE(TextToDateTime("29/02/2024 23:59:59", d));
  EXPECT_EQ(d, DateTime::FromDateTime(2024, 2, 29, 23, 59, 59));
  ASSERT_TRUE(TextToDateTime("29/12/1899 06:00:00", d));
  EXPECT_DOUBLE_EQ(d.days, -0.75);
  ASSERT_TRUE(TextToDateTime("08/12/26", d));
  EXPECT_EQ(d, DateTime::FromDate(2026, 12, 8));
  ASSERT_TRUE(TextToDateTime("01/01/50", d));
  EXPECT_EQ(d, DateTime::FromDate(1950, 1, 1));

  const DateTime keep = d;
  for (const char* bad :
       {"", "31/02/2026", "29/02/2023", "32/01/2026", "00/01/2026", "08/13/2026", "08/12",
        "08-12-2026", "08/12/2026x", "08/12/2026 25:00", "08/12/2026 10:60", "08/12/2026 10",
        "08/12/2026 10:00:00 x", "2026/12/08", "108/12/2026", "08/12/20260", "08/12/2026T10:00"}) {
    EXPECT_FALSE(TextToDateTime(bad, d)) << '"' << bad << '"';
  }
  EXPECT_EQ(d, keep);

  CurrentFormat().shortDateFormat = "yyyy-mm-dd";
  ASSERT_TRUE(TextToDateTime("2026-12-08 10:30", d));
  EXPECT_EQ(d, DateTime::FromDateTime(2026, 12, 8, 10, 30, 0));
  EXPECT_FALSE(TextToDateTime("08/12/2026", d));
}

TEST_F(FormatTest, DateTextReadsBack) {
  for (double v : {0.0, -1.0, -0.75, -36522.5, 36526.0, 46364.25, 46364.999988425926}) {
    DateTime back;
    ASSERT_TRUE(TextToDateTime(DateTimeToText(DateTime{v}), back)) << DateTimeToText(DateTime{v});
    EXPECT_NEAR(back.days, v, 1e-9) << DateTimeToText(DateTime{v});
  }
}

// --- edit masks -------------------------------------------------------------

TEST_F(FormatTest, EditMaskSections) {
  EditMask m = EditMask::Parse("9.99.999.9999;0;_");
  EXPECT_EQ(m.mask, "9.99.999.9999");
  EXPECT_FALSE(m.saveLiterals);
  EXPECT_EQ(m.blank, '_');
  m = EditMask::Parse("99-99;1; ");
  EXPECT_EQ(m.mask, "99-99");
  EXPECT_TRUE(m.saveLiterals);
  EXPECT_EQ(m.blank, ' ');
  m = EditMask::Parse("99/99");
  EXPECT_EQ(m.mask, "99/99");
  EXPECT_TRUE(m.saveLiterals);
  EXPECT_EQ(m.blank, '_');
  m = EditMask::Parse("99\\;99;0;*");  // an escaped ';' belongs to the picture
  EXPECT_EQ(m.mask, "99\\;99");
  EXPECT_FALSE(m.saveLiterals);
  EXPECT_EQ(m.blank, '*');
}

TEST_F(FormatTest, ProductTreeCodesThroughTheMask) {
  const char* mask = "9.99.999.9999;0;_";
  EXPECT_EQ(ApplyEditMask(mask, "1010011234"), "1.01.001.1234");
  EXPECT_EQ(ApplyEditMask(mask, "1010"), "1.01.0__.____");
  EXPECT_EQ(ApplyEditMask(mask, "1"), "1.__.___.____");
  EXPECT_EQ(ApplyEditMask(mask, ""), "_.__.___.____");
  EXPECT_EQ(ApplyEditMask(mask, "10100112345"), "1.01.001.12345");   // nothing is hidden
  EXPECT_EQ(ApplyEditMask(mask, "1.01.001.1234"), "1.01.001.1234");  // not masked twice
  EXPECT_EQ(ApplyEditMask(mask, "1 10011234"), "1._1.001.1234");

  EXPECT_EQ(StripEditMask(mask, "1.01.001.1234"), "1010011234");
  EXPECT_EQ(StripEditMask(mask, "1.01.0__.____"), "1010");
  EXPECT_EQ(StripEditMask(mask, "_.__.___.____"), "");
  EXPECT_EQ(StripEditMask(mask, "1._1.001.1234"), "1 10011234");
  for (const char* v : {"1010011234", "1010", "", "1 10011234", "10100112345"}) {
    EXPECT_EQ(StripEditMask(mask, ApplyEditMask(mask, v)), v);
  }
}

TEST_F(FormatTest, MasksThatSaveLiteralsAndOtherPositions) {
  EXPECT_EQ(ApplyEditMask("9.99;1;_", "1.23"), "1.23");
  EXPECT_EQ(ApplyEditMask("9.99;1;_", "123"), "1.23");
  EXPECT_EQ(ApplyEditMask("9.99;1;_", "1."), "1.__");
  EXPECT_EQ(StripEditMask("9.99;1;_", "1.2_"), "1.2");
  EXPECT_EQ(ApplyEditMask(">LL-000;0;_", "ab123"), "AB-123");
  EXPECT_EQ(ApplyEditMask("<LL>ll;0;_", "ABcd"), "abCD");
  EXPECT_EQ(ApplyEditMask("\\9-99;0;_", "12"), "9-12");
  EXPECT_EQ(StripEditMask("\\9-99;0;_", "9-12"), "12");
  EXPECT_EQ(ApplyEditMask("CC:cc;0;*", "ãb"), "ãb:**");  // positions count characters
  EXPECT_EQ(ApplyEditMask("", "as is"), "as is");
  EXPECT_EQ(StripEditMask("", "as is"), "as is");
}

}  // namespace
}  // namespace apura
