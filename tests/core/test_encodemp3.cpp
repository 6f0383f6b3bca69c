// EncodeMP3: temporary WAV files written here are encoded and decoded again through the
// audio layer; LAME's own tag frame tells which settings it was given.
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

#include "codecs/convfunc.h"
#include "codecs/encodeprogress.h"
#include "codecs/passhooks.h"
#include "encodercheck.h"
#include "encodertestkit.h"
#include "signalfixture.h"
#include "wavfixture.h"

namespace {

TOptions Mp3Settings(int rate, int chans, bool vbr, int bitrate, int quality) {
  TOptions o = FirstRunOptions();
  o.MP3Freq = rate;
  o.MP3NumChannels = chans;
  o.MP3UseVBR = vbr;
  o.MP3Bitrate = bitrate;
  o.MP3Quality = quality;
  return o;
}

struct TLameTag {
  bool found = false;
  std::string kind;   // "Xing" (VBR) or "Info" (CBR)
  int vbrScale = -1;  // 100 - 10 * VBR quality - algorithm quality
  int method = -1;    // 1 CBR, 3 the VBR mode asked for here
};

TLameTag ReadLameTag(const std::string& mp3) {
  TLameTag t;
  const std::string head = mp3.substr(0, 200);
  size_t at = head.find("Xing");
  if (at == std::string::npos) at = head.find("Info");
  if (at == std::string::npos || at + 130 > mp3.size()) return t;
  const auto* p = reinterpret_cast<const unsigned char*>(mp3.data() + at);
  t.found = true;
  t.kind = mp3.substr(at, 4);
  const unsigned char* scale = p + 8 + 4 + 4 + 100;
  t.vbrScale = (scale[0] << 24) | (scale[1] << 16) | (scale[2] << 8) | scale[3];
  if (std::memcmp(scale + 4, "LAME", 4) == 0) t.method = scale[4 + 9] & 0x0f;
  return t;
}

// Bitrates (kbit/s) of every MPEG-1 layer III frame of the file, in order.
std::vector<int> FrameBitrates(const std::string& mp3) {
  static const int kTable[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
  static const int kRates[4] = {44100, 48000, 32000, 0};
  std::vector<int> out;
  size_t at = 0;
  while (at + 4 <= mp3.size()) {
    const auto* h = reinterpret_cast<const unsigned char*>(mp3.data() + at);
    if (h[0] != 0xff || (h[1] & 0xfe) != 0xfa) break;  // MPEG-1 layer III sync
    const int kbps = kTable[h[2] >> 4];
    const int rate = kRates[(h[2] >> 2) & 3];
    if (kbps == 0 || rate == 0) break;
    out.push_back(kbps);
    at += static_cast<size_t>(144 * kbps * 1000 / rate + ((h[2] >> 1) & 1));
  }
  return out;
}

}  // namespace

class TestEncodeMp3 : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::string Path(const char* name) const { return dir_.filePath(name).toStdString(); }

 private slots:
  void init() { ResetEngine(); }
  void cleanup() { ResetEngine(); }

  void settingsReachLame_data() {
    QTest::addColumn<bool>("vbr");
    QTest::addColumn<int>("bitrate");
    QTest::addColumn<int>("quality");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("vbrScale");
    // The scale is 100 - 10 * VBR quality - 2; CBR keeps LAME's VBR quality 4.
    QTest::newRow("CBR 192, quality not read") << false << 192 << 0 << "Info" << 1 << 58;
    QTest::newRow("CBR 64") << false << 64 << 9 << "Info" << 1 << 58;
    // A 32 kbit/s frame at 44100 Hz is too small to hold LAME's tag: plain frames only.
    QTest::newRow("CBR 32, no room for the tag") << false << 32 << 9 << "" << -1 << -1;
    QTest::newRow("VBR step 5 is VBR quality 4") << true << 0 << 5 << "Xing" << 3 << 58;
    QTest::newRow("VBR step 1 is VBR quality 8") << true << 0 << 1 << "Xing" << 3 << 18;
    QTest::newRow("VBR step 9 is VBR quality 0") << true << 0 << 9 << "Xing" << 3 << 98;
  }
  void settingsReachLame() {
    QFETCH(bool, vbr);
    QFETCH(int, bitrate);
    QFETCH(int, quality);
    QFETCH(QString, kind);
    QFETCH(int, method);
    QFETCH(int, vbrScale);
    const std::string wav = Path("map.wav"), mp3 = Path("map.mp3");
    QVERIFY(WriteWav(wav, 44100, 2, TestSignal(44100, 2, 22050)));
    QCOMPARE(ConvFunc.EncodeMP3(wav, mp3, Mp3Settings(44100, 2, vbr, bitrate, quality)), 0);
    QCOMPARE(ConvFunc.Stage, int32_t(STAGE_MP3));
    const std::string bytes = ReadWholeFile(mp3);
    const TLameTag tag = ReadLameTag(bytes);
    QCOMPARE(tag.found, !kind.isEmpty());
    QCOMPARE(QString::fromStdString(tag.kind), kind);
    QCOMPARE(tag.method, method);
    QCOMPARE(tag.vbrScale, vbrScale);
    if (!vbr) {
      const std::vector<int> rates = FrameBitrates(bytes);
      QVERIFY(rates.size() > 15);
      for (int r : rates) QCOMPARE(r, bitrate);
    }
  }

  // Length exact to the sample, pitch, channel count and rate survive the round trip.
  void decodesToTheSource_data() {
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("chans");
    QTest::addColumn<bool>("vbr");
    QTest::addColumn<int>("extraBytes");  // a trailing part smaller than one frame
    QTest::newRow("44100 stereo CBR") << 44100 << 2 << false << 0;
    QTest::newRow("48000 stereo VBR, 2 stray bytes") << 48000 << 2 << true << 2;
    QTest::newRow("32000 mono VBR, 1 stray byte") << 32000 << 1 << true << 1;
    QTest::newRow("44100 mono CBR") << 44100 << 1 << false << 0;
  }
  void decodesToTheSource() {
    QFETCH(int, rate);
    QFETCH(int, chans);
    QFETCH(bool, vbr);
    QFETCH(int, extraBytes);
    const std::string wav = Path("round.wav"), mp3 = Path("round.mp3");
    const uint64_t frames = static_cast<uint64_t>(rate) * 2 + 333;
    const auto source = TestSignal(static_cast<uint32_t>(rate), static_cast<uint16_t>(chans), frames);
    QVERIFY(WriteWav(wav, static_cast<uint32_t>(rate), static_cast<uint16_t>(chans), source));
    if (extraBytes) {
      std::string content = ReadWholeFile(wav);
      content.append(static_cast<size_t>(extraBytes), '\x7f');
      QVERIFY(WriteWholeFile(wav, content));
    }
    QCOMPARE(ConvFunc.EncodeMP3(wav, mp3, Mp3Settings(rate, chans, vbr, 128, 6)), 0);

    const TDecodedFile d = DecodeThroughAudioLayer(mp3);
    QVERIFY(d.ok);
    QCOMPARE(d.rate, static_cast<uint32_t>(rate));
    QCOMPARE(d.channels, static_cast<uint16_t>(chans));
    QCOMPARE(d.frames(), frames);
    const uint16_t chirp = static_cast<uint16_t>(chans - 1);
    const TLag lag = BestLag(source, static_cast<uint16_t>(chans), chirp, d.samples, d.channels,
                             chirp, static_cast<uint64_t>(rate) / 2, 4096, 1200);
    QCOMPARE(lag.lag, 0);
    QVERIFY2(lag.correlation > 0.9, qPrintable(QString::number(lag.correlation)));
    if (chans == 2) {
      const double pitch = EstimateFrequency(d.samples, 2, 0, static_cast<uint32_t>(rate));
      QVERIFY2(std::abs(pitch - 440.0) < 4.0, qPrintable(QString::number(pitch)));
    }
  }

  void higherVbrQualityMakesLargerFiles() {
    const std::string wav = Path("vbr.wav");
    QVERIFY(WriteWav(wav, 44100, 2, TestSignal(44100, 2, 44100 * 2)));
    qint64 previous = 0;
    for (int quality : {1, 5, 9}) {
      const std::string mp3 = Path("vbr.mp3");
      QCOMPARE(ConvFunc.EncodeMP3(wav, mp3, Mp3Settings(44100, 2, true, 0, quality)), 0);
      const auto size = static_cast<qint64>(ReadWholeFile(mp3).size());
      QVERIFY2(size > previous, qPrintable(QString("step %1: %2 bytes").arg(quality).arg(size)));
      previous = size;
    }
  }

  void progressThreshold_data() {
    QTest::addColumn<qulonglong>("done");
    QTest::addColumn<qulonglong>("size");
    QTest::addColumn<bool>("whole");
    QTest::newRow("990000 of 1000000") << 990000ull << 1000000ull << true;
    QTest::newRow("989999 of 1000000") << 989999ull << 1000000ull << false;
    QTest::newRow("nothing yet") << 0ull << 1000000ull << false;
    QTest::newRow("all but the header") << 999956ull << 1000000ull << true;
  }
  void progressThreshold() {
    QFETCH(qulonglong, done);
    QFETCH(qulonglong, size);
    QFETCH(bool, whole);
    const float f = EncodedFraction(done, size);
    QCOMPARE(f == 1.0f, whole);
    if (!whole) QCOMPARE(f, static_cast<float>(static_cast<double>(done) / size));
  }

  // A temporary WAV of exactly 1000000 bytes: the last pass counts the whole file.
  void countersReachTheEnd() {
    const std::string wav = Path("count.wav"), mp3 = Path("count.mp3");
    const uint64_t frames = (1000000 - 44) / 4;
    QVERIFY(WriteWav(wav, 44100, 2, TestSignal(44100, 2, frames)));
    QCOMPARE(ReadWholeFile(wav).size(), size_t(1000000));
    ConvFunc.TotalLength = 20;
    ConvFunc.TotalPosition = 7;
    std::vector<int32_t> seen;
    EngineHooks.ProcessEvents = [&] { seen.push_back(ConvFunc.CurrentProgress); };
    QCOMPARE(ConvFunc.EncodeMP3(wav, mp3, Mp3Settings(44100, 2, false, 128, 5)), 0);
    QCOMPARE(ConvFunc.CurrentLength, 5);
    QCOMPARE(ConvFunc.CurrentPosition, 5);
    QCOMPARE(ConvFunc.CurrentProgress, 100);
    QCOMPARE(ConvFunc.TotalPosition, 12);
    QCOMPARE(ConvFunc.TotalProgress, 60);
    QVERIFY(seen.size() > 50);
    QCOMPARE(seen.front(), 0);
    QVERIFY(std::is_sorted(seen.begin(), seen.end()));
  }

  void shortWavShowsNoProgress() {
    const std::string wav = Path("short.wav"), mp3 = Path("short.mp3");
    QVERIFY(WriteWav(wav, 44100, 1, TestSignal(44100, 1, 30000)));
    ConvFunc.TotalLength = 10;
    bool moved = false;
    EngineHooks.ProcessEvents = [&] { moved = moved || ConvFunc.CurrentProgress != 0; };
    QCOMPARE(ConvFunc.EncodeMP3(wav, mp3, Mp3Settings(44100, 1, false, 64, 5)), 0);
    QCOMPARE(ConvFunc.CurrentLength, 0);
    QCOMPARE(ConvFunc.CurrentPosition, 0);
    QCOMPARE(ConvFunc.CurrentProgress, 0);
    QVERIFY(!moved);
    QCOMPARE(DecodeThroughAudioLayer(mp3).frames(), uint64_t(30000));
  }

  void cancelLeavesTheOldDestination() {
    QTemporaryDir dir;
    const std::string wav = dir.filePath("c.wav").toStdString();
    const std::string mp3 = dir.filePath("c.mp3").toStdString();
    QVERIFY(WriteWav(wav, 44100, 2, TestSignal(44100, 2, 44100 * 3)));
    QVERIFY(WriteWholeFile(mp3, "an older file"));
    const TCancelRun run = RunWithCancelAt(4, [&] {
      ConvFunc.EncodeMP3(wav, mp3, Mp3Settings(44100, 2, false, 192, 5));
    });
    QVERIFY(run.aborted);
    QCOMPARE(run.passes, 4);
    QCOMPARE(ReadWholeFile(mp3), std::string("an older file"));
    QCOMPARE(FolderEntries(dir.path().toStdString()), (std::vector<std::string>{"c.mp3", "c.wav"}));
    // Everything was released: the next file encodes normally.
    ResetEngine();
    QCOMPARE(ConvFunc.EncodeMP3(wav, mp3, Mp3Settings(44100, 2, false, 192, 5)), 0);
    QCOMPARE(DecodeThroughAudioLayer(mp3).frames(), uint64_t(44100 * 3));
  }

  void badInputGivesAFailureAndNoFile_data() {
    QTest::addColumn<QString>("wavKind");   // "good", "missing", "empty", "headerOnly", "halfFrame"
    QTest::addColumn<QString>("destKind");  // "plain", "noFolder", "underFile"
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("chans");
    QTest::addColumn<bool>("vbr");
    QTest::addColumn<int>("bitrate");
    QTest::addColumn<int>("quality");
    QTest::addColumn<int>("result");
    QTest::newRow("missing WAV") << "missing" << "plain" << 44100 << 2 << false << 128 << 5 << -2;
    QTest::newRow("empty WAV") << "empty" << "plain" << 44100 << 2 << false << 128 << 5 << -2;
    QTest::newRow("header only") << "headerOnly" << "plain" << 44100 << 2 << false << 128 << 5 << -2;
    QTest::newRow("less than a frame") << "halfFrame" << "plain" << 44100 << 2 << false << 128 << 5 << -2;
    QTest::newRow("rate 0") << "good" << "plain" << 0 << 2 << false << 128 << 5 << -3;
    QTest::newRow("no channels") << "good" << "plain" << 44100 << 0 << false << 128 << 5 << -3;
    QTest::newRow("three channels") << "good" << "plain" << 44100 << 3 << false << 128 << 5 << -3;
    QTest::newRow("bitrate 0") << "good" << "plain" << 44100 << 2 << false << 0 << 5 << -3;
    QTest::newRow("VBR step 0") << "good" << "plain" << 44100 << 2 << true << 128 << 0 << -3;
    QTest::newRow("VBR step 12") << "good" << "plain" << 44100 << 2 << true << 128 << 12 << -3;
    QTest::newRow("rate LAME lacks") << "good" << "plain" << 12345 << 2 << false << 128 << 5 << -3;
    QTest::newRow("folder missing") << "good" << "noFolder" << 44100 << 2 << false << 128 << 5 << -3;
    QTest::newRow("folder is a file") << "good" << "underFile" << 44100 << 2 << false << 128 << 5 << -3;
  }
  void badInputGivesAFailureAndNoFile() {
    QFETCH(QString, wavKind);
    QFETCH(QString, destKind);
    QFETCH(int, rate);
    QFETCH(int, chans);
    QFETCH(bool, vbr);
    QFETCH(int, bitrate);
    QFETCH(int, quality);
    QFETCH(int, result);
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    std::string wav, mp3;
    QVERIFY(MakeBadInputCase(folder, wavKind, destKind, "mp3", &wav, &mp3));
    const auto before = FolderEntries(folder);
    QCOMPARE(ConvFunc.EncodeMP3(wav, mp3, Mp3Settings(rate, chans, vbr, bitrate, quality)), result);
    QCOMPARE(FolderEntries(folder), before);
  }

  void fullDiskGivesAFailureAndNoFile() {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    QVERIFY(WriteWav(folder + "/in.wav", 44100, 2, TestSignal(44100, 2, 44100 * 3)));
    QVERIFY(WriteWholeFile(folder + "/out.mp3", "an older file"));
    const TLimitedRun run = RunWithFileSizeLimit(30000, [&] {
      return ConvFunc.EncodeMP3(folder + "/in.wav", folder + "/out.mp3",
                                Mp3Settings(44100, 2, false, 192, 5));
    });
    QVERIFY(run.limited);
    QCOMPARE(run.result, -3);
    QCOMPARE(FolderEntries(folder), (std::vector<std::string>{"in.wav", "out.mp3"}));
    QCOMPARE(ReadWholeFile(folder + "/out.mp3"), std::string("an older file"));
  }

  void ffprobeReadsTheFile() {
    if (!HaveTool("ffprobe")) QSKIP("ffprobe is not installed");
    const std::string wav = Path("probe.wav"), mp3 = Path("probe.mp3");
    QVERIFY(WriteWav(wav, 48000, 1, TestSignal(48000, 1, 48000 * 2)));
    QCOMPARE(ConvFunc.EncodeMP3(wav, mp3, Mp3Settings(48000, 1, false, 96, 5)), 0);
    const TProbeResult p = ProbeWithFfprobe(mp3);
    QVERIFY(p.ran);
    QCOMPARE(p.formatName, std::string("mp3"));
    QCOMPARE(p.codecName, std::string("mp3"));
    QCOMPARE(p.sampleRate, 48000);
    QCOMPARE(p.channels, 1);
    QVERIFY2(std::abs(p.duration - 2.0) < 0.05, qPrintable(QString::number(p.duration)));
    QVERIFY2(std::abs(p.bitRate - 96000) < 5000, qPrintable(QString::number(p.bitRate)));
  }
};

QTEST_GUILESS_MAIN(TestEncodeMp3)
#include "test_encodemp3.moc"
