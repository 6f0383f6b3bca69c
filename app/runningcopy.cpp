#include "runningcopy.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <utility>

#include "application.h"
#include "main/jobdriver.h"
#include "main/listops.h"
#include "mainform.h"

namespace {

// Paths travel as bytes, each ended by a NUL (which no path holds); an empty one ends the
// list. The running copy answers with one byte once it has read them, and takes them only
// when the later start confirms with the same byte: a start that gave up waiting runs on
// its own, and its files must not appear in two windows.
constexpr char kTaken = '\1';
constexpr int kConnectMs = 1000;
// A running copy answers from its event loop, which a batch serves between two passes.
constexpr int kAnswerMs = 10000;
// Far more than any command line holds; a sender of more is not a copy of this program.
constexpr qsizetype kMaxMessageBytes = 16 << 20;

// What later starts handed over and the list has not taken yet.
struct THanded {
  bool arrived = false;  // a later start came, with files or without
  std::vector<std::string> files;
};

THanded& Handed() {
  static THanded handed;
  return handed;
}

// The local socket's peer is a process of this user: the name lives in a namespace that
// every user of the machine shares.
bool PeerIsThisUser(qintptr descriptor) {
  struct ucred peer {};
  socklen_t length = sizeof peer;
  return getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
         peer.uid == getuid();
}

// The paths of a complete list, and its length in bytes; 0 while it is not complete yet.
qsizetype ParseMessage(const QByteArray& message, std::vector<std::string>& files) {
  files.clear();
  qsizetype start = 0;
  for (;;) {
    const qsizetype end = message.indexOf('\0', start);
    if (end < 0) return 0;
    if (end == start) return end + 1;
    files.emplace_back(message.constData() + start, static_cast<size_t>(end - start));
    start = end + 1;
  }
}

void TakeConnection(QLocalSocket* socket) {
  QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
  if (!PeerIsThisUser(socket->socketDescriptor())) {
    socket->abort();
    return;
  }
  auto message = std::make_shared<QByteArray>();
  auto answered = std::make_shared<bool>(false);
  const auto read = [socket, message, answered] {
    message->append(socket->readAll());
    std::vector<std::string> files;
    const qsizetype length = ParseMessage(*message, files);
    if (message->size() > kMaxMessageBytes) {
      socket->abort();
      return;
    }
    if (length == 0) return;
    if (!*answered) {
      *answered = true;
      socket->write(&kTaken, 1);
    }
    if (message->size() > length && message->at(length) == kTaken) {
      message->clear();
      socket->disconnectFromServer();
      Handed().arrived = true;
      Handed().files.insert(Handed().files.end(), files.begin(), files.end());
      // From the event loop, never from inside the read.
      QTimer::singleShot(0, [] { AddHandedFiles(); });
    }
  };
  QObject::connect(socket, &QLocalSocket::readyRead, socket, read);
  // What came before the connection was taken is not announced again.
  if (socket->bytesAvailable() > 0) read();
}

}  // namespace

QString RunningCopyName(const std::string& programDir) {
  const QByteArray folder = QCryptographicHash::hash(QByteArray::fromStdString(programDir),
                                                     QCryptographicHash::Sha256);
  // Absolute, so that the name does not depend on $TMPDIR.
  return QStringLiteral("/orvik-converter/%1/%2")
      .arg(getuid())
      .arg(QString::fromLatin1(folder.toHex().left(32)));
}

bool HandFilesToRunningCopy(const QString& name, const std::vector<std::string>& files) {
  QLocalSocket socket;
  socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
  socket.connectToServer(name);
  if (!socket.waitForConnected(kConnectMs) || !PeerIsThisUser(socket.socketDescriptor()))
    return false;
  QByteArray message;
  for (const std::string& file : files) message.append(file.data(), file.size()).append('\0');
  message.append('\0');
  socket.write(message);
  if (!socket.waitForBytesWritten(kAnswerMs)) return false;
  while (socket.bytesAvailable() == 0) {
    if (!socket.waitForReadyRead(kAnswerMs)) return false;
  }
  char answer = 0;
  if (!socket.getChar(&answer) || answer != kTaken) return false;
  socket.write(&kTaken, 1);
  return socket.waitForBytesWritten(kConnectMs);
}

bool ListenForLaterStarts(const QString& name) {
  auto* server = new QLocalServer(qApp);
  server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
  if (!server->listen(name)) {
    delete server;
    return false;
  }
  QObject::connect(server, &QLocalServer::newConnection, server, [server] {
    while (QLocalSocket* socket = server->nextPendingConnection()) TakeConnection(socket);
  });
  return true;
}

void AddHandedFiles() {
  // A later start shows the window it went to, with its files or without.
  const auto show = [] {
    if (Form1->isMinimized()) Form1->showNormal();
    Form1->raise();
    Form1->activateWindow();
  };
  // Appending processes events, so more files may arrive meanwhile.
  while (Handed().arrived && Form1 && Form1->isVisible() && Form1->CommandAllowed()) {
    const std::vector<std::string> files = std::exchange(Handed().files, {});
    Handed().arrived = false;
    show();
    if (files.empty()) break;
    RunGuarded([&files] {
      TBatchGuard busy;
      AppendSourcePaths(files);
    });
    Form1->UpdateCommandState();
  }
}
