// The application object and the one place where an exception that escaped a handler is
// shown to the user.
#pragma once

#include <QApplication>
#include <QIcon>

#include <exception>
#include <functional>
#include <string>

class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);

  // Last line of defence for handlers that were not run through RunGuarded.
  bool notify(QObject* receiver, QEvent* event) override;

 private:
  void LoadQtTranslations();
};

// The application's title, also the caption of the error box.
inline constexpr const char* kApplicationTitle = "Orvik Converter";

// The program's icon, drawn from the SVG at 48 and 256 pixels and built into the program.
QIcon ProgramIcon();

// Shows `message` in a critical box captioned with the application's title (through
// UiHooks.MessageBox when installed).
void ShowException(const std::string& message);

// Shows an exception caught on its way out of a handler; EAbort is discarded silently.
void ShowEscapedException(std::exception_ptr escaped);

// Runs a handler so that no exception leaves it into Qt's code: EAbort is discarded
// silently, any other exception is shown. True when the handler returned normally.
bool RunGuarded(const std::function<void()>& handler);
