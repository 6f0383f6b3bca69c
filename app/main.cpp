// The program's entry: the application object, the windows, then the event loop until the
// main window closes.
#include <cfenv>
#include <exception>

#include "application.h"
#include "codecs/eabort.h"
#include "startup.h"

int main(int argc, char** argv) {
  // Floating-point faults stay masked for the whole run; a division by a zero length
  // gives a value, not a signal.
  fedisableexcept(FE_ALL_EXCEPT);

  TApplication app(argc, argv);
  try {
    StartUp();
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
