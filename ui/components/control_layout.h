#pragma once
// Small helpers for windows laid out at design positions: naming controls so they can be found, and
// sizing them to their design size or more where the desktop's font needs it.

#include <QFont>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPoint>
#include <QPushButton>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStyle>
#include <QWidget>

#include <algorithm>

template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

// The design size, or more where the desktop's font needs it to show the whole text.
inline QSize AtLeast(const QWidget* widget, int width, int height) {
  const QSize hint = widget->sizeHint();
  return {std::max(width, hint.width()), std::max(height, hint.height())};
}

// An entry field of its design size, or wide enough for sample (the longest text it is meant to
// show whole). The field's own size hint asks for room for 17 letters, far more than a port number.
inline QSize FieldSize(const QLineEdit* field, int width, int height, const QString& sample) {
  const int frame = 2 * field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, field);
  const int text = field->fontMetrics().horizontalAdvance(sample) + frame + 6;  // text margins and cursor
  return {std::max(width, text), std::max(height, field->sizeHint().height())};
}

// A push button of its design size, or as wide as its glyph and caption need. The style's own hint
// never goes below 80 pixels for a captioned button, more than the design's 75.
inline QSize ButtonSize(const QPushButton* button, int width, int height) {
  QString caption = button->text();
  caption.remove(QLatin1Char('&'));
  int content = button->fontMetrics().horizontalAdvance(caption);
  if (!button->icon().isNull()) content += button->iconSize().width() + 4;
  const QStyle* style = button->style();
  const int margins = 2 * (style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) +
                           style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button));
  return {std::max(width, content + margins), std::max(height, button->sizeHint().height())};
}

// The windows are laid out in pixels for an 8-point interface font, smaller than today's desktop
// fonts. Liberation Sans (Debian's fonts-liberation) at 8 points comes close to the design's
// widths, so the layout holds at the design size; the status bar takes its narrow cut, in which
// the longest status and average texts fit the design's two panels.
inline QFont DesignFont(bool narrow = false) {
  QFont font(narrow ? QStringLiteral("Liberation Sans Narrow") : QStringLiteral("Liberation Sans"));
  font.setPointSize(8);
  return font;
}

// Where a window of the given outer size is centred on a screen area. A window larger than the
// area starts at the area's corner, wherever that area lies among the screens.
inline QPoint CentredOn(const QRect& area, QSize outer) {
  return {area.left() + std::max(0, (area.width() - outer.width()) / 2),
          area.top() + std::max(0, (area.height() - outer.height()) / 2)};
}

// A fixed dialog with only a title and a close box. Without CustomizeWindowHint the window
// manager would add minimise and maximise buttons whatever the other hints say.
inline void SetDialogFrame(QWidget* dialog) {
  dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint);
}
