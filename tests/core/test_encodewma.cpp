// EncodeWMA: temporary WAV files written here are encoded through the audio layer's WMA
// encoder and decoded again.
#include <QTemporaryDir>
#include <QtTest>

extern "C" {
#include <libavformat/avformat.h>
}

#include "codecs/convfunc.h"
#include "codecs/passhooks.h"
#include "encodercheck.h"
#include "encodertestkit.h"
#include "signalfixture.h"
#include "wavfixture.h"

namespace {

TOptions WmaSettings(bool vbr, int bitrate, int quality) {
  TOptions o = FirstRunOptions();
  o.WMAUseVBR = vbr;
  o.WMABitrate = bitrate;
  o.WMAQuality = quality;
  return o;
}

// The bitrate the ASF file announces for its audio stream; -1 if it cannot be read.
int64_t StreamBitrate(const std::string& path) {
  AVFormatContext* ctx = nullptr;
  if (avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) < 0) return -1;
  int64_t rate = -1;
  if (avformat_find_stream_info(ctx, nullptr) >= 0 && ctx->nb_streams == 1)
    rate = ctx->streams[0]->codecpar->bit_rate;
  avformat_close_input(&ctx);
  return rate;
}

}  // namespace

class TestEncodeWma : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::string Path(const char* name) const { return dir_.filePath(name).toStdString(); }

 private slots:
  void init() { ResetEngine(); }
  void cleanup() { ResetEngine(); }

  // Quality steps become 25, 50, 75, 90, 100 percent, which the encoder turns into rising
  // bitrates; without VBR the bitrate is taken as it is and the step is not read.
  void settingsReachTheEncoder_data() {
    QTest::addColumn<bool>("vbr");
    QTest::addColumn<int>("bitrate");
    QTest::addColumn<int>("quality");
    QTest::addColumn<qlonglong>("expected");
    QTest::newRow("step 1") << true << 0 << 1 << 48000ll;
    QTest::newRow("step 2") << true << 0 << 2 << 96000ll;
    QTest::newRow("step 3") << true << 0 << 3 << 144000ll;
    QTest::newRow("step 4") << true << 0 << 4 << 172800ll;
    QTest::newRow("step 5") << true << 0 << 5 << 192000ll;
    QTest::newRow("64 kbit/s, step not read") << false << 64 << 0 << 64000ll;
    QTest::newRow("192 kbit/s") << false << 192 << 9 << 192000ll;
  }
  void settingsReachTheEncoder() {
    QFETCH(bool, vbr);
    QFETCH(int, bitrate);
    QFETCH(int, quality);
    QFETCH(qlonglong, expected);
    const std::string wav = Path("map.wav"), wma = Path("map.wma");
    QVERIFY(WriteWav(wav, 44100, 2, TestSignal(44100, 2, 20000)));
    QCOMPARE(ConvFunc.EncodeWMA(wav, wma, WmaSettings(vbr, bitrate, quality)), 0);
    QCOMPARE(ConvFunc.Stage, int32_t(STAGE_WMA));
    QCOMPARE(StreamBitrate(wma), int64_t(expected));
  }

  void everySampleComesBack() {
    const std::string wav = Path("round.wav"), wma = Path("round.wma");
    const uint64_t frames = 44100 + 12345;
    const auto source = TestSignal(44100, 2, frames);
    QVERIFY(WriteWav(wav, 44100, 2, source));
    QCOMPARE(ConvFunc.EncodeWMA(wav, wma, WmaSettings(false, 128, 0)), 0);
    const TDecodedFile d = DecodeThroughAudioLayer(wma, true);
    QVERIFY(d.ok);
    QCOMPARE(d.rate, 44100u);
    QCOMPARE(d.channels, uint16_t(2));
    QVERIFY2(d.frames() >= frames && d.frames() < frames + 2 * 2048,
             qPrintable(QString::number(d.frames())));
    for (uint64_t from : {uint64_t(0), frames - 4096}) {
      const TLag lag = BestLag(source, 2, 1, d.samples, 2, 1, from, 4096, 2200);
      QCOMPARE(lag.lag, 0);
      QVERIFY2(lag.correlation > 0.8, qPrintable(QString::number(lag.correlation)));
    }
    const double pitch = EstimateFrequency(d.samples, 2, 0, 44100);
    QVERIFY2(std::abs(pitch - 440.0) < 4.0, qPrintable(QString::number(pitch)));
  }

  // Through the decoding step, a 22050 Hz mono source still becomes 44100 Hz stereo WMA.
  void monoSourceBecomesStereo() {
    const std::string src = Path("mono.wav"), tmp = Path("tmp.wav"), wma = Path("mono.wma");
    QVERIFY(WriteWav(src, 22050, 1, MakeTone(22050, 1, 22050, 1000.0)));
    QCOMPARE(ConvFunc.DecodeToWAV(src, tmp, WmaSettings(false, 96, 0), 3), 1);
    QCOMPARE(ConvFunc.EncodeWMA(tmp, wma, WmaSettings(false, 96, 0)), 0);
    const TDecodedFile d = DecodeThroughAudioLayer(wma, true);
    QVERIFY(d.ok);
    QCOMPARE(d.rate, 44100u);
    QCOMPARE(d.channels, uint16_t(2));
    QVERIFY(d.frames() >= 44100);
    for (uint16_t c = 0; c < 2; ++c) {
      const double pitch = EstimateFrequency(d.samples, 2, c, 44100);
      QVERIFY2(std::abs(pitch - 1000.0) < 10.0, qPrintable(QString::number(pitch)));
    }
  }

  // CurrentLength stays as decoding left it; the position comes from the pulled bytes.
  void countersFollowThePulls() {
    const std::string wav = Path("count.wav"), wma = Path("count.wma");
    QVERIFY(WriteWav(wav, 44100, 2, TestSignal(44100, 2, 44100 * 3 + 17640)));  // 3.4 s
    ConvFunc.CurrentLength = 3;
    ConvFunc.TotalLength = 8;
    ConvFunc.TotalPosition = 2;
    std::vector<int32_t> seen;
    EngineHooks.ProcessEvents = [&] { seen.push_back(ConvFunc.CurrentPosition); };
    QCOMPARE(ConvFunc.EncodeWMA(wav, wma, WmaSettings(true, 0, 2)), 0);
    QCOMPARE(ConvFunc.CurrentLength, 3);
    QCOMPARE(ConvFunc.CurrentPosition, 3);
    QCOMPARE(ConvFunc.CurrentProgress, 100);
    QCOMPARE(ConvFunc.TotalPosition, 5);
    QCOMPARE(ConvFunc.TotalProgress, 62);
    // 16384 bytes a pass, perhaps one more pass that finds the end.
    const size_t pulls = (4 * (44100 * 3 + 17640) + 16383) / 16384;
    QVERIFY2(seen.size() == pulls || seen.size() == pulls + 1, qPrintable(QString::number(seen.size())));
    QCOMPARE(seen.front(), 0);
    QVERIFY(std::is_sorted(seen.begin(), seen.end()));
  }

  void shortSourceShowsNoProgress() {
    const std::string wav = Path("short.wav"), wma = Path("short.wma");
    QVERIFY(WriteWav(wav, 44100, 2, TestSignal(44100, 2, 30000)));
    ConvFunc.TotalLength = 5;
    bool moved = false;
    EngineHooks.ProcessEvents = [&] { moved = moved || ConvFunc.CurrentProgress != 0; };
    QCOMPARE(ConvFunc.EncodeWMA(wav, wma, WmaSettings(false, 64, 0)), 0);
    QCOMPARE(ConvFunc.CurrentProgress, 0);
    QCOMPARE(ConvFunc.TotalProgress, 0);
    QVERIFY(!moved);
  }

  // The pause comes before the cancel test: a cancel asked for in the first pause stops the
  // routine before it pulls anything.
  void cancelLeavesTheOldDestination() {
    QTemporaryDir dir;
    const std::string wav = dir.filePath("c.wav").toStdString();
    const std::string wma = dir.filePath("c.wma").toStdString();
    QVERIFY(WriteWav(wav, 44100, 2, TestSignal(44100, 2, 44100 * 2)));
    QVERIFY(WriteWholeFile(wma, "an older file"));
    for (int cancelAt : {1, 3}) {
      ResetEngine();
      const TCancelRun run = RunWithCancelAt(cancelAt, [&] {
        ConvFunc.EncodeWMA(wav, wma, WmaSettings(false, 128, 0));
      });
      QVERIFY(run.aborted);
      QCOMPARE(run.passes, cancelAt);
      QCOMPARE(ReadWholeFile(wma), std::string("an older file"));
      QCOMPARE(FolderEntries(dir.path().toStdString()),
               (std::vector<std::string>{"c.wav", "c.wma"}));
    }
    ResetEngine();
    QCOMPARE(ConvFunc.EncodeWMA(wav, wma, WmaSettings(false, 128, 0)), 0);
    QVERIFY(DecodeThroughAudioLayer(wma, true).frames() >= 44100 * 2);
  }

  void badInputGivesAFailureAndNoFile_data() {
    QTest::addColumn<QString>("wavKind");   // "good", "missing", "empty", "headerOnly", "garbage"
    QTest::addColumn<QString>("destKind");  // "plain", "noFolder", "underFile"
    QTest::addColumn<bool>("vbr");
    QTest::addColumn<int>("bitrate");
    QTest::addColumn<int>("quality");
    QTest::newRow("missing WAV") << "missing" << "plain" << false << 128 << 0;
    QTest::newRow("empty WAV") << "empty" << "plain" << false << 128 << 0;
    QTest::newRow("header only") << "headerOnly" << "plain" << false << 128 << 0;
    QTest::newRow("not audio at all") << "garbage" << "plain" << false << 128 << 0;
    QTest::newRow("quality step 0") << "good" << "plain" << true << 128 << 0;
    QTest::newRow("quality step 6") << "good" << "plain" << true << 128 << 6;
    QTest::newRow("bitrate 0") << "good" << "plain" << false << 0 << 3;
    QTest::newRow("bitrate below the codec") << "good" << "plain" << false << 16 << 3;
    QTest::newRow("negative bitrate") << "good" << "plain" << false << -128 << 3;
    QTest::newRow("folder missing") << "good" << "noFolder" << false << 128 << 0;
    QTest::newRow("folder is a file") << "good" << "underFile" << false << 128 << 0;
  }
  void badInputGivesAFailureAndNoFile() {
    QFETCH(QString, wavKind);
    QFETCH(QString, destKind);
    QFETCH(bool, vbr);
    QFETCH(int, bitrate);
    QFETCH(int, quality);
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    std::string wav, wma;
    QVERIFY(MakeBadInputCase(folder, wavKind, destKind, "wma", &wav, &wma));
    const auto before = FolderEntries(folder);
    QCOMPARE(ConvFunc.EncodeWMA(wav, wma, WmaSettings(vbr, bitrate, quality)), -1);
    QCOMPARE(FolderEntries(folder), before);
  }

  void fullDiskGivesAFailureAndNoFile() {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    QVERIFY(WriteWav(folder + "/in.wav", 44100, 2, TestSignal(44100, 2, 44100 * 3)));
    const TLimitedRun run = RunWithFileSizeLimit(20000, [&] {
      return ConvFunc.EncodeWMA(folder + "/in.wav", folder + "/out.wma",
                                WmaSettings(false, 128, 0));
    });
    QVERIFY(run.limited);
    QCOMPARE(run.result, -1);
    QCOMPARE(FolderEntries(folder), (std::vector<std::string>{"in.wav"}));
  }

  void ffprobeReadsTheFile() {
    if (!HaveTool("ffprobe")) QSKIP("ffprobe is not installed");
    const std::string wav = Path("probe.wav"), wma = Path("probe.wma");
    QVERIFY(WriteWav(wav, 44100, 2, TestSignal(44100, 2, 44100 * 2)));
    QCOMPARE(ConvFunc.EncodeWMA(wav, wma, WmaSettings(true, 0, 3)), 0);
    const TProbeResult p = ProbeWithFfprobe(wma);
    QVERIFY(p.ran);
    QCOMPARE(p.formatName, std::string("asf"));
    QCOMPARE(p.codecName, std::string("wmav2"));
    QCOMPARE(p.sampleRate, 44100);
    QCOMPARE(p.channels, 2);
    QVERIFY2(std::abs(p.duration - 2.0) < 0.15, qPrintable(QString::number(p.duration)));
  }
};

QTEST_GUILESS_MAIN(TestEncodeWma)
#include "test_encodewma.moc"
