// Private working folders and the landing of outputs against another user of the machine:
// a process of another uid plants folders, links, FIFOs and lock files in a shared folder
// (world-writable, no sticky bit), and swaps a folder for a link at the exact point between
// a sweep's decision and its deletes. After each attack every file of the victim's is
// compared byte for byte. Needs root for the second uid.
#include <QtTest>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "codecs/partialfile.h"
#include "main/outputplace.h"
#include "main/paths.h"
#include "main/privatefolder.h"
#include "runfolders.h"

namespace {

constexpr uid_t kOtherUid = 65534;
constexpr const char* kPrefix = ".orvik-convert-";

enum class TAttack {
  OwnDeadFolder,        // the control: a dead run's folder of this user's goes
  OwnLiveFolder,        // a live run's stays
  OthersDeadFolder,     // planted by the other user, named like a dead run's
  OthersLinkedName,     // a link named like a dead run's folder, to the victim's folder
  OthersFifoLock,       // another user's folder whose lock is a FIFO
  OwnFifoLock,          // a FIFO as the lock of a folder of this user's
  LinkInsideOwnFolder,  // a dead folder holding a link to a victim's file
  SwapAfterDecision,    // the folder renamed away and a link put in its place mid-sweep
  SwapWhileInUse,       // a run's folder swapped for a link while the run writes into it
  LinkAtOutput,         // a link at an output's name, replaced by a finished output
  LinkAtOutputKept,     // the same without replacing: refused, nothing changes
  LinkAtPartialCommit,  // a partial file committed onto a link
  OthersPartialFiles,   // hidden partial files of the other user's and a link named as one
};

bool WriteFile(const std::string& path, const std::string& text) {
  QFile file(QString::fromStdString(path));
  return file.open(QIODevice::WriteOnly) && file.write(text.data(), qint64(text.size())) == qint64(text.size());
}

std::string ReadFile(const std::string& path) {
  QFile file(QString::fromStdString(path));
  return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string("<missing>");
}

bool Exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

// Runs `plant` in a child process as the other user; true when it did all it meant to.
bool AsOtherUser(const std::function<bool()>& plant) {
  const pid_t pid = fork();
  if (pid == 0) {
    const bool ok = setgroups(0, nullptr) == 0 && setgid(kOtherUid) == 0 && setuid(kOtherUid) == 0 && plant();
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A folder as a dead run leaves it: made 0700, its lock a free regular file, one file of
// output. Owned by whoever runs this.
bool MakeDeadFolder(const std::string& folder) {
  return mkdir(folder.c_str(), 0700) == 0 && WriteFile(folder + "/lock", "") &&
         WriteFile(folder + "/output.mp3", "half an output");
}

// What the swap at the sweep's decision does: rename the folder away, a link in its place.
std::string SwapVictimFolder;
void SwapForLink(int parentFd, const char* name) {
  const std::string folder = name;
  AsOtherUser([&] {
    return renameat(parentFd, folder.c_str(), parentFd, (folder + ".away").c_str()) == 0 &&
           symlinkat(SwapVictimFolder.c_str(), parentFd, folder.c_str()) == 0;
  });
}

}  // namespace

class TPrivateFolderTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir root_;
  int rows_ = 0;

 private slots:
  void initTestCase() {
    QVERIFY(root_.isValid());
    // The other user must reach the shared folders below.
    QCOMPARE(chmod(root_.path().toLocal8Bit().constData(), 0755), 0);
  }

  void attacksLeaveVictimAlone_data() {
    QTest::addColumn<TAttack>("attack");
    QTest::addColumn<bool>("needsOtherUser");
    QTest::newRow("own dead run's folder goes") << TAttack::OwnDeadFolder << false;
    QTest::newRow("own live run's folder stays") << TAttack::OwnLiveFolder << false;
    QTest::newRow("other user's planted folder") << TAttack::OthersDeadFolder << true;
    QTest::newRow("link named like a run's folder") << TAttack::OthersLinkedName << true;
    QTest::newRow("FIFO as another user's lock") << TAttack::OthersFifoLock << true;
    QTest::newRow("FIFO as own lock") << TAttack::OwnFifoLock << false;
    QTest::newRow("link inside a dead folder") << TAttack::LinkInsideOwnFolder << false;
    QTest::newRow("folder swapped between decision and deletes") << TAttack::SwapAfterDecision << true;
    QTest::newRow("folder swapped while in use") << TAttack::SwapWhileInUse << true;
    QTest::newRow("link at the output, replacing") << TAttack::LinkAtOutput << true;
    QTest::newRow("link at the output, not replacing") << TAttack::LinkAtOutputKept << true;
    QTest::newRow("partial file committed onto a link") << TAttack::LinkAtPartialCommit << true;
    QTest::newRow("other user's partial files") << TAttack::OthersPartialFiles << true;
  }

  void attacksLeaveVictimAlone() {
    QFETCH(TAttack, attack);
    QFETCH(bool, needsOtherUser);
    if (needsOtherUser && geteuid() != 0)
      QSKIP("a second user is needed, and only root can become one (CI runs these as root)");
    const std::string row = root_.path().toStdString() + "/" + std::to_string(++rows_);
    const std::string shared = row + "/shared", victim = row + "/victim";
    QCOMPARE(mkdir(row.c_str(), 0755), 0);
    QCOMPARE(mkdir(shared.c_str(), 0777), 0);
    QCOMPARE(chmod(shared.c_str(), 0777), 0);  // world-writable without the sticky bit
    QCOMPARE(mkdir(victim.c_str(), 0755), 0);
    const std::map<std::string, std::string> victimFiles{
        {"thesis.txt", std::string(70000, 't') + "end"}, {"output.mp3", "the victim's own song"}, {"lock", "kept"}};
    for (const auto& [name, text] : victimFiles) QVERIFY(WriteFile(victim + "/" + name, text));
    const std::string planted = shared + "/" + kPrefix + "AAAAAA";
    // A hang is a failure, not a stuck run.
    alarm(20);

    switch (attack) {
      case TAttack::OwnDeadFolder:
        QVERIFY(MakeDeadFolder(planted));
        RemoveDeadPrivateFolders(shared, kPrefix);
        QVERIFY(!Exists(planted));
        break;
      case TAttack::OwnLiveFolder: {
        const auto live = TPrivateFolder::Make(shared, kPrefix);
        QVERIFY(live);
        QVERIFY(WriteFile(live->Path() + "/output.mp3", "growing"));
        RemoveDeadPrivateFolders(shared, kPrefix);
        QCOMPARE(ReadFile(live->Named() + "/output.mp3"), std::string("growing"));
        break;
      }
      case TAttack::OthersDeadFolder:
        QVERIFY(AsOtherUser([&] {
          if (!MakeDeadFolder(planted) || chmod(planted.c_str(), 0777) != 0) return false;
          for (int i = 0; i < 2000; ++i)
            if (!WriteFile(planted + "/filler" + std::to_string(i), "x")) return false;
          return symlink((victim + "/thesis.txt").c_str(), (planted + "/thesis.txt").c_str()) == 0;
        }));
        RemoveDeadPrivateFolders(shared, kPrefix);
        QVERIFY(Exists(planted + "/filler1999") && Exists(planted + "/thesis.txt"));
        break;
      case TAttack::OthersLinkedName:
        QVERIFY(AsOtherUser([&] { return symlink(victim.c_str(), planted.c_str()) == 0; }));
        RemoveDeadPrivateFolders(shared, kPrefix);
        QVERIFY(Exists(planted));
        break;
      case TAttack::OthersFifoLock:
        QVERIFY(AsOtherUser([&] { return mkdir(planted.c_str(), 0755) == 0 && mkfifo((planted + "/lock").c_str(), 0666) == 0; }));
        RemoveDeadPrivateFolders(shared, kPrefix);
        // A run after it still makes and removes its own folder.
        QVERIFY(TPrivateFolder::Make(shared, kPrefix));
        QVERIFY(Exists(planted + "/lock"));
        break;
      case TAttack::OwnFifoLock:
        QCOMPARE(mkdir(planted.c_str(), 0700), 0);
        QCOMPARE(mkfifo((planted + "/lock").c_str(), 0600), 0);
        RemoveDeadPrivateFolders(shared, kPrefix);
        QVERIFY(Exists(planted + "/lock"));
        break;
      case TAttack::LinkInsideOwnFolder:
        QVERIFY(MakeDeadFolder(planted));
        QCOMPARE(symlink((victim + "/thesis.txt").c_str(), (planted + "/thesis.txt").c_str()), 0);
        RemoveDeadPrivateFolders(shared, kPrefix);
        QVERIFY(!Exists(planted));
        break;
      case TAttack::SwapAfterDecision:
        QVERIFY(MakeDeadFolder(planted));
        QCOMPARE(symlink((victim + "/thesis.txt").c_str(), (planted + "/thesis.txt").c_str()), 0);
        SwapVictimFolder = victim;
        PrivateFolderSweepHook = SwapForLink;
        RemoveDeadPrivateFolders(shared, kPrefix);
        PrivateFolderSweepHook = nullptr;
        // The swap happened; the deletes went to the folder decided on, now renamed away.
        QVERIFY(Exists(planted + ".away") && !Exists(planted + ".away/output.mp3"));
        QVERIFY(Exists(planted));
        break;
      case TAttack::SwapWhileInUse: {
        auto folder = TPrivateFolder::Make(shared, kPrefix);
        QVERIFY(folder);
        const std::string name = NamePart(folder->Named());
        QVERIFY(AsOtherUser([&] {
          return rename(folder->Named().c_str(), (shared + "/away").c_str()) == 0 &&
                 symlink(victim.c_str(), folder->Named().c_str()) == 0;
        }));
        // The run goes on writing and ends: all of it through the folder it made.
        QVERIFY(WriteFile(folder->Path() + "/output.mp3", "the run's output"));
        QCOMPARE(ReadFile(shared + "/away/output.mp3"), std::string("the run's output"));
        folder.reset();
        QVERIFY(Exists(shared + "/" + name));
        break;
      }
      case TAttack::LinkAtOutput:
      case TAttack::LinkAtOutputKept: {
        const std::string output = shared + "/song.mp3", staged = row + "/staged.mp3";
        QVERIFY(AsOtherUser([&] { return symlink((victim + "/thesis.txt").c_str(), output.c_str()) == 0; }));
        QVERIFY(WriteFile(staged, "new output"));
        const bool replace = attack == TAttack::LinkAtOutput;
        QCOMPARE(LandOutput(staged, output, replace ? TLanding::Replace : TLanding::KeepExisting), replace);
        struct stat info {};
        QCOMPARE(lstat(output.c_str(), &info), 0);
        QCOMPARE(S_ISREG(info.st_mode), replace);
        if (replace) QCOMPARE(ReadFile(output), std::string("new output"));
        break;
      }
      case TAttack::LinkAtPartialCommit:
        for (const bool unnamed : {true, false}) {
          const std::string output = shared + (unnamed ? "/a.mp3" : "/b.mp3");
          QVERIFY(AsOtherUser([&] { return symlink((victim + "/output.mp3").c_str(), output.c_str()) == 0; }));
          TPartialFile partial(output, unnamed);
          QVERIFY(partial.Created());
          QCOMPARE(pwrite(partial.Descriptor(), "encoded", 7, 0), ssize_t(7));
          QVERIFY(partial.Commit());
          QCOMPARE(ReadFile(output), std::string("encoded"));
        }
        break;
      case TAttack::OthersPartialFiles: {
        const std::string others = shared + "/.a.mp3.part-AAAAAA", link = shared + "/.b.mp3.part-BBBBBB";
        QVERIFY(AsOtherUser([&] {
          return WriteFile(others, "theirs") && symlink((victim + "/thesis.txt").c_str(), link.c_str()) == 0 &&
                 mkfifo((shared + "/.c.mp3.part-CCCCCC").c_str(), 0666) == 0;
        }));
        const std::string own = shared + "/.d.mp3.part-DDDDDD";
        QVERIFY(WriteFile(own, "a dead run's half file"));
        RemoveStalePartialFiles(shared);
        QVERIFY(Exists(others) && Exists(link) && Exists(shared + "/.c.mp3.part-CCCCCC"));
        QVERIFY(!Exists(own));
        break;
      }
    }
    alarm(0);
    for (const auto& [name, text] : victimFiles) QCOMPARE(ReadFile(victim + "/" + name), text);
  }

  // A made folder is this user's alone and holds only its lock; it goes with its owner.
  void madeFolderIsPrivate() {
    const std::string parent = root_.path().toStdString();
    std::string named;
    {
      const auto folder = TPrivateFolder::Make(parent, kPrefix);
      QVERIFY(folder);
      named = folder->Named();
      struct stat info {};
      QCOMPARE(lstat(named.c_str(), &info), 0);
      QCOMPARE(info.st_mode & 07777, mode_t(0700));
      QCOMPARE(info.st_uid, geteuid());
      QCOMPARE(FilesIn(named), std::set<std::string>{"lock"});
    }
    QVERIFY(!Exists(named));
  }
};

QTEST_GUILESS_MAIN(TPrivateFolderTest)
#include "test_privatefolder.moc"
