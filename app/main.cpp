// The program's entry: the application object, the windows, the files named on the command
// line, then the event loop until the main window closes.
#include <cfenv>
#include <exception>

#include "application.h"
#include "codecs/eabort.h"
#include "startfiles.h"
#include "startup.h"
#include "terminatesignal.h"

int main(int argc, char** argv) {
  // Floating-point faults stay masked for the whole run; a division by a zero length
  // gives a value, not a signal.
  fedisableexcept(FE_ALL_EXCEPT);

  // Qt takes its own arguments (-platform and the like) out of argc and argv here.
  TApplication app(argc, argv);
  CloseOnTerminateSignals();
  try {
    StartUp();
    AddStartFiles(argc, argv);
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
