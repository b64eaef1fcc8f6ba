// What the worksheet paints over the quotation and product grids.

#include "framework/format.h"
#include "support/recording_canvas.h"
#include "worksheet_fixture.h"

namespace apura::testing {
namespace {

using test::CanvasOp;
using test::RecordingCanvas;

class PaintingTest : public WorksheetTest {
 protected:
  PaintingTest() {
    // The first supplier's minimums are flagged.
    for (Row& r : tally.apurNeg)
      if (Text(r, "CDFORNITMAP") == "FORN01") {
        r["IDVRMINFORN"] = "R";
        r["VRMINAUTFOR"] = 1234.5;
      }
    // Of the first product, one item has a choice and the other none.
    for (Row& r : tally.prodItem) r["IDITMSELAPUR"] = Text(r, "CDPRODITMAP") == "I11" ? "S" : "N";
    ScriptTally();
    Launch().mnuGeralClick(form().mnuGeral);
  }
  // Paints one cell of the visible row of `grid` whose field `key` is `value`,
  // and answers the painter's own operations (after the ordinary painting).
  std::vector<CanvasOp> Paint(TDBGrid& grid, const std::string& field, const std::string& key,
                              const std::string& value, TGridDrawState state) {
    TClientDataSet& t = *grid.DataSet();
    const int keyIdx = t.FieldByName(key).Index();
    int pos = -1;
    for (int p = 0; p < t.RecordCount() && pos < 0; ++p)
      if (t.CellValue(p, keyIdx).ToText() == value) pos = p;
    EXPECT_GE(pos, 0) << key << " = " << value;
    TClientDataSet::RowPeek peek(t, pos < 0 ? 0 : pos);
    RecordingCanvas canvas;
    grid.SetDefaultDrawing(false);
    grid.DrawCell(canvas, cell, grid.FindColumn(field)->Index(), state);
    return canvas.ops;
  }
  const TRect cell = Rect(100, 40, 190, 58);
};

TEST_F(PaintingTest, TheChosenPriceIsRightAlignedWithTheMarkAtItsLeft) {
  TfrmPlanApurNegGrid& f = form();
  for (f.cdsProdItem.First(); !f.cdsProdItem.Eof(); f.cdsProdItem.Next())
    if (f.cdsApurNeg.Locate("IDITMSELAPUR", Value("S"))) break;
  ASSERT_FALSE(f.cdsProdItem.Eof()) << "the generated tally chooses a quotation here";
  const std::string chosen = Current(f.cdsApurNeg, "CDFORNITMAP");
  const std::string text =
      FormatFloat("#,##0.00000", f.cdsApurNeg.FieldByName("VRPRECUNIAP").AsFloat());
  auto ops = Paint(f.dbgFornecedor, "VRPRECUNIAP", "CDFORNITMAP", chosen, 0);
  ASSERT_EQ(ops.size(), 3u);
  EXPECT_EQ(ops[0].kind, CanvasOp::Kind::FillRect);
  EXPECT_EQ(ops[0].rect, cell);
  EXPECT_EQ(ops[1].kind, CanvasOp::Kind::TextRect);
  EXPECT_EQ(ops[1].text, text);
  // 75 is the column's width: 2 pixels from its right edge.
  EXPECT_EQ(ops[1].x, 100 + 75 - (6 * static_cast<int>(text.size()) + 2));
  EXPECT_EQ(ops[1].y, 42);
  EXPECT_EQ(ops[1].brush, clInfoBk);
  EXPECT_EQ(ops[1].font.Color, clWindowText);
  EXPECT_EQ(ops[2].kind, CanvasOp::Kind::BrushCopy);
  EXPECT_EQ(ops[2].image, "imgMelhor");
  EXPECT_EQ(ops[2].rect, Rect(102, 40, 118, 58));
  EXPECT_EQ(ops[2].source, Rect(0, 0, 16, 18));
  EXPECT_EQ(ops[2].transparent, clOlive);

  // Selected: the selection colours, the same places.
  auto sel = Paint(f.dbgFornecedor, "VRPRECUNIAP", "CDFORNITMAP", chosen, gdSelected | gdFocused);
  ASSERT_EQ(sel.size(), 3u);
  EXPECT_EQ(sel[1].brush, clHighlight);
  EXPECT_EQ(sel[1].font.Color, clHighlightText);
  EXPECT_EQ(sel[1].x, ops[1].x);

  // A line not chosen: the price and no mark.
  ASSERT_TRUE(f.cdsApurNeg.Locate("IDITMSELAPUR", Value("N")));
  auto other =
      Paint(f.dbgFornecedor, "VRPRECUNIAP", "CDFORNITMAP", Current(f.cdsApurNeg, "CDFORNITMAP"), 0);
  ASSERT_EQ(other.size(), 2u);
  EXPECT_EQ(other[1].kind, CanvasOp::Kind::TextRect);
}

TEST_F(PaintingTest, FlaggedMinimumsAreMaroonUnlessSelected) {
  TfrmPlanApurNegGrid& f = form();
  const std::string text = "1.234,50000";
  auto ops = Paint(f.dbgFornecedor, "VRMINAUTFOR", "CDFORNITMAP", "FORN01", 0);
  ASSERT_EQ(ops.size(), 2u);
  EXPECT_EQ(ops[1].kind, CanvasOp::Kind::TextOut);
  EXPECT_EQ(ops[1].text, text);
  EXPECT_EQ(ops[1].font.Color, clMaroon);
  EXPECT_EQ(ops[1].brush, clInfoBk);
  EXPECT_EQ(ops[1].x, 190 - 6 * static_cast<int>(text.size()) - 2);

  auto sel = Paint(f.dbgFornecedor, "VRMINAUTFOR", "CDFORNITMAP", "FORN01", gdSelected | gdFocused);
  ASSERT_EQ(sel.size(), 3u);
  EXPECT_EQ(sel[1].kind, CanvasOp::Kind::FocusRect);
  EXPECT_EQ(sel[2].font.Color, clCaptionText);
  EXPECT_EQ(sel[2].brush, clHighlight);

  auto plain = Paint(f.dbgFornecedor, "QTMINAUTFOT", "CDFORNITMAP", "FORN02", 0);
  ASSERT_EQ(plain.size(), 2u);
  EXPECT_EQ(plain[1].font.Color, clWindowText);
  EXPECT_EQ(plain[1].text, "0,000");
}

TEST_F(PaintingTest, ProductsWithAChoiceCarryTheMarkAfterTheirMaskedCode) {
  TfrmPlanApurNegGrid& f = form();
  std::string chosen, open;
  for (int p = 0; p < f.cdsProdItem.RecordCount(); ++p) {
    const int sel = f.cdsProdItem.FieldByName("IDITMSELAPUR").Index();
    const int code = f.cdsProdItem.FieldByName("CDPRODITMAP").Index();
    (f.cdsProdItem.CellValue(p, sel).ToText() == "S" ? chosen : open) =
        f.cdsProdItem.CellValue(p, code).ToText();
  }
  ASSERT_EQ(chosen, "I11");
  ASSERT_EQ(open, "I12");
  {
    auto ops = Paint(f.dbgProduto, "CDARVPROD", "CDPRODITMAP", chosen, 0);
    ASSERT_EQ(ops.size(), 3u);
    EXPECT_EQ(ops[1].text, "3.01.100.0000");
    EXPECT_EQ(ops[1].x, 102);
    EXPECT_EQ(ops[2].rect.Left, 100 + 6 * 13 + 6);
  }
  {
    auto ops = Paint(f.dbgProduto, "CDARVPROD", "CDPRODITMAP", open, gdSelected);
    ASSERT_EQ(ops.size(), 2u);
    EXPECT_EQ(ops[1].brush, clHighlight);
  }
  // Other columns keep the ordinary painting alone.
  EXPECT_TRUE(Paint(f.dbgProduto, "NMPRODUTO", "CDPRODITMAP",
                    f.cdsProdItem.FieldByName("CDPRODITMAP").AsString(), 0)
                  .empty());
}

}  // namespace
}  // namespace apura::testing
