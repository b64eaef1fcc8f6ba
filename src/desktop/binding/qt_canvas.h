#pragma once
// The cell painters' canvas over a QPainter. System colours resolve through
// the widget's palette, so the grids follow the desktop theme.

#include <QFont>
#include <QPainter>
#include <QPalette>

#include "framework/canvas.h"

namespace apura::desktop {

QColor ResolveColor(TColor color, const QPalette& palette);
// The view's font for a model font: the platform's default face becomes the
// widget's own; other faces are asked for by name.
QFont ResolveFont(const TFont& font, const QFont& base);
// Symbol fonts draw glyphs for letters ("4" is a check mark); the desktop may
// not have them, so their characters are turned into the glyphs they stand for.
QString SymbolText(const QString& fontName, const QString& text);

class QtCanvas : public TCanvas {
 public:
  QtCanvas(QPainter& painter, const QPalette& palette, const QFont& baseFont);

  void FillRect(const TRect& rect) override;
  void TextOut(int x, int y, std::string_view text) override;
  void TextRect(const TRect& clip, int x, int y, std::string_view text) override;
  int TextWidth(std::string_view text) override;
  int TextHeight(std::string_view text) override;
  void DrawFocusRect(const TRect& rect) override;
  void BrushCopy(const TRect& dest, const TBitmap& image, const TRect& source,
                 TColor transparent) override;

 private:
  void ApplyFont();
  QPainter& painter_;
  QPalette palette_;
  QFont base_;
};

}  // namespace apura::desktop
