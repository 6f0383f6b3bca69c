#include "terminatesignal.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "codecs/convfunc.h"
#include "main/mainfunc.h"
#include "mainform.h"
#include "progress.h"

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
// How often a shutdown looks again whether the cancelled batch has unwound.
constexpr int kIdleCheckMs = 20;

// The handler may only write to a descriptor; the event loop reads the other end.
int signalPipe[2] = {-1, -1};
// The signal that began the shutdown, 0 before. The same signal again then ends the program
// from the handler itself, even while a library call keeps the event loop from running. A
// logout sends SIGHUP right behind SIGTERM: another kind does not cut the saving short.
volatile sig_atomic_t shutdownSignal = 0;

void TakeDefaultCourse(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  raise(signal);
}

extern "C" void NoteSignal(int signal) {
  // The code interrupted may be about to read errno: a failed write here must not change it.
  const int savedErrno = errno;
  if (shutdownSignal == signal) {
    TakeDefaultCourse(signal);  // sigaction and raise may be called from a handler
  } else {
    const unsigned char number = static_cast<unsigned char>(signal);
    const ssize_t written = write(signalPipe[0], &number, 1);
    (void)written;  // a full pipe already holds a signal not yet handled
  }
  errno = savedErrno;
}

// Every visible window but the main window and the progress window: their nested event
// loops return, a question counts as answered with Cancel.
void CloseDialogs() {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (window != Form1 && window != ProgressBox && window->isVisible()) window->close();
  }
}

// Closes the program as soon as the cancelled batch, or a filling of the list, has ended.
void CloseWhenIdle() {
  if (!CloseProgramWindows()) {
    QTimer::singleShot(kIdleCheckMs, qApp, CloseWhenIdle);
    return;
  }
  shutdownSignal = 0;
  // exit, not quit: quit would ask every window again, and a refusal would keep the
  // process running without a window.
  QCoreApplication::exit(0);
}

void BeginShutdown(int signal) {
  shutdownSignal = signal;
  // A batch converting ends as a confirmed Cancel ends it: the running routine removes its
  // partial output and the temporary WAV as it unwinds, and the list is emptied.
  if (MainFunc.BatchRunning && ProgressBox && ProgressBox->isVisible()) {
    ConvFunc.Stage = STAGE_CANCEL;
    ProgressBox->Dismiss();
  }
  CloseDialogs();
  CloseWhenIdle();
}

}  // namespace

bool CloseProgramWindows() {
  if (MainFunc.BatchRunning || !Form1) return false;
  // A finished batch's progress window is dismissed as its OK would dismiss it.
  if (ProgressBox && ProgressBox->isVisible()) ProgressBox->Dismiss();
  CloseDialogs();
  // Hidden behind a dialog or not, the main window is closed: that is where config.cfg is
  // written.
  return Form1->close();
}

void CloseOnTerminateSignals() {
  if (signalPipe[0] >= 0) return;
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
  // A handler must never block, even when signals arrive faster than they are handled.
  fcntl(signalPipe[0], F_SETFL, fcntl(signalPipe[0], F_GETFL) | O_NONBLOCK);
  fcntl(signalPipe[1], F_SETFL, fcntl(signalPipe[1], F_GETFL) | O_NONBLOCK);
  auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, qApp);
  QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
    unsigned char numbers[16];
    // Signals that came together, before the shutdown began, start one shutdown.
    if (read(signalPipe[1], numbers, sizeof numbers) <= 0 || shutdownSignal != 0) return;
    BeginShutdown(numbers[0]);
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
