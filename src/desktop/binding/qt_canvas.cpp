#include "desktop/binding/qt_canvas.h"

#include <QFontMetrics>
#include <QImage>

namespace apura::desktop {

namespace {
QString Q(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
QRect ToQRect(const TRect& r) {
  return QRect(QPoint(r.Left, r.Top), QPoint(r.Right - 1, r.Bottom - 1));
}
}  // namespace

QColor ResolveColor(TColor color, const QPalette& palette) {
  if (color == clNone) return Qt::transparent;
  if (!IsSystemColor(color)) return QColor(ColorRed(color), ColorGreen(color), ColorBlue(color));
  switch (SystemColorIndex(color)) {
    case 5:  // window background
      return palette.color(QPalette::Base);
    case 8:  // window text
      return palette.color(QPalette::Text);
    case 9:  // caption text
      return palette.color(QPalette::HighlightedText);
    case 13:  // selection background
      return palette.color(QPalette::Highlight);
    case 14:  // selected text
      return palette.color(QPalette::HighlightedText);
    case 15:  // button face
      return palette.color(QPalette::Button);
    case 24:  // tooltip background
      return palette.color(QPalette::ToolTipBase);
    default:
      return palette.color(QPalette::Text);
  }
}

QFont ResolveFont(const TFont& font, const QFont& base) {
  QFont f = base;
  if (!font.Name.empty() && font.Name != "MS Sans Serif")
    f.setFamily(QString::fromStdString(font.Name));
  f.setBold(font.Style & fsBold);
  f.setItalic(font.Style & fsItalic);
  f.setUnderline(font.Style & fsUnderline);
  f.setStrikeOut(font.Style & fsStrikeOut);
  return f;
}

QString SymbolText(const QString& fontName, const QString& text) {
  const QString name = fontName.toLower();
  const bool dingbats = name.contains("sorts") || name.contains("dingbats");
  if (!dingbats) return text;
  // The dingbat font's check marks and crosses, by their letter codes.
  QString out;
  for (QChar c : text) {
    switch (c.unicode()) {
      case '3':
        out += QChar(0x2713);
        break;
      case '4':
        out += QChar(0x2714);
        break;
      case '5':
        out += QChar(0x2715);
        break;
      case '6':
        out += QChar(0x2716);
        break;
      case '7':
        out += QChar(0x2717);
        break;
      case '8':
        out += QChar(0x2718);
        break;
      default:
        out += c;
    }
  }
  return out;
}

QtCanvas::QtCanvas(QPainter& painter, const QPalette& palette, const QFont& baseFont)
    : painter_(painter), palette_(palette), base_(baseFont) {}

void QtCanvas::ApplyFont() {
  painter_.setFont(ResolveFont(Font, base_));
  painter_.setPen(ResolveColor(Font.Color, palette_));
}

void QtCanvas::FillRect(const TRect& rect) {
  painter_.fillRect(ToQRect(rect), ResolveColor(Brush.Color, palette_));
}

void QtCanvas::TextOut(int x, int y, std::string_view text) {
  ApplyFont();
  QFontMetrics fm(painter_.font());
  const QString s = Q(text);
  QRect box(x, y, fm.horizontalAdvance(s), fm.height());
  painter_.fillRect(box, ResolveColor(Brush.Color, palette_));
  painter_.drawText(QPoint(x, y + fm.ascent()), s);
}

void QtCanvas::TextRect(const TRect& clip, int x, int y, std::string_view text) {
  FillRect(clip);
  painter_.save();
  painter_.setClipRect(ToQRect(clip), Qt::IntersectClip);
  ApplyFont();
  QFontMetrics fm(painter_.font());
  painter_.drawText(QPoint(x, y + fm.ascent()), Q(text));
  painter_.restore();
}

int QtCanvas::TextWidth(std::string_view text) {
  return QFontMetrics(ResolveFont(Font, base_)).horizontalAdvance(Q(text));
}

int QtCanvas::TextHeight(std::string_view text) {
  (void)text;
  return QFontMetrics(ResolveFont(Font, base_)).height();
}

void QtCanvas::DrawFocusRect(const TRect& rect) {
  painter_.save();
  QPen pen(ResolveColor(Font.Color, palette_));
  pen.setStyle(Qt::DotLine);
  painter_.setPen(pen);
  painter_.setBrush(Qt::NoBrush);
  painter_.drawRect(ToQRect(rect).adjusted(0, 0, -1, -1));
  painter_.restore();
}

void QtCanvas::BrushCopy(const TRect& dest, const TBitmap& image, const TRect& source,
                         TColor transparent) {
  const int w = std::min({dest.Width(), source.Width(), image.Width - source.Left});
  const int h = std::min({dest.Height(), source.Height(), image.Height - source.Top});
  if (w <= 0 || h <= 0) return;
  QImage img(w, h, QImage::Format_RGB32);
  const QColor brush = ResolveColor(Brush.Color, palette_);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      TColor c = image.Pixel(source.Left + x, source.Top + y);
      img.setPixelColor(x, y, c == transparent ? brush : ResolveColor(c, palette_));
    }
  painter_.save();
  painter_.setClipRect(ToQRect(dest), Qt::IntersectClip);
  painter_.drawImage(QPoint(dest.Left, dest.Top), img);
  painter_.restore();
}

}  // namespace apura::desktop
