// orvik-convert run again and again over a music library: existing outputs, outputs that are
// never sources, a mirrored tree, every kind the decoder reads, names that are not text for
// a terminal, and what a killed run leaves behind.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <clocale>
#include <cwchar>

#include "codecs/options.h"
#include "decodeback.h"
#include "encodedfixtures.h"
#include "main/config.h"
#include "wavfixture.h"

namespace {

struct TRun {
  int exitCode = -1;
  QString out, err;
};

QString Q(const std::string& text) { return QString::fromStdString(text); }

bool Tone(const std::string& path, double frequency, uint32_t rate = 22050) {
  QDir().mkpath(QFileInfo(Q(path)).absolutePath());
  return WriteWav(path, rate, 1, MakeTone(rate, 1, rate / 2, frequency));
}

// Every file below `folder` as "relative/path:tone" (the tone rounded to 100 Hz, -1 when it
// does not decode), hidden ones included, in name order.
QStringList TonesIn(const QString& folder) {
  QStringList tones;
  QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    const TWavData data = DecodeBack(path.toStdString());
    tones << QDir(folder).relativeFilePath(path) + ":" +
                 QString::number(data.ok ? std::lround(ToneFrequency(data) / 100) * 100 : -1);
  }
  tones.sort();
  return tones;
}

// Every entry below `folder` with its bytes, hidden ones included: what a run changed.
QMap<QString, QByteArray> Snapshot(const QString& folder) {
  QMap<QString, QByteArray> files;
  QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    QFile file(it.next());
    files[file.fileName()] = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("dir");
  }
  return files;
}

bool Exists(const QString& path) { return QFileInfo::exists(path); }

class TLibraryTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir root_;
  QString config_;
  int cases_ = 0;

  QProcess* Start(const QStringList& args, bool ownGroup = false) {
    auto* process = new QProcess(this);
    process->setProgram(QStringLiteral(ORVIK_CONVERT));
    process->setArguments(QStringList{"--config", config_} + args);
    // Its own process group, so that the whole run can be killed as a terminal kills it.
    if (ownGroup) process->setChildProcessModifier([] { setpgid(0, 0); });
    process->start();
    return process;
  }

  static TRun Finish(QProcess* process) {
    TRun run;
    if (!process->waitForFinished(120000)) process->kill();
    run.exitCode = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
    run.out = QString::fromUtf8(process->readAllStandardOutput());
    run.err = QString::fromUtf8(process->readAllStandardError());
    delete process;
    return run;
  }

  TRun Run(const QStringList& args) { return Finish(Start(args)); }

  QString NewCase() { return root_.path() + "/" + QString::number(++cases_); }

 private slots:
  void initTestCase() {
    QVERIFY(root_.isValid());
    config_ = root_.path() + "/config.cfg";
    QFile file(config_);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString(BuildConfigText(FirstRunOptions(), false)));
  }

  void walkAndPolicy_data() {
    QTest::addColumn<QStringList>("first");    // a run before the one checked, if any
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("outputExists");    // OUT/a.ogg (1100 Hz) is there before
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");         // in the output; empty: standard error empty
    QTest::addColumn<QString>("checked");      // the folder whose files are compared
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("absent");   // paths that must not exist afterwards
    QTest::addColumn<bool>("unchanged");       // the run checked writes and deletes nothing
    // MUSIC holds a.wav (300 Hz), b.mp3 (500), sub/c.wav (700), sub/deeper/a.wav (900).
    const QStringList music{"a.wav:300", "b.mp3:500", "sub/c.wav:700", "sub/deeper/a.wav:900"};
    const QStringList beside{"-f", "ogg", "MUSIC"}, mirror{"-r", "-f", "ogg", "-o", "OUT", "MUSIC"};
    const QStringList mirrored{"a.ogg:300", "b.ogg:500", "sub/c.ogg:700", "sub/deeper/a.ogg:900"};
    QTest::newRow("rerun beside the sources changes nothing")
        << beside << beside << false << 1 << "MUSIC/a.wav: skipped: MUSIC/a.ogg exists"
        << "MUSIC" << QStringList{"a.ogg:300", "b.ogg:500"} + music << QStringList{} << true;
    QTest::newRow("rerun with --skip-existing, silent but for the subfolder")
        << beside << beside + QStringList{"--skip-existing"} << false << 0
        << "1 subfolder not walked; use -r" << "MUSIC"
        << QStringList{"a.ogg:300", "b.ogg:500"} + music << QStringList{} << true;
    QTest::newRow("-r -o mirrors the tree, rerun skips")
        << mirror << mirror << false << 1 << "skipped: OUT/sub/deeper/a.ogg exists" << "OUT"
        << mirrored << QStringList{} << true;
    // The first run deletes the sources: the rerun finds only outputs, and takes none.
    QTest::newRow("output folder inside the walked one is never walked")
        << QStringList{"-r", "-f", "ogg", "--delete", "-o", "MUSIC/ogg", "MUSIC"}
        << QStringList{"-r", "-f", "ogg", "-o", "MUSIC/ogg", "MUSIC"} << false << 0 << ""
        << "MUSIC" << QStringList{"ogg/a.ogg:300", "ogg/b.ogg:500", "ogg/sub/c.ogg:700",
                                  "ogg/sub/deeper/a.ogg:900"}
        << QStringList{"MUSIC/a.wav", "MUSIC/ogg/ogg"} << true;
    QTest::newRow("named files go flat and collide")
        << QStringList{} << QStringList{"-f", "ogg", "-o", "OUT", "MUSIC/a.wav", "MUSIC/sub/deeper/a.wav"}
        << false << 1 << "MUSIC/sub/deeper/a.wav: its output OUT/a.ogg is also the output of MUSIC/a.wav"
        << "OUT" << QStringList{"a.ogg:300"} << QStringList{} << false;
    QTest::newRow("existing output kept, and its source despite --delete")
        << QStringList{} << QStringList{"--delete", "-f", "ogg", "-o", "OUT", "MUSIC/a.wav"} << true
        << 1 << "MUSIC/a.wav: skipped: OUT/a.ogg exists" << "MUSIC" << music << QStringList{} << true;
    QTest::newRow("--overwrite replaces, --delete then removes the source")
        << QStringList{} << QStringList{"--overwrite", "--delete", "-f", "ogg", "-o", "OUT", "MUSIC/a.wav"}
        << true << 0 << "" << "OUT" << QStringList{"a.ogg:300"} << QStringList{"MUSIC/a.wav"} << false;
    QTest::newRow("a source at its own output")
        << QStringList{} << QStringList{"-f", "mp3", "MUSIC/b.mp3"} << false << 1
        << "MUSIC/b.mp3: skipped: it is its own output" << "MUSIC" << music << QStringList{} << true;
    QTest::newRow("a folder of subfolders without -r")
        << QStringList{} << QStringList{"-f", "ogg", "-o", "OUT", "CASE"} << false << 1
        << "CASE: holds only subfolders; use -r" << "MUSIC" << music << QStringList{"OUT"} << true;
    QTest::newRow("files and a subfolder without -r: the files, and a word on the subfolder")
        << QStringList{} << QStringList{"-f", "ogg", "-o", "OUT", "MUSIC"} << false << 0
        << "orvik-convert: 1 subfolder not walked; use -r" << "OUT"
        << QStringList{"a.ogg:300", "b.ogg:500"} << QStringList{} << false;
    QTest::newRow("dry run writes nothing")
        << QStringList{} << QStringList{"--dry-run"} + mirror << false << 0
        << "would convert MUSIC/sub/deeper/a.wav -> OUT/sub/deeper/a.ogg" << "MUSIC" << music
        << QStringList{"OUT"} << true;
    QTest::newRow("NUL-separated list")
        << QStringList{} << QStringList{"-0", "--from", "LIST0", "-f", "ogg", "-o", "OUT"} << false
        << 0 << "" << "OUT" << QStringList{"b.ogg:500", "c.ogg:700"} << QStringList{} << false;
  }

  void walkAndPolicy() {
    QFETCH(QStringList, first);
    QFETCH(QStringList, args);
    QFETCH(bool, outputExists);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    QFETCH(QString, checked);
    QFETCH(QStringList, files);
    QFETCH(QStringList, absent);
    QFETCH(bool, unchanged);
    const QString base = NewCase();
    const std::string music = (base + "/music").toStdString();
    QVERIFY(Tone(music + "/a.wav", 300));
    QVERIFY(WriteMp3Fixture(music + "/b.mp3", 22050, 1, MakeTone(22050, 1, 11025, 500)));
    QVERIFY(Tone(music + "/sub/c.wav", 700));
    QVERIFY(Tone(music + "/sub/deeper/a.wav", 900));
    if (outputExists) QVERIFY(Tone((base + "/out/a.ogg").toStdString(), 1100));
    QFile list(base + "/list0");
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write((Q(music) + "/b.mp3").toUtf8() + '\0' + (Q(music) + "/sub/c.wav").toUtf8() + '\0');
    list.close();
    const auto place = [&](QStringList words) {
      return words.replaceInStrings("MUSIC", base + "/music")
          .replaceInStrings("OUT", base + "/out")
          .replaceInStrings("LIST0", base + "/list0")
          .replaceInStrings("CASE", base);
    };

    if (!first.isEmpty()) {
      const TRun run = Run(place(first));
      QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    }
    const auto before = Snapshot(base);
    const TRun run = Run(place(args));
    QVERIFY2(run.exitCode == exitCode, qPrintable(run.out + run.err));
    if (said.isEmpty()) QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
    else QVERIFY2((run.out + run.err).contains(place({said})[0]), qPrintable(run.out + run.err));
    QVERIFY(run.err.count("not walked") <= 1);  // said once for the run
    files.sort();
    QCOMPARE(TonesIn(place({checked})[0]), files);
    for (const QString& path : place(absent)) QVERIFY2(!Exists(path), qPrintable(path));
    if (unchanged) QCOMPARE(Snapshot(base), before);
  }

  // A folder of every kind the decoder reads is walked, and each file comes out exactly as
  // long as the reference decoder makes it.
  void everyKindIsWalkedAndExact() {
    const QString ffmpeg = QStandardPaths::findExecutable("ffmpeg");
    if (ffmpeg.isEmpty()) QSKIP("the reference decoder ffmpeg is not installed");
    struct TKind {
      const char* file;
      const char* container;
      const char* codec;  // empty: made by the ffmpeg program from a WAV
      int slack;          // frames by which the lengths may differ
    };
    // AAC in MP4: ffmpeg pads the last frame where the edit list ends the stream earlier,
    // so the two differ by less than one AAC frame.
    const TKind kinds[] = {{"flac.flac", "flac", "flac", 0},     {"opus.opus", "ogg", "libopus", 0},
                           {"oga.oga", "ogg", "flac", 0},        {"m4a.m4a", "mp4", "aac", 1024},
                           {"aac.aac", "adts", "aac", 0},        {"aif.aif", "aiff", "pcm_s16be", 0},
                           {"aiff.aiff", "aiff", "pcm_s16be", 0}, {"wv.wv", "-c:a", "wavpack", 0},
                           {"mka.mka", "matroska", "flac", 0}};
    const QString base = NewCase();
    QVERIFY(QDir().mkpath(base + "/kinds"));
    const std::vector<int16_t> tone = MakeTone(48000, 2, 52345, 440);
    QVERIFY(WriteWav((base + "/tone.wav").toStdString(), 48000, 2, tone));
    for (const TKind& kind : kinds) {
      const QString path = base + "/kinds/" + kind.file;
      if (QString(kind.container) != "-c:a") {
        QVERIFY2(WriteFfmpegFixture(path.toStdString(), kind.container, kind.codec, 48000, 2, tone), kind.file);
      } else {
        // An encoder that takes no 16-bit samples from this maker goes through ffmpeg itself.
        QCOMPARE(QProcess::execute(ffmpeg, {"-nostdin", "-v", "error", "-i", base + "/tone.wav",
                                            "-c:a", kind.codec, path}), 0);
      }
    }
    const TRun run = Run({"-f", "wav", "--rate", "48000", "--channels", "2", "-o", base + "/out",
                          base + "/kinds"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    for (const TKind& kind : kinds) {
      QProcess reference;
      reference.start(ffmpeg, {"-nostdin", "-v", "error", "-i", base + "/kinds/" + kind.file,
                               "-f", "s16le", "-ac", "2", "-"});
      QVERIFY(reference.waitForFinished(60000));
      const qint64 expected = reference.readAllStandardOutput().size() / 4;
      const TWavData data = ReadWav((base + "/out/" + QString(kind.file).section('.', 0, 0) + ".wav").toStdString());
      QVERIFY2(data.ok && data.rate == 48000, kind.file);
      QVERIFY2(std::abs(qint64(data.frames()) - expected) <= kind.slack,
               qPrintable(QString("%1: %2 frames, ffmpeg %3").arg(kind.file).arg(data.frames()).arg(expected)));
    }
  }

  // Names holding a terminal's control sequence, a line feed and wide characters: printed
  // escaped, and every live line fits a narrow terminal in screen columns.
  void namesAreEscapedOnATerminal() {
    const QString base = NewCase();
    const std::string music = (base + "/music").toStdString();
    const std::string clear = "a\033[2Jb.wav", split = "new\nline.wav", wide = "日本語の歌のとても長い名前.wav";
    for (const std::string& name : {clear, split, wide}) QVERIFY(Tone(music + "/" + name, 440, 44100));
    const QByteArray program = ORVIK_CONVERT, config = config_.toUtf8(), folder = QByteArray::fromStdString(music);
    winsize size{};
    size.ws_col = 30;
    size.ws_row = 10;
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, &size);
    QVERIFY(pid >= 0);
    if (pid == 0) {
      execl(program.constData(), "orvik-convert", "--config", config.constData(), "-f", "ogg",
            "-j", "3", folder.constData(), static_cast<char*>(nullptr));
      _exit(127);
    }
    QByteArray screen;
    char buffer[4096];
    for (pollfd p{terminal, POLLIN, 0}; poll(&p, 1, 60000) > 0;) {
      const ssize_t n = read(terminal, buffer, sizeof buffer);
      if (n <= 0) break;
      screen.append(buffer, n);
    }
    close(terminal);
    int status = 0;
    QCOMPARE(waitpid(pid, &status, 0), pid);
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    QVERIFY2(!screen.contains("\033[2J") && !screen.contains("new\nline"), screen.constData());
    QVERIFY(screen.contains("a\\033[2Jb.ogg") && screen.contains("new\\nline.ogg"));
    QVERIFY(screen.contains("3 converted"));
    // The redrawn lines: no line, once the cursor moves are taken out, is wider than 29.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    const QString text = QString::fromUtf8(screen).remove(QRegularExpression("\033\\[[0-9]*[AJ]"));
    bool liveSeen = false;
    for (const QString& line : text.split(QRegularExpression("[\r\n]+"))) {
      if (!line.contains('%') && !line.contains(" of 3 files")) continue;  // a log line
      liveSeen = true;
      int columns = 0;
      for (const uint c : line.toUcs4()) columns += std::max(0, wcwidth(wchar_t(c)));
      QVERIFY2(columns <= 29, qPrintable(line));
    }
    QVERIFY(liveSeen);
  }

  // A run killed with its whole process group leaves its private folders; the next run
  // removes them, and leaves those of a run that is still going (stopped here) alone.
  void leftoversOfKilledRunsAreCleared() {
    const QString base = NewCase(), temp = base + "/temp";
    QVERIFY(QDir().mkpath(temp));
    const std::string killed = (base + "/killed").toStdString(), going = (base + "/going").toStdString();
    const std::vector<int16_t> minute = MakeTone(44100, 2, 44100 * 60, 440);
    QVERIFY(QDir().mkpath(Q(killed)) && QDir().mkpath(Q(going)));
    QVERIFY(WriteWav(killed + "/long.wav", 44100, 2, minute));
    QVERIFY(Tone(killed + "/short.wav", 440));
    QVERIFY(WriteWav(going + "/long.wav", 44100, 2, minute));
    const auto hidden = [](const QString& folder) {
      return QDir(folder).entryList({".orvik-convert-*"}, QDir::AllEntries | QDir::Hidden);
    };

    QProcess* dead = Start({"--temp", temp, "-f", "ogg", Q(killed) + "/long.wav"}, true);
    QTRY_VERIFY_WITH_TIMEOUT(hidden(Q(killed)).size() == 1 && hidden(temp).size() == 1, 20000);
    const pid_t deadGroup = pid_t(dead->processId());
    kill(-deadGroup, SIGKILL);
    Finish(dead);

    QProcess* alive = Start({"--temp", temp, "-f", "ogg", Q(going) + "/long.wav"}, true);
    // Its start removed what the killed run left in the temporary folder they share.
    QTRY_VERIFY_WITH_TIMEOUT(hidden(Q(going)).size() == 1 && hidden(temp).size() == 1, 20000);
    QCOMPARE(hidden(Q(killed)).size(), 1);
    const pid_t aliveGroup = pid_t(alive->processId());
    kill(-aliveGroup, SIGSTOP);

    const TRun next = Run({"--temp", temp, "-f", "ogg", Q(killed) + "/short.wav"});
    kill(-aliveGroup, SIGCONT);
    QVERIFY2(next.exitCode == 0, qPrintable(next.err));
    QCOMPARE(hidden(Q(killed)), QStringList());
    QCOMPARE(hidden(Q(going)).size(), 1);
    QCOMPARE(hidden(temp).size(), 1);

    const TRun rest = Finish(alive);
    QVERIFY2(rest.exitCode == 0, qPrintable(rest.err));
    QCOMPARE(TonesIn(Q(going)), (QStringList{"long.ogg:400", "long.wav:400"}));
    QCOMPARE(hidden(temp), QStringList());
  }
};

}  // namespace

QTEST_GUILESS_MAIN(TLibraryTest)
#include "test_library.moc"
