#pragma once
// The real main window on the offscreen platform, driven as a user drives it: start-up reads the
// settings, Start and Stop are clicked, and the end writes the settings back.

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>

#include <memory>

#include "tests/stress/stress_scale.h"
#include "tests/support/patience.h"
#include "ui/main_window.h"

namespace stress {

class TProgramDriver {
 public:
  TProgramDriver() : FForm(std::make_unique<TForm1>()) { FForm->show(); }
  ~TProgramDriver() { End(); }
  TProgramDriver(const TProgramDriver&) = delete;
  TProgramDriver& operator=(const TProgramDriver&) = delete;

  TForm1& Form() { return *FForm; }

  void Start(const QString& server, int port) {
    if (FForm->ExpertPanelVisible())
      FForm->Edit3->setText(QString::number(port));
    else
      FForm->ClientSocket1.SetPort(port);
    FForm->Edit1->setText(server);
    FForm->Button1->click();
  }
  void Stop() { FForm->Button2->click(); }

  QString Status() const { return FForm->StatusPanel0->text(); }
  bool IsIdle() const {
    return FForm->Button1->isEnabled() && !FForm->Button2->isEnabled() && !FForm->Controller.Timer1.isActive() &&
           Status() == texts::IdleStatus && !FForm->Controller.HasWorker();
  }
  bool WaitForMeasuring() {
    return QTest::qWaitFor([&] { return Status() == texts::MeasuringStatus; }, testsupport::PatienceMs);
  }
  bool WaitForIdle() {
    return QTest::qWaitFor([&] { return IsIdle(); }, testsupport::PatienceMs);
  }

  // Closes the window as the user would; the settings are written. Runs once.
  void End() {
    if (!FForm) return;
    FForm->close();
    FForm->DoDestroy();
    FForm.reset();
  }

 private:
  std::unique_ptr<TForm1> FForm;
};

}  // namespace stress
