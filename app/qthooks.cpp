#include "qthooks.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>

#include <chrono>
#include <thread>

#include "codecs/passhooks.h"
#include "main/uihooks.h"
#include "mainform.h"

namespace {

// The source patterns as the file-open dialog offers them ("*ogg" takes any name ending
// in "ogg").
const char* const kSourcePatterns = "*.mp3;*.wav;*ogg;*.wma;*.mid;*.cda;*.xm;*.umx;*.mod;*.it;*.s3m;*.mtm;";

QWidget* DialogOwner() {
  if (QWidget* w = QApplication::activeModalWidget()) return w;
  if (QWidget* w = QApplication::activeWindow()) return w;
  return Form1;
}

bool RunOpenDialog(std::vector<std::string>& paths) {
  QFileDialog dialog(DialogOwner(), QString::fromUtf8("Открыть"));
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setNameFilter(OpenDialogFilter());
  dialog.setSizeGripEnabled(true);
  // No places bar: the dialog opens on the folder list alone.
  if (QWidget* places = dialog.findChild<QWidget*>(QStringLiteral("sidebar"))) places->hide();
  if (dialog.exec() != QDialog::Accepted) return false;
  for (const QString& file : dialog.selectedFiles()) {
    paths.push_back(QFile::encodeName(file).toStdString());
  }
  return true;
}

int ShowMessageBox(const std::string& text, const std::string& caption, int flags) {
  const QString t = QString::fromUtf8(text);
  const QString c = QString::fromUtf8(caption);
  switch (flags) {
    case MB_QUESTION_OKCANCEL:
      return QMessageBox::question(DialogOwner(), c, t, QMessageBox::Ok | QMessageBox::Cancel,
                                   QMessageBox::Ok) == QMessageBox::Ok
                 ? ID_OK
                 : ID_CANCEL;
    case MB_WARNING:
      QMessageBox::warning(DialogOwner(), c, t);
      return ID_OK;
    default:
      QMessageBox::critical(DialogOwner(), c, t);
      return ID_OK;
  }
}

void ProcessEvents() {
  // A batch sets BatchRunning before its first pass; this is where the main window's
  // commands learn of it.
  if (Form1) Form1->UpdateCommandState();
  QCoreApplication::processEvents();
}

void Pause(int milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace

QString OpenDialogFilter() {
  QString patterns = QString::fromUtf8(kSourcePatterns).split(';', Qt::SkipEmptyParts).join(' ');
  return QString::fromUtf8("Все поддерживаемые типы (%1)").arg(patterns);
}

void InstallWindowHooks() {
  UiHooks.RunOpenDialog = RunOpenDialog;
  UiHooks.MessageBox = ShowMessageBox;
  UiHooks.ProcessEvents = ProcessEvents;
  UiHooks.Sleep = Pause;
  EngineHooks.ProcessEvents = ProcessEvents;
  EngineHooks.Sleep = Pause;
}
