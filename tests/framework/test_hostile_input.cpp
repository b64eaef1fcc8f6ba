// Inputs a fuzzer found to break the table facility and the packets: each case
// once crashed, recursed without bound or lost data on a round trip.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "expect_refused.h"
#include "framework/dataset/dataset.h"
#include "framework/dataset/filter_expr.h"

using namespace apura;
using apura::testing::ExpectRefused;

namespace {

struct Items : TClientDataSet {
  Items() : TClientDataSet("cdsItems") {
    AddStringField("CODE", 10);
    AddFloatField("QTY");
  }
};

DataPacket ItemRows() {
  PacketBuilder b({{"CODE", FieldType::String, 10}, {"QTY", FieldType::Float, 0}});
  b.Add({Value("10"), Value(5.0)}).Add({Value("3"), Value(3.0)}).Add({Value("x"), Value()});
  return b.Build();
}

std::vector<std::string> Codes(TClientDataSet& t) {
  std::vector<std::string> out;
  for (t.First(); !t.Eof(); t.Next()) out.push_back(t.FieldByName("CODE").AsString());
  return out;
}

}  // namespace

TEST(HostileFilter, NumberFieldComparedWithTextFieldComparesAsShown) {
  Items t;
  t.SetData(ItemRows());
  t.SetFilter("QTY >= CODE");
  t.SetFiltered(true);
  // "5" >= "10" and "3" >= "3" as texts; the null quantity shows as "" < "x".
  EXPECT_EQ(Codes(t), (std::vector<std::string>{"10", "3"}));
  t.SetFilter("CODE = QTY");
  EXPECT_EQ(Codes(t), (std::vector<std::string>{"3"}));
  // A single row tested on its own (a posted record) goes the same way.
  t.SetFilter("CODE <> QTY");
  t.Append();
  t.FieldByName("CODE").SetAsString("7");
  t.FieldByName("QTY").SetAsFloat(7);
  t.Post();
  EXPECT_EQ(Codes(t), (std::vector<std::string>{"10", "x"}));
}

TEST(HostileFilter, NestingIsBoundedWithAClearErrorButLongChainsAreFine) {
  Items t;
  t.SetData(ItemRows());
  const int deep = kMaxFilterDepth + 1;
  const std::string parens = std::string(deep, '(') + "CODE = 'x'" + std::string(deep, ')');
  std::string nots;
  for (int i = 0; i < 10000; ++i) nots += "NOT ";
  nots += "CODE = 'x'";
  for (const std::string& bad : {parens, nots}) {
    try {
      t.SetFilter(bad);
      ADD_FAILURE() << "accepted a filter nested " << bad.size() << " characters deep";
    } catch (const EDatabaseError& e) {
      EXPECT_NE(std::string(e.what()).find("nested more than 64 levels"), std::string::npos)
          << std::string(e.what()).substr(0, 200);
    }
  }
  const int ok = kMaxFilterDepth;
  t.SetFilter(std::string(ok, '(') + "CODE = 'x'" + std::string(ok, ')'));
  t.SetFiltered(true);
  EXPECT_EQ(Codes(t), std::vector<std::string>{"x"});

  // 40,000 terms in one chain: no deeper tree, no deeper recursion.
  std::string chain = "CODE = '3'";
  for (int i = 0; i < 20000; ++i) chain += " OR CODE = 'none' AND QTY > 0";
  t.SetFilter(chain);
  EXPECT_EQ(Codes(t), std::vector<std::string>{"3"});
  t.SetFilter("(CODE = '3' OR CODE = '10') AND QTY < 4");
  EXPECT_EQ(Codes(t), std::vector<std::string>{"3"});
}

namespace {

DataPacket::Body OneNumberColumn(FieldType type, std::vector<double> numbers) {
  DataPacket::Body b;
  b.fields = {{"N", type, 0}};
  b.rowCount = numbers.size();
  b.columns.resize(1);
  b.columns[0].numbers = std::move(numbers);
  return b;
}

}  // namespace

TEST(HostilePacket, IntegerAndBooleanCellsMustHoldTheirKindOfNumber) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (double v : {1e300, -1e300, inf, nan, 9.3e18})
    ExpectRefused(OneNumberColumn(FieldType::Integer, {1, v}), "integer");
  for (double v : {2.0, -1.0, 0.5, nan})
    ExpectRefused(OneNumberColumn(FieldType::Boolean, {v}), "0 or 1");
  DataPacket ints = DataPacket::FromBody(OneNumberColumn(FieldType::Integer, {-9e18, 42, 1.5}));
  EXPECT_EQ(ints.Cell(0, 1), Value(int64_t{42}));
  DataPacket::FromBody(OneNumberColumn(FieldType::Boolean, {0, 1}));

  // The builder turns any true value into 1, as a table stores it.
  PacketBuilder b({{"B", FieldType::Boolean, 0}});
  b.Add({Value(int64_t{5})}).Add({Value(false)}).Add({Value(true)});
  DataPacket p = b.Build();
  EXPECT_EQ(p.Number(0, 0), 1.0);
  EXPECT_EQ(p.Cell(0, 1), Value(false));
}

TEST(HostilePacket, RepeatedDictionaryTextsSurviveLoadDataLoad) {
  // Dictionary "", "a", "", "a": equal texts under different codes, as a
  // foreign encoder may send them.
  DataPacket::Body b;
  b.fields = {{"CODE", FieldType::String, 10}, {"QTY", FieldType::Float, 0}};
  b.rowCount = 5;
  b.columns.resize(2);
  b.columns[0].dictBytes = "aa";
  b.columns[0].dictOffsets = {0, 0, 1, 1, 2};
  b.columns[0].codes = {0, 1, 2, 3, -1};
  b.columns[1].numbers = {1, 2, 3, 4, 5};
  DataPacket in = DataPacket::FromBody(b);

  Items t;
  t.SetData(in);
  DataPacket once = t.Data();
  ASSERT_EQ(once.RowCount(), 5u);
  for (size_t r = 0; r < 5; ++r) {
    EXPECT_EQ(once.Text(0, r), in.Text(0, r)) << r;
    EXPECT_EQ(once.IsNull(0, r), in.IsNull(0, r)) << r;
  }
  // Equal texts are one code: filters, indexes and Locate see them as equal.
  EXPECT_EQ(once.column(0).DictSize(), 2u);
  t.SetFilter("CODE = ''");
  t.SetFiltered(true);
  t.First();
  int empties = 0;
  for (; !t.Eof(); t.Next()) ++empties;
  EXPECT_EQ(empties, 3) << "two empty texts and the null";
  t.SetFiltered(false);

  Items again;
  again.SetData(once);
  DataPacket twice = again.Data();
  EXPECT_EQ(twice.column(0).dictBytes, once.column(0).dictBytes);
  EXPECT_EQ(twice.column(0).dictOffsets, once.column(0).dictOffsets);
  EXPECT_EQ(twice.column(0).codes, once.column(0).codes);
  EXPECT_EQ(twice.column(1).numbers, once.column(1).numbers);
}

TEST(HostilePacket, UnsizedTextFieldKeepsItsDeclarationThroughLoadData) {
  const std::string longText(30, 'z');
  PacketBuilder b({{"NOTE", FieldType::String, 0}});
  b.Add({Value(longText)});
  DataPacket in = b.Build();
  TClientDataSet t("cdsAny");
  t.SetData(in);
  DataPacket out = t.Data();
  EXPECT_EQ(out.fields(), in.fields()) << "size " << out.fields()[0].size;
  EXPECT_EQ(out.Text(0, 0), longText);
  // No size declared, no limit on edits either; the grid still shows a width.
  t.Edit();
  t.FieldByName("NOTE").SetAsString(longText + longText);
  t.Post();
  EXPECT_EQ(t.FieldByName("NOTE").AsString().size(), 60u);
  EXPECT_EQ(t.FieldByName("NOTE").DisplayWidth(), 20);
}
