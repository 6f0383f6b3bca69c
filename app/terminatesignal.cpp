#include "terminatesignal.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "main/mainfunc.h"
#include "mainform.h"

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The handler may only write to a descriptor; the event loop reads the other end.
int signalPipe[2] = {-1, -1};

extern "C" void NoteSignal(int signal) {
  const unsigned char number = static_cast<unsigned char>(signal);
  const ssize_t written = write(signalPipe[0], &number, 1);
  (void)written;  // a full pipe already holds a signal not yet handled
}

void TakeDefaultCourse(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  raise(signal);
}

}  // namespace

bool CloseProgramWindows() {
  if (MainFunc.BatchRunning || !Form1) return false;
  // Modal dialogs first, so their loops return; the progress window of a finished batch
  // refuses and goes with the program.
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (window != Form1 && window->isVisible()) window->close();
  }
  // Hidden behind a finished batch's progress window, the main window is closed all the
  // same: that is where config.cfg is written.
  return Form1->close();
}

void CloseOnTerminateSignals() {
  if (signalPipe[0] >= 0) return;
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
  // A handler must never block, even when signals arrive faster than they are handled.
  fcntl(signalPipe[0], F_SETFL, fcntl(signalPipe[0], F_GETFL) | O_NONBLOCK);
  auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, qApp);
  QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
    unsigned char number = 0;
    if (read(signalPipe[1], &number, 1) != 1) return;
    if (CloseProgramWindows()) {
      QCoreApplication::quit();
    } else {
      TakeDefaultCourse(number);
    }
  });
  for (const int signal : kSignals) {
    // A signal ignored from the start stays ignored: `nohup`, or a job started in the
    // background of a script, asked for that.
    struct sigaction previous {};
    if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = NoteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
  }
}
