// The program as a desktop program: files named on the command line reach the conversion
// list as the file-open dialog's would, once the main window has read config.cfg; every
// window shows the program's icon; the end of the session closes it as "Выход" would.
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "about.h"
#include "application.h"
#include "codecs/convfunc.h"
#include "codecs/passhooks.h"
#include "encodedfixtures.h"
#include "main/listops.h"
#include "main/mainfunc.h"
#include "main/paths.h"
#include "main/uihooks.h"
#include "mainform.h"
#include "options.h"
#include "progress.h"
#include "qthooks.h"
#include "readonlywarnbox.h"
#include "runningcopy.h"
#include "startfiles.h"
#include "runfolders.h"
#include "terminatesignal.h"
#include "wavfixture.h"

namespace {

// Made through the C library, so a name that is not UTF-8 keeps its bytes.
bool MakeFile(const QByteArray& path) {
  std::FILE* file = std::fopen(path.constData(), "wb");
  if (!file) return false;
  const bool written = std::fputs("ID3", file) >= 0;
  return std::fclose(file) == 0 && written;
}

}  // namespace

class TestDesktop : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QByteArray root_;  // the test folder with a trailing "/", as bytes

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    root_ = QFile::encodeName(dir_.path()) + "/";
    QVERIFY(QDir::setCurrent(dir_.path()));
    QVERIFY(QDir().mkpath(QString::fromUtf8("Музыка/альбом")));
    QVERIFY(QDir().mkpath("folder.mp3"));
    for (const QByteArray& name : {QByteArray("a.mp3"), QByteArray("b.wav"),
                                  QByteArray("Музыка/Песня № 1 (живьём).mp3"),
                                  QByteArray("Музыка/альбом/02.ogg"), QByteArray("Музыка/альбом/01.MP3"),
                                  QByteArray("Музыка/альбом/cover.jpg"),
                                  QByteArray("Музыка/альбом/.hidden.mp3"),
                                  QByteArray("Музыка/альбом/disc.cue"),
                                  QByteArray("\xff\xfe-latin1.ogg")}) {
      QVERIFY(MakeFile(root_ + name));
    }
    QVERIFY(QFile::link(dir_.filePath("a.mp3"), dir_.filePath("link.mp3")));
    InstallWindowHooks();
    SetProgramDirForTesting(root_.toStdString());
    // config.cfg is read by the main window before the files arrive.
    QFile config(dir_.filePath("config.cfg"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("[Main]\nOutputFormat=ogg\n");
  }

  void cleanupTestCase() { SetProgramDirForTesting(""); }

  // Arguments relative to the test folder; expected entries are paths in it.
  void argumentsReachTheList_data() {
    QTest::addColumn<QByteArrayList>("arguments");
    QTest::addColumn<QByteArrayList>("expected");
    QTest::newRow("none") << QByteArrayList{} << QByteArrayList{};
    QTest::newRow("absolute files in order")
        << QByteArrayList{root_ + "b.wav", root_ + "a.mp3"} << QByteArrayList{"b.wav", "a.mp3"};
    QTest::newRow("relative paths become clean absolute ones")
        << QByteArrayList{"a.mp3", "./Музыка/альбом/../../b.wav"}
        << QByteArrayList{"a.mp3", "b.wav"};
    QTest::newRow("a missing file is skipped")
        << QByteArrayList{"missing.mp3", "a.mp3"} << QByteArrayList{"a.mp3"};
    // A folder gives the sources below it, in name order, subfolders in their turn; the
    // other files beside them (covers, hidden ones) are no sources. The empty sheet is
    // listed as itself, so that its conversion says what is wrong with it.
    QTest::newRow("folders give their sources, an empty one nothing")
        << QByteArrayList{"folder.mp3", root_ + "Музыка", "a.mp3"}
        << QByteArrayList{"Музыка/Песня № 1 (живьём).mp3", "Музыка/альбом/01.MP3",
                          "Музыка/альбом/02.ogg", "Музыка/альбом/disc.cue", "a.mp3"};
    QTest::newRow("a file named again after its folder moves to the end")
        << QByteArrayList{"Музыка/альбом/", "Музыка/альбом/01.MP3"}
        << QByteArrayList{"Музыка/альбом/02.ogg", "Музыка/альбом/disc.cue",
                          "Музыка/альбом/01.MP3"};
    QTest::newRow("cyrillic path with blanks and signs")
        << QByteArrayList{"Музыка/Песня № 1 (живьём).mp3"}
        << QByteArrayList{"Музыка/Песня № 1 (живьём).mp3"};
    QTest::newRow("a name that is not UTF-8 keeps its bytes")
        << QByteArrayList{"\xff\xfe-latin1.ogg"} << QByteArrayList{"\xff\xfe-latin1.ogg"};
    QTest::newRow("a link is listed under its own name")
        << QByteArrayList{"link.mp3"} << QByteArrayList{"link.mp3"};
    QTest::newRow("repeats keep their last place, as from the dialog")
        << QByteArrayList{"a.mp3", "b.wav", root_ + "a.mp3"} << QByteArrayList{"b.wav", "a.mp3"};
    QTest::newRow("empty and option-like arguments are no files")
        << QByteArrayList{"", "--", "-style", "a.mp3"} << QByteArrayList{"a.mp3"};
  }

  void argumentsReachTheList() {
    QFETCH(QByteArrayList, arguments);
    QFETCH(QByteArrayList, expected);
    TForm1 form;
    Form1 = &form;
    QCOMPARE(ConvFunc.Options.OutputFormat, std::string("ogg"));

    QByteArrayList argv_bytes{"orvik-converter"};
    argv_bytes += arguments;
    std::vector<char*> argv;
    for (QByteArray& argument : argv_bytes) argv.push_back(argument.data());
    argv.push_back(nullptr);
    AddStartFiles(static_cast<int>(argv.size()) - 1, argv.data());

    std::vector<std::string> want;
    for (const QByteArray& name : expected) want.push_back((root_ + name).toStdString());
    QCOMPARE(MainFunc.FileList, want);
    QCOMPARE(MainFunc.Rows.Items, want);
    Form1 = nullptr;
  }

  void everyWindowShowsTheProgramIcon() {
    const QIcon icon = ProgramIcon();
    for (const int size : {48, 256}) {
      const QImage image = icon.pixmap(size).toImage();
      QCOMPARE(image.size(), QSize(size, size));
      // The tile's winter blue at its middle, not a blank or missing picture.
      const QColor middle = image.pixelColor(size / 8, size / 2);
      QVERIFY2(middle.blue() > middle.red() + 40 && middle.alpha() == 255,
               qPrintable(middle.name()));
    }
    TForm1 form;
    Form1 = &form;
    TProgressBox progress;
    TOptionsBox options(&form);
    TAboutBox about(&form);
    TReadOnlyWarningBox warning(&form);
    for (QWidget* window : std::vector<QWidget*>{&form, &progress, &options, &about, &warning}) {
      QCOMPARE(window->windowIcon().cacheKey(), QApplication::windowIcon().cacheKey());
    }
    QCOMPARE(QApplication::windowIcon().availableSizes().size(), 2);
    Form1 = nullptr;
  }

  // Qt's own dialogs and buttons speak the program's language.
  void qtTextsInRussian() {
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Отмена"));
    QVERIFY(QCoreApplication::translate("QFileDialog", "Look in:") != QStringLiteral("Look in:"));
  }

  // A later start hands its files to the running copy: taken at once when the list is
  // free, once the batch has ended when one runs. With nobody listening it runs alone.
  void laterStartHandsItsFilesOver() {
    TForm1 form;
    Form1 = &form;
    form.show();
    MainFunc.ClearList();
    const QString name = RunningCopyName(root_.toStdString() + "handover/");
    QCOMPARE(RunningCopyName(root_.toStdString() + "handover/"), name);
    QVERIFY(RunningCopyName(root_.toStdString()) != name);
    const auto hand = [&name](const std::vector<std::string>& files) {
      std::atomic<int> taken{-1};
      std::thread later([&] { taken = HandFilesToRunningCopy(name, files) ? 1 : 0; });
      // The running copy answers from its event loop.
      while (taken < 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      later.join();
      QCoreApplication::processEvents();
      return taken == 1;
    };
    const std::string a = root_.toStdString() + "a.mp3", b = root_.toStdString() + "b.wav";
    QVERIFY(!hand({a}));
    QVERIFY(MainFunc.FileList.empty());
    QVERIFY(ListenForLaterStarts(name));
    QVERIFY(!ListenForLaterStarts(name));

    // The later start's confirmation reaches the running copy's event loop a little after
    // the later start has its answer: wait for it rather than for a fixed number of turns.
    QVERIFY(hand({b, a}));
    QTRY_COMPARE(MainFunc.FileList, (std::vector<std::string>{b, a}));
    MainFunc.BatchRunning = true;
    QVERIFY(hand({b}));
    QCOMPARE(MainFunc.FileList, (std::vector<std::string>{b, a}));
    MainFunc.BatchRunning = false;
    AddHandedFiles();
    QTRY_COMPARE(MainFunc.FileList, (std::vector<std::string>{a, b}));
    QCOMPARE(MainFunc.Rows.Items, MainFunc.FileList);
    MainFunc.ClearList();
    Form1 = nullptr;
  }

  // A sender that is no well-behaved later start gets nothing into the list and holds its
  // connection no longer than the deadline; a later start right behind it is served at
  // once. The socket lives in the private runtime folder here.
  void misbehavingSenderIsCutOff_data() {
    QTest::addColumn<QByteArray>("message");  // sent at once
    QTest::addColumn<int>("trickleMs");       // then a byte this often until cut off; 0: none
    QTest::addColumn<bool>("senderCloses");   // the sender goes away after the message
    QTest::addColumn<int>("cutWithinMs");
    QTest::newRow("oversized") << QByteArray(17 << 20, 'a') << 0 << false << 3000;
    QTest::newRow("slow") << QByteArray("/music/") << 50 << false << 11000;
    QTest::newRow("garbage after the list") << QByteArray("/x.mp3\0\0garbage", 16) << 0 << false << 3000;
    QTest::newRow("truncated") << QByteArray("/music/a.m") << 0 << true << 0;
  }
  void misbehavingSenderIsCutOff() {
    QFETCH(QByteArray, message);
    QFETCH(int, trickleMs);
    QFETCH(bool, senderCloses);
    QFETCH(int, cutWithinMs);
    TForm1 form;
    Form1 = &form;
    form.show();
    MainFunc.ClearList();
    const QByteArray runtime = root_ + "runtime";
    QDir().mkpath(QFile::decodeName(runtime));
    QCOMPARE(chmod(runtime.constData(), 0700), 0);
    qputenv("XDG_RUNTIME_DIR", runtime);
    const QString name = RunningCopyName(root_.toStdString() + QTest::currentDataTag());
    QVERIFY(name.startsWith(QFile::decodeName(runtime) + "/"));
    QVERIFY(ListenForLaterStarts(name));

    std::atomic<int> cutAfterMs{-1};
    std::thread sender([&] {
      const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      const QByteArray path = QFile::encodeName(name);
      std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
      if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        cutAfterMs = 1 << 30;
        return;
      }
      const auto start = std::chrono::steady_clock::now();
      send(fd, message.constData(), size_t(message.size()), MSG_NOSIGNAL);
      if (senderCloses) {
        close(fd);
        cutAfterMs = 0;
        return;
      }
      // Cut off once a read sees the end or a write fails; the answer byte is no end. A
      // copy that never cuts it off fails the row after 20 s.
      while (std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
        pollfd wait{fd, POLLIN, 0};
        if (poll(&wait, 1, trickleMs > 0 ? trickleMs : 15000) > 0) {
          char byte;
          if (recv(fd, &byte, 1, 0) <= 0) break;
          continue;
        }
        if (trickleMs == 0 || send(fd, "a", 1, MSG_NOSIGNAL) != 1) break;
      }
      cutAfterMs = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start).count());
      close(fd);
    });
    // The running copy answers from its event loop, which stays free meanwhile.
    while (cutAfterMs < 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    sender.join();
    QVERIFY2(cutAfterMs <= cutWithinMs, std::to_string(cutAfterMs).c_str());
    QCoreApplication::processEvents();
    QVERIFY(MainFunc.FileList.empty());

    // Too long a path is refused, the others are taken.
    const std::string a = root_.toStdString() + "a.mp3";
    std::atomic<int> taken{-1};
    std::thread later([&] {
      taken = HandFilesToRunningCopy(name, {"/" + std::string(5000, 'x'), a}) ? 1 : 0;
    });
    while (taken < 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    later.join();
    QCOMPARE(taken.load(), 1);
    QTRY_COMPARE(MainFunc.FileList, std::vector<std::string>{a});
    qunsetenv("XDG_RUNTIME_DIR");
    MainFunc.ClearList();
    Form1 = nullptr;
  }

  void sessionEndClosesLikeExit_data() {
    QTest::addColumn<bool>("mainWindowShown");
    QTest::addColumn<bool>("dialogOpen");
    QTest::addColumn<bool>("batchRunning");
    QTest::addColumn<bool>("closes");
    QTest::newRow("main window alone") << true << false << false << true;
    QTest::newRow("settings dialog open") << true << true << false << true;
    // A finished batch: its progress window waits for OK, the main window is hidden.
    QTest::newRow("hidden main window") << false << true << false << true;
    QTest::newRow("batch running") << false << true << true << false;
  }

  void sessionEndClosesLikeExit() {
    QFETCH(bool, mainWindowShown);
    QFETCH(bool, dialogOpen);
    QFETCH(bool, batchRunning);
    QFETCH(bool, closes);
    TForm1 form;
    Form1 = &form;
    TOptionsBox dialog(&form);
    form.setVisible(mainWindowShown);
    dialog.setVisible(dialogOpen);
    const QString config = dir_.filePath("config.cfg");
    const QString wav = QFile::decodeName(TemporaryWavPath().c_str());
    QVERIFY(QFile::remove(config));
    QVERIFY(QDir().mkpath(dir_.filePath("temp")) && MakeFile(QFile::encodeName(wav)));
    MainFunc.BatchRunning = batchRunning;

    QCOMPARE(CloseProgramWindows(), closes);
    MainFunc.BatchRunning = false;
    QCOMPARE(QFile::exists(config), closes);
    QCOMPARE(QFile::exists(wav), !closes);
    QCOMPARE(dialog.isVisible(), dialogOpen && !closes);
    QVERIFY(!form.isVisible() || !closes);
    Form1 = nullptr;
    QVERIFY(QFile::remove(wav) || closes);
    // The next case starts from the same settings.
    QFile file(config);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Main]\nOutputFormat=ogg\n");
  }

  // SIGTERM during a batch ends it as a confirmed Cancel (the list emptied, no partial
  // output, no temporary WAV) and closes the program as "Выход" would; after a finished
  // batch it closes the progress window and the program. Last: the program's event loop
  // is told to end, so no later test may run one.
  void signalEndsBatchAndProgram_data() {
    QTest::addColumn<bool>("midBatch");
    QTest::newRow("after the batch") << false;
    QTest::newRow("mid-batch") << true;
  }
  void signalEndsBatchAndProgram() {
    QFETCH(bool, midBatch);
    CloseOnTerminateSignals();
    TForm1 form;
    TProgressBox progress;
    Form1 = &form;
    ProgressBox = &progress;
    form.show();
    const std::string music = root_.toStdString() + (midBatch ? "mid/" : "after/");
    QVERIFY(QDir().mkpath(QFile::decodeName(music.c_str())));
    QVERIFY(WriteOggFixture(music + "long.ogg", 44100, 2, MakeTone(44100, 2, 44100 * 4, 440.0)));
    QVERIFY(QFile::remove(dir_.filePath("config.cfg")));
    MainFunc.ClearList();
    AppendSourcePaths({music + "long.ogg"});
    ConvFunc.Options.OutputFormat = "mp3";
    const TEngineHooks hooks = EngineHooks;
    EngineHooks.Sleep = nullptr;
    int passes = 0;
    EngineHooks.ProcessEvents = [&] {
      if (midBatch && ++passes == 3) raise(SIGTERM);
      hooks.ProcessEvents();
    };
    form.Convert->click();
    EngineHooks = hooks;
    if (!midBatch) {
      QVERIFY(progress.isVisible());
      raise(SIGTERM);
    }
    QTRY_VERIFY(QFile::exists(dir_.filePath("config.cfg")));
    QVERIFY(!form.isVisible() && !progress.isVisible());
    QVERIFY(MainFunc.FileList.empty());
    QCOMPARE(ConvFunc.Stage, int32_t(midBatch ? STAGE_CANCEL : STAGE_FINISHED));
    const std::set<std::string> left = midBatch ? std::set<std::string>{"long.ogg"}
                                                : std::set<std::string>{"long.mp3", "long.ogg"};
    QCOMPARE(FilesIn(music), left);
    QCOMPARE(QDir(dir_.filePath("temp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
    Form1 = nullptr;
    ProgressBox = nullptr;
  }
};

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  TestDesktop test;
  QTEST_SET_MAIN_SOURCE_PATH
  return QTest::qExec(&test, argc, argv);
}

#include "test_desktop.moc"
