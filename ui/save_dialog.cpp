#include "ui/save_dialog.h"

#include <QFileDialog>

namespace {
TSaveDialog::TAnswer answer;
}

void TSaveDialog::SetAnswer(TAnswer newAnswer) { answer = std::move(newAnswer); }

QString TSaveDialog::Ask(QWidget* parent, const QString& caption, const QString& proposedPath, const QString& filter) {
  if (answer) return answer(proposedPath);
  return QFileDialog::getSaveFileName(parent, caption, proposedPath, filter);
}
