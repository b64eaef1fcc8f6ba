// Cells the worksheet paints over the grids' ordinary painting: the chosen
// quotation's mark, the products that have one, and the minimum AF value and
// quantity flagged "R".

#include "framework/format.h"
#include "worksheet/form.h"

namespace apura::worksheet {

namespace {

void SetColours(TCanvas& canvas, TGridDrawState state) {
  if (state & gdSelected) {
    canvas.Brush.Color = clHighlight;
    canvas.Font.Color = clHighlightText;
  } else {
    canvas.Brush.Color = clInfoBk;
    canvas.Font.Color = clWindowText;
  }
}

// The mark at x, as tall as the cell allows; its olive takes the brush colour.
void DrawMark(TCanvas& canvas, const TImage& image, const TRect& cell, int x) {
  const TBitmap& mark = image.Picture();
  canvas.BrushCopy(Rect(x, cell.Top, x + mark.Width, cell.Bottom), mark,
                   Rect(0, 0, mark.Width, cell.Height()), clOlive);
}

bool Escolhido(const TDBGrid& grid) {
  TClientDataSet* t = grid.DataSet();
  const TField* f = t ? t->FindField("IDITMSELAPUR") : nullptr;
  return f && f->AsString() == "S";
}

}  // namespace

void TfrmPlanApurNegGrid::dbgFornecedorDrawColumnCell(TComponent&, const TRect& Rect, int,
                                                      TColumn& Column, TGridDrawState State) {
  TCanvas* canvas = dbgFornecedor.Canvas();
  TField* field = Column.Field();
  if (!canvas || !field) return;
  const std::string& name = Column.FieldName();

  if (name == "VRPRECUNIAP") {
    canvas->FillRect(Rect);
    SetColours(*canvas, State);
    const std::string text = FormatFloat("#,##0.00000", field->AsFloat());
    // Right-aligned from the column's width, 2 pixels in.
    const int width = Column.Width() > 0 ? Column.Width() : Rect.Width();
    const int inLeft = width - (canvas->TextWidth(text) + 2);
    canvas->TextRect(Rect, Rect.Left + inLeft, Rect.Top + 2, text);
    if (Escolhido(dbgFornecedor)) DrawMark(*canvas, imgMelhor, Rect, Rect.Left + 2);
  } else if (name == "VRMINAUTFOR" || name == "QTMINAUTFOT") {
    const char* flag = name == "VRMINAUTFOR" ? "IDVRMINFORN" : "IDQTMINFORN";
    canvas->FillRect(Rect);
    canvas->Font.Color = cdsApurNeg.FieldByName(flag).AsString() == "R" ? clMaroon : clWindowText;
    if (State & gdSelected) {
      canvas->Brush.Color = clHighlight;
      canvas->Font.Color = clCaptionText;
    } else {
      canvas->Brush.Color = clInfoBk;
    }
    if (State & gdFocused) canvas->DrawFocusRect(Rect);
    const std::string text = field->DisplayText();
    canvas->TextOut(Rect.Right - canvas->TextWidth(text) - 2, Rect.Top + 2, text);
  }
}

void TfrmPlanApurNegGrid::dbgProdutoDrawColumnCell(TComponent&, const TRect& Rect, int,
                                                   TColumn& Column, TGridDrawState State) {
  TCanvas* canvas = dbgProduto.Canvas();
  TField* field = Column.Field();
  if (!canvas || !field || Column.FieldName() != "CDARVPROD") return;
  canvas->FillRect(Rect);
  SetColours(*canvas, State);
  const std::string text = ApplyEditMask(DBPict(0), field->AsString());
  canvas->TextRect(Rect, Rect.Left + 2, Rect.Top + 2, text);
  if (Escolhido(dbgProduto))
    DrawMark(*canvas, imgMelhor, Rect, Rect.Left + canvas->TextWidth(text) + 6);
}

void TfrmPlanApurNegGrid::dbgPadraoDrawColumnCell(TComponent&, const TRect&, int, TColumn&,
                                                  TGridDrawState) {}

}  // namespace apura::worksheet
