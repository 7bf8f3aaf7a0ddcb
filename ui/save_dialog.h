#pragma once
// Every "save as" question of the program goes through here, so tests can answer it without a
// modal dialog.

#include <QString>

#include <functional>

class QWidget;

class TSaveDialog {
 public:
  using TAnswer = std::function<QString(const QString& proposedPath)>;

  // The chosen path, or an empty string when the user cancelled.
  static QString Ask(QWidget* parent, const QString& caption, const QString& proposedPath, const QString& filter);
  // While an answer is set it replaces the dialog; null restores it.
  static void SetAnswer(TAnswer answer);
};
