// EncodeFLAC and EncodeOpus, one table for both: temporary WAV files written here are encoded
// and judged by the reference decoders (flac -d, opusdec) and ffprobe, besides the audio
// layer; then cancel, bad input and a full disk.
#include <FLAC/metadata.h>

#include <QTemporaryDir>
#include <QtTest>

#include "codecs/convfunc.h"
#include "codecs/passhooks.h"
#include "encodercheck.h"
#include "encodertestkit.h"
#include "wavfixture.h"

namespace {

TOptions Settings(int rate, int chans, int levelOrBitrate, bool vbr) {
  TOptions o = FirstRunOptions();
  o.FLACFreq = rate;
  o.FLACNumChannels = o.OpusNumChannels = chans;
  o.FLACLevel = levelOrBitrate;
  o.OpusBitrate = levelOrBitrate;
  o.OpusUseVBR = vbr;
  return o;
}

int32_t Encode(const QString& format, const std::string& wav, const std::string& out,
               const TOptions& o) {
  return format == "flac" ? ConvFunc.EncodeFLAC(wav, out, o) : ConvFunc.EncodeOpus(wav, out, o);
}

// Sample frames the reference decoder gives back; -1 when it failed.
int64_t ReferenceFrames(const QString& format, const std::string& path, int chans) {
  const std::string raw = path + ".raw";
  std::string ignored;
  const int code =
      format == "flac"
          ? RunTool("flac", {"-d", "-s", "-f", "--force-raw-format", "--endian=little",
                             "--sign=signed", "-o", raw, path}, &ignored)
          : RunTool("opusdec", {"--quiet", "--rate", "48000", path, raw}, &ignored);
  if (code != 0) return -1;
  return static_cast<int64_t>(ReadWholeFile(raw).size() / (2 * static_cast<size_t>(chans)));
}

}  // namespace

class TestEncodeFlacOpus : public QObject {
  Q_OBJECT

 private slots:
  void init() { ResetEngine(); }
  void cleanup() { ResetEngine(); }

  // Every frame comes back, at the set rate and channel count, whatever the length: FLAC
  // sample for sample, Opus (always 48000 Hz) trimmed to the exact length by its pre-skip and
  // end. The stage is the format's own and the progress ends at 100 percent.
  void decodesToExactlyTheWav_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("chans");
    QTest::addColumn<int>("levelOrBitrate");
    QTest::addColumn<bool>("vbr");
    QTest::addColumn<int>("frames");
    QTest::newRow("flac 11025 mono, level 0") << "flac" << 11025 << 1 << 0 << false << 11025 * 2 + 1;
    QTest::newRow("flac 22050 stereo, level 5") << "flac" << 22050 << 2 << 5 << false << 22050 * 3 + 77;
    QTest::newRow("flac 48000 stereo, level 8") << "flac" << 48000 << 2 << 8 << false << 48000 + 4095;
    QTest::newRow("flac, fewer frames than a block") << "flac" << 44100 << 2 << 5 << false << 100;
    QTest::newRow("opus mono 32 constant") << "opus" << 48000 << 1 << 32 << false << 48000 * 2 + 7;
    QTest::newRow("opus stereo 128 variable") << "opus" << 48000 << 2 << 128 << true << 48000 * 3 + 961;
    QTest::newRow("opus stereo 256 constant") << "opus" << 48000 << 2 << 256 << false << 48000;
    QTest::newRow("opus, less than a packet") << "opus" << 48000 << 2 << 96 << true << 500;
  }
  void decodesToExactlyTheWav() {
    QFETCH(QString, format);
    QFETCH(int, rate);
    QFETCH(int, chans);
    QFETCH(int, levelOrBitrate);
    QFETCH(bool, vbr);
    QFETCH(int, frames);
    QTemporaryDir dir;
    const std::string wav = dir.filePath("in.wav").toStdString();
    const std::string out = dir.filePath("out." + format).toStdString();
    const auto signal = TestSignal(uint32_t(rate), uint16_t(chans), uint64_t(frames));
    QVERIFY(WriteWav(wav, uint32_t(rate), uint16_t(chans), signal));
    ConvFunc.TotalLength = 1000;
    QList<int> stages;
    EngineHooks.ProcessEvents = [&] {
      if (stages.isEmpty() || stages.back() != ConvFunc.Stage) stages << ConvFunc.Stage;
    };
    QCOMPARE(Encode(format, wav, out, Settings(rate, chans, levelOrBitrate, vbr)), 0);
    QCOMPARE(stages, QList<int>{format == "flac" ? STAGE_FLAC : STAGE_OPUS});
    QCOMPARE(ConvFunc.CurrentLength, frames / rate);
    if (frames >= rate) QCOMPARE(ConvFunc.CurrentProgress, 100);

    const TDecodedFile back = DecodeThroughAudioLayer(out);
    QVERIFY(back.ok);
    QCOMPARE(int(back.rate), rate);
    QCOMPARE(int(back.channels), chans);
    QCOMPARE(back.frames(), uint64_t(frames));
    if (format == "flac") QVERIFY(back.samples == signal);

    if (HaveTool(format == "flac" ? "flac" : "opusdec"))
      QCOMPARE(ReferenceFrames(format, out, chans), int64_t(frames));
    if (HaveTool("ffprobe")) {
      const TProbeResult p = ProbeWithFfprobe(out);
      QVERIFY(p.ran);
      QCOMPARE(p.codecName, format.toStdString());
      QCOMPARE(p.sampleRate, rate);
      QCOMPARE(p.channels, chans);
      // A constant bitrate holds within the Ogg framing's few percent (at the lower rates
      // the headers of a short file weigh more).
      if (format == "opus" && !vbr && levelOrBitrate >= 128)
        QVERIFY2(std::abs(p.bitRate - levelOrBitrate * 1000.0) < levelOrBitrate * 1000.0 * 0.06,
                 qPrintable(QString::number(p.bitRate)));
    }
  }

  // The cover's size and colour depth go into FLAC's PICTURE block, read from the picture's
  // own header; a picture of another kind goes in with them unknown (0).
  void coverGeometryIsRecorded_data() {
    QTest::addColumn<QByteArray>("picture");
    QTest::addColumn<QList<int>>("geometry");  // width, height, depth, colors
    const QByteArray png("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\x01\x2c\0\0\0\xc8\x08\x02\0\0\0", 29);
    QTest::newRow("png, RGB") << png + QByteArray(4, '\0') << QList<int>{300, 200, 24, 0};
    QByteArray indexed = png + QByteArray(4, '\0') + QByteArray("\0\0\0\x0cPLTE", 8) +
                         QByteArray(16, '\x7f');
    indexed[25] = 3;
    QTest::newRow("png, 4 colours") << indexed << QList<int>{300, 200, 24, 4};
    QTest::newRow("jpeg after an APP0 segment")
        << QByteArray("\xff\xd8\xff\xe0\0\x06JFIF\xff\xc0\0\x11\x08\x01\xe0\x02\x80\x03", 21)
               + QByteArray(12, '\x01')
        << QList<int>{640, 480, 24, 0};
    QTest::newRow("gif with a palette")
        << QByteArray("GIF89a\x40\x01\xf0\0\xf7\0\0", 13) + QByteArray(20, '\0')
        << QList<int>{320, 240, 24, 256};
    QTest::newRow("cut short") << QByteArray("\xff\xd8\xff\xe0\0", 5) << QList<int>{0, 0, 0, 0};
  }
  void coverGeometryIsRecorded() {
    QFETCH(QByteArray, picture);
    QFETCH(QList<int>, geometry);
    QTemporaryDir dir;
    const std::string wav = dir.filePath("in.wav").toStdString();
    const std::string out = dir.filePath("out.flac").toStdString();
    QVERIFY(WriteWav(wav, 44100, 2, TestSignal(44100, 2, 4410)));
    ConvFunc.SourceTags = SongTags();
    ConvFunc.SourceTags.cover.mime = "image/x";
    ConvFunc.SourceTags.cover.data.assign(picture.begin(), picture.end());
    const int32_t result = ConvFunc.EncodeFLAC(wav, out, Settings(44100, 2, 5, false));
    ConvFunc.SourceTags = SongTags();
    QCOMPARE(result, 0);
    FLAC__StreamMetadata* block = nullptr;
    FLAC__Metadata_SimpleIterator* blocks = FLAC__metadata_simple_iterator_new();
    if (FLAC__metadata_simple_iterator_init(blocks, out.c_str(), true, false)) {
      do {
        if (FLAC__metadata_simple_iterator_get_block_type(blocks) == FLAC__METADATA_TYPE_PICTURE)
          block = FLAC__metadata_simple_iterator_get_block(blocks);
      } while (!block && FLAC__metadata_simple_iterator_next(blocks));
    }
    FLAC__metadata_simple_iterator_delete(blocks);
    QVERIFY(block);
    const FLAC__StreamMetadata_Picture p = block->data.picture;
    const QByteArray stored(reinterpret_cast<const char*>(p.data), int(p.data_length));
    const QList<int> found{int(p.width), int(p.height), int(p.depth), int(p.colors)};
    FLAC__metadata_object_delete(block);
    QCOMPARE(stored, picture);
    QCOMPARE(found, geometry);
  }

  // A cancel in a pause between passes: no output, an older file in its place untouched;
  // the same call without the cancel then succeeds.
  void cancelLeavesTheOldDestination_data() {
    QTest::addColumn<QString>("format");
    QTest::newRow("flac") << "flac";
    QTest::newRow("opus") << "opus";
  }
  void cancelLeavesTheOldDestination() {
    QFETCH(QString, format);
    QTemporaryDir dir;
    const std::string wav = dir.filePath("c.wav").toStdString();
    const std::string out = dir.filePath("c." + format).toStdString();
    QVERIFY(WriteWav(wav, 48000, 2, TestSignal(48000, 2, 48000 * 2)));
    QVERIFY(WriteWholeFile(out, "an older file"));
    const TOptions o = Settings(48000, 2, format == "flac" ? 5 : 128, true);
    for (int cancelAt : {1, 4}) {
      ResetEngine();
      const TCancelRun run = RunWithCancelAt(cancelAt, [&] { Encode(format, wav, out, o); });
      QVERIFY(run.aborted);
      QCOMPARE(run.passes, cancelAt);
      QCOMPARE(ReadWholeFile(out), std::string("an older file"));
      QCOMPARE(FolderEntries(dir.path().toStdString()),
               (std::vector<std::string>{"c." + format.toStdString(), "c.wav"}));
    }
    ResetEngine();
    QCOMPARE(Encode(format, wav, out, o), 0);
    QCOMPARE(DecodeThroughAudioLayer(out).frames(), uint64_t(48000 * 2));
  }

  // What the encoders refuse leaves no file behind, and an existing one as it was.
  void badInputGivesAFailureAndNoFile_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("wavKind");   // see MakeBadInputCase
    QTest::addColumn<QString>("destKind");
    QTest::addColumn<int>("chans");
    QTest::addColumn<int>("levelOrBitrate");
    QTest::addColumn<int>("result");
    for (const char* f : {"flac", "opus"}) {
      const int setting = QString(f) == "flac" ? 5 : 128;
      QTest::addRow("%s: missing WAV", f) << f << "missing" << "plain" << 2 << setting << -1;
      QTest::addRow("%s: empty WAV", f) << f << "empty" << "plain" << 2 << setting << -1;
      QTest::addRow("%s: header only", f) << f << "headerOnly" << "plain" << 2 << setting << -1;
      QTest::addRow("%s: half a frame", f) << f << "halfFrame" << "plain" << 2 << setting << -1;
      QTest::addRow("%s: no WAV at all", f) << f << "garbage" << "plain" << 2 << setting << -1;
      QTest::addRow("%s: three channels", f) << f << "good" << "plain" << 3 << setting << -1;
      QTest::addRow("%s: folder missing", f) << f << "good" << "noFolder" << 2 << setting << -2;
      QTest::addRow("%s: folder is a file", f) << f << "good" << "underFile" << 2 << setting << -2;
    }
    // The "good" WAV is 44100 Hz: Opus takes 48000 Hz only, FLAC is set to 44100 here.
    QTest::newRow("opus: not 48000 Hz") << "opus" << "good" << "plain" << 2 << 128 << -1;
    QTest::newRow("flac: level 9") << "flac" << "good" << "plain" << 2 << 9 << -1;
    QTest::newRow("flac: level -1") << "flac" << "good" << "plain" << 2 << -1 << -1;
    QTest::newRow("opus: bitrate 0") << "opus" << "good" << "plain" << 2 << 0 << -1;
    QTest::newRow("opus: bitrate above the codec") << "opus" << "good" << "plain" << 2 << 600 << -1;
  }
  void badInputGivesAFailureAndNoFile() {
    QFETCH(QString, format);
    QFETCH(QString, wavKind);
    QFETCH(QString, destKind);
    QFETCH(int, chans);
    QFETCH(int, levelOrBitrate);
    QFETCH(int, result);
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    std::string wav, out;
    QVERIFY(MakeBadInputCase(folder, wavKind, destKind, format.toStdString(), &wav, &out));
    // The Opus rows with a good WAV other than the rate one get a 48000 Hz WAV.
    const bool rateRow = QString(QTest::currentDataTag()).contains("48000");
    if (format == "opus" && wavKind == "good" && !rateRow)
      QVERIFY(WriteWav(wav, 48000, 2, TestSignal(48000, 2, 10000)));
    const auto before = FolderEntries(folder);
    QCOMPARE(Encode(format, wav, out, Settings(44100, chans, levelOrBitrate, true)), result);
    QCOMPARE(FolderEntries(folder), before);
  }

  // A disk that fills up midway fails the conversion and leaves nothing behind.
  void fullDiskGivesAFailureAndNoFile_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("vbr");
    QTest::newRow("flac") << "flac" << false;
    QTest::newRow("opus variable") << "opus" << true;
    QTest::newRow("opus constant") << "opus" << false;
  }
  void fullDiskGivesAFailureAndNoFile() {
    QFETCH(QString, format);
    QFETCH(bool, vbr);
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    QVERIFY(WriteWav(folder + "/in.wav", 48000, 2, TestSignal(48000, 2, 48000 * 3)));
    const TLimitedRun run = RunWithFileSizeLimit(20000, [&] {
      return Encode(format, folder + "/in.wav", folder + "/out." + format.toStdString(),
                    Settings(48000, 2, format == "flac" ? 5 : 128, vbr));
    });
    QVERIFY(run.limited);
    QCOMPARE(run.result, -2);
    QCOMPARE(FolderEntries(folder), (std::vector<std::string>{"in.wav"}));
  }
};

QTEST_GUILESS_MAIN(TestEncodeFlacOpus)
#include "test_encodeflacopus.moc"
