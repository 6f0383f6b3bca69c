// Start-up: the application object, the five windows in their order, then the event loop
// until the main window closes.
#include <cfenv>
#include <exception>
#include <initializer_list>

#include <QScreen>

#include "about.h"
#include "application.h"
#include "codecs/eabort.h"
#include "mainform.h"
#include "options.h"
#include "progress.h"
#include "qthooks.h"
#include "readonlywarnbox.h"

int main(int argc, char** argv) {
  // Floating-point faults stay masked for the whole run; a division by a zero length
  // gives a value, not a signal.
  fedisableexcept(FE_ALL_EXCEPT);

  TApplication app(argc, argv);
  InstallWindowHooks();
  try {
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
    return app.exec();
  } catch (const EAbort&) {
    return 0;
  } catch (const std::exception& error) {
    ShowException(error.what());
  } catch (...) {
    ShowException("");
  }
  return 1;
}
