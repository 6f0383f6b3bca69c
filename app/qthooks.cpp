#include "qthooks.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>

#include <chrono>
#include <thread>

#include "codecs/passhooks.h"
#include "main/uihooks.h"
#include "mainform.h"

namespace {

// The source patterns as the file-open dialog offers them ("*ogg" takes any name ending
// in "ogg"), then the kinds the decoder reads beyond them.
const char* const kSourcePatterns =
    "*.mp3;*.wav;*ogg;*.wma;*.mid;*.cda;*.xm;*.umx;*.mod;*.it;*.s3m;*.mtm;"
    "*.flac;*.opus;*.m4a;*.aac;*.aif;*.aiff;*.cue;";

QWidget* DialogOwner() {
  if (QWidget* w = QApplication::activeModalWidget()) return w;
  if (QWidget* w = QApplication::activeWindow()) return w;
  return Form1;
}

// The names of a file-name text of the form "a.mp3" "b.mp3"; none when it holds no quote.
QStringList QuotedNames(const QString& text) {
  QStringList names;
  const QStringList tokens = text.split(QLatin1Char('"'));
  // Every second token lies between quotes.
  for (qsizetype i = 1; i < tokens.size() - 1; i += 2)
    if (!tokens[i].isEmpty()) names << tokens[i];
  return names;
}

bool RunOpenDialog(std::vector<std::string>& paths) {
  QFileDialog dialog(DialogOwner(), QString::fromUtf8("Открыть"));
  // Qt's own dialog on every desktop, so the filter, the selection and typed names behave
  // the same everywhere.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  // Names typed into the dialog reach the list as typed, whether such files exist or not
  // (a missing file shows when it is measured or converted); several files can still be
  // selected in the file list.
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  for (QAbstractItemView* view : dialog.findChildren<QAbstractItemView*>())
    if (view->objectName() == QLatin1String("listView") || view->objectName() == QLatin1String("treeView"))
      view->setSelectionMode(QAbstractItemView::ExtendedSelection);
  // The filter reads by its name alone; its patterns apply without being spelled out.
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setNameFilter(OpenDialogFilter());
  dialog.setSizeGripEnabled(true);
  // No places bar: the dialog opens on the folder list alone.
  if (QWidget* places = dialog.findChild<QWidget*>(QStringLiteral("sidebar"))) places->hide();
  if (dialog.exec() != QDialog::Accepted) return false;
  // Several names typed between quotes ("a.mp3" "b.mp3") are all taken as typed; the
  // dialog's own answer would keep only those that its file list shows.
  const auto* nameEdit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  const QStringList typed = nameEdit ? QuotedNames(nameEdit->text()) : QStringList();
  for (const QString& file : typed.isEmpty() ? dialog.selectedFiles() : typed) {
    const QString path = QFileInfo(file).isAbsolute() ? file : dialog.directory().absoluteFilePath(file);
    paths.push_back(QFile::encodeName(path).toStdString());
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

// The break between two passes of a conversion routine: the event processing just before
// it already keeps the windows answering, so the processor is only offered to others,
// without a wait that would only slow the batch.
void YieldBetweenPasses(int /*milliseconds*/) { std::this_thread::yield(); }

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
  EngineHooks.Sleep = YieldBetweenPasses;
}
