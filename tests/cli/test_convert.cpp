// orvik-convert run as a user runs it: usage errors, a batch with a file that is not audio,
// a batch interrupted by Ctrl+C, a conversion process that dies, and the window's safety
// rules for shared output names and deleted sources.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "codecs/options.h"
#include "decodeback.h"
#include "encodedfixtures.h"
#include "encodercheck.h"
#include "loudnesscheck.h"
#include "main/config.h"
#include "midifixture.h"
#include "modulefixture.h"
#include "wavfixture.h"

namespace {

constexpr double kTone = 440.0;

struct TRun {
  int exitCode = -1;
  bool crashed = false;
  QString out, err;
};

QString Q(const std::string& text) { return QString::fromStdString(text); }

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

QByteArray Contents(const std::string& path) {
  QFile file(Q(path));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every entry of a folder, hidden ones (a staging folder, a partial output) included.
QStringList EntriesOf(const std::string& folder) {
  return QDir(Q(folder)).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                   QDir::NoDotAndDotDot, QDir::Name);
}

bool MakeTone(const std::string& path, uint32_t rate, uint16_t channels, double seconds,
              double frequency = kTone) {
  return WriteWav(path, rate, channels,
                  ::MakeTone(rate, channels, uint64_t(rate * seconds), frequency));
}

bool WriteText(const std::string& path, const QByteArray& text) {
  QFile file(Q(path));
  return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// "name:frequency" for every file of a folder and its subfolders ("sub/name:..."), the tone
// rounded to 100 Hz: which source became which output.
QStringList TonesIn(const std::string& folder, const QString& below = QString()) {
  QStringList tones;
  for (const QString& name : EntriesOf(folder)) {
    const std::string path = folder + "/" + name.toStdString();
    if (QFileInfo(Q(path)).isDir()) {
      tones << TonesIn(path, below + name + "/");
      continue;
    }
    const TWavData data = DecodeBack(path);
    tones << below + name + ":" + QString::number(data.ok ? std::lround(ToneFrequency(data) / 100) * 100 : -1);
  }
  return tones;
}

// The output decodes, holds the tone and lasts as long as its source.
void CheckOutput(const std::string& path, double seconds) {
  const TWavData data = DecodeBack(path);
  QVERIFY2(data.ok, path.c_str());
  QVERIFY(data.rate > 0);
  QVERIFY2(std::abs(double(data.frames()) / data.rate - seconds) < 0.1, path.c_str());
  QVERIFY(std::abs(ToneFrequency(data) - kTone) < 5);
}

// Private folders a conversion left in the program's temp/ (where its temporary WAV goes).
QStringList ScratchLeft() {
  const QString temp = QFileInfo(QStringLiteral(ORVIK_CONVERT)).absolutePath() + "/temp";
  return QDir(temp).entryList({".orvik-convert-*"}, QDir::AllEntries | QDir::Hidden);
}

class TConvertTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir root_;
  std::string config_;  // the settings every run reads, written by the test
  int folders_ = 0;

  std::string NewFolder() {
    const std::string folder = root_.path().toStdString() + "/" + std::to_string(++folders_) + "/";
    QDir().mkpath(Q(folder));
    return folder;
  }

  void Start(QProcess& process, const QStringList& args) {
    process.setProgram(QStringLiteral(ORVIK_CONVERT));
    process.setArguments(QStringList{QStringLiteral("--config"), Q(config_)} + args);
    process.start();
  }

  TRun Finish(QProcess& process) {
    TRun run;
    if (!process.waitForFinished(120000)) process.kill();
    run.crashed = process.exitStatus() == QProcess::CrashExit;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
  }

  TRun Run(const QStringList& args) {
    QProcess process;
    Start(process, args);
    return Finish(process);
  }

 private slots:
  void initTestCase() {
    QVERIFY(root_.isValid());
    QVERIFY(Exists(ORVIK_CONVERT));
    config_ = root_.path().toStdString() + "/config.cfg";
    QFile file(Q(config_));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString(BuildConfigText(FirstRunOptions(), false)));
  }

  void usageErrors_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    const auto row = [](const char* name, QStringList args, const char* message) {
      QTest::newRow(name) << args << QString::fromUtf8(message);
    };
    row("no files", {}, "no files given");
    row("unknown short", {"-x"}, "unknown option '-x'");
    row("unknown in a cluster", {"-qx"}, "unknown option '-x'");
    row("unknown long", {"--fast"}, "unknown option '--fast'");
    row("value missing", {"-f"}, "option '-f' needs a value");
    row("long value missing", {"--rate"}, "option '--rate' needs a value");
    row("value not taken", {"--delete=yes"}, "option '--delete' takes no value");
    row("format", {"-f", "aac"}, "unknown format 'aac'");
    row("naming", {"-n", "title"}, "unknown naming rule 'title'");
    row("jobs zero", {"-j", "0"}, "invalid number of jobs '0'");
    row("jobs text", {"-j2x"}, "invalid number of jobs '2x'");
    row("rate not offered", {"-f", "mp3", "--rate", "22050"}, "rate 22050 Hz is not offered for mp3");
    row("rate for wma", {"-f", "wma", "--rate", "44100"}, "wma output is always 44100 Hz stereo");
    row("channels", {"-f", "ogg", "--channels", "3"}, "invalid channel count '3'");
    row("bitrate", {"-f", "mp3", "--bitrate", "100"}, "bitrate 100 kbps is not offered for mp3");
    row("bitrate for wav", {"-f", "wav", "--bitrate", "128"}, "wav output has no bitrate");
    row("quality", {"-f", "wma", "--vbr", "7"}, "quality 7 is out of range for wma");
    row("rate for opus", {"-f", "opus", "--rate", "44100"}, "rate 44100 Hz is not offered for opus");
    row("opus average", {"-f", "opus", "--vbr", "100"}, "bitrate 100 kbps is not offered for opus");
    row("bitrate for flac", {"-f", "flac", "--bitrate", "128"}, "flac output has no bitrate");
    row("level", {"-f", "flac", "--level", "9"}, "invalid compression level '9'");
    row("level for ogg", {"-f", "ogg", "--level", "5"}, "ogg output has no compression level");
    row("both rate kinds", {"--bitrate", "128", "--vbr", "5"}, "--bitrate and --vbr exclude each other");
    row("settings file", {"--config", "/nonexistent/x.cfg"}, "cannot read the settings /nonexistent/x.cfg");
    row("list file", {"--from", "/nonexistent/list"}, "cannot read the list /nonexistent/list");
    row("both existing rules", {"--overwrite", "--skip-existing"},
        "--overwrite and --skip-existing exclude each other");
    row("replaygain mode", {"--replaygain=loud"}, "unknown replaygain mode 'loud'");
    row("replaygain for wav", {"-f", "wav", "--replaygain", "track"},
        "wav output carries no loudness tags");
  }

  // One line naming what is wrong, the hint, status 2, and nothing converted.
  void usageErrors() {
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    const std::string music = NewFolder();
    QVERIFY(MakeTone(music + "a.wav", 44100, 2, 0.5));
    // A file is named first (so a missing value stays missing) unless the row names none.
    if (message != "no files given") args.prepend(Q(music + "a.wav"));
    const TRun run = Run(args);
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.out.isEmpty());
    const QStringList lines = run.err.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].startsWith("orvik-convert: " + message), qPrintable(lines[0]));
    QCOMPARE(lines[1], QStringLiteral("Try 'orvik-convert --help'."));
    QCOMPARE(EntriesOf(music), QStringList{"a.wav"});
  }

  void helpAndVersion() {
    const TRun help = Run({"--help"});
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.out.startsWith("Usage: orvik-convert"));
    QVERIFY(help.err.isEmpty());
    // The bitrates are listed as taken, not as ranges.
    QVERIFY(help.out.contains("wma: 32 64 96 128 192\n"));
    QCOMPARE(Run({"-h"}).out, help.out);
    const TRun version = Run({"--version"});
    QCOMPARE(version.exitCode, 0);
    QVERIFY(version.out.startsWith("orvik-convert (Orvik Converter) "));
  }

  // FLAC and Opus with their own options: the rate, channels, level and bitrate asked for,
  // every sample frame there (Opus always at 48000 Hz).
  void flacAndOpusWithTheirOptions() {
    const std::string music = NewFolder();
    const uint64_t frames = 22050 * 2 + 17;
    QVERIFY(WriteWav(music + "a.wav", 22050, 2, ::MakeTone(22050, 2, frames, kTone)));
    TRun run = Run({"-q", "-f", "flac", "--level", "8", "--rate", "32000", "--channels", "1",
                    Q(music + "a.wav")});
    QCOMPARE(run.exitCode, 0);
    run = Run({"-q", "-f", "opus", "--vbr", "64", Q(music + "a.wav")});
    QCOMPARE(run.exitCode, 0);
    const TDecodedFile flac = DecodeThroughAudioLayer(music + "a.flac");
    QCOMPARE(flac.rate, 32000u);
    QCOMPARE(flac.channels, uint16_t(1));
    QCOMPARE(flac.frames(), (frames * 32000 + 22050 / 2) / 22050);
    const TDecodedFile opus = DecodeThroughAudioLayer(music + "a.opus");
    QCOMPARE(opus.rate, 48000u);
    QCOMPARE(opus.channels, uint16_t(2));
    QCOMPARE(opus.frames(), (frames * 48000 + 22050 / 2) / 22050);
    CheckOutput(music + "a.flac", 2.0);
    CheckOutput(music + "a.opus", 2.0);
  }

  // The unreadable file is reported by name and reason; the others are converted whole.
  void batchWithAFileThatIsNotAudio() {
    const std::string music = NewFolder(), out = NewFolder() + "out";
    QVERIFY(MakeTone(music + "a.wav", 44100, 2, 2.0));
    QVERIFY(WriteText(music + "b.mp3", "not sound at all"));
    QVERIFY(WriteMp3Fixture(music + "c.mp3", 22050, 1, ::MakeTone(22050, 1, 22050 * 3 / 2, kTone)));
    const QByteArray before = Contents(music + "a.wav") + Contents(music + "c.mp3");

    // The folder is walked in name order; -o makes the output folder.
    const TRun run = Run({"-f", "ogg", "-j", "2", "-o", Q(out), Q(music)});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(Q("orvik-convert: " + music + "b.mp3: not an audio file")),
             qPrintable(run.err));
    QVERIFY(run.out.contains(Q("converted " + music + "a.wav -> " + out + "/a.ogg")));
    QVERIFY(run.out.contains("2 converted, 1 failed"));
    QCOMPARE(EntriesOf(out), (QStringList{"a.ogg", "c.ogg"}));
    CheckOutput(out + "/a.ogg", 2.0);
    CheckOutput(out + "/c.ogg", 1.5);
    QCOMPARE(EntriesOf(music), (QStringList{"a.wav", "b.mp3", "c.mp3"}));
    QCOMPARE(Contents(music + "a.wav") + Contents(music + "c.mp3"), before);
  }

  // A source that cannot become sound says why, and stays although deletion is asked for.
  void refusalsSayWhy() {
    const std::string music = NewFolder(), out = NewFolder() + "out";
    QVERIFY(WriteMidiFile(music + "a.mid", {}, 480, 500000, 960));
    QVERIFY(WriteText(music + "b.mid", QByteArray("MThd\0\0\0\6\0\0\0\1\1\xE0MTrk\0\0\0\x10\0\x90", 24)));
    QVERIFY(WriteModule(music + "c.s3m", TModuleKind::S3m, 8, {{0, 0}}));
    QByteArray module = Contents(music + "c.s3m");
    module[0x60] = '\xFF';  // the order list ends before the first pattern
    QVERIFY(WriteText(music + "c.s3m", module));
    const TRun run = Run({"-f", "wav", "--delete", "-o", Q(out), Q(music)});
    QCOMPARE(run.exitCode, 1);
    for (const char* line : {"a.mid: the MIDI file plays no notes",
                             "b.mid: damaged MIDI file: track 1 ends inside an event",
                             "c.s3m: plays for no time"})
      QVERIFY2(run.err.contains(Q("orvik-convert: " + music + line)), qPrintable(run.err));
    QCOMPARE(EntriesOf(music), (QStringList{"a.mid", "b.mid", "c.s3m"}));
  }

  // Ctrl+C: the running conversions stop, nothing partial stays, the sources are as they
  // were, and the program ends as interrupted.
  void interruptLeavesNoPartialOutput() {
    const std::string music = NewFolder();
    QStringList args{"-f", "ogg", "-j", "2"};
    for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
      QVERIFY(MakeTone(music + name, 44100, 2, 60.0));
      args << Q(music + name);
    }
    const QByteArray before = Contents(music + "a.wav") + Contents(music + "b.wav");
    QProcess process;
    Start(process, args);
    QVERIFY(process.waitForStarted());
    // Interrupted once a conversion has begun writing beside its source.
    QTRY_VERIFY_WITH_TIMEOUT(EntriesOf(music).join(' ').contains(".orvik-convert-"), 20000);
    kill(pid_t(process.processId()), SIGINT);
    const TRun run = Finish(process);
    QVERIFY(run.crashed);  // ended by the interrupt, as a shell expects
    QVERIFY2(run.err.contains(Q(music + "a.wav: cancelled")), qPrintable(run.err));
    QVERIFY(run.out.contains("(interrupted)"));
    for (const QString& entry : EntriesOf(music)) {
      QVERIFY2(!entry.startsWith('.'), qPrintable(entry));
      if (entry.endsWith(".ogg")) CheckOutput(music + entry.toStdString(), 60.0);
    }
    QCOMPARE(Contents(music + "a.wav") + Contents(music + "b.wav"), before);
    QVERIFY(Exists(music + "c.wav"));
    QCOMPARE(ScratchLeft(), QStringList());
  }

  // A conversion process that dies takes only its own file down. It dies here for real: the
  // batch runs under a file size limit that the long file's intermediate WAV exceeds.
  void deadConversionLeavesTheBatchGoing() {
    const std::string music = NewFolder();
    QVERIFY(MakeTone(music + "a.wav", 22050, 1, 1.0));
    QVERIFY(MakeTone(music + "b.wav", 44100, 2, 8.0));
    QVERIFY(MakeTone(music + "c.wav", 32000, 2, 1.0));
    QProcess process;
    process.setChildProcessModifier([] {
      const rlimit size{1 << 20, 1 << 20}, core{0, 0};
      setrlimit(RLIMIT_FSIZE, &size);
      setrlimit(RLIMIT_CORE, &core);
    });
    Start(process, {"-f", "mp3", "-j", "2", Q(music + "a.wav"), Q(music + "b.wav"), Q(music + "c.wav")});
    const TRun run = Finish(process);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(Q(music + "b.wav: the conversion crashed (file size limit exceeded)")),
             qPrintable(run.err));
    QCOMPARE(EntriesOf(music), (QStringList{"a.mp3", "a.wav", "b.wav", "c.mp3", "c.wav"}));
    QCOMPARE(ScratchLeft(), QStringList());
    CheckOutput(music + "a.mp3", 1.0);
    CheckOutput(music + "c.mp3", 1.0);
  }

  // Two sources with one output name: the first is converted, the second reported and
  // kept. --delete removes only sources whose complete, different output exists, and not
  // one whose conversion failed.
  void sharedOutputNameAndDelete() {
    const std::string music = NewFolder();
    QVERIFY(MakeTone(music + "x.wav", 44100, 2, 1.0));
    QVERIFY(WriteMp3Fixture(music + "x.mp3", 44100, 2, ::MakeTone(44100, 2, 44100, kTone)));
    QVERIFY(MakeTone(music + "y.wav", 44100, 1, 1.0));
    QVERIFY(WriteText(music + "z.wav", "RIFF but no more"));
    const QByteArray x = Contents(music + "x.mp3");
    const TRun run = Run({"-f", "wma", "--delete", "-j", "2", Q(music + "x.wav"),
                          Q(music + "x.mp3"), Q(music + "y.wav"), Q(music + "z.wav")});
    QVERIFY2(run.exitCode == 1, qPrintable(run.err));
    QVERIFY2(run.err.contains(Q(music + "x.mp3: its output " + music + "x.wma is also the output of " +
                                music + "x.wav")),
             qPrintable(run.err));
    // x.wav stays as well: by the window's rule a source is kept while another entry of the
    // list names the same output.
    QCOMPARE(EntriesOf(music), (QStringList{"x.mp3", "x.wav", "x.wma", "y.wma", "z.wav"}));
    QCOMPARE(Contents(music + "x.mp3"), x);
    CheckOutput(music + "x.wma", 1.0);
    CheckOutput(music + "y.wma", 1.0);
  }

  // --replaygain=album with files converted side by side: each child measures its output,
  // the batch gives each folder's outputs one album gain once the folder's last file ended,
  // a failed file of the folder included; a cue sheet's tracks are an album of their own.
  void replayGainAlbumsOfFolders() {
    if (!HaveFfmpegTools()) QSKIP("ffmpeg and ffprobe are needed for the independent measurement");
    const std::string music = NewFolder(), out = NewFolder() + "out";
    QDir().mkpath(Q(music + "one"));
    QDir().mkpath(Q(music + "two"));
    QVERIFY(WriteWav(music + "one/a.wav", 48000, 2, ::MakeTone(48000, 2, 48000 * 6, 440, 0.3)));
    QVERIFY(WriteWav(music + "one/b.wav", 22050, 1, ::MakeTone(22050, 1, 22050 * 4, 900, 0.15)));
    QVERIFY(WriteText(music + "one/c.wav", "RIFF but no more"));
    QVERIFY(WriteWav(music + "two/d.wav", 32000, 2, ::MakeTone(32000, 2, 32000 * 5, 300, 0.2)));
    // Beside d.wav a sheet, whose three tracks are an album of their own.
    std::vector<int16_t> image;
    for (const double amplitude : {0.3, 0.05, 0.15}) {
      const auto part = ::MakeTone(44100, 2, 44100 * 3, 500, amplitude);
      image.insert(image.end(), part.begin(), part.end());
    }
    QVERIFY(WriteWav(music + "two/album.wav", 44100, 2, image));
    QVERIFY(WriteText(music + "two/album.cue",
                      "FILE \"album.wav\" WAVE\n TRACK 01 AUDIO\n  TITLE \"A\"\n  INDEX 01 00:00:00\n"
                      " TRACK 02 AUDIO\n  TITLE \"B\"\n  INDEX 01 00:03:00\n"
                      " TRACK 03 AUDIO\n  TITLE \"C\"\n  INDEX 01 00:06:00\n"));
    const TRun run = Run({"-q", "-j", "3", "--replaygain=album", "-f", "ogg", "-o", Q(out),
                          Q(music + "one"), Q(music + "two")});
    QVERIFY2(run.exitCode == 1 && run.err.contains("c.wav"), qPrintable(run.err));
    const auto tags = [&](const char* name) { return TagsByFfprobe(Q(out + "/" + name)); };
    const auto a = tags("a.ogg"), b = tags("b.ogg"), d = tags("d.ogg");
    QVERIFY(!a["REPLAYGAIN_ALBUM_GAIN"].isEmpty());
    QCOMPARE(b["REPLAYGAIN_ALBUM_GAIN"], a["REPLAYGAIN_ALBUM_GAIN"]);
    QCOMPARE(b["REPLAYGAIN_ALBUM_PEAK"], a["REPLAYGAIN_ALBUM_PEAK"]);
    QVERIFY(a["REPLAYGAIN_TRACK_GAIN"] != b["REPLAYGAIN_TRACK_GAIN"]);
    const TReferenceLoudness one = ReferenceLoudness({Q(out + "/a.ogg"), Q(out + "/b.ogg")});
    QVERIFY(one.ok);
    const double albumGain = a["REPLAYGAIN_ALBUM_GAIN"].chopped(3).toDouble();
    QVERIFY2(std::abs(albumGain - (-18 - one.integrated)) <= 0.1, qPrintable(a["REPLAYGAIN_ALBUM_GAIN"]));
    // An album of one track: the sheet's tracks, from the same folder, are not of it.
    QCOMPARE(d["REPLAYGAIN_ALBUM_GAIN"], d["REPLAYGAIN_TRACK_GAIN"]);
    const auto sa = tags("01 - A.ogg"), sb = tags("02 - B.ogg"), sc = tags("03 - C.ogg");
    QVERIFY(!sa["REPLAYGAIN_ALBUM_GAIN"].isEmpty());
    QCOMPARE(sb["REPLAYGAIN_ALBUM_GAIN"], sa["REPLAYGAIN_ALBUM_GAIN"]);
    QCOMPARE(sc["REPLAYGAIN_ALBUM_GAIN"], sa["REPLAYGAIN_ALBUM_GAIN"]);
    QVERIFY(sa["REPLAYGAIN_TRACK_GAIN"] != sb["REPLAYGAIN_TRACK_GAIN"]);
  }

  // A walked folder's sheet is converted track by track and its image not a second time;
  // with --delete the image and the sheet go once every track is converted, while a bad
  // sheet is reported and stays.
  void albumSheetByItsTracks() {
    const std::string music = NewFolder(), out = NewFolder() + "out";
    std::vector<int16_t> image;
    for (const double tone : {300.0, 500.0, 700.0}) {
      const auto part = ::MakeTone(44100, 2, 588 * 41, tone);
      image.insert(image.end(), part.begin(), part.end());
    }
    QVERIFY(WriteWav(music + "album.wav", 44100, 2, image));
    QVERIFY(WriteText(music + "album.cue",
                      "FILE \"album.wav\" WAVE\n TRACK 01 AUDIO\n  TITLE \"A\"\n  INDEX 01 00:00:00\n"
                      " TRACK 02 AUDIO\n  TITLE \"B\"\n  INDEX 01 00:00:41\n"
                      " TRACK 03 AUDIO\n  INDEX 01 00:01:07\n"));
    QVERIFY(WriteText(music + "bad.cue", "FILE \"gone.flac\" WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"));
    const TRun run = Run({"-f", "wav", "--delete", "-o", Q(out), Q(music)});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("bad.cue: its image gone.flac is missing"), qPrintable(run.err));
    QCOMPARE(TonesIn(out), (QStringList{"01 - A.wav:300", "02 - B.wav:500", "album 03.wav:700"}));
    QCOMPARE(EntriesOf(music), QStringList{"bad.cue"});
  }

  void outputNames_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("outputs");
    // The folder holds C.WAV (300 Hz), a.mp3 (500), b.wav (700), sub/c.wav (900), and what
    // a walk leaves out: notes.txt and .hidden.wav. Byte order puts C.WAV first.
    QTest::newRow("walk, source names") << QStringList{"-f", "wav", "MUSIC"}
                                        << QStringList{"C.wav:300", "a.wav:500", "b.wav:700"};
    QTest::newRow("walk, track names") << QStringList{"-n", "track", "-f", "wav", "MUSIC"}
                                       << QStringList{"Track1.wav:300", "Track2.wav:500", "Track3.wav:700"};
    // With -o the walked tree is mirrored; the numbers count through the whole batch.
    QTest::newRow("recursive, numbers") << QStringList{"-rn", "number", "-f", "wav", "MUSIC"}
                                        << QStringList{"1.wav:300", "2.wav:500", "3.wav:700", "sub/4.wav:900"};
    QTest::newRow("list with CR LF and a blank line")
        << QStringList{"-n", "number", "-f", "wav", "--from", "LIST"}
        << QStringList{"1.wav:900", "2.wav:700"};
    QTest::newRow("format from the settings file") << QStringList{"MUSIC/b.wav"}
                                                   << QStringList{"b.mp3:700"};
  }

  // Folders are walked in name order with only the source extensions; the window's naming
  // rules number files by their place in the batch.
  void outputNames() {
    QFETCH(QStringList, args);
    QFETCH(QStringList, outputs);
    const std::string music = NewFolder() + "music", out = NewFolder() + "out";
    QVERIFY(QDir().mkpath(Q(music + "/sub")));
    QVERIFY(MakeTone(music + "/C.WAV", 22050, 1, 0.5, 300));
    QVERIFY(WriteMp3Fixture(music + "/a.mp3", 44100, 2, ::MakeTone(44100, 2, 22050, 500)));
    QVERIFY(MakeTone(music + "/b.wav", 44100, 2, 0.5, 700));
    QVERIFY(MakeTone(music + "/sub/c.wav", 32000, 2, 0.5, 900));
    QVERIFY(MakeTone(music + "/.hidden.wav", 44100, 1, 0.5, 1100));
    QVERIFY(WriteText(music + "/notes.txt", "not a source"));
    QVERIFY(WriteText(music + "/list", Q(music + "/sub/c.wav\r\n\n" + music + "/b.wav\n").toUtf8()));
    args.replaceInStrings("MUSIC", Q(music)).replaceInStrings("LIST", Q(music + "/list"));
    const TRun run = Run(args << "-o" << Q(out));
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(TonesIn(out), outputs);
  }

  // A source at another source's output path is not a source: numbered names are worked
  // out again without it. An existing output is left alone unless --overwrite asks.
  void outputsAreNeverSources() {
    const std::string music = NewFolder();
    QVERIFY(MakeTone(music + "2.wav", 44100, 2, 1.0, 500));
    QVERIFY(MakeTone(music + "z.wav", 44100, 2, 0.5, 900));
    // z.wav would become 2.wav: 2.wav is left out, and z.wav, now the first, becomes 1.wav.
    const TRun first = Run({"-n", "number", "-f", "wav", "-j", "2", Q(music + "2.wav"), Q(music + "z.wav")});
    QVERIFY2(first.exitCode == 0, qPrintable(first.err));
    QCOMPARE(TonesIn(music), (QStringList{"1.wav:900", "2.wav:500", "z.wav:900"}));
    // 2.wav would replace 1.wav: reported and kept; with --overwrite replaced.
    const TRun kept = Run({"-n", "number", "-f", "wav", Q(music + "2.wav")});
    QCOMPARE(kept.exitCode, 1);
    QVERIFY2(kept.err.contains(Q(music + "2.wav: skipped: " + music + "1.wav exists")), qPrintable(kept.err));
    QCOMPARE(TonesIn(music), (QStringList{"1.wav:900", "2.wav:500", "z.wav:900"}));
    const TRun replaced = Run({"--overwrite", "-n", "number", "-f", "wav", Q(music + "2.wav")});
    QVERIFY2(replaced.exitCode == 0, qPrintable(replaced.err));
    QCOMPARE(TonesIn(music), (QStringList{"1.wav:500", "2.wav:500", "z.wav:900"}));
  }

  // A link at an output's name is an existing file: skipped, or with --overwrite replaced
  // itself, never written through, not even when it leads to the source. A source's own
  // entry reached by another path is refused.
  void linksAtOutputsAreReplacedNotFollowed() {
    const std::string music = NewFolder();
    QVERIFY(MakeTone(music + "src.wav", 44100, 2, 0.5) && MakeTone(music + "b.wav", 44100, 2, 0.5));
    QVERIFY(WriteText(music + "doc.txt", "a document"));
    QCOMPARE(symlink("src.wav", (music + "src.mp3").c_str()), 0);
    QCOMPARE(symlink("doc.txt", (music + "b.mp3").c_str()), 0);
    QVERIFY(QDir().mkpath(Q(music + "sub")));
    const QByteArray before = Contents(music + "src.wav") + Contents(music + "b.wav");
    const TRun skipped = Run({"-f", "mp3", Q(music + "src.wav"), Q(music + "b.wav")});
    QCOMPARE(skipped.exitCode, 1);
    const TRun replaced = Run({"-f", "mp3", "--overwrite", Q(music + "src.wav"), Q(music + "b.wav")});
    QVERIFY2(replaced.exitCode == 0, qPrintable(replaced.err));
    const TRun elsewhere = Run({"-f", "wav", "--overwrite", "-o", Q(music + "sub/.."), Q(music + "b.wav")});
    QCOMPARE(elsewhere.exitCode, 1);
    QVERIFY2(elsewhere.err.contains("is its source under another path"), qPrintable(elsewhere.err));
    QCOMPARE(Contents(music + "src.wav") + Contents(music + "b.wav"), before);
    QCOMPARE(Contents(music + "doc.txt"), QByteArray("a document"));
    for (const char* output : {"src.mp3", "b.mp3"}) {
      struct stat info {};
      QVERIFY(lstat((music + output).c_str(), &info) == 0 && S_ISREG(info.st_mode));
      CheckOutput(music + output, 0.5);
    }
  }

  // On a terminal: a live line per running file and a total line, redrawn in place, then
  // the summary.
  void liveReportOnATerminal() {
    const std::string music = NewFolder();
    QVERIFY(MakeTone(music + "a.wav", 44100, 2, 2.0));
    QVERIFY(MakeTone(music + "b.wav", 44100, 2, 2.0));
    const QByteArray program = ORVIK_CONVERT, config = QByteArray::fromStdString(config_),
                     folder = QByteArray::fromStdString(music);
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    QVERIFY(pid >= 0);
    if (pid == 0) {
      execl(program.constData(), "orvik-convert", "--config", config.constData(), "-f", "ogg",
            folder.constData(), static_cast<char*>(nullptr));
      _exit(127);
    }
    QByteArray screen;
    char buffer[4096];
    for (pollfd p{terminal, POLLIN, 0}; poll(&p, 1, 60000) > 0;) {
      const ssize_t n = read(terminal, buffer, sizeof buffer);
      if (n <= 0) break;  // EIO once the program has ended
      screen.append(buffer, n);
    }
    close(terminal);
    int status = 0;
    QCOMPARE(waitpid(pid, &status, 0), pid);
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    QVERIFY2(screen.contains("0 of 2 files, 0.0 min of audio done"), screen.constData());
    QVERIFY(screen.contains("%  ") && screen.contains(folder + "a.wav"));
    QVERIFY(screen.contains("\033[J"));  // the live lines are drawn over, not scrolled
    QVERIFY(screen.contains("2 converted; 0.1 min of audio"));
    QCOMPARE(EntriesOf(music), (QStringList{"a.ogg", "a.wav", "b.ogg", "b.wav"}));
  }
};

}  // namespace

QTEST_GUILESS_MAIN(TConvertTest)
#include "test_convert.moc"
