#pragma once
// Small helpers for windows laid out at design positions: naming controls so they can be found, and
// sizing them to their design size or more where the desktop's font needs it.

#include <QSize>
#include <QString>
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

// A fixed dialog with only a title and a close box. Without CustomizeWindowHint the window
// manager would add minimise and maximise buttons whatever the other hints say.
inline void SetDialogFrame(QWidget* dialog) {
  dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint);
}
