#pragma once
// A canvas that records what is painted on it. Text is 6 pixels a character
// and 13 high, so positions in tests are easy to work out.

#include <string>
#include <vector>

#include "framework/canvas.h"

namespace apura::test {

struct CanvasOp {
  enum class Kind { FillRect, TextOut, TextRect, FocusRect, BrushCopy };
  Kind kind = Kind::FillRect;
  TRect rect;         // FillRect, TextRect (clip), FocusRect, BrushCopy (dest)
  int x = 0, y = 0;   // TextOut, TextRect
  std::string text;   // TextOut, TextRect
  TColor brush = 0;   // brush colour at the time
  TFont font;         // font at the time
  std::string image;  // BrushCopy: the bitmap's name
  TRect source;       // BrushCopy
  TColor transparent = 0;
};

class RecordingCanvas : public TCanvas {
 public:
  static constexpr int kCharWidth = 6;
  static constexpr int kTextHeight = 13;

  std::vector<CanvasOp> ops;

  void FillRect(const TRect& rect) override;
  void TextOut(int x, int y, std::string_view text) override;
  void TextRect(const TRect& clip, int x, int y, std::string_view text) override;
  int TextWidth(std::string_view text) override;
  int TextHeight(std::string_view text) override;
  void DrawFocusRect(const TRect& rect) override;
  void BrushCopy(const TRect& dest, const TBitmap& image, const TRect& source,
                 TColor transparent) override;

  // The ops of one kind, in order.
  std::vector<CanvasOp> Of(CanvasOp::Kind kind) const;
  // The last text drawn (TextOut or TextRect); fails the test when none.
  const CanvasOp& LastText() const;
  void Clear() { ops.clear(); }
};

}  // namespace apura::test
