#pragma once
// The smallest classes for the kinds of component whose layout the placement store remembers and
// that Qt has no equivalent for: a splitter control, a cool bar with bands, a data grid with columns.

#include <QColor>
#include <QFont>
#include <QVector>
#include <QWidget>

// Edge alignments of a control, as the "Align" property holds them.
enum TAlign { alNone = 0, alTop = 1, alBottom = 2, alLeft = 3, alRight = 4, alClient = 5 };

class TSplitter : public QWidget {
  Q_OBJECT
  Q_PROPERTY(int Align MEMBER Align)

 public:
  using QWidget::QWidget;
  int Align = alLeft;
};

struct TCoolBand {
  int Width = 0;
  bool Break = false;
};

class TCoolBar : public QWidget {
  Q_OBJECT

 public:
  using QWidget::QWidget;
  QVector<TCoolBand> Bands;
};

struct TColumn {
  QString FieldName;
  int Width = 64;
  QFont Font;
  QColor FontColor = Qt::black;
  QColor Color = Qt::white;
};

class TDBGrid : public QWidget {
  Q_OBJECT

 public:
  using QWidget::QWidget;
  QVector<TColumn> Columns;
};

// A colour as a 32-bit colour value: red in the low byte, then green, then blue.
int ColorToInt(const QColor& color);
QColor IntToColor(int value);
// Font style bits: 1 bold, 2 italic, 4 underline, 8 strike-out.
int FontStyleBits(const QFont& font);
void ApplyFontStyleBits(QFont& font, int bits);
