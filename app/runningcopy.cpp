#include "runningcopy.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <utility>

#include "application.h"
#include "main/jobdriver.h"
#include "main/listops.h"
#include "main/privatefolder.h"
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
// However a later start sends, its connection is closed by then: a sender that trickles
// bytes, or stops halfway, holds nothing of the running copy's for longer.
constexpr int kConnectionDeadlineMs = 10000;
// Far more than any command line holds; a sender of more is not a copy of this program.
constexpr size_t kMaxMessageBytes = 16 << 20;
// A command line holds far fewer; the paths beyond are refused.
constexpr size_t kMaxPaths = 10000;
constexpr size_t kMaxPathBytes = 4096;  // PATH_MAX, its NUL included

// What later starts handed over and the list has not taken yet.
struct THanded {
  bool arrived = false;  // a later start came, with files or without
  std::vector<std::string> files;
};

THanded& Handed() {
  static THanded handed;
  return handed;
}

// The local socket's peer is a process of this user: an abstract name lives in a namespace
// that every user of the machine shares.
bool PeerIsThisUser(qintptr descriptor, uid_t* owner = nullptr) {
  struct ucred peer {};
  socklen_t length = sizeof peer;
  if (getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) return false;
  if (owner) *owner = peer.uid;
  return peer.uid == getuid();
}

// A later start's message, read as it arrives: each byte is looked at once, however the
// message is cut into pieces.
class TIncomingList {
 public:
  enum class TState { Reading, Listed, Confirmed, Refused };

  TState Feed(const char* data, size_t size) {
    received_ += size;
    if (received_ > kMaxMessageBytes) return state_ = TState::Refused;
    while (size > 0 && state_ == TState::Reading) {
      const auto* end = static_cast<const char*>(std::memchr(data, '\0', size));
      const size_t piece = end ? static_cast<size_t>(end - data) : size;
      if (!tooLong_) {
        if (current_.size() + piece >= kMaxPathBytes) {
          tooLong_ = true;
          current_.clear();
        } else {
          current_.append(data, piece);
        }
      }
      if (!end) return state_;
      if (current_.empty() && !tooLong_) {
        state_ = TState::Listed;
      } else if (tooLong_ || files_.size() >= kMaxPaths) {
        ++refused_;
      } else {
        files_.push_back(std::move(current_));
      }
      current_.clear();
      tooLong_ = false;
      data += piece + 1;
      size -= piece + 1;
    }
    // After the list only the confirmation may come, and nothing behind it.
    if (state_ == TState::Listed && size > 0)
      state_ = size == 1 && data[0] == kTaken ? TState::Confirmed : TState::Refused;
    else if (state_ == TState::Confirmed && size > 0)
      state_ = TState::Refused;
    return state_;
  }

  std::vector<std::string>& Files() { return files_; }
  size_t RefusedCount() const { return refused_; }

 private:
  TState state_ = TState::Reading;
  std::vector<std::string> files_;
  std::string current_;
  bool tooLong_ = false;
  size_t refused_ = 0;
  size_t received_ = 0;
};

void TakeConnection(QLocalSocket* socket) {
  QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
  if (!PeerIsThisUser(socket->socketDescriptor())) {
    socket->abort();
    return;
  }
  auto* deadline = new QTimer(socket);
  deadline->setSingleShot(true);
  QObject::connect(deadline, &QTimer::timeout, socket, [socket] {
    socket->abort();
    socket->deleteLater();
  });
  deadline->start(kConnectionDeadlineMs);
  auto incoming = std::make_shared<TIncomingList>();
  const auto read = [socket, incoming] {
    using TState = TIncomingList::TState;
    char buffer[65536];
    TState state = TState::Reading;
    for (qint64 n; (n = socket->read(buffer, sizeof buffer)) > 0;) {
      const TState before = state;
      state = incoming->Feed(buffer, static_cast<size_t>(n));
      if (state == TState::Refused) {
        socket->abort();
        socket->deleteLater();
        return;
      }
      if (before == TState::Reading && state != TState::Reading) socket->write(&kTaken, 1);
    }
    if (state != TState::Confirmed) return;
    if (incoming->RefusedCount() > 0)
      std::fprintf(stderr, "orvik-converter: %zu of the files a later start handed over were refused: "
                           "more than %zu files, or a path longer than %zu bytes\n",
                   incoming->RefusedCount(), kMaxPaths, kMaxPathBytes - 1);
    socket->disconnectFromServer();
    std::vector<std::string>& files = incoming->Files();
    Handed().arrived = true;
    Handed().files.insert(Handed().files.end(), std::make_move_iterator(files.begin()),
                          std::make_move_iterator(files.end()));
    files.clear();
    // From the event loop, never from inside the read.
    QTimer::singleShot(0, [] { AddHandedFiles(); });
  };
  QObject::connect(socket, &QLocalSocket::readyRead, socket, read);
  // What came before the connection was taken is not announced again.
  if (socket->bytesAvailable() > 0) read();
}

// The socket's name is a file in the user's private runtime folder where there is one;
// otherwise a name of the abstract namespace, which every user shares.
bool IsAbstractName(const QString& name) {
  const std::string runtime = PrivateRuntimeFolder();
  return runtime.empty() || !name.startsWith(QString::fromStdString(runtime) + "/");
}

}  // namespace

QString RunningCopyName(const std::string& programDir) {
  const QByteArray folder = QCryptographicHash::hash(QByteArray::fromStdString(programDir),
                                                     QCryptographicHash::Sha256);
  const QString hash = QString::fromLatin1(folder.toHex().left(32));
  const std::string runtime = PrivateRuntimeFolder();
  if (!runtime.empty()) return QString::fromStdString(runtime) + "/orvik-converter-" + hash;
  // Absolute, so that the name does not depend on $TMPDIR.
  return QStringLiteral("/orvik-converter/%1/%2").arg(getuid()).arg(hash);
}

bool HandFilesToRunningCopy(const QString& name, const std::vector<std::string>& files) {
  QLocalSocket socket;
  if (IsAbstractName(name)) socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
  socket.connectToServer(name);
  if (!socket.waitForConnected(kConnectMs)) return false;
  uid_t owner = 0;
  if (!PeerIsThisUser(socket.socketDescriptor(), &owner)) {
    std::fprintf(stderr, "orvik-converter: the name for reaching a running copy is held by another "
                         "user (uid %u); this copy runs on its own\n", static_cast<unsigned>(owner));
    return false;
  }
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
  const bool abstract = IsAbstractName(name);
  if (abstract) server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
  bool listening = server->listen(name);
  if (!listening && !abstract && server->serverError() == QAbstractSocket::AddressInUseError) {
    // A socket file that nobody answers on is what a copy that was killed left.
    QLocalSocket probe;
    probe.connectToServer(name);
    if (!probe.waitForConnected(kConnectMs) && QLocalServer::removeServer(name))
      listening = server->listen(name);
  }
  if (!listening) {
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
