#include "startup.h"

#include <QGuiApplication>
#include <QScreen>

#include <initializer_list>

#include "about.h"
#include "mainform.h"
#include "options.h"
#include "progress.h"
#include "qthooks.h"
#include "readonlywarnbox.h"

void StartUp() {
  InstallWindowHooks();
  Form1 = new TForm1;
  // The progress window stays up while the main window is hidden, so it owns itself.
  ProgressBox = new TProgressBox;
  OptionsBox = new TOptionsBox(Form1);
  AboutBox = new TAboutBox(Form1);
  ReadOnlyWarningBox = new TReadOnlyWarningBox(Form1);
  // The program ends when the main window closes, never when a dialog closes while the
  // main window is hidden for a batch.
  for (QWidget* box : std::initializer_list<QWidget*>{ProgressBox, OptionsBox, AboutBox,
                                                      ReadOnlyWarningBox}) {
    box->setAttribute(Qt::WA_QuitOnClose, false);
  }
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = Form1->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    Form1->move(frame.topLeft());
  }
  Form1->show();
}
