#pragma once
// Remembers a form's outer size, position and window state in the per-user settings store: loads
// them at the form's first showing and saves them when it is destroyed, chained behind the form's
// own show and destroy handlers. Further options remember the sizes of aligned controls, cool-bar
// bands, data-grid columns, and fonts and colours of components.

#include <QObject>
#include <QString>

#include <cstdint>

#include "ui/components/form.h"

class TRegIniFile;

enum TWndProperties : std::uint8_t {
  wpSize = 1,
  wpPosition = 2,
  wpWndState = 4,
  wpControlSizes = 8,
  wpCoolBar = 16,
  wpGridSizes = 32,
  wpFonts = 64,
  wpColors = 128,
};
using TWndProperty = std::uint8_t;

class TWndProp : public QObject {
  Q_OBJECT

 public:
  explicit TWndProp(QObject* owner);

  QString About() const;
  void SetAbout(const QString&) {}
  QString Key() const { return FKey; }
  void SetKey(const QString& key) { FKey = key; }
  QString Section() const { return FSection; }
  void SetSection(const QString& section) { FSection = section; }
  TWndProperty Options() const { return FOptions; }
  void SetOptions(TWndProperty options) { FOptions = options; }
  bool AutoLoad() const { return FAutoLoad; }
  // True chains the component behind the owner's show and destroy handlers, once.
  void SetAutoLoad(bool value);

  void LoadProps();
  void SaveProps();
  void OwnerShow(QObject* Sender);
  void OwnerDestroy(QObject* Sender);

 private:
  TForm* OwnerForm() const;
  void ComponentPass(TRegIniFile& store, bool loading);
  void CoolBarPass(TRegIniFile& store, bool loading);

  QString FKey = QStringLiteral("Software");
  TWndProperty FOptions = wpSize | wpPosition | wpWndState;
  QString FSection;
  bool FAutoLoad = true;
  bool FHooked = false;
  TNotifyEvent FSavedShow;
  TNotifyEvent FSavedDestroy;
};
