#include "desktop/binding/keys.h"

namespace apura::desktop {

int VirtualKey(const QKeyEvent& e) {
  const int k = e.key();
  const bool keypad = e.modifiers() & Qt::KeypadModifier;
  if (k >= Qt::Key_A && k <= Qt::Key_Z) return 'A' + (k - Qt::Key_A);
  if (k >= Qt::Key_0 && k <= Qt::Key_9)
    return keypad ? 96 + (k - Qt::Key_0) : '0' + (k - Qt::Key_0);
  if (k >= Qt::Key_F1 && k <= Qt::Key_F24) return VK_F1 + (k - Qt::Key_F1);
  switch (k) {
    case Qt::Key_Backspace:
      return VK_BACK;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return VK_RETURN;
    case Qt::Key_Escape:
      return VK_ESCAPE;
    case Qt::Key_Space:
      return VK_SPACE;
    case Qt::Key_PageUp:
      return VK_PRIOR;
    case Qt::Key_PageDown:
      return VK_NEXT;
    case Qt::Key_End:
      return VK_END;
    case Qt::Key_Home:
      return VK_HOME;
    case Qt::Key_Left:
      return VK_LEFT;
    case Qt::Key_Up:
      return VK_UP;
    case Qt::Key_Right:
      return VK_RIGHT;
    case Qt::Key_Down:
      return VK_DOWN;
    case Qt::Key_Insert:
      return VK_INSERT;
    case Qt::Key_Delete:
      return VK_DELETE;
    case Qt::Key_Period:
      return keypad ? VK_DECIMAL : VK_OEM_PERIOD;
    case Qt::Key_Comma:
      // Keypads of comma locales send a comma from their decimal key.
      return keypad ? VK_DECIMAL : VK_OEM_COMMA;
    case Qt::Key_Minus:
      return keypad ? 109 : VK_OEM_MINUS;
    case Qt::Key_Plus:
      return keypad ? 107 : 187;
    case Qt::Key_Asterisk:
      return 106;
    case Qt::Key_Slash:
      return keypad ? 111 : 191;
    case Qt::Key_Shift:
      return 16;
    case Qt::Key_Control:
      return 17;
    case Qt::Key_Alt:
      return 18;
    default:
      return 0;
  }
}

TShiftState ShiftState(Qt::KeyboardModifiers m) {
  TShiftState s = 0;
  if (m & Qt::ShiftModifier) s |= ssShift;
  if (m & Qt::AltModifier) s |= ssAlt;
  if (m & Qt::ControlModifier) s |= ssCtrl;
  return s;
}

QtKey QtKeyFor(int vk, Qt::KeyboardModifiers m) {
  const bool shift = m & Qt::ShiftModifier;
  if (vk >= 'A' && vk <= 'Z') {
    QChar c(vk);
    return {Qt::Key_A + (vk - 'A'), shift ? QString(c) : QString(c.toLower())};
  }
  if (vk >= '0' && vk <= '9') return {Qt::Key_0 + (vk - '0'), QString(QChar(vk))};
  if (vk >= 96 && vk <= 105) return {Qt::Key_0 + (vk - 96), QString(QChar('0' + vk - 96))};
  if (vk >= VK_F1 && vk <= VK_F1 + 23) return {Qt::Key_F1 + (vk - VK_F1), {}};
  switch (vk) {
    case VK_OEM_COMMA:
      return {Qt::Key_Comma, ","};
    case VK_OEM_PERIOD:
      return {Qt::Key_Period, "."};
    case VK_DECIMAL:
      return {Qt::Key_Period, "."};
    case VK_OEM_MINUS:
      return {Qt::Key_Minus, "-"};
    case VK_SPACE:
      return {Qt::Key_Space, " "};
    case VK_RETURN:
      return {Qt::Key_Return, "\r"};
    case VK_ESCAPE:
      return {Qt::Key_Escape, {}};
    case VK_TAB:
      return {Qt::Key_Tab, "\t"};
    case VK_BACK:
      return {Qt::Key_Backspace, {}};
    case VK_DELETE:
      return {Qt::Key_Delete, {}};
    case VK_INSERT:
      return {Qt::Key_Insert, {}};
    case VK_LEFT:
      return {Qt::Key_Left, {}};
    case VK_RIGHT:
      return {Qt::Key_Right, {}};
    case VK_UP:
      return {Qt::Key_Up, {}};
    case VK_DOWN:
      return {Qt::Key_Down, {}};
    case VK_PRIOR:
      return {Qt::Key_PageUp, {}};
    case VK_NEXT:
      return {Qt::Key_PageDown, {}};
    case VK_HOME:
      return {Qt::Key_Home, {}};
    case VK_END:
      return {Qt::Key_End, {}};
    default:
      return {};
  }
}

}  // namespace apura::desktop
