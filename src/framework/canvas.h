#pragma once
// What a grid's cell painter draws on. The desktop implements it over its
// painter; tests record the calls.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace apura {

// Colours as the platform stores them: RGB with red in the low byte, or a
// system colour (high byte set, the system colour index in the low byte) that
// the view resolves from its palette.
using TColor = int32_t;

constexpr TColor RGBColor(int r, int g, int b) {
  return TColor(r | (g << 8) | (b << 16));
}
constexpr TColor clSystemColor = TColor(0xFF000000u);
constexpr bool IsSystemColor(TColor c) {
  return (uint32_t(c) & 0xFF000000u) == 0xFF000000u;
}
constexpr int SystemColorIndex(TColor c) {
  return int(uint32_t(c) & 0xFFu);
}
constexpr int ColorRed(TColor c) {
  return int(uint32_t(c) & 0xFF);
}
constexpr int ColorGreen(TColor c) {
  return int((uint32_t(c) >> 8) & 0xFF);
}
constexpr int ColorBlue(TColor c) {
  return int((uint32_t(c) >> 16) & 0xFF);
}

constexpr TColor clNone = TColor(0x1FFFFFFF);
constexpr TColor clBlack = RGBColor(0, 0, 0);
constexpr TColor clMaroon = RGBColor(128, 0, 0);  // 128
constexpr TColor clGreen = RGBColor(0, 128, 0);
constexpr TColor clOlive = RGBColor(128, 128, 0);  // 32896
constexpr TColor clNavy = RGBColor(0, 0, 128);
constexpr TColor clGray = RGBColor(128, 128, 128);
constexpr TColor clSilver = RGBColor(192, 192, 192);
constexpr TColor clRed = RGBColor(255, 0, 0);
constexpr TColor clBlue = RGBColor(0, 0, 255);
constexpr TColor clWhite = RGBColor(255, 255, 255);

constexpr TColor clWindow = clSystemColor | 5;
constexpr TColor clWindowText = clSystemColor | 8;
constexpr TColor clCaptionText = clSystemColor | 9;
constexpr TColor clHighlight = clSystemColor | 13;
constexpr TColor clHighlightText = clSystemColor | 14;
constexpr TColor clBtnFace = clSystemColor | 15;
constexpr TColor clInfoBk = clSystemColor | 24;

struct TRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  friend bool operator==(const TRect&, const TRect&) = default;
};
inline TRect Rect(int left, int top, int right, int bottom) {
  return {left, top, right, bottom};
}
inline TRect Bounds(int left, int top, int width, int height) {
  return {left, top, left + width, top + height};
}

enum TFontStyle : uint32_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = uint32_t;

struct TFont {
  std::string Name = "MS Sans Serif";
  int Size = 8;  // points
  TColor Color = clWindowText;
  TFontStyles Style = 0;
};

struct TBrush {
  TColor Color = clWindow;
};

// A small picture held by the form (the chosen-quotation mark): pixels row by
// row, each an RGB colour.
struct TBitmap {
  std::string Name;  // the image component holding it, so a recorded copy says which
  int Width = 0;
  int Height = 0;
  std::vector<TColor> Pixels;
  TColor Pixel(int x, int y) const { return Pixels[size_t(y) * size_t(Width) + size_t(x)]; }
};

class TCanvas {
 public:
  virtual ~TCanvas() = default;

  // State the drawing operations read, as painters set it.
  TBrush Brush;
  TFont Font;

  // Fills with Brush.Color.
  virtual void FillRect(const TRect& rect) = 0;
  // Text at (x, y), top-left, in Font, on Brush.Color, not clipped.
  virtual void TextOut(int x, int y, std::string_view text) = 0;
  // Fills `clip` with Brush.Color and draws the text at (x, y) clipped to it.
  virtual void TextRect(const TRect& clip, int x, int y, std::string_view text) = 0;
  virtual int TextWidth(std::string_view text) = 0;
  virtual int TextHeight(std::string_view text) = 0;
  virtual void DrawFocusRect(const TRect& rect) = 0;
  // Copies the `source` part of `image` into `dest`; pixels of colour
  // `transparent` take Brush.Color instead, so they look transparent. Whatever
  // falls outside `dest` is not drawn.
  virtual void BrushCopy(const TRect& dest, const TBitmap& image, const TRect& source,
                         TColor transparent) = 0;
};

}  // namespace apura
