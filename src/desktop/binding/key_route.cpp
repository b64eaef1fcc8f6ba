#include "desktop/binding/key_route.h"

#include "desktop/binding/events.h"
#include "desktop/binding/keys.h"

namespace apura::desktop {

namespace {
bool TypesCharacter(const QString& text) {
  if (text.isEmpty()) return false;
  const QChar c = text[0];
  return c.isPrint() || c == '\r' || c == '\b' || c == QChar(27);
}
}  // namespace

KeyRoute RouteKey(TForm& form, const QKeyEvent& e, std::unique_ptr<QKeyEvent>& replacement) {
  const int vk = VirtualKey(e);
  int qtKey = e.key();
  QString text = e.text();
  bool rewritten = false;
  if (vk != 0) {
    int key = vk;
    const TShiftState shift = ShiftState(e.modifiers());
    if (!RunEvent([&] { form.KeyDown(key, shift); }) || key == 0) return KeyRoute::Consumed;
    if (key != vk) {
      QtKey k = QtKeyFor(key, e.modifiers());
      if (k.key == 0) return KeyRoute::Consumed;
      qtKey = k.key;
      text = k.text;
      rewritten = true;
    }
  }
  if (e.type() == QEvent::KeyPress && TypesCharacter(text)) {
    const QList<uint> ucs = text.toUcs4();
    char32_t ch = ucs.isEmpty() ? 0 : char32_t(ucs[0]);
    const char32_t typed = ch;
    if (!RunEvent([&] { form.KeyPress(ch); }) || ch == 0) return KeyRoute::Consumed;
    if (ch != typed) {
      text = QString::fromUcs4(&ch, 1);
      rewritten = true;
    }
  }
  if (!rewritten) return KeyRoute::Pass;
  replacement = std::make_unique<QKeyEvent>(e.type(), qtKey, e.modifiers(), text, e.isAutoRepeat(),
                                            static_cast<ushort>(e.count()));
  return KeyRoute::Replaced;
}

}  // namespace apura::desktop
