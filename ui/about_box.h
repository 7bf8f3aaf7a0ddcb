#pragma once
// The About box: the program's name and icon, the maker's copyright, web address and e-mail
// address, "OK" and "&Hilfe". Created once at start-up, shown modally again and again.

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;
class TForm1;

class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  static inline const QString WebAddress = QStringLiteral("https://www.omvra-soft.example/");
  static inline const QString EMailAddress = QStringLiteral("info@omvra-soft.example");
  static inline const QString CopyrightText = QStringLiteral("Copyright © 2026 Omvra-Soft");

  explicit TAboutBox(TForm1& mainForm);

  void FormCreate();
  void CommentsClick();
  void Button1Click();

  QFrame* Panel1 = nullptr;
  QLabel* ProgramIcon = nullptr;
  QLabel* ProductName = nullptr;
  QLabel* Copyright = nullptr;
  QLabel* Comments = nullptr;
  QLabel* Label1 = nullptr;
  QPushButton* OKButton = nullptr;
  QPushButton* Button1 = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void LayoutControls();

  TForm1& FMainForm;
  bool FShownBefore = false;
};
