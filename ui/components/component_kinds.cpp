#include "ui/components/component_kinds.h"

int ColorToInt(const QColor& color) { return color.red() | (color.green() << 8) | (color.blue() << 16); }

QColor IntToColor(int value) { return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF); }

int FontStyleBits(const QFont& font) {
  return (font.bold() ? 1 : 0) | (font.italic() ? 2 : 0) | (font.underline() ? 4 : 0) | (font.strikeOut() ? 8 : 0);
}

void ApplyFontStyleBits(QFont& font, int bits) {
  font.setBold(bits & 1);
  font.setItalic(bits & 2);
  font.setUnderline(bits & 4);
  font.setStrikeOut(bits & 8);
}
