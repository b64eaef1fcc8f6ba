#include "support/recording_canvas.h"

#include <gtest/gtest.h>

namespace apura::test {

void RecordingCanvas::FillRect(const TRect& rect) {
  CanvasOp op;
  op.kind = CanvasOp::Kind::FillRect;
  op.rect = rect;
  op.brush = Brush.Color;
  op.font = Font;
  ops.push_back(op);
}

void RecordingCanvas::TextOut(int x, int y, std::string_view text) {
  CanvasOp op;
  op.kind = CanvasOp::Kind::TextOut;
  op.x = x;
  op.y = y;
  op.text = std::string(text);
  op.brush = Brush.Color;
  op.font = Font;
  ops.push_back(op);
}

void RecordingCanvas::TextRect(const TRect& clip, int x, int y, std::string_view text) {
  CanvasOp op;
  op.kind = CanvasOp::Kind::TextRect;
  op.rect = clip;
  op.x = x;
  op.y = y;
  op.text = std::string(text);
  op.brush = Brush.Color;
  op.font = Font;
  ops.push_back(op);
}

int RecordingCanvas::TextWidth(std::string_view text) {
  int chars = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++chars;
  return chars * kCharWidth;
}

int RecordingCanvas::TextHeight(std::string_view) {
  return kTextHeight;
}

void RecordingCanvas::DrawFocusRect(const TRect& rect) {
  CanvasOp op;
  op.kind = CanvasOp::Kind::FocusRect;
  op.rect = rect;
  op.brush = Brush.Color;
  op.font = Font;
  ops.push_back(op);
}

void RecordingCanvas::BrushCopy(const TRect& dest, const TBitmap& image, const TRect& source,
                                TColor transparent) {
  CanvasOp op;
  op.kind = CanvasOp::Kind::BrushCopy;
  op.rect = dest;
  op.image = image.Name;
  op.source = source;
  op.transparent = transparent;
  op.brush = Brush.Color;
  op.font = Font;
  ops.push_back(op);
}

std::vector<CanvasOp> RecordingCanvas::Of(CanvasOp::Kind kind) const {
  std::vector<CanvasOp> out;
  for (const auto& op : ops)
    if (op.kind == kind) out.push_back(op);
  return out;
}

const CanvasOp& RecordingCanvas::LastText() const {
  for (auto it = ops.rbegin(); it != ops.rend(); ++it)
    if (it->kind == CanvasOp::Kind::TextOut || it->kind == CanvasOp::Kind::TextRect) return *it;
  static const CanvasOp none;
  ADD_FAILURE() << "Nothing was written on the canvas";
  return none;
}

}  // namespace apura::test
