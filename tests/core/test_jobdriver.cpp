// The job driver: output names, the pipeline per source kind and output format, when a
// source may be deleted, the fallback folder for sources on a CD drive, and cancelling.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <set>

#include "audio.h"
#include "cdimagefixture.h"
#include "codecs/convfunc.h"
#include "codecs/eabort.h"
#include "codecs/partialfile.h"
#include "codecs/passhooks.h"
#include "decodeback.h"
#include "encodedfixtures.h"
#include "main/cddrives.h"
#include "main/jobdriver.h"
#include "main/mainfunc.h"
#include "main/paths.h"
#include "main/temporarywav.h"
#include "main/uihooks.h"
#include "midifixture.h"
#include "runfolders.h"
#include "wavfixture.h"

namespace {
constexpr uint32_t kRate = 44100;
constexpr double kTone = 440.0;

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

QByteArray Contents(const std::string& path) {
  QFile file(QFile::decodeName(path.c_str()));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteText(const std::string& path, const QByteArray& text) {
  QFile file(QFile::decodeName(path.c_str()));
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(text);
}

void SetList(const std::vector<std::string>& paths) {
  MainFunc.FileList = paths;
  MainFunc.Rows.Items = paths;
}

// The tone and its length survived the conversion.
void CheckTone(const std::string& path, double seconds, double tone = kTone) {
  const TWavData back = DecodeBack(path);
  QVERIFY2(back.ok, path.c_str());
  QVERIFY(back.rate > 0);
  const double length = static_cast<double>(back.frames()) / back.rate;
  QVERIFY2(length > seconds - 0.8 && length < seconds + 0.3, qPrintable(QString::number(length)));
  const double found = ToneFrequency(back);
  QVERIFY2(std::abs(found - tone) < tone * 0.03, qPrintable(QString("%1 Hz in %2").arg(found).arg(path.c_str())));
}
}  // namespace

class TestJobDriver : public QObject {
  Q_OBJECT

  QTemporaryDir root_;
  std::string program_;  // the program's folder, with "/"
  std::string music_;    // sources, with "/"

  std::string Tone(const std::string& name, double seconds, double tone = kTone) {
    const std::string path = music_ + name;
    const auto samples = MakeTone(kRate, 2, static_cast<uint64_t>(seconds * kRate), tone);
    const std::string ext = ExtensionOf(name);
    bool ok = false;
    if (ext == "ogg") ok = WriteOggFixture(path, kRate, 2, samples);
    else if (ext == "mp3") ok = WriteMp3Fixture(path, kRate, 2, samples);
    else ok = WriteWav(path, kRate, 2, samples);
    if (!ok) qFatal("fixture %s not written", path.c_str());
    return path;
  }

 private slots:
  void init() {
    QVERIFY(root_.isValid());
    TRunFolders folders;
    QVERIFY(MakeRunFolders(root_.path(), counter_++, &folders));
    program_ = folders.program;
    music_ = folders.music;
    ConvFunc.Options = FirstRunOptions();
    // The described batch, one entry after the other; the batch run several entries at a
    // time has its own tests (test_paralleljobs).
    ConvFunc.Options.Jobs = 1;
    ConvFunc.Stage = STAGE_NONE;
    ConvFunc.TotalLength = 0;
    MainFunc.ReadOnlyWarn = false;
    SetList({});
    UiHooks = TUiHooks();
    EngineHooks = TEngineHooks();
    cd_set_drives_for_testing({});
  }

  void cleanup() {
    cd_set_drives_for_testing({});
    SetProgramDirForTesting("");
    EngineHooks = TEngineHooks();
    UiHooks = TUiHooks();
  }

  void stripExtension_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("stripped");
    QTest::addColumn<QString>("extension");
    QTest::newRow("plain") << "song.mp3" << "song" << "mp3";
    QTest::newRow("last dot") << "/m/x.tar.gz" << "/m/x.tar" << "gz";
    QTest::newRow("trailing dot") << "name." << "name" << "";
    QTest::newRow("dot in folder") << "/a.b/song" << "/a.b/song" << "";
    QTest::newRow("none") << "/m/take1" << "/m/take1" << "";
    QTest::newRow("upper case kept") << "/m/x.WAV" << "/m/x" << "WAV";
  }
  void stripExtension() {
    QFETCH(QString, text);
    QFETCH(QString, stripped);
    QFETCH(QString, extension);
    QCOMPARE(QString::fromStdString(StripExtension(text.toStdString())), stripped);
    QCOMPARE(QString::fromStdString(ExtensionOf(text.toStdString())), extension);
  }

  void outputPath_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("name");
    QTest::addColumn<bool>("fallback");
    QTest::addColumn<QString>("expected");  // "F/" stands for the fallback folder
    QTest::newRow("beside, source name") << "/m/a.ogg" << 0 << "" << 0 << false << "/m/a.mp3";
    QTest::newRow("beside, no extension") << "/m/take1" << 0 << "" << 0 << false << "/m/take1.mp3";
    QTest::newRow("beside, its own name") << "/m/a.mp3" << 4 << "" << 0 << false << "/m/a.mp3";
    QTest::newRow("beside, Track") << "/m/a.ogg" << 11 << "" << 1 << false << "/m/Track12.mp3";
    QTest::newRow("beside, number") << "/m/a.ogg" << 11 << "" << 2 << false << "/m/12.mp3";
    QTest::newRow("folder, source name") << "/m/a.b/a.ogg" << 0 << "/out" << 0 << false << "/out/a.mp3";
    QTest::newRow("folder, separator always added") << "/m/a.ogg" << 0 << "/out/" << 0 << false << "/out//a.mp3";
    QTest::newRow("folder, Track") << "/m/a.ogg" << 2 << "/out" << 1 << false << "/out/Track3.mp3";
    QTest::newRow("folder, number") << "/m/a.ogg" << 2 << "/out" << 2 << false << "/out/3.mp3";
    QTest::newRow("folder wins over fallback") << "/dev/sr0/Track01.cda" << 0 << "/out" << 0 << true << "/out/Track01.mp3";
    QTest::newRow("fallback, source name") << "/dev/sr0/Track01.cda" << 0 << "" << 0 << true << "F/Track01.mp3";
    QTest::newRow("fallback, Track") << "/home/a.wav" << 6 << "" << 1 << true << "F/Track7.mp3";
    QTest::newRow("fallback, number") << "/home/a.wav" << 6 << "" << 2 << true << "F/7.mp3";
    QTest::newRow("name 3 keeps the previous") << "/m/a.ogg" << 1 << "" << 3 << false << "previous";
    QTest::newRow("name -1 keeps the previous") << "/m/a.ogg" << 1 << "/out" << -1 << false << "previous";
  }
  void outputPath() {
    QFETCH(QString, source);
    QFETCH(int, index);
    QFETCH(QString, folder);
    QFETCH(int, name);
    QFETCH(bool, fallback);
    QFETCH(QString, expected);
    TOptions options = FirstRunOptions();
    options.OutputFolder = folder.toStdString();
    options.OutputName = name;
    std::string want = expected.toStdString();
    if (want.rfind("F/", 0) == 0) want = program_ + "output/" + want.substr(2);
    QCOMPARE(OutputPathFor(source.toStdString(), index, options, fallback, "previous"), want);
  }

  // Which routines run, in which stage, and that the output holds the source's audio.
  void pipeline_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QList<int>>("stages");
    QTest::newRow("wav to wav") << "a.wav" << "wav" << "a.wav" << QList<int>{1};
    QTest::newRow("wav to mp3") << "a.wav" << "mp3" << "a.mp3" << QList<int>{2, 3};
    QTest::newRow("wav to wma") << "a.wav" << "wma" << "a.wma" << QList<int>{2, 5};
    QTest::newRow("wav to ogg") << "a.wav" << "ogg" << "a.ogg" << QList<int>{2, 4};
    QTest::newRow("wav to flac") << "a.wav" << "flac" << "a.flac" << QList<int>{2, 6};
    QTest::newRow("mp3 to opus") << "c.mp3" << "opus" << "c.opus" << QList<int>{1, 7};
    QTest::newRow("unknown format is ogg") << "a.wav" << "aac" << "a.aac" << QList<int>{2, 4};
    QTest::newRow("ogg to wav") << "b.ogg" << "wav" << "b.wav" << QList<int>{1};
    QTest::newRow("ogg to mp3") << "b.ogg" << "mp3" << "b.mp3" << QList<int>{1, 3};
    QTest::newRow("mp3 to wma") << "c.mp3" << "wma" << "c.wma" << QList<int>{1, 5};
    QTest::newRow("mp3 to ogg") << "c.mp3" << "ogg" << "c.ogg" << QList<int>{1, 4};
    QTest::newRow("upper-case WAV is not a wav source") << "d.WAV" << "mp3" << "d.mp3" << QList<int>{1, 3};
    QTest::newRow("upper-case WAV to wav") << "d.WAV" << "wav" << "d.wav" << QList<int>{1};
  }
  void pipeline() {
    QFETCH(QString, source);
    QFETCH(QString, format);
    QFETCH(QString, output);
    QFETCH(QList<int>, stages);
    const std::string path = Tone(source.toStdString(), 1.6);
    const QByteArray original = Contents(path);
    ConvFunc.Options.OutputFormat = format.toStdString();
    ConvFunc.Options.WAVFreq = 22050;
    ConvFunc.Options.WAVNumChannels = 1;
    QList<int> seen;
    EngineHooks.ProcessEvents = [&] {
      if (seen.isEmpty() || seen.back() != ConvFunc.Stage) seen.push_back(ConvFunc.Stage);
    };
    SetList({path});
    MainFunc.ConvertAll();

    QCOMPARE(seen, stages);
    QCOMPARE(ConvFunc.Stage, int32_t(STAGE_FINISHED));
    const std::string out = music_ + output.toStdString();
    CheckTone(out, 1.6);
    if (format == "wav") {
      const TWavData wav = ReadWav(out);
      QCOMPARE(wav.rate, 22050u);
      QCOMPARE(wav.channels, uint16_t(1));
    }
    if (out != path) QCOMPARE(Contents(path), original);  // the source is read, never written
    QVERIFY(!Exists(TemporaryWavPath()));
  }

  // A source converted to its own format beside itself is replaced by the new file and,
  // being the output, is not deleted.
  void outputReplacingItsSource_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("wav") << "a.wav";
    QTest::newRow("mp3") << "a.mp3";
  }
  void outputReplacingItsSource() {
    QFETCH(QString, name);
    const std::string path = Tone(name.toStdString(), 1.6, 660.0);
    ConvFunc.Options.OutputFormat = ExtensionOf(path);
    ConvFunc.Options.WAVFreq = 11025;
    ConvFunc.Options.WAVNumChannels = 1;
    ConvFunc.Options.MP3Freq = 22050;
    ConvFunc.Options.Delete = true;
    SetList({path});
    MainFunc.ConvertAll();
    QVERIFY(Exists(path));
    CheckTone(path, 1.6, 660.0);
    QCOMPARE(DecodeBack(path).rate, name == "a.wav" ? 11025u : 22050u);
    QCOMPARE(FilesIn(music_), std::set<std::string>{name.toStdString()});
  }

  // The direct decoding row never writes over the file it reads, whatever names it: here
  // the upper-case source is reached again through a link that carries the output's name.
  void directDecodingOntoItsSource() {
    const std::string path = Tone("x.WAV", 1.6);
    QCOMPARE(symlink("x.WAV", (music_ + "x.wav").c_str()), 0);
    ConvFunc.Options.OutputFormat = "wav";
    ConvFunc.Options.WAVFreq = 22050;
    ConvFunc.Options.WAVNumChannels = 1;
    SetList({path});
    MainFunc.ConvertAll();
    const TWavData result = ReadWav(music_ + "x.wav");
    QVERIFY(result.ok);
    QCOMPARE(result.rate, 22050u);
    CheckTone(music_ + "x.wav", 1.6);
  }

  // A WAV-to-WAV output on another file system than the temporary WAV: the copy takes the
  // old output's place whole, and no partial file or temporary WAV stays behind.
  void wavOutputOnAnotherFileSystem() {
    QTemporaryDir other(QStringLiteral("/dev/shm/orvik-XXXXXX"));
    struct stat here, there;
    if (!other.isValid() || stat(program_.c_str(), &here) != 0 ||
        stat(QFile::encodeName(other.path()).constData(), &there) != 0 || here.st_dev == there.st_dev)
      QSKIP("no second file system to write to");
    const std::string folder = QFile::encodeName(other.path()).toStdString();
    WriteText(folder + "/a.wav", "old output");
    const std::string source = Tone("a.wav", 1.2);
    ConvFunc.Options.OutputFormat = "wav";
    ConvFunc.Options.OutputFolder = folder;
    ConvFunc.Options.WAVFreq = 22050;
    ConvFunc.Options.Delete = true;
    SetList({source});
    MainFunc.ConvertAll();
    QCOMPARE(ReadWav(folder + "/a.wav").rate, 22050u);
    CheckTone(folder + "/a.wav", 1.2);
    QCOMPARE(FilesIn(folder), std::set<std::string>{"a.wav"});
    QVERIFY(!Exists(source));
    QVERIFY(!Exists(TemporaryWavPath()));
  }

  // Bad entries among good ones: the good ones convert and lose their sources, the bad ones
  // produce nothing and keep theirs, and the batch reaches its end.
  void badEntriesInABatch() {
    const std::string first = Tone("first.wav", 1.2);
    const std::string last = Tone("last.ogg", 1.2);
    const std::string text = music_ + "notes.mp3";
    WriteText(text, "not audio at all");
    const std::string empty = music_ + "empty.wav";
    WriteText(empty, "");
    const std::string truncated = music_ + "cut.ogg";
    WriteText(truncated, Contents(last).left(60));
    QVERIFY(QDir().mkpath(QFile::decodeName((music_ + "folder.wav").c_str())));
    const std::string missing = music_ + "missing.ogg";
    ConvFunc.Options.OutputFormat = "mp3";
    ConvFunc.Options.Delete = true;
    SetList({first, text, missing, music_ + "folder.wav", empty, truncated, last});
    MainFunc.ConvertAll();

    QCOMPARE(ConvFunc.Stage, int32_t(STAGE_FINISHED));
    QVERIFY(!Exists(first));
    QVERIFY(!Exists(last));
    CheckTone(music_ + "first.mp3", 1.2);
    CheckTone(music_ + "last.mp3", 1.2);
    QCOMPARE(Contents(text), QByteArray("not audio at all"));
    QVERIFY(Exists(empty));
    QVERIFY(Exists(truncated));
    QCOMPARE(FilesIn(music_), (std::set<std::string>{"first.mp3", "last.mp3", "notes.mp3",
                                                      "empty.wav", "cut.ogg"}));
  }

  // A failed conversion leaves an existing output as it was and keeps the source.
  void failureKeepsExistingOutput() {
    const std::string source = music_ + "broken.wav";
    WriteText(source, "RIFF garbage");
    WriteText(music_ + "broken.ogg", "old output");
    ConvFunc.Options.OutputFormat = "ogg";
    ConvFunc.Options.Delete = true;
    SetList({source});
    MainFunc.ConvertAll();
    QCOMPARE(Contents(music_ + "broken.ogg"), QByteArray("old output"));
    QVERIFY(Exists(source));
  }

  // Sources that would convert to silence, and sources whose end is lost while they are
  // decoded (cut by another program), are failures: no output, and the source is kept
  // although deletion is on.
  void silenceIsNeverAConvertedSong_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("MIDI with SMPTE timing") << "smpte.mid";
    QTest::newRow("MIDI header without a track") << "header.mid";
    QTest::newRow("MIDI that strikes no note") << "quiet.mid";
    QTest::newRow("WAV cut while decoded") << "cut.wav";
    QTest::newRow("MP3 cut while decoded") << "cut.mp3";
  }
  void silenceIsNeverAConvertedSong() {
    QFETCH(QString, name);
    const std::string file = name.toStdString();
    std::string source = music_ + file;
    if (file == "smpte.mid") {
      QVERIFY(WriteMidiFile(source, MidiScale(4), 0xE728));  // 25 frames of 40 ticks
    } else if (file == "header.mid") {
      WriteText(source, QByteArray("MThd\0\0\0\x06\0\0\0\x01\x01\xe0", 14));
    } else if (file == "quiet.mid") {
      QVERIFY(WriteMidiFile(source, {}, 480, 500000, 960));
    } else {
      source = Tone(file, 8.0);
      const off_t quarter = static_cast<off_t>(Contents(source).size() / 4);
      EngineHooks.ProcessEvents = [&source, quarter] { truncate(source.c_str(), quarter); };
    }
    ConvFunc.Options.OutputFormat = "ogg";
    ConvFunc.Options.Delete = true;
    SetList({source});
    MainFunc.ConvertAll();
    QCOMPARE(FilesIn(music_), std::set<std::string>{file});
    QCOMPARE(FilesIn(program_ + "temp"), std::set<std::string>{});
  }

  // Two sources whose outputs share one name: the second output replaces the first, so
  // the first source is the only copy of its audio left and is kept; the second goes.
  // Two entries with one output: the first writes it, the second is held back with its
  // source kept, as an output over a waiting source is. [a.mp3, a.wav] to mp3 keeps both songs.
  void laterEntryNeverReplacesAnEarlierOutput_data() {
    QTest::addColumn<bool>("outputFolderSet");
    QTest::newRow("output folder") << true;
    QTest::newRow("[a.mp3, a.wav] beside the sources") << false;
  }
  void laterEntryNeverReplacesAnEarlierOutput() {
    QFETCH(bool, outputFolderSet);
    for (const char* folder : {"one", "two", "out"})
      QVERIFY(QDir().mkpath(QFile::decodeName((music_ + folder).c_str())));
    const std::string first = Tone(outputFolderSet ? "one/a.ogg" : "a.mp3", 1.2, 440.0);
    const std::string unrelated = Tone("other.ogg", 1.2, 660.0);
    const std::string second = Tone(outputFolderSet ? "two/a.wav" : "a.wav", 1.2, 880.0);
    ConvFunc.Options.OutputFormat = "mp3";
    if (outputFolderSet) ConvFunc.Options.OutputFolder = music_ + "out";
    ConvFunc.Options.Delete = true;
    SetList({first, unrelated, second});
    ConvFunc.TotalLength = ConvFunc.MeasureTotalLength();
    MainFunc.ConvertAll();
    QCOMPARE(ConvFunc.TotalProgress, int32_t(100));

    const std::string folder = outputFolderSet ? music_ + "out/" : music_;
    CheckTone(folder + "a.mp3", 1.2, 440.0);
    CheckTone(second, 1.2, 880.0);
    // Re-encoded in place, the first source is its own output.
    QCOMPARE(Exists(first), !outputFolderSet);
    QVERIFY(!Exists(unrelated));
    CheckTone(folder + "other.mp3", 1.2, 660.0);
  }

  // Numbered names beside the sources: the second entry's output would be the third
  // entry's source, still waiting to be read. It is not written, so that source survives
  // and is converted in its turn; its length still counts as done, so the batch ends at
  // 100 percent and the progress window does not ask whether to cancel.
  void outputNeverReplacesASourceStillWaiting() {
    const std::string one = Tone("Track1.mp3", 1.2, 440.0);
    const std::string ten = Tone("Track10.mp3", 3.2, 880.0);
    const std::string two = Tone("Track2.mp3", 1.2, 660.0);
    ConvFunc.Options.OutputFormat = "mp3";
    ConvFunc.Options.OutputName = 1;
    ConvFunc.Options.Delete = true;
    SetList({one, ten, two});
    ConvFunc.TotalLength = ConvFunc.MeasureTotalLength();
    MainFunc.ConvertAll();
    QCOMPARE(ConvFunc.TotalLength, int32_t(5));
    QCOMPARE(ConvFunc.TotalPosition, int32_t(5));
    QCOMPARE(ConvFunc.TotalProgress, int32_t(100));

    // Track10's output was not written over Track2, and Track10 was kept for it.
    CheckTone(one, 1.2, 440.0);
    CheckTone(ten, 3.2, 880.0);
    CheckTone(music_ + "Track3.mp3", 1.2, 660.0);
    QVERIFY(!Exists(two));
    QCOMPARE(FilesIn(music_), (std::set<std::string>{"Track1.mp3", "Track10.mp3", "Track3.mp3"}));
  }

  // An output that is not there when its file is done (its folder went away during the
  // last pass) fails that file: the batch ends below 100 percent and its source stays.
  void vanishedOutputFailsItsFile() {
    const std::string out = music_ + "out";
    QVERIFY(QDir().mkpath(QFile::decodeName(out.c_str())));
    const std::string first = Tone("first.wav", 1.2, 440.0);
    const std::string second = Tone("second.ogg", 2.2, 660.0);
    ConvFunc.Options.OutputFormat = "wma";
    ConvFunc.Options.OutputFolder = out;
    ConvFunc.Options.Delete = true;
    SetList({first, second});
    ConvFunc.TotalLength = ConvFunc.MeasureTotalLength();
    EngineHooks.ProcessEvents = [&] {
      if (ConvFunc.Stage == STAGE_WMA && ConvFunc.TotalProgress >= 100)
        std::rename(out.c_str(), (music_ + "gone").c_str());
    };
    MainFunc.ConvertAll();
    QVERIFY(Exists(music_ + "gone"));
    QVERIFY2(ConvFunc.TotalProgress < 100, qPrintable(QString::number(ConvFunc.TotalProgress)));
    QCOMPARE(FilesIn(music_ + "gone"), std::set<std::string>{"first.wma"});
    QCOMPARE(FilesIn(music_), std::set<std::string>{"second.ogg"});
  }

  // Two copies converting from one program folder at once: the other copy, held halfway
  // through encoding, finds its temporary WAV untouched after this copy's whole batch, both
  // sets of outputs hold their own songs, and temp/ is empty once both are done.
  void twoCopiesKeepTheirOwnTemporaryWav() {
    const std::string theirs = Tone("theirs.wav", 2.2, 880.0);
    const std::vector<std::string> ours{Tone("one.ogg", 1.2, 440.0), Tone("two.wav", 1.2, 550.0)};
    ConvFunc.Options.OutputFormat = "mp3";
    int held[2], resume[2];
    QCOMPARE(pipe(held), 0);
    QCOMPARE(pipe(resume), 0);
    const pid_t other = fork();
    if (other == 0) {
      // Only the parent's ends stay open there, so a failed parent lets this copy go.
      close(held[0]);
      close(resume[1]);
      int passes = 0;
      EngineHooks.ProcessEvents = [&] {
        if (ConvFunc.Stage != STAGE_MP3 || ++passes != 3) return;
        char byte = 1;
        if (write(held[1], &byte, 1) != 1 || read(resume[0], &byte, 1) != 1) _exit(3);
      };
      SetList({theirs});
      MainFunc.ConvertAll();
      _exit(ConvFunc.Stage == STAGE_FINISHED ? 0 : 2);
    }
    close(held[1]);
    close(resume[0]);
    char byte = 0;
    QCOMPARE(read(held[0], &byte, 1), ssize_t(1));
    close(held[0]);
    // The other copy came first and took the usual name.
    const std::string theirWav = program_ + "temp/tmp100000.wav";
    struct stat before {}, after {};
    QCOMPARE(stat(theirWav.c_str(), &before), 0);
    SetList(ours);
    MainFunc.ConvertAll();
    QCOMPARE(stat(theirWav.c_str(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(after.st_size, before.st_size);
    QVERIFY(TemporaryWavPath() != theirWav);
    QCOMPARE(write(resume[1], &byte, 1), ssize_t(1));
    close(resume[1]);
    int status = 0;
    QCOMPARE(waitpid(other, &status, 0), other);
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    CheckTone(music_ + "theirs.mp3", 2.2, 880.0);
    CheckTone(music_ + "one.mp3", 1.2, 440.0);
    CheckTone(music_ + "two.mp3", 1.2, 550.0);
    ReleaseTemporaryWav();
    const QDir temp(QFile::decodeName((program_ + "temp").c_str()));
    QCOMPARE(temp.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
  }

  // An output folder that vanished: nothing is written anywhere, nothing is lost.
  void vanishedOutputFolder_data() {
    QTest::addColumn<QString>("format");
    QTest::newRow("wav") << "wav";
    QTest::newRow("mp3") << "mp3";
  }
  void vanishedOutputFolder() {
    QFETCH(QString, format);
    const std::string source = Tone("a.ogg", 1.2);
    ConvFunc.Options.OutputFormat = format.toStdString();
    ConvFunc.Options.OutputFolder = music_ + "gone";
    ConvFunc.Options.Delete = true;
    SetList({source});
    MainFunc.ConvertAll();
    QVERIFY(Exists(source));
    QVERIFY(!Exists(music_ + "gone"));
    QCOMPARE(FilesIn(music_), std::set<std::string>{"a.ogg"});
  }

  // A temporary WAV left behind by a cancelled batch is never encoded as a later file.
  void staleTemporaryWavIsNotEncoded() {
    QVERIFY(QDir().mkpath(QFile::decodeName((program_ + "temp").c_str())));
    QVERIFY(WriteWav(TemporaryWavPath(), kRate, 2, MakeTone(kRate, 2, kRate, 300.0)));
    const std::string source = music_ + "fake.ogg";
    WriteText(source, "OggS but nothing more");
    ConvFunc.Options.OutputFormat = "mp3";
    SetList({source});
    MainFunc.ConvertAll();
    QVERIFY(!Exists(music_ + "fake.mp3"));
    QVERIFY(!Exists(TemporaryWavPath()));
  }

  // The temporary WAV named by the list, or as the output: still converted correctly.
  void temporaryWavNamedByTheBatch_data() {
    QTest::addColumn<bool>("asSource");
    QTest::newRow("as the source") << true;
    QTest::newRow("as the output") << false;
  }
  void temporaryWavNamedByTheBatch() {
    QFETCH(bool, asSource);
    const std::string temp = program_ + "temp";
    QVERIFY(QDir().mkpath(QFile::decodeName(temp.c_str())));
    const std::string source = asSource ? TemporaryWavPath() : Tone("tmp100000.wav", 1.5);
    if (asSource) QVERIFY(WriteWav(source, kRate, 2, MakeTone(kRate, 2, kRate * 3 / 2, kTone)));
    ConvFunc.Options.OutputFormat = asSource ? "ogg" : "wav";
    ConvFunc.Options.OutputFolder = asSource ? music_ : temp + "/";
    ConvFunc.Options.WAVFreq = 22050;
    SetList({source});
    MainFunc.ConvertAll();
    CheckTone(asSource ? music_ + "tmp100000.ogg" : TemporaryWavPath(), 1.5);
    if (!asSource) QCOMPARE(ReadWav(TemporaryWavPath()).rate, 22050u);
  }

  // OutputName 3 gives no output path: nothing is converted.
  void unknownNamingConvertsNothing() {
    const std::string source = Tone("a.wav", 1.2);
    ConvFunc.Options.OutputName = 3;
    ConvFunc.Options.Delete = true;
    SetList({source});
    MainFunc.ConvertAll();
    QCOMPARE(FilesIn(music_), std::set<std::string>{"a.wav"});
    QCOMPARE(ConvFunc.Stage, int32_t(STAGE_NONE));
  }

  // A cancel confirmed while a routine runs ends the batch: no partial output, an
  // existing destination untouched, the source kept, the later files not converted.
  void cancelLeavesNoPartialOutput_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("cancelInStage");
    QTest::newRow("wav") << "wav" << 1;
    QTest::newRow("mp3, while decoding") << "mp3" << 1;
    QTest::newRow("mp3, while encoding") << "mp3" << 3;
    QTest::newRow("ogg, while encoding") << "ogg" << 4;
    QTest::newRow("wma, while encoding") << "wma" << 5;
    QTest::newRow("flac, while encoding") << "flac" << 6;
    QTest::newRow("opus, while encoding") << "opus" << 7;
  }
  void cancelLeavesNoPartialOutput() {
    QFETCH(QString, format);
    QFETCH(int, cancelInStage);
    const std::string source = Tone("long.ogg", 8.0);
    const std::string later = Tone("later.wav", 1.2);
    const std::string output = music_ + "long." + format.toStdString();
    WriteText(output, "previous output");
    ConvFunc.Options.OutputFormat = format.toStdString();
    ConvFunc.Options.WAVFreq = 44100;
    ConvFunc.Options.Delete = true;
    int passesInStage = 0;
    EngineHooks.ProcessEvents = [&] {
      if (ConvFunc.Stage == cancelInStage && ++passesInStage == 2) {
        ConvFunc.Stage = STAGE_CANCEL;
        MainFunc.ClearList();  // as the progress window does
      }
    };
    SetList({source, later});
    QVERIFY_THROWS_EXCEPTION(EAbort, MainFunc.ConvertAll());
    QCOMPARE(ConvFunc.Stage, int32_t(STAGE_CANCEL));
    QCOMPARE(Contents(output), QByteArray("previous output"));
    QCOMPARE(FilesIn(music_), (std::set<std::string>{"long.ogg", "later.wav",
                                                      "long." + format.toStdString()}));
    // The next batch starts afresh although Stage still says cancel.
    EngineHooks = TEngineHooks();
    SetList({later});
    MainFunc.ConvertAll();
    QCOMPARE(ConvFunc.Stage, int32_t(STAGE_FINISHED));
    CheckTone(music_ + "later." + format.toStdString(), 1.2);
  }

  // Replacing an output keeps the permission bits the user gave it; a symbolic link at the
  // output's name is replaced itself, and the file it led to stays as it was.
  void replacedOutputKeepsWhatTheUserSet_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("throughLink");
    QTest::newRow("wav to wav, moved into place") << "a.wav" << "wav" << true;
    QTest::newRow("ogg to wav, decoded into place") << "a.ogg" << "wav" << false;
    QTest::newRow("wav to mp3") << "a.wav" << "mp3" << true;
    QTest::newRow("wav to ogg") << "a.wav" << "ogg" << false;
    QTest::newRow("mp3 to wma") << "a.mp3" << "wma" << true;
  }
  void replacedOutputKeepsWhatTheUserSet() {
    QFETCH(QString, source);
    QFETCH(QString, format);
    QFETCH(bool, throughLink);
    const std::string path = Tone(source.toStdString(), 1.2, 660.0);
    const std::string output = music_ + "Track1." + format.toStdString();
    const std::string kept = throughLink ? music_ + "library/kept." + format.toStdString() : output;
    QVERIFY(QDir().mkpath(QFile::decodeName((music_ + "library").c_str())));
    WriteText(kept, "old output");
    QCOMPARE(chmod(kept.c_str(), 0604), 0);
    if (throughLink)
      QCOMPARE(symlink(("library/kept." + format.toStdString()).c_str(), output.c_str()), 0);
    ConvFunc.Options.OutputFormat = format.toStdString();
    ConvFunc.Options.OutputName = 1;
    SetList({path});
    MainFunc.ConvertAll();

    CheckTone(output, 1.2, 660.0);
    struct stat info {};
    QCOMPARE(lstat(output.c_str(), &info), 0);
    QVERIFY(S_ISREG(info.st_mode));
    if (throughLink) {
      QCOMPARE(Contents(kept), QByteArray("old output"));
      QCOMPARE(FilesIn(music_ + "library"), std::set<std::string>{"kept." + format.toStdString()});
    } else {
      QCOMPARE(info.st_mode & 07777, mode_t(0604));
    }
  }

  // A conversion killed halfway leaves no partial file beside its output nor in the
  // program's temporary folder, and an existing output as it was.
  void killedConversionLeavesNothing_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("killInStage");
    QTest::newRow("decoding straight into a wav output") << "wav" << int(STAGE_DECODING);
    QTest::newRow("decoding into the temporary WAV") << "mp3" << int(STAGE_DECODING);
    QTest::newRow("encoding beside the output") << "ogg" << int(STAGE_OGG);
  }
  void killedConversionLeavesNothing() {
    QFETCH(QString, format);
    QFETCH(int, killInStage);
    if (!TPartialFile(music_ + "probe").Unnamed() || !TPartialFile(program_ + "probe").Unnamed())
      QSKIP("this file system has no unnamed files; stale ones are removed at start-up instead");
    const std::string source = Tone("long.ogg", 6.0);
    const std::string output = music_ + "Track1." + format.toStdString();
    WriteText(output, "previous output");
    ConvFunc.Options.OutputFormat = format.toStdString();
    ConvFunc.Options.OutputName = 1;
    SetList({source});
    int ready[2];
    QCOMPARE(pipe(ready), 0);
    const pid_t child = fork();
    if (child == 0) {
      // Halfway through the stage, tell the parent and wait to be killed.
      int passes = 0;
      EngineHooks.ProcessEvents = [&] {
        if (ConvFunc.Stage != killInStage || ++passes != 3) return;
        const char byte = 1;
        if (write(ready[1], &byte, 1) == 1) pause();
        _exit(1);
      };
      MainFunc.ConvertAll();
      _exit(2);
    }
    close(ready[1]);
    char byte = 0;
    const bool reached = read(ready[0], &byte, 1) == 1;
    close(ready[0]);
    kill(child, SIGKILL);
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY(reached);
    QVERIFY(WIFSIGNALED(status));

    QCOMPARE(Contents(output), QByteArray("previous output"));
    QCOMPARE(FilesIn(music_), (std::set<std::string>{"long.ogg", "Track1." + format.toStdString()}));
    for (const std::string& name : FilesIn(program_ + "temp"))
      QVERIFY2(name == "tmp100000.wav", name.c_str());
  }

  // Where no unnamed file can be made, the hidden partial file of a killed writer stays;
  // the start-up clean-up of the temporary folder removes it, but never the partial file
  // of a writer still alive, nor other files.
  void stalePartialFilesRemoved() {
    const std::string temp = program_ + "temp/";
    QVERIFY(QDir().mkpath(QFile::decodeName(temp.c_str())));
    int ready[2];
    QCOMPARE(pipe(ready), 0);
    const pid_t child = fork();
    if (child == 0) {
      TPartialFile partial(temp + "tmp100000.wav", false);
      const char byte = partial.Created() ? 1 : 0;
      if (write(ready[1], &byte, 1) == 1) pause();
      _exit(1);
    }
    close(ready[1]);
    char byte = 0;
    QCOMPARE(read(ready[0], &byte, 1), ssize_t(1));
    close(ready[0]);
    QCOMPARE(byte, char(1));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    QCOMPARE(FilesIn(temp).size(), size_t(1));
    const std::string stale = *FilesIn(temp).begin();
    QVERIFY2(stale.rfind(".tmp100000.wav.part-", 0) == 0, stale.c_str());

    TPartialFile live(temp + "b.wav", false);
    QVERIFY(live.Created());
    QVERIFY(!live.Unnamed());
    WriteText(temp + ".notes.part-1", "not a partial file");
    WriteText(temp + "song.part-ABCDEF", "not hidden");
    RemoveStalePartialFiles(temp);
    QCOMPARE(FilesIn(temp), (std::set<std::string>{live.Path().substr(temp.size()), ".notes.part-1",
                                                   "song.part-ABCDEF"}));
    QVERIFY(live.Commit());
    QCOMPARE(FilesIn(temp), (std::set<std::string>{"b.wav", ".notes.part-1", "song.part-ABCDEF"}));

    // A long Cyrillic name is shortened between two characters, never inside one.
    std::string longName = "a";  // so that byte 100 falls inside a character
    for (int i = 0; i < 60; ++i) longName += "ж";
    TPartialFile cyrillic(temp + longName + ".wma", false);
    QVERIFY(cyrillic.Created());
    QVERIFY(QUtf8StringView(cyrillic.Path()).isValidUtf8());
  }

  void driveScan() {
    const std::vector<std::string> devices{music_ + "a.cue", music_ + "b.cue", "/dev/sr9"};
    cd_set_drives_for_testing(devices);
    const TCDDrives drives = MainFunc.GetCDDrives();
    QCOMPARE(drives.Drives[0], music_ + "a.cue/");
    QCOMPARE(drives.Drives[1], music_ + "b.cue/");
    QCOMPARE(drives.Drives[2], std::string("/dev/sr9/"));
    for (size_t i = 3; i < drives.Drives.size(); ++i) QVERIFY(drives.Drives[i].empty());
    // Every call scans afresh.
    cd_set_drives_for_testing({"/dev/sr1"});
    QCOMPARE(MainFunc.GetCDDrives().Drives[0], std::string("/dev/sr1/"));
    QVERIFY(MainFunc.GetCDDrives().Drives[1].empty());
  }

  // Mount points of a CD drive count as the drive, also when the mount table names the
  // device through a link.
  void mountedDrive() {
    const std::string device = music_ + "sr0";
    WriteText(device, "");
    QCOMPARE(symlink(device.c_str(), (music_ + "cdrom").c_str()), 0);
    const std::string mounts = music_ + "mounts";
    WriteText(mounts, QByteArray::fromStdString(
                          "/dev/sda1 / ext4 rw 0 0\n" + music_ +
                          "cdrom /media/my\\040disc iso9660 ro,nosuid 0 0\n"
                          "tmpfs /media/other tmpfs rw 0 0\n"));
    TCDDrives drives;
    drives.Drives[0] = device + "/";
    QCOMPARE(CDMountPoints(drives, mounts), std::vector<std::string>{"/media/my disc"});
    QVERIFY(LiesOnCDDrive("/media/my disc/music/a.mp3", drives, mounts));
    QVERIFY(LiesOnCDDrive(device + "/Track03.cda", drives, mounts));
    QVERIFY(!LiesOnCDDrive("/media/my discs/a.mp3", drives, mounts));
    QVERIFY(!LiesOnCDDrive("/media/other/a.mp3", drives, mounts));
    QVERIFY(!LiesOnCDDrive("/home/a.mp3", drives, mounts));
    QVERIFY(!LiesOnCDDrive("/media/my disc/a.mp3", TCDDrives(), mounts));
  }

  // A first entry on a CD drive sends every output of the batch to the program's output
  // folder, later hard-disk entries included, with the warning before each file until
  // the user ticks it off.
  void fallbackFolderForCdSources_data() {
    QTest::addColumn<int>("jobs");
    QTest::newRow("one at a time") << 1;
    QTest::newRow("three at once") << 3;  // the box still comes between files
  }
  void fallbackFolderForCdSources() {
    QFETCH(int, jobs);
    ConvFunc.Options.Jobs = jobs;
    const std::string cue = music_ + "disc.cue";
    QVERIFY(WriteCdImage(cue, {MakeTone(kRate, 2, kRate * 3 / 2, kTone),
                               MakeTone(kRate, 2, kRate * 3 / 2, 880.0)}));
    cd_set_drives_for_testing({cue});
    const std::string hardDisk = Tone("disk.wav", 1.2, 550.0);
    MainFunc.ReadOnlyWarn = true;
    // How many outputs exist when the warning comes: it comes before each file.
    std::vector<size_t> outputsAtWarning;
    UiHooks.ShowReadOnlyWarning = [&] {
      outputsAtWarning.push_back(FilesIn(program_ + "output").size());
      if (outputsAtWarning.size() == 2) MainFunc.ReadOnlyWarn = false;  // "don't show again"
    };
    ConvFunc.Options.OutputFormat = "wav";
    SetList({cue + "/Track01.cda", cue + "/Track02.cda", hardDisk});
    MainFunc.ConvertAll();

    QCOMPARE(outputsAtWarning, (std::vector<size_t>{0, 1}));
    CheckTone(program_ + "output/Track01.wav", 1.5, kTone);
    CheckTone(program_ + "output/Track02.wav", 1.5, 880.0);
    CheckTone(program_ + "output/disk.wav", 1.2, 550.0);
    QCOMPARE(FilesIn(music_), (std::set<std::string>{"disc.cue", "disc.bin", "disk.wav"}));
  }

  // A first entry on a hard disk keeps every output beside its source; a set output folder
  // is used as it is, without a warning and without the fallback folder.
  void noFallbackWhenFirstEntryIsOnDisk_data() {
    QTest::addColumn<bool>("outputFolderSet");
    QTest::newRow("beside the sources") << false;
    QTest::newRow("output folder set") << true;
  }
  void noFallbackWhenFirstEntryIsOnDisk() {
    QFETCH(bool, outputFolderSet);
    const std::string cue = music_ + "disc.cue";
    QVERIFY(WriteCdImage(cue, {MakeTone(kRate, 2, kRate * 3 / 2, kTone),
                               MakeTone(kRate, 2, kRate * 3 / 2, 880.0)}));
    cd_set_drives_for_testing({cue});
    const std::string folder = music_ + "out";
    QVERIFY(QDir().mkpath(QFile::decodeName(folder.c_str())));
    MainFunc.ReadOnlyWarn = true;
    int warnings = 0;
    UiHooks.ShowReadOnlyWarning = [&] { ++warnings; };
    ConvFunc.Options.OutputFormat = "mp3";
    ConvFunc.Options.OutputName = 1;
    if (outputFolderSet) ConvFunc.Options.OutputFolder = folder;
    SetList(outputFolderSet ? std::vector<std::string>{cue + "/Track02.cda", Tone("a.wav", 1.2)}
                            : std::vector<std::string>{Tone("a.wav", 1.2), cue + "/Track02.cda"});
    MainFunc.ConvertAll();
    QCOMPARE(warnings, 0);
    QVERIFY(!Exists(program_ + "output"));
    if (outputFolderSet) {
      CheckTone(folder + "/Track1.mp3", 1.5, 880.0);
      CheckTone(folder + "/Track2.mp3", 1.2);
    } else {
      CheckTone(music_ + "Track1.mp3", 1.2);
      // Beside a track entry there is no folder to write to: nothing is written.
      QCOMPARE(FilesIn(music_), (std::set<std::string>{"disc.cue", "disc.bin", "a.wav", "Track1.mp3"}));
    }
  }

 private:
  int counter_ = 0;
};

QTEST_GUILESS_MAIN(TestJobDriver)
#include "test_jobdriver.moc"
