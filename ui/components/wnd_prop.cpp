#include "ui/components/wnd_prop.h"

#include <QVariant>

#include "settings/reg_ini_file.h"
#include "ui/components/component_kinds.h"

namespace {
const QString DefaultFontName = QStringLiteral("MS Sans Serif");
constexpr int DefaultCharSet = 1;
constexpr int DefaultFontSize = 8;

// One integer in either direction: loading applies the stored value, saving stores the current one.
template <typename Apply>
void TransferInteger(TRegIniFile& store, bool loading, const QString& section, const QString& name, int current,
                     Apply apply) {
  if (loading) {
    apply(store.ReadInteger(section, name, current));
  } else {
    store.WriteInteger(section, name, current);
  }
}

// The section below parent that holds what one of its children keeps, as the store nests keys.
QString ChildSection(const QString& parent, const QString& child) { return parent + QLatin1Char('\\') + child; }

bool PublishesFalse(const QObject* item, const char* name) {
  const QVariant value = item->property(name);
  return value.isValid() && !value.toBool();
}

// Font name, character set, colour and size, in the order they are stored; the style comes last.
void TransferFontHead(TRegIniFile& store, bool loading, const QString& section, QFont& font, QColor& colour) {
  if (loading) {
    font.setFamily(store.ReadString(section, QStringLiteral("FontName"), DefaultFontName));
    store.ReadInteger(section, QStringLiteral("FontCharSet"), DefaultCharSet);  // Qt fonts carry no character set
    colour = IntToColor(store.ReadInteger(section, QStringLiteral("FontColor"), 0));
    const int size = store.ReadInteger(section, QStringLiteral("FontSize"), DefaultFontSize);
    if (size > 0) font.setPointSize(size);
  } else {
    store.WriteString(section, QStringLiteral("FontName"), font.family());
    store.WriteInteger(section, QStringLiteral("FontCharSet"), DefaultCharSet);
    store.WriteInteger(section, QStringLiteral("FontColor"), ColorToInt(colour));
    store.WriteInteger(section, QStringLiteral("FontSize"), font.pointSize());
  }
}

void TransferFontStyle(TRegIniFile& store, bool loading, const QString& section, QFont& font) {
  TransferInteger(store, loading, section, QStringLiteral("FontStyle"), loading ? 0 : FontStyleBits(font),
                  [&](int bits) { ApplyFontStyleBits(font, bits); });
}
}  // namespace

TWndProp::TWndProp(QObject* owner) : QObject(owner) {
  const auto* form = qobject_cast<const TForm*>(owner);
  FSection = form ? form->windowTitle() : QStringLiteral("Section1");
}

QString TWndProp::About() const {
  return QStringLiteral("TWndProp merkt sich Größe, Position und Zustand eines Fensters.");
}

TForm* TWndProp::OwnerForm() const { return qobject_cast<TForm*>(parent()); }

void TWndProp::SetAutoLoad(bool value) {
  FAutoLoad = value;
  TForm* form = OwnerForm();
  // Chained once only: a second hook would make the component its own saved handler.
  if (!value || !form || FHooked) return;
  FHooked = true;
  FSavedShow = form->OnShow;
  FSavedDestroy = form->OnDestroy;
  form->OnShow = [this](QObject* Sender) { OwnerShow(Sender); };
  form->OnDestroy = [this](QObject* Sender) { OwnerDestroy(Sender); };
}

void TWndProp::OwnerShow(QObject* Sender) {
  if (FSavedShow) FSavedShow(Sender);
  // The load belongs to the first showing, also when it fails: a window restored from minimised
  // must neither be set back to the stored rectangle nor show the same message again.
  struct TUnhook {
    TWndProp& Prop;
    ~TUnhook() {
      if (TForm* form = Prop.OwnerForm()) form->OnShow = Prop.FSavedShow;
    }
  } unhook{*this};
  LoadProps();
}

void TWndProp::OwnerDestroy(QObject* Sender) {
  if (FSavedDestroy) FSavedDestroy(Sender);
  SaveProps();
  if (TForm* form = OwnerForm()) form->OnDestroy = FSavedDestroy;
}

void TWndProp::LoadProps() {
  TForm* form = OwnerForm();
  if (!form) return;
  TRegIniFile store(FKey);
  // Each value is applied as soon as it is read; the form's own size limits act on every resize.
  if (FOptions & wpPosition) {
    form->SetLeft(store.ReadInteger(FSection, QStringLiteral("Left"), form->Left()));
    form->SetTop(store.ReadInteger(FSection, QStringLiteral("Top"), form->Top()));
  }
  if (FOptions & wpSize) {
    form->SetWidth(store.ReadInteger(FSection, QStringLiteral("Width"), form->Width()));
    form->SetHeight(store.ReadInteger(FSection, QStringLiteral("Height"), form->Height()));
  }
  ComponentPass(store, true);
  if (FOptions & wpCoolBar) CoolBarPass(store, true);
  if (FOptions & wpWndState) {
    const int state = store.ReadInteger(FSection, QStringLiteral("State"), form->WindowState());
    // A state outside the three known ones opens the window normally.
    form->SetWindowState(state == wsMinimized || state == wsMaximized ? TWindowState(state) : wsNormal);
  }
}

void TWndProp::SaveProps() {
  TForm* form = OwnerForm();
  if (!form) return;
  TRegIniFile store(FKey);
  const TWindowState state = form->WindowState();
  if (FOptions & wpWndState) store.WriteInteger(FSection, QStringLiteral("State"), state);
  // Only a normal window has a rectangle worth keeping; otherwise the last one stays stored.
  if (state == wsNormal) {
    if (FOptions & wpPosition) {
      store.WriteInteger(FSection, QStringLiteral("Left"), form->Left());
      store.WriteInteger(FSection, QStringLiteral("Top"), form->Top());
    }
    if (FOptions & wpSize) {
      store.WriteInteger(FSection, QStringLiteral("Width"), form->Width());
      store.WriteInteger(FSection, QStringLiteral("Height"), form->Height());
    }
  }
  ComponentPass(store, false);
  if (FOptions & wpCoolBar) CoolBarPass(store, false);
}

void TWndProp::ComponentPass(TRegIniFile& store, bool loading) {
  if (!(FOptions & (wpControlSizes | wpFonts | wpColors | wpGridSizes))) return;
  TForm* form = OwnerForm();
  const QString formName = form->objectName();
  for (QObject* item : form->findChildren<QObject*>()) {
    if (item->objectName().isEmpty()) continue;
    const QString section = ChildSection(formName, item->objectName());
    auto* control = qobject_cast<QWidget*>(item);

    if ((FOptions & wpControlSizes) && control && !qobject_cast<TSplitter*>(item)) {
      const int align = item->property("Align").isValid() ? item->property("Align").toInt() : alNone;
      if (align == alTop || align == alBottom) {
        TransferInteger(store, loading, section, QStringLiteral("Height"), control->height(),
                        [&](int height) { control->resize(control->width(), height); });
      } else if (align == alLeft || align == alRight) {
        TransferInteger(store, loading, section, QStringLiteral("Width"), control->width(),
                        [&](int width) { control->resize(width, control->height()); });
      }
    }
    if ((FOptions & wpFonts) && PublishesFalse(item, "ParentFont") && item->property("Font").isValid()) {
      QFont font = loading ? QFont(DefaultFontName) : item->property("Font").value<QFont>();
      QColor colour = item->property("FontColor").isValid() ? item->property("FontColor").value<QColor>() : Qt::black;
      TransferFontHead(store, loading, section, font, colour);
      TransferFontStyle(store, loading, section, font);
      if (loading) {
        item->setProperty("Font", font);
        if (item->property("FontColor").isValid()) item->setProperty("FontColor", colour);
      }
    }
    if ((FOptions & wpColors) && PublishesFalse(item, "ParentColor") && item->property("Color").isValid()) {
      TransferInteger(store, loading, section, QStringLiteral("Color"),
                      ColorToInt(item->property("Color").value<QColor>()),
                      [&](int colour) { item->setProperty("Color", IntToColor(colour)); });
    }
    if ((FOptions & wpGridSizes)) {
      if (auto* grid = qobject_cast<TDBGrid*>(item)) {
        for (TColumn& column : grid->Columns) {
          TransferInteger(store, loading, section, column.FieldName, column.Width,
                          [&](int width) { column.Width = width; });
          const QString columnSection = ChildSection(ChildSection(section, column.FieldName), QStringLiteral("Column"));
          if (loading) column.Font = QFont(DefaultFontName);
          TransferFontHead(store, loading, columnSection, column.Font, column.FontColor);
          TransferInteger(store, loading, columnSection, QStringLiteral("Color"), ColorToInt(column.Color),
                          [&](int colour) { column.Color = IntToColor(colour); });
          TransferFontStyle(store, loading, columnSection, column.Font);
        }
      }
    }
  }
}

void TWndProp::CoolBarPass(TRegIniFile& store, bool loading) {
  TForm* form = OwnerForm();
  for (TCoolBar* bar : form->findChildren<TCoolBar*>()) {
    const QString section = ChildSection(FSection, bar->objectName());
    for (int i = 0; i < bar->Bands.size(); ++i) {
      TCoolBand& band = bar->Bands[i];
      const QString name = QStringLiteral("Band%1").arg(i);
      TransferInteger(store, loading, section, name, band.Width, [&](int width) { band.Width = width; });
      TransferInteger(store, loading, section, name + QStringLiteral("Break"), band.Break ? 1 : 0,
                      [&](int flag) { band.Break = flag != 0; });
    }
  }
}
