// The program's entry: the application object; a start while a copy from the same folder
// runs hands its files to that copy and ends; otherwise the windows, the files named on
// the command line, then the event loop until the main window closes.
#include <cfenv>
#include <exception>

#include "application.h"
#include "codecs/eabort.h"
#include "main/paths.h"
#include "runningcopy.h"
#include "startfiles.h"
#include "startup.h"
#include "terminatesignal.h"

int main(int argc, char** argv) {
  // Floating-point faults stay masked for the whole run; a division by a zero length
  // gives a value, not a signal.
  fedisableexcept(FE_ALL_EXCEPT);

  // Qt takes its own arguments (-platform and the like) out of argc and argv here.
  TApplication app(argc, argv);
  try {
    // Listening first, so that of two copies started together exactly one listens.
    const QString copyName = RunningCopyName(ProgramDir());
    if (!ListenForLaterStarts(copyName) &&
        HandFilesToRunningCopy(copyName, StartFilePaths({argv + (argc > 0 ? 1 : 0), argv + argc})))
      return 0;
    StartUp();
    AddStartFiles(argc, argv);
    // Caught only from here on: while the files named on the command line are appended the
    // list is guarded like a batch, and a signal then would only take the default course.
    // Before this point nothing of the user's has changed, so that course loses nothing.
    CloseOnTerminateSignals();
    // Files a later start handed over while the start files were appended.
    AddHandedFiles();
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
