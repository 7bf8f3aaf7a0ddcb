#pragma once
// What the measurement controller needs of the main window: the texts it reads, the controls it
// switches and the modal "Fehler" message.

#include <QString>

#include "base/direction.h"

class TMeasurementView {
 public:
  virtual ~TMeasurementView() = default;

  virtual QString ServerText() const = 0;               // Edit1
  virtual bool ExpertPanelVisible() const = 0;          // ProPanel
  virtual QString BlockSizeText() const = 0;            // Edit2
  virtual QString PortText() const = 0;                 // Edit3
  virtual TDirection DirectionChoice() const = 0;       // ComboBox1
  virtual void SetStartEnabled(bool enabled) = 0;       // Button1
  virtual void SetStopEnabled(bool enabled) = 0;        // Button2
  virtual void SetStatusText(const QString& text) = 0;  // status panel 0
  // Modal message captioned "Fehler" with the exclamation icon and an OK button.
  virtual void ShowErrorMessage(const QString& text) = 0;
};
