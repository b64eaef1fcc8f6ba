#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "expect_refused.h"
#include "framework/packet.h"

using namespace apura;
using apura::testing::ExpectRefused;

namespace {

DataPacket::Body OneTextColumn() {
  DataPacket::Body b;
  b.fields = {{"CODE", FieldType::String, 10}};
  b.rowCount = 2;
  b.columns.resize(1);
  b.columns[0].dictBytes = "ab";
  b.columns[0].dictOffsets = {0, 1, 2};
  b.columns[0].codes = {0, 1};
  return b;
}

}  // namespace

TEST(Packet, BuilderSharesEachDistinctTextAndKeepsNulls) {
  PacketBuilder b({{"CODE", FieldType::String, 10}, {"QT", FieldType::Float, 0}});
  b.Add({Value("x"), Value(1.5)}).Add({Value("y"), Value()}).Add({Value("x"), Value(2.0)});
  DataPacket p = b.Build();
  ASSERT_EQ(p.RowCount(), 3u);
  EXPECT_EQ(p.column(0).DictSize(), 2u);
  EXPECT_EQ(p.Text(0, 2), "x");
  EXPECT_TRUE(p.IsNull(1, 1));
  EXPECT_FALSE(p.IsNull(1, 2));
  EXPECT_EQ(p.Cell(1, 0), Value(1.5));
  EXPECT_EQ(p.FieldIndex("qt"), 1);
  EXPECT_THROW(b.Add({Value("only one")}), std::invalid_argument);
}

TEST(Packet, MalformedBodiesAreRefusedSayingWhatIsWrong) {
  DataPacket::FromBody(OneTextColumn());  // the well-formed one passes

  auto b = OneTextColumn();
  b.columns[0].codes[1] = 7;
  ExpectRefused(b, "outside its dictionary");

  b = OneTextColumn();
  b.columns[0].codes.pop_back();
  ExpectRefused(b, "CODE");

  b = OneTextColumn();
  b.columns[0].dictOffsets = {0, 5, 2};
  ExpectRefused(b, "dictionary");

  b = OneTextColumn();
  b.fields.clear();
  b.columns.clear();
  ExpectRefused(b, "no fields");

  b = OneTextColumn();
  b.status = {RowStatus::Modified};
  ExpectRefused(b, "change log");

  DataPacket::Body n;
  n.fields = {{"QT", FieldType::Float, 0}};
  n.rowCount = 70;
  n.columns.resize(1);
  n.columns[0].numbers.assign(70, 0);
  n.columns[0].nullBits = {0};
  ExpectRefused(n, "null bitmap");
}
