#pragma once
// The application object: title, and the default error display for every failure that escapes
// an event handler, so no exception ever crosses Qt's event loop.

#include <QApplication>

class TApplication : public QApplication {
  Q_OBJECT

 public:
  static inline const QString Title = QStringLiteral("Omvra Ratavel");

  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};
