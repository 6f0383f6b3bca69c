// config.cfg: round trips, the reading quirks users' files depend on, and damaged files.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "codecs/convfunc.h"
#include "main/config.h"
#include "main/econverterror.h"
#include "main/mainfunc.h"
#include "main/paths.h"

namespace {

// Values as a file would hold them: every field distinct from the "before" values.
TOptions Stored() {
  TOptions o;
  o.OutputFormat = "ogg";
  o.OutputFolder = "/home/user/Музыка/out";
  o.OutputName = 2;
  o.Delete = true;
  o.WAVFreq = 22050;
  o.WAVNumChannels = 1;
  o.OGGFreq = 48000;
  o.OGGNumChannels = 1;
  o.OGGUseVBR = true;
  o.OGGBitrate = 498;
  o.OGGQuality = 9;
  o.MP3Freq = 32000;
  o.MP3NumChannels = 1;
  o.MP3Bitrate = 320;
  o.MP3UseVBR = true;
  o.MP3Quality = 3;
  o.WMABitrate = 64;
  o.WMAUseVBR = true;
  o.WMAQuality = 2;
  return o;
}

// What the settings hold before reading.
TOptions Before() {
  TOptions o;
  o.OutputFormat = "wma";
  o.OutputFolder = "/before";
  o.OutputName = 1;
  o.Delete = false;
  o.WAVFreq = 11025;
  o.WAVNumChannels = 2;
  o.OGGFreq = 32000;
  o.OGGNumChannels = 2;
  o.OGGUseVBR = false;
  o.OGGBitrate = 64;
  o.OGGQuality = 1;
  o.MP3Freq = 48000;
  o.MP3NumChannels = 2;
  o.MP3Bitrate = 32;
  o.MP3UseVBR = false;
  o.MP3Quality = 8;
  o.WMABitrate = 192;
  o.WMAUseVBR = false;
  o.WMAQuality = 5;
  return o;
}

// The 27 lines of a stored file, without line ends.
std::vector<std::string> StoredLines() {
  std::vector<std::string> lines;
  const std::string text = BuildConfigText(Stored(), true);
  size_t start = 0;
  for (;;) {
    const size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

std::string Join(const std::vector<std::string>& lines, const std::string& separator) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) text += (i ? separator : "") + lines[i];
  return text;
}

// Copies the fields from `stored` up to (not including) the key on file line `line`;
// the rest from `before`. Lines are 1-based; keys sit on fixed lines.
TOptions ReadUpTo(int line) {
  TOptions o = Before();
  const TOptions s = Stored();
  if (line > 2) o.OutputFormat = s.OutputFormat;
  if (line > 4) o.WAVFreq = s.WAVFreq;
  if (line > 5) o.WAVNumChannels = s.WAVNumChannels;
  if (line > 7) o.OGGFreq = s.OGGFreq;
  if (line > 8) o.OGGNumChannels = s.OGGNumChannels;
  if (line > 9) o.OGGBitrate = s.OGGBitrate;
  if (line > 10) o.OGGUseVBR = s.OGGUseVBR;
  if (line > 11) o.OGGQuality = s.OGGQuality;
  if (line > 13) o.MP3Freq = s.MP3Freq;
  if (line > 14) o.MP3NumChannels = s.MP3NumChannels;
  if (line > 15) o.MP3Bitrate = s.MP3Bitrate;
  if (line > 16) o.MP3UseVBR = s.MP3UseVBR;
  if (line > 17) o.MP3Quality = s.MP3Quality;
  if (line > 19) o.WMABitrate = s.WMABitrate;
  if (line > 20) o.WMAUseVBR = s.WMAUseVBR;
  if (line > 21) o.WMAQuality = s.WMAQuality;
  if (line > 23) o.OutputFolder = s.OutputFolder;
  if (line > 24) o.OutputName = s.OutputName;
  if (line > 25) o.Delete = s.Delete;
  return o;
}

struct QuirkCase {
  const char* name;
  std::string text;              // the whole file
  std::function<void(TOptions&, bool&)> expect;  // from the "before" state
  std::string error;             // expected message, empty when none
};

std::vector<QuirkCase> QuirkCases() {
  const auto withLine = [](int line, const std::string& replacement) {
    auto lines = StoredLines();
    lines[line - 1] = replacement;
    return Join(lines, "\n");
  };
  const auto full = [](TOptions& o, bool& warn) {
    o = Stored();
    warn = true;
  };
  const auto upTo = [](int line) {
    return [line](TOptions& o, bool&) { o = ReadUpTo(line); };
  };
  const auto fullWith = [full](std::function<void(TOptions&)> change) {
    return [full, change](TOptions& o, bool& warn) {
      full(o, warn);
      change(o);
    };
  };
  const std::string folder242(242, 'f');
  std::vector<QuirkCase> cases = {
      {"blank after =", withLine(4, "Freq= 22050"), full, ""},
      {"blank after number", withLine(4, "Freq=22050 "), upTo(4),
       "'22050 ' is not a valid integer value"},
      {"number alone in the bitrate line", withLine(9, "128"),
       fullWith([](TOptions& o) { o.OGGBitrate = 128; }), ""},
      {"key alone", withLine(9, "Bitrate"), upTo(9), "'Bitrate' is not a valid integer value"},
      {"UseVBR 2", withLine(16, "UseVBR=2"), full, ""},
      {"UseVBR 0", withLine(16, "UseVBR=0"),
       fullWith([](TOptions& o) { o.MP3UseVBR = false; }), ""},
      {"UseVBR True", withLine(16, "UseVBR=True"), upTo(16),
       "'True' is not a valid integer value"},
      {"Delete True", withLine(25, "Delete=True"), full, ""},
      {"Delete true", withLine(25, "Delete=true"), full, ""},
      {"Delete 1", withLine(25, "Delete=1"), full, ""},
      {"Delete blanks around -3", withLine(25, "Delete= -3 "), full, ""},
      {"Delete FALSE", withLine(25, "Delete=FALSE"),
       fullWith([](TOptions& o) { o.Delete = false; }), ""},
      {"Delete 0.0", withLine(25, "Delete=0.0"),
       fullWith([](TOptions& o) { o.Delete = false; }), ""},
      {"Delete yes", withLine(25, "Delete=yes"), upTo(25), "'yes' is not a valid boolean value"},
      {"Delete empty", withLine(25, "Delete="), upTo(25), "'' is not a valid boolean value"},
      {"folder holding =", withLine(23, "OutputFolder=D:\\A=B"),
       fullWith([](TOptions& o) { o.OutputFolder = "B"; }), ""},
      {"line end after the last value", BuildConfigText(Stored(), true) + "\n", full, ""},
      {"two line ends after the last value", BuildConfigText(Stored(), true) + "\n\n", full,
       ""},
      {"lone carriage return after the last value", BuildConfigText(Stored(), true) + "\r",
       [](TOptions& o, bool&) { o = Stored(); }, "'1\r' is not a valid boolean value"},
      {"keys and sections renamed",
       [] {
         auto lines = StoredLines();
         for (auto& line : lines) {
           const auto eq = line.find('=');
           line = eq == std::string::npos ? "[Renamed]" : "Key" + line.substr(eq);
         }
         return Join(lines, "\n");
       }(),
       full, ""},
      {"two key lines swapped",
       [] {
         auto lines = StoredLines();
         std::swap(lines[3], lines[4]);
         return Join(lines, "\n");
       }(),
       fullWith([](TOptions& o) {
         o.WAVFreq = Stored().WAVNumChannels;
         o.WAVNumChannels = Stored().WAVFreq;
       }),
       ""},
      {"folder of 242 characters refused", withLine(23, "OutputFolder=" + folder242),
       [](TOptions& o, bool&) {
         o = ReadUpTo(24);
         o.OutputFolder = Before().OutputFolder;
       },
       "'' is not a valid integer value"},
      {"format line of 250 characters without = refused", withLine(2, std::string(250, 'z')),
       fullWith([](TOptions& o) { o.OutputFormat = "wma"; }), ""},
      {"format ending in a carriage return refused",
       withLine(2, "OutputFormat=ogg\r\r"), fullWith([](TOptions& o) { o.OutputFormat = "wma"; }),
       ""},
      {"written on Windows", Join(StoredLines(), "\r\n"), full, ""},
      {"written on Windows, line end after the last value", Join(StoredLines(), "\r\n") + "\r\n",
       full, ""},
      {"lone carriage return kept", withLine(2, "OutputFormat=og\rg"),
       fullWith([](TOptions& o) { o.OutputFormat = "og\rg"; }), ""},
      {"ends after line 10",
       [] {
         auto lines = StoredLines();
         lines.resize(10);
         return Join(lines, "\n");
       }(),
       upTo(11), ""},
      {"ends inside a section header", Join(StoredLines(), "\n").substr(0, 3), upTo(1), ""},
      {"empty file", "", upTo(1), ""},
      {"NUL inside a value", withLine(2, std::string("OutputFormat=og\0g", 17)),
       fullWith([](TOptions& o) { o.OutputFormat = "og"; }), ""},
      {"binary line", withLine(4, std::string("\xff\xfe\0Freq=1", 9)), upTo(4),
       "'\xff\xfe' is not a valid integer value"},
      {"overlong section header",
       [] {
         auto lines = StoredLines();
         lines[0] = "[" + std::string(260, 'M') + "]";
         return Join(lines, "\n");
       }(),
       [](TOptions& o, bool&) {
         o = Before();
         o.OutputFormat = "MMMMMMM]";
       },
       "'[WAVOptions]' is not a valid integer value"},
      {"largest integer", withLine(24, "OutputName=2147483647"),
       fullWith([](TOptions& o) { o.OutputName = 2147483647; }), ""},
      {"smallest integer", withLine(24, "OutputName=-2147483648"),
       fullWith([](TOptions& o) { o.OutputName = -2147483647 - 1; }), ""},
      {"signed with blanks before", withLine(24, "OutputName=  +0002"), full, ""},
      {"above 32 bits", withLine(24, "OutputName=2147483648"), upTo(24),
       "'2147483648' is not a valid integer value"},
      {"below 32 bits", withLine(24, "OutputName=-2147483649"), upTo(24),
       "'-2147483649' is not a valid integer value"},
      {"far above 32 bits", withLine(24, "OutputName=99999999999999999999999"), upTo(24),
       "'99999999999999999999999' is not a valid integer value"},
      {"sign alone", withLine(24, "OutputName=-"), upTo(24), "'-' is not a valid integer value"},
      {"hexadecimal", withLine(24, "OutputName=0x10"), upTo(24),
       "'0x10' is not a valid integer value"},
  };
  return cases;
}

// Acts as the unprivileged user "nobody" while it lives, when the test runs as root.
class TActAsNobody {
 public:
  TActAsNobody() : active_(::geteuid() == 0 && ::seteuid(65534) == 0) {}
  ~TActAsNobody() {
    if (active_ && ::seteuid(0) != 0) std::abort();
  }
  TActAsNobody(const TActAsNobody&) = delete;
  TActAsNobody& operator=(const TActAsNobody&) = delete;

 private:
  bool active_;
};

std::string ReadFileBytes(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll().toStdString();
}

void WriteFileBytes(const QString& path, const std::string& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(f.write(bytes.data(), static_cast<qint64>(bytes.size())),
           static_cast<qint64>(bytes.size()));
}

}  // namespace

class TestConfig : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString ConfigFile() const { return dir_.filePath("config.cfg"); }

  // Reads config.cfg; returns the conversion error's message, or empty.
  std::string Read() {
    try {
      MainFunc.ReadConfig();
    } catch (const EConvertError& e) {
      return e.what();
    }
    return {};
  }

 private slots:
  void init() {
    QVERIFY(dir_.isValid());
    SetProgramDirForTesting(QFile::encodeName(dir_.path()).toStdString());
    QFile::remove(ConfigFile());
    ConvFunc.Options = Before();
    MainFunc.ReadOnlyWarn = false;
  }
  void cleanupTestCase() { SetProgramDirForTesting(""); }

  void writesTheExactLayout() {
    ConvFunc.Options = Stored();
    ConvFunc.Options.OutputFolder = "/a b/100%d %s";
    ConvFunc.Options.OGGBitrate = -7;
    MainFunc.ReadOnlyWarn = false;
    MainFunc.WriteConfig();
    QCOMPARE(ReadFileBytes(ConfigFile()),
             std::string("[Main]\nOutputFormat=ogg\n[WAVOptions]\nFreq=22050\nNumChannels=1\n"
                         "[OGGOptions]\nFreq=48000\nNumChannels=1\nBitrate=-7\nUseVBR=1\n"
                         "Quality=9\n[MP3Options]\nFreq=32000\nNumChannels=1\nBitrate=320\n"
                         "UseVBR=1\nQuality=3\n[WMAOptions]\nBitrate=64\nUseVBR=1\nQuality=2\n"
                         "[Files]\nOutputFolder=/a b/100%d %s\nOutputName=2\nDelete=1\n"
                         "[Messages]\nReadOnlyWarn=0"));
    QCOMPARE(FlagToText(true), std::string("1"));
    QCOMPARE(FlagToText(false), std::string("0"));
  }

  void roundTrip_data() {
    QTest::addColumn<QByteArray>("folder");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<bool>("warn");
    QTest::newRow("empty folder") << QByteArray() << QByteArray("mp3") << true;
    std::string cyrillic = "/мой диск/\"кавычки\" 100%";
    while (cyrillic.size() < 241) cyrillic += cyrillic.size() + 2 <= 241 ? "ж" : "x";
    QTest::newRow("241 bytes, Cyrillic, quotes, %")
        << QByteArray::fromStdString(cyrillic) << QByteArray("wav") << false;
    QTest::newRow("bytes that are not UTF-8")
        << QByteArray("/data/\xff\xfe\xc3(/x\x80") << QByteArray("o\xe9g") << true;
    QTest::newRow("241 bytes, format too")
        << QByteArray(241, 'q') << QByteArray(241, 'z') << false;
  }
  void roundTrip() {
    QFETCH(QByteArray, folder);
    QFETCH(QByteArray, format);
    QFETCH(bool, warn);
    QCOMPARE(folder.size() <= 241, true);
    TOptions written = Stored();
    written.OutputFolder = folder.toStdString();
    written.OutputFormat = format.toStdString();
    ConvFunc.Options = written;
    MainFunc.ReadOnlyWarn = warn;
    MainFunc.WriteConfig();
    QCOMPARE(ReadFileBytes(ConfigFile()), BuildConfigText(written, warn));

    ConvFunc.Options = TOptions{};
    MainFunc.ReadOnlyWarn = !warn;
    QCOMPARE(Read(), std::string());
    QVERIFY(ConvFunc.Options == written);
    QCOMPARE(MainFunc.ReadOnlyWarn, warn);
  }

  // The FLAC and Opus sections after the described lines: a file without them reads as the
  // working values and is written back byte for byte; a file with them keeps them, at the
  // working values too; a value changed in the run adds them.
  void flacOpusSections_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("opusBitrateSetInRun");  // 0: nothing changed
    // FLAC rate, channels and level; Opus channels, bitrate and VBR; ReplayGain.
    QTest::addColumn<QList<int>>("read");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QString>("error");
    const QByteArray old = QByteArray::fromStdString(BuildConfigText(Stored(), true));
    const QByteArray defaults =
        "\n[FLACOptions]\nFreq=44100\nNumChannels=2\nLevel=5\n"
        "[OpusOptions]\nNumChannels=2\nBitrate=128\nUseVBR=1";
    const QByteArray own =
        "\n[FLACOptions]\nFreq=22050\nNumChannels=1\nLevel=8\n"
        "[OpusOptions]\nNumChannels=1\nBitrate=64\nUseVBR=0";
    const QList<int> working{44100, 2, 5, 2, 128, 1, 0};
    QTest::newRow("absent") << old << 0 << working << old << "";
    QTest::newRow("absent, line end after the last value")
        << old + "\n" << 0 << working << old << "";
    QTest::newRow("absent, changed in the run")
        << old << 96 << working << old + QByteArray(defaults).replace("128", "96") << "";
    // Lines an editor or the user left after the described ones are not a section: they
    // end the reading, with no error, so the format list keeps its selection.
    QTest::newRow("absent, two blank lines after") << old + "\n\n\n" << 0 << working << old << "";
    QTest::newRow("absent, two note lines after")
        << old + "\n; my settings\nFreq=22050" << 0 << working << old << "";
    QTest::newRow("Opus section only")
        << old + own.mid(own.indexOf("\n[Opus")) << 0 << QList<int>{44100, 2, 5, 1, 64, 0, 0}
        << old + defaults.left(defaults.indexOf("\n[Opus")) + own.mid(own.indexOf("\n[Opus"))
        << "";
    QTest::newRow("present, then blank lines")
        << old + own + "\n\n\n" << 0 << QList<int>{22050, 1, 8, 1, 64, 0, 0} << old + own << "";
    QTest::newRow("present at the working values")
        << old + defaults << 0 << working << old + defaults << "";
    QTest::newRow("present") << old + own << 0 << QList<int>{22050, 1, 8, 1, 64, 0, 0} << old + own
                             << "";
    QTest::newRow("present, written on Windows")
        << QByteArray(old + own).replace("\n", "\r\n") << 0
        << QList<int>{22050, 1, 8, 1, 64, 0, 0} << old + own << "";
    const QByteArray flacOnly = own.left(own.indexOf("\n[Opus"));
    QTest::newRow("FLAC section only")
        << old + flacOnly << 0 << QList<int>{22050, 1, 8, 2, 128, 1, 0}
        << old + flacOnly + defaults.mid(defaults.indexOf("\n[Opus")) << "";
    // The loudness section, with or without them; when read it is written back, off or not.
    const QByteArray loudnessOff = "\n[LoudnessOptions]\nReplayGain=0";
    QTest::newRow("loudness section, off") << old + own + loudnessOff << 0
                                            << QList<int>{22050, 1, 8, 1, 64, 0, 0}
                                            << old + own + loudnessOff << "";
    QTest::newRow("loudness section, by album")
        << old + defaults + "\n[LoudnessOptions]\nReplayGain=2" << 0 << working.mid(0, 6) + QList<int>{2}
        << old + defaults + "\n[LoudnessOptions]\nReplayGain=2" << "";
    QTest::newRow("loudness section alone, by track")
        << old + "\n[LoudnessOptions]\nReplayGain=1\n" << 0 << working.mid(0, 6) + QList<int>{1}
        << old + "\n[LoudnessOptions]\nReplayGain=1" << "";
    // As with the described keys, the keys before a malformed one are taken.
    QTest::newRow("malformed level")
        << old + QByteArray(own).replace("Level=8", "Level=x") << 0
        << QList<int>{22050, 1, 5, 2, 128, 1, 0}
        << old + "\n[FLACOptions]\nFreq=22050\nNumChannels=1\nLevel=5\n"
                 "[OpusOptions]\nNumChannels=2\nBitrate=128\nUseVBR=1"
        << "'x' is not a valid integer value";
  }
  void flacOpusSections() {
    QFETCH(QByteArray, file);
    QFETCH(int, opusBitrateSetInRun);
    QFETCH(QList<int>, read);
    QFETCH(QByteArray, written);
    QFETCH(QString, error);
    WriteFileBytes(ConfigFile(), file.toStdString());
    ConvFunc.Options.OpusBitrate = 256;  // what an earlier read left must not stay
    ConvFunc.Options.ReplayGain = 1;
    QCOMPARE(QString::fromStdString(Read()), error);
    const TOptions& o = ConvFunc.Options;
    QCOMPARE((QList<int>{o.FLACFreq, o.FLACNumChannels, o.FLACLevel, o.OpusNumChannels,
                         o.OpusBitrate, int(o.OpusUseVBR), o.ReplayGain}),
             read);
    if (opusBitrateSetInRun) ConvFunc.Options.OpusBitrate = opusBitrateSetInRun;
    MainFunc.WriteConfig();
    QCOMPARE(QByteArray::fromStdString(ReadFileBytes(ConfigFile())), written);
  }

  // The number of conversions at once, in a section of its own after the others: written
  // only when it was read or differs from its default, and kept as read, also out of range.
  void batchOptionsSection_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("setInRun");  // 0: nothing changed
    QTest::addColumn<int>("read");
    QTest::addColumn<QByteArray>("written");
    const QByteArray old = QByteArray::fromStdString(BuildConfigText(Stored(), true));
    const QByteArray flacOpus =
        "\n[FLACOptions]\nFreq=22050\nNumChannels=1\nLevel=8\n"
        "[OpusOptions]\nNumChannels=1\nBitrate=64\nUseVBR=0";
    const int cores = DefaultBatchJobs();
    const QByteArray atDefault = "\n[BatchOptions]\nJobs=" + QByteArray::number(cores);
    QTest::newRow("absent") << old << 0 << cores << old;
    QTest::newRow("absent, changed in the run")
        << old << cores + 1 << cores << old + "\n[BatchOptions]\nJobs=" + QByteArray::number(cores + 1);
    QTest::newRow("present at the default") << old + atDefault << 0 << cores << old + atDefault;
    QTest::newRow("after the FLAC and Opus sections")
        << old + flacOpus + "\n[BatchOptions]\nJobs=1\n" << 0 << 1
        << old + flacOpus + "\n[BatchOptions]\nJobs=1";
    QTest::newRow("out of range, kept") << old + "\n[BatchOptions]\nJobs=0" << 0 << 0
                                        << old + "\n[BatchOptions]\nJobs=0";
  }
  void batchOptionsSection() {
    QFETCH(QByteArray, file);
    QFETCH(int, setInRun);
    QFETCH(int, read);
    QFETCH(QByteArray, written);
    WriteFileBytes(ConfigFile(), file.toStdString());
    ConvFunc.Options.Jobs = 77;  // what an earlier read left must not stay
    QCOMPARE(QString::fromStdString(Read()), QString());
    QCOMPARE(ConvFunc.Options.Jobs, read);
    QCOMPARE(BatchJobsFor(ConvFunc.Options), std::clamp(read, 1, 2 * DefaultBatchJobs()));
    if (setInRun) ConvFunc.Options.Jobs = setInRun;
    MainFunc.WriteConfig();
    QCOMPARE(QByteArray::fromStdString(ReadFileBytes(ConfigFile())), written);
  }

  void quirks_data() {
    QTest::addColumn<int>("index");
    const auto cases = QuirkCases();
    for (size_t i = 0; i < cases.size(); ++i) {
      QTest::newRow(cases[i].name) << static_cast<int>(i);
    }
  }
  void quirks() {
    QFETCH(int, index);
    const QuirkCase c = QuirkCases()[static_cast<size_t>(index)];
    WriteFileBytes(ConfigFile(), c.text);
    TOptions expected = Before();
    bool expectedWarn = false;
    c.expect(expected, expectedWarn);
    QCOMPARE(Read(), c.error);
    QCOMPARE(ConvFunc.Options.OutputFormat, expected.OutputFormat);
    QCOMPARE(ConvFunc.Options.OutputFolder, expected.OutputFolder);
    QVERIFY(ConvFunc.Options == expected);
    QCOMPARE(MainFunc.ReadOnlyWarn, expectedWarn);
  }

  void missingFileStartsFromWorkingValues() {
    QCOMPARE(Read(), std::string());
    QVERIFY(ConvFunc.Options == FirstRunOptions());
    QVERIFY(MainFunc.ReadOnlyWarn);
    QVERIFY(!QFile::exists(ConfigFile()));
  }

  void randomJunkNeverCrashes() {
    std::mt19937 random(12345);
    for (int round = 0; round < 50; ++round) {
      std::string junk(static_cast<size_t>(random() % 3000), '\0');
      for (char& c : junk) c = static_cast<char>(random() % 256);
      if (round % 2) {
        // Mostly short lines, so many reads reach their conversion.
        for (size_t i = 0; i < junk.size(); i += 1 + random() % 12) junk[i] = '\n';
      }
      WriteFileBytes(ConfigFile(), junk);
      try {
        MainFunc.ReadConfig();
      } catch (const EConvertError&) {
      }
      // Every text read is one line's value: never longer than the read buffer.
      QVERIFY(ConvFunc.Options.OutputFormat.size() <= 255);
      QVERIFY(ConvFunc.Options.OutputFolder.size() <= 255);
    }
  }

  // Whatever a damaged file gave, the file written from it reads back without an error
  // and gives the same settings: no error box at every start.
  void whatIsWrittenReadsBack() {
    std::vector<std::string> files;
    for (const QuirkCase& c : QuirkCases()) files.push_back(c.text);
    std::mt19937 random(2468);
    for (int round = 0; round < 200; ++round) {
      std::string junk(static_cast<size_t>(random() % 1200), '\0');
      for (char& c : junk) c = "=\r\nab1 "[random() % 8];
      files.push_back(BuildConfigText(Stored(), true).substr(0, random() % 400) + junk);
    }
    for (const std::string& file : files) {
      WriteFileBytes(ConfigFile(), file);
      ConvFunc.Options = Before();
      Read();
      const TOptions read = ConvFunc.Options;
      const bool warn = MainFunc.ReadOnlyWarn;
      MainFunc.WriteConfig();
      ConvFunc.Options = TOptions{};
      MainFunc.ReadOnlyWarn = !warn;
      QCOMPARE(Read(), std::string());
      QVERIFY2(ConvFunc.Options == read, file.c_str());
      QCOMPARE(MainFunc.ReadOnlyWarn, warn);
    }
  }

  void writingReplacesTheWholeFile() {
    WriteFileBytes(ConfigFile(), std::string(10000, 'x'));
    ConvFunc.Options = Stored();
    MainFunc.WriteConfig();
    QCOMPARE(ReadFileBytes(ConfigFile()), BuildConfigText(Stored(), false));
    // Nothing but the settings file is left in the folder.
    QCOMPARE(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"config.cfg"});
  }

  void writingWhereNothingCanBeWrittenIsSilent() {
    // The program's folder is missing.
    SetProgramDirForTesting(QFile::encodeName(dir_.filePath("missing/folder")).toStdString());
    MainFunc.WriteConfig();
    QVERIFY(!QFile::exists(dir_.filePath("missing")));
    // config.cfg is a folder: it stays one, and no stray file is left.
    SetProgramDirForTesting(QFile::encodeName(dir_.path()).toStdString());
    QVERIFY(QDir(dir_.path()).mkdir("config.cfg"));
    MainFunc.WriteConfig();
    QVERIFY(QFileInfo(ConfigFile()).isDir());
    QCOMPARE(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    // Reading it finds nothing and changes nothing.
    QCOMPARE(Read(), std::string());
    QVERIFY(ConvFunc.Options == Before());
    QVERIFY(QDir(dir_.path()).rmdir("config.cfg"));
  }

  void fileThatCannotBeWrittenKeepsItsContents() {
    // A settings file made read-only (or, for an unprivileged user, one owned by root)
    // is not replaced, even though the folder would let a new file take its place.
    const std::string old = BuildConfigText(Before(), true);
    WriteFileBytes(ConfigFile(), old);
    const QByteArray file = QFile::encodeName(ConfigFile());
    const QByteArray folder = QFile::encodeName(dir_.path());
    QCOMPARE(::chmod(file.constData(), 0444), 0);
    QCOMPARE(::chmod(folder.constData(), 0777), 0);
    ConvFunc.Options = Stored();
    {
      TActAsNobody nobody;
      MainFunc.WriteConfig();
    }
    QCOMPARE(::chmod(folder.constData(), 0700), 0);
    QCOMPARE(ReadFileBytes(ConfigFile()), old);
    QCOMPARE(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"config.cfg"});
    QCOMPARE(::chmod(file.constData(), 0644), 0);
  }

  void replacedFileKeepsItsOwner() {
    if (::geteuid() != 0) QSKIP("giving a file to another user needs root");
    WriteFileBytes(ConfigFile(), "old");
    const QByteArray file = QFile::encodeName(ConfigFile());
    QCOMPARE(::chown(file.constData(), 65534, 65534), 0);
    ConvFunc.Options = Stored();
    MainFunc.WriteConfig();
    QCOMPARE(ReadFileBytes(ConfigFile()), BuildConfigText(Stored(), false));
    struct stat st {};
    QCOMPARE(::stat(file.constData(), &st), 0);
    QCOMPARE(st.st_uid, uid_t(65534));
    QCOMPARE(st.st_gid, gid_t(65534));
  }

  // The settings file under another name too: both names keep naming the one new file.
  void savingKeepsEveryNameOfTheFile() {
    WriteFileBytes(ConfigFile(), "old");
    const QByteArray file = QFile::encodeName(ConfigFile());
    const QByteArray other = QFile::encodeName(dir_.filePath("backup.cfg"));
    QCOMPARE(::link(file.constData(), other.constData()), 0);
    ConvFunc.Options = Stored();
    MainFunc.WriteConfig();
    QCOMPARE(ReadFileBytes(dir_.filePath("backup.cfg")), BuildConfigText(Stored(), false));
    struct stat a {}, b {};
    QCOMPARE(::stat(file.constData(), &a), 0);
    QCOMPARE(::stat(other.constData(), &b), 0);
    QCOMPARE(a.st_ino, b.st_ino);
    QFile::remove(dir_.filePath("backup.cfg"));
  }

  // Where the file cannot be renamed over, it is written in place rather than not at all.
  void savingWhereTheFileCannotBeRenamedOver_data() {
    QTest::addColumn<bool>("bindMounted");
    QTest::newRow("file bind-mounted into place") << true;
    QTest::newRow("folder where only owners replace files") << false;
  }
  void savingWhereTheFileCannotBeRenamedOver() {
    QFETCH(bool, bindMounted);
    if (::geteuid() != 0) QSKIP("needs root to mount or to act as another user");
    const QString backing = dir_.filePath("elsewhere.cfg");
    WriteFileBytes(bindMounted ? backing : ConfigFile(), "old");
    WriteFileBytes(ConfigFile(), "old");
    const QByteArray file = QFile::encodeName(ConfigFile());
    const QByteArray folder = QFile::encodeName(dir_.path());
    ConvFunc.Options = Stored();
    // Saved by a child process: the mount lives only in its own mount namespace.
    const pid_t child = ::fork();
    if (child == 0) {
      if (bindMounted) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(QFile::encodeName(backing).constData(), file.constData(), nullptr, MS_BIND,
                    nullptr) != 0)
          ::_exit(77);
      } else if (::chmod(folder.constData(), 01777) != 0 || ::chmod(file.constData(), 0666) != 0 ||
                 ::seteuid(65534) != 0) {
        ::_exit(77);
      }
      MainFunc.WriteConfig();
      ::_exit(0);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QCOMPARE(::chmod(folder.constData(), 0700), 0);
    QVERIFY(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) QSKIP("cannot set up the place here");
    QCOMPARE(ReadFileBytes(bindMounted ? backing : ConfigFile()), BuildConfigText(Stored(), false));
    QCOMPARE(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden),
             bindMounted ? (QStringList{"config.cfg", "elsewhere.cfg"}) : QStringList{"config.cfg"});
    QFile::remove(backing);
  }

  void pipeInPlaceOfTheFileDoesNotHang() {
    QVERIFY(::mkfifo(QFile::encodeName(ConfigFile()).constData(), 0644) == 0);
    QCOMPARE(Read(), std::string());
    QVERIFY(ConvFunc.Options == Before());
    QFile::remove(ConfigFile());
  }

  void writesThroughASymbolicLink() {
    const QString target = dir_.filePath("real.cfg");
    WriteFileBytes(target, "old");
    QVERIFY(QFile::link(target, ConfigFile()));
    ConvFunc.Options = Stored();
    MainFunc.WriteConfig();
    QVERIFY(QFileInfo(ConfigFile()).isSymLink());
    QCOMPARE(ReadFileBytes(target), BuildConfigText(Stored(), false));
    QFile::remove(ConfigFile());
    QFile::remove(target);
  }
};

QTEST_GUILESS_MAIN(TestConfig)
#include "test_config.moc"
