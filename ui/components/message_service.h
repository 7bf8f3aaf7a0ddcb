#pragma once
// Every message box of the program goes through here, so tests can watch them without a modal loop.

#include <QMessageBox>
#include <QString>

#include <functional>

struct TShownMessage {
  QString Text;
  QString Caption;
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
};

class TMessageService {
 public:
  using TObserver = std::function<void(const TShownMessage&)>;

  // A modal box with an OK button; a carriage return in text breaks the line.
  static void Show(const TShownMessage& message, QWidget* parent = nullptr);
  // The application's default error display: the failure's message, a "." added unless it ends
  // in a character up to ".", captioned with the application title, error icon.
  static void ShowException(const QString& message);
  static QString ExceptionText(const QString& message);

  // While an observer is set it receives the messages instead of the user; null restores boxes.
  static void SetObserver(TObserver observer);
};
