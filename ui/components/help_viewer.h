#pragma once
// The program's help viewer: a window of its own that shows the file it is asked for. Asking for a
// file that is already shown brings its window to the front instead of opening a second one. The
// program never closes a viewer; the user does.

#include <QString>
#include <QWidget>

class QTextBrowser;

class THelpViewer : public QWidget {
  Q_OBJECT

 public:
  // Shows path (made absolute) and returns its window; a new one opens beside the given window
  // (or the active one).
  static THelpViewer* ShowFile(const QString& path, const QWidget* beside = nullptr);
  // The window that shows path, if any.
  static THelpViewer* Find(const QString& path);

  QString FilePath() const { return FFilePath; }
  QTextBrowser* Browser() const { return FBrowser; }
  ~THelpViewer() override;

 private:
  explicit THelpViewer(const QString& path);
  void Load();
  void PlaceOnScreen(const QWidget* beside);

  QString FFilePath;
  QTextBrowser* FBrowser;
};

// The German text a viewer shows for a help file it cannot read.
QString HelpFileMissingText(const QString& path);
