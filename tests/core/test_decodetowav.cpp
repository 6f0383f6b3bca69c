// Decoding to WAV: the header, the exact length at every output format, the counters of a
// WAV conversion, the failure codes, and a cancel that leaves nothing half-written.
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/mount.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "audio.h"
#include "channel.h"
#include "codecs/convfunc.h"
#include "codecs/eabort.h"
#include "codecs/passhooks.h"
#include "encodedfixtures.h"
#include "midifixture.h"
#include "modulefixture.h"
#include "wavfixture.h"

namespace {
TOptions Settings(int wavFreq, int wavChannels) {
  TOptions o;
  o.WAVFreq = wavFreq, o.WAVNumChannels = wavChannels;
  o.MP3Freq = 32000, o.MP3NumChannels = 1;
  o.OGGFreq = 48000, o.OGGNumChannels = 2;
  return o;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct TSnapshot {
  int32_t currentPosition, totalPosition, currentProgress, totalProgress;
  bool operator==(const TSnapshot&) const = default;
};
}  // namespace

class TestDecodeToWav : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  std::string Path(const std::string& name) {
    return dir_.filePath(QString::fromStdString(name)).toStdString();
  }
  // The names in the folder, hidden ones included (a partial file is hidden).
  QStringList Names() {
    return QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
  }

 private slots:
  void init() {
    ConvFunc.Stage = STAGE_DECODING;
    ConvFunc.TotalPosition = 0;
    ConvFunc.TotalLength = 0;
    EngineHooks = {};
  }
  void cleanup() {
    EngineHooks = {};
    ConvFunc.Stage = STAGE_NONE;
    // Every exit releases the library.
    QVERIFY(!audio_detail::library_ready());
  }

  void headerAndSizeFields() {
    const std::vector<int16_t> tone = MakeTone(44100, 2, 66150, 440.0, 0.5, true);
    QVERIFY(WriteWav(Path("src.wav"), 44100, 2, tone));
    QCOMPARE(ConvFunc.DecodeToWAV(Path("src.wav"), Path("out.wav"), Settings(44100, 2), 0), 1);
    const std::string bytes = ReadBytes(Path("out.wav"));
    QVERIFY(bytes.size() > 44);
    QCOMPARE(bytes.substr(0, 4), std::string("RIFF"));
    QCOMPARE(bytes.substr(8, 8), std::string("WAVEfmt "));
    QCOMPARE(bytes.substr(16, 4), std::string("\x10\0\0\0", 4));
    QCOMPARE(bytes.substr(36, 4), std::string("data"));
    const TWavData wav = ReadWav(Path("out.wav"));
    QVERIFY(wav.ok);
    QCOMPARE(uint64_t(wav.riffSize), wav.fileSize - 8);
    QCOMPARE(uint64_t(wav.dataSize), wav.fileSize - 44);
    QCOMPARE(wav.format, uint16_t(1));
    QCOMPARE(wav.bits, uint16_t(16));
    // Same rate and channels: every sample passes unchanged, none is lost at the end.
    QVERIFY(wav.samples == tone);
  }

  void headerOfRateAndChannelConversion() {
    QVERIFY(WriteMp3Fixture(Path("48k.mp3"), 48000, 2, MakeTone(48000, 2, 48000, 440.0)));
    QCOMPARE(ConvFunc.DecodeToWAV(Path("48k.mp3"), Path("22k.wav"), Settings(22050, 1), 0), 1);
    const TWavData wav = ReadWav(Path("22k.wav"));
    QCOMPARE(wav.channels, uint16_t(1));
    QCOMPARE(wav.rate, 22050u);
    QCOMPARE(wav.blockAlign, uint16_t(2));
    QCOMPARE(wav.byteRate, 44100u);
    QCOMPARE(wav.bits, uint16_t(16));
    QVERIFY(std::abs(int64_t(wav.frames()) - 22050) <= 1);
    QVERIFY(std::abs(EstimateFrequency(wav.samples, 1, 0, 22050) - 440.0) < 5.0);
  }

  void exactLengthAtEveryFormat_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    for (int rate : {11025, 22050, 32000, 44100, 48000})
      for (int ch : {1, 2})
        QTest::addRow("wav %d Hz %d ch", rate, ch) << 0 << rate << ch;
    for (int mode : {1, 2})
      for (int rate : {32000, 44100, 48000})
        for (int ch : {1, 2})
          QTest::addRow("mode %d %d Hz %d ch", mode, rate, ch) << mode << rate << ch;
    QTest::addRow("wma") << 3 << 44100 << 2;
  }
  void exactLengthAtEveryFormat() {
    QFETCH(int, mode);
    QFETCH(int, rate);
    QFETCH(int, channels);
    // 1.7 s of stereo at 44100; a little over two pulls, so the end is not on a boundary.
    const uint64_t frames = 74970;
    QVERIFY(WriteWav(Path("len.wav"), 44100, 2, MakeTone(44100, 2, frames, 300.0)));
    TOptions o;
    o.WAVFreq = o.MP3Freq = o.OGGFreq = rate;
    o.WAVNumChannels = o.MP3NumChannels = o.OGGNumChannels = channels;
    QCOMPARE(ConvFunc.DecodeToWAV(Path("len.wav"), Path("len-out.wav"), o, mode), 1);
    const TWavData wav = ReadWav(Path("len-out.wav"));
    QCOMPARE(wav.rate, uint32_t(rate));
    QCOMPARE(wav.channels, uint16_t(channels));
    const double expected = double(frames) * rate / 44100.0;
    QVERIFY2(std::abs(double(wav.frames()) - expected) <= 1.0,
             qPrintable(QString("%1 frames, expected %2").arg(wav.frames()).arg(expected)));
    QCOMPARE(ConvFunc.CurrentLength, 1);
  }

  void wmaModeIgnoresTheSettings() {
    QVERIFY(WriteWav(Path("m3.wav"), 22050, 1, MakeTone(22050, 1, 22050, 440.0)));
    QCOMPARE(ConvFunc.DecodeToWAV(Path("m3.wav"), Path("m3-out.wav"), Settings(11025, 1), 3), 1);
    const TWavData wav = ReadWav(Path("m3-out.wav"));
    QCOMPARE(wav.rate, 44100u);
    QCOMPARE(wav.channels, uint16_t(2));
    QCOMPARE(wav.blockAlign, uint16_t(4));
  }

  void everySourceKindKeepsItsWholeLength_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("module") << "module";
    QTest::newRow("midi") << "midi";
  }
  void everySourceKindKeepsItsWholeLength() {
    QFETCH(QString, kind);
    const std::string src = Path(kind == "module" ? "k.xm" : "k.mid");
    if (kind == "module") QVERIFY(WriteModule(src, TModuleKind::Xm, 12, {{0, 0}, {6, 1}}));
    else QVERIFY(WriteMidiFile(src, MidiScale(3)));
    auto channel = kind == "module" ? audio_detail::open_module_channel(src, 44100)
                                    : audio_detail::open_midi_channel(src, 44100);
    QVERIFY(channel);
    QCOMPARE(ConvFunc.DecodeToWAV(src, Path("k-out.wav"), Settings(44100, 2), 0), 1);
    const TWavData wav = ReadWav(Path("k-out.wav"));
    QCOMPARE(wav.frames(), channel->length_bytes / 4);
  }

  // Base 7 of a 20-second batch. A pass pulls 131072 bytes, 0.743 s of 44100 Hz stereo.
  void countersOfWavOutput_data() {
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QList<int>>("currentProgress");
    QTest::addColumn<QList<int>>("totalProgress");
    QTest::addColumn<int>("lastPosition");
    QTest::newRow("2.5 s") << 2.5 << QList<int>{0, 50, 100, 100} << QList<int>{35, 40, 45, 45} << 2;
    // A third of three seconds is 33 percent, not 34.
    QTest::newRow("3.2 s") << 3.2 << QList<int>{0, 33, 66, 66, 100}
                           << QList<int>{35, 40, 45, 45, 50} << 3;
    // Under a second: the percentage has a zero divisor and stays 0.
    QTest::newRow("0.6 s") << 0.6 << QList<int>{0} << QList<int>{35} << 0;
  }
  void countersOfWavOutput() {
    QFETCH(double, seconds);
    QFETCH(QList<int>, currentProgress);
    QFETCH(QList<int>, totalProgress);
    QFETCH(int, lastPosition);
    QVERIFY(WriteWav(Path("cnt.wav"), 44100, 2,
                     MakeTone(44100, 2, uint64_t(seconds * 44100), 440.0)));
    ConvFunc.TotalPosition = 7;
    ConvFunc.TotalLength = 20;
    ConvFunc.CurrentProgress = 99;
    QList<int> seenCurrent, seenTotal;
    int passes = 0;
    // Each pass begins with the event processing; from the second pass on it sees what
    // the previous pass left.
    EngineHooks.ProcessEvents = [&] {
      if (passes++ == 0) {
        QCOMPARE(ConvFunc.CurrentProgress, 0);
        return;
      }
      seenCurrent << ConvFunc.CurrentProgress;
      seenTotal << ConvFunc.TotalProgress;
    };
    QCOMPARE(ConvFunc.DecodeToWAV(Path("cnt.wav"), Path("cnt-out.wav"), Settings(44100, 2), 0), 1);
    seenCurrent << ConvFunc.CurrentProgress;
    seenTotal << ConvFunc.TotalProgress;
    QCOMPARE(seenCurrent, currentProgress);
    QCOMPARE(seenTotal, totalProgress);
    QCOMPARE(ConvFunc.CurrentPosition, lastPosition);
    QCOMPARE(ConvFunc.TotalPosition, 7 + lastPosition);
    QCOMPARE(ConvFunc.CurrentLength, int(seconds));
    QCOMPARE(ReadWav(Path("cnt-out.wav")).frames(), uint64_t(seconds * 44100));
  }

  void encoderModesLeaveThePositionsAlone_data() {
    QTest::addColumn<int>("mode");
    QTest::newRow("mp3") << 1;
    QTest::newRow("ogg") << 2;
    QTest::newRow("wma") << 3;
  }
  void encoderModesLeaveThePositionsAlone() {
    QFETCH(int, mode);
    QVERIFY(WriteWav(Path("enc.wav"), 44100, 2, MakeTone(44100, 2, 44100 * 2, 440.0)));
    ConvFunc.CurrentPosition = 11;
    ConvFunc.TotalPosition = 12;
    ConvFunc.TotalProgress = 13;
    ConvFunc.CurrentProgress = 14;
    QCOMPARE(ConvFunc.DecodeToWAV(Path("enc.wav"), Path("enc-out.wav"), Settings(44100, 2), mode), 1);
    QCOMPARE(ConvFunc.CurrentLength, 2);
    QCOMPARE(ConvFunc.CurrentProgress, 0);
    QCOMPARE(ConvFunc.CurrentPosition, 11);
    QCOMPARE(ConvFunc.TotalPosition, 12);
    QCOMPARE(ConvFunc.TotalProgress, 13);
  }

  void cancelLeavesNoPartialFileAndTheDestinationAsItWas_data() {
    QTest::addColumn<bool>("destinationExists");
    QTest::newRow("new destination") << false;
    QTest::newRow("existing destination") << true;
  }
  void cancelLeavesNoPartialFileAndTheDestinationAsItWas() {
    QFETCH(bool, destinationExists);
    QTemporaryDir own;
    const std::string src = own.filePath("long.wav").toStdString();
    const std::string dst = own.filePath("result.wav").toStdString();
    QVERIFY(WriteWav(src, 44100, 2, MakeTone(44100, 2, 44100 * 4, 440.0)));
    if (destinationExists) QVERIFY(WriteWav(dst, 8000, 1, MakeTone(8000, 1, 800, 100.0)));
    const std::string before = ReadBytes(dst);
    int passes = 0;
    EngineHooks.ProcessEvents = [&] {
      if (++passes == 3) ConvFunc.Stage = STAGE_CANCEL;
    };
    QVERIFY_THROWS_EXCEPTION(EAbort, ConvFunc.DecodeToWAV(src, dst, Settings(44100, 2), 0));
    QCOMPARE(passes, 3);
    const QStringList names = QDir(own.path()).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(names, destinationExists ? QStringList({"long.wav", "result.wav"})
                                      : QStringList({"long.wav"}));
    QCOMPARE(ReadBytes(dst), before);
  }

  void failureCodes_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<int>("wavFreq");
    QTest::addColumn<int>("code");
    QTest::newRow("source no opener takes") << "junk.txt" << "o.wav" << 44100 << -2;
    QTest::newRow("missing source") << "none.wav" << "o.wav" << 44100 << -2;
    QTest::newRow("no mixer for rate 0") << "ok.wav" << "o.wav" << 0 << -2;
    QTest::newRow("destination folder missing") << "ok.wav" << "nofolder/o.wav" << 44100 << -3;
    QTest::newRow("destination is a folder") << "ok.wav" << "" << 44100 << -3;
  }
  void failureCodes() {
    QFETCH(QString, source);
    QFETCH(QString, destination);
    QFETCH(int, wavFreq);
    QFETCH(int, code);
    QVERIFY(WriteWav(Path("ok.wav"), 44100, 1, MakeTone(44100, 1, 4410, 440.0)));
    FILE* f = std::fopen(Path("junk.txt").c_str(), "wb");
    std::fputs("not audio", f);
    std::fclose(f);
    const QStringList before = Names();
    const std::string dst = destination.isEmpty() ? dir_.path().toStdString() + "/"
                                                  : Path(destination.toStdString());
    QCOMPARE(ConvFunc.DecodeToWAV(Path(source.toStdString()), dst, Settings(wavFreq, 1), 0), code);
    QCOMPARE(Names(), before);
  }

  // A WAV that cannot fit on its file system fails before anything is written; one that
  // fits is written whole. The file system is a 1 MiB tmpfs (mounting needs root).
  void wavTooLargeForItsFileSystemFailsFirst() {
    QTemporaryDir own;
    const std::string small = own.filePath("small").toStdString();
    QVERIFY(QDir().mkpath(QString::fromStdString(small)));
    if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0)
      QSKIP("cannot mount a small file system here");
    const auto unmount = qScopeGuard([&] { umount2(small.c_str(), MNT_DETACH); });
    const std::string longer = own.filePath("long.wav").toStdString();
    const std::string shorter = own.filePath("short.wav").toStdString();
    QVERIFY(WriteWav(longer, 44100, 2, MakeTone(44100, 2, 44100 * 6, 440.0)));  // 1 MiB
    QVERIFY(WriteWav(shorter, 44100, 2, MakeTone(44100, 2, 44100 * 5, 440.0)));
    int passes = 0;
    EngineHooks.ProcessEvents = [&] { ++passes; };
    QCOMPARE(ConvFunc.DecodeToWAV(longer, small + "/out.wav", Settings(44100, 2), 0), -3);
    QCOMPARE(passes, 0);  // not a sample decoded
    QCOMPARE(QDir(QString::fromStdString(small)).entryList(QDir::Files | QDir::Hidden),
             QStringList());
    QCOMPARE(ConvFunc.DecodeToWAV(shorter, small + "/out.wav", Settings(44100, 2), 0), 1);
    QCOMPARE(ReadBytes(small + "/out.wav"), ReadBytes(shorter));
  }

  void awkwardNames_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("spaces") << "my song  two.wav";
    QTest::newRow("cyrillic") << "Песня №1.wav";
    QTest::newRow("quotes") << "it's \"quoted\" «x».wav";
  }
  void awkwardNames() {
    QFETCH(QString, name);
    const std::string src = Path(name.toStdString());
    const std::string dst = Path(("out " + name).toStdString());
    QVERIFY(WriteWav(src, 22050, 1, MakeTone(22050, 1, 11025, 440.0)));
    QCOMPARE(ConvFunc.DecodeToWAV(src, dst, Settings(22050, 1), 0), 1);
    QCOMPARE(ReadWav(dst).frames(), uint64_t(11025));
  }

  void overwritesAnExistingDestinationAndEvenItsOwnSource() {
    const std::vector<int16_t> tone = MakeTone(44100, 2, 50000, 440.0);
    QVERIFY(WriteWav(Path("self.wav"), 44100, 2, tone));
    QVERIFY(WriteWav(Path("old.wav"), 8000, 1, MakeTone(8000, 1, 100, 100.0)));
    QCOMPARE(ConvFunc.DecodeToWAV(Path("self.wav"), Path("old.wav"), Settings(44100, 2), 0), 1);
    QVERIFY(ReadWav(Path("old.wav")).samples == tone);
    // Written over the file being read: the source is read whole before it is replaced.
    QCOMPARE(ConvFunc.DecodeToWAV(Path("self.wav"), Path("self.wav"), Settings(44100, 2), 0), 1);
    QVERIFY(ReadWav(Path("self.wav")).samples == tone);
  }
};

QTEST_GUILESS_MAIN(TestDecodeToWav)
#include "test_decodetowav.moc"
