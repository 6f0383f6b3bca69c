// Sources made the way other programs make them, converted to WAV in a batch with deletion
// on: each comes out exactly as long as the reference decoder makes it (oggdec, ffmpeg), with
// its year, and a source that plays for no time fails and stays.
#include <QTemporaryDir>
#include <QtTest>

#include <ogg/ogg.h>

#include <cstring>

#include "codecs/convfunc.h"
#include "encodedfixtures.h"
#include "encodercheck.h"
#include "main/mainfunc.h"
#include "main/paths.h"
#include "modulefixture.h"
#include "runfolders.h"
#include "wavfixture.h"

namespace {

enum class TSource { OggEndInLastPacket, OggEndBeforeLastPacket, Mp3LongSkip, Mp3NothingLeft,
                     ModuleOfNoLength, WmaWithDate };

// The final page's granule position lowered by `frames`, its checksum made anew.
bool LowerLastGranule(const std::string& path, int64_t frames) {
  std::string bytes = ReadWholeFile(path);
  const size_t last = bytes.rfind("OggS");
  if (last == std::string::npos || last + 27 > bytes.size()) return false;
  auto* header = reinterpret_cast<unsigned char*>(&bytes[last]);
  ogg_page page{header, 27 + header[26], nullptr, 0};
  page.body = header + page.header_len;
  page.body_len = static_cast<long>(bytes.size() - last) - page.header_len;
  const int64_t granule = ogg_page_granulepos(&page) - frames;
  for (int b = 0; b < 8; ++b) header[6 + b] = static_cast<unsigned char>(granule >> (8 * b));
  ogg_page_checksum_set(&page);  // the demuxer drops a page whose checksum fails
  return WriteWholeFile(path, bytes);
}

// The encoder delay an MP3's LAME tag declares, set to `frames`: a tag written by another
// program may declare more than the first frame holds.
bool SetLameDelay(const std::string& path, int frames) {
  std::string bytes = ReadWholeFile(path);
  const size_t lame = bytes.find("LAME");
  if (lame == std::string::npos || lame + 24 > bytes.size()) return false;
  auto* delay = reinterpret_cast<unsigned char*>(&bytes[lame + 21]);
  delay[0] = static_cast<unsigned char>(frames >> 4);
  delay[1] = static_cast<unsigned char>((frames & 15) << 4 | (delay[1] & 15));
  return WriteWholeFile(path, bytes);
}

// Frames of 44100 Hz stereo the reference decoder makes of `path`; -1 when it fails.
int64_t ReferenceFrames(const std::string& path, bool ogg) {
  std::string raw;
  const int status = ogg ? RunTool("oggdec", {"-Q", "-R", "-o", "-", path}, &raw)
                         : RunTool("ffmpeg", {"-v", "error", "-i", path, "-f", "s16le", "-"}, &raw);
  return status == 0 ? static_cast<int64_t>(raw.size() / 4) : -1;
}

}  // namespace

class TestForeignSources : public QObject {
  Q_OBJECT
  QTemporaryDir root_;
  int run_ = 0;

 private slots:
  void initTestCase() {
    ConvFunc.Options = FirstRunOptions();
    ConvFunc.Options.OGGFreq = 44100, ConvFunc.Options.OGGNumChannels = 2;
  }
  void cleanupTestCase() { SetProgramDirForTesting(""); }

  void convertsAsTheReferenceDecodes_data() {
    QTest::addColumn<int>("source");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("plays");
    const auto row = [](const char* title, TSource source, const char* name, bool plays) {
      QTest::newRow(title) << int(source) << name << plays;
    };
    row("ogg ending inside its last packet", TSource::OggEndInLastPacket, "a.ogg", true);
    row("ogg ending before its last packet", TSource::OggEndBeforeLastPacket, "b.ogg", true);
    row("mp3 skipping past its first frame", TSource::Mp3LongSkip, "c.mp3", true);
    row("mp3 skipping all it holds", TSource::Mp3NothingLeft, "d.mp3", false);
    row("module of no length", TSource::ModuleOfNoLength, "e.s3m", false);
    row("wma with a plain date attribute", TSource::WmaWithDate, "f.wma", true);
  }
  void convertsAsTheReferenceDecodes() {
    QFETCH(int, source);
    QFETCH(QString, name);
    QFETCH(bool, plays);
    const auto kind = static_cast<TSource>(source);
    const bool ogg = kind == TSource::OggEndInLastPacket || kind == TSource::OggEndBeforeLastPacket;
    if (!HaveTool(ogg ? "oggdec" : "ffmpeg")) QSKIP("the reference decoder is not installed");
    TRunFolders folders;
    QVERIFY(MakeRunFolders(root_.path(), run_++, &folders));
    const std::string path = folders.music + name.toStdString();
    const std::vector<int16_t> tone = MakeTone(44100, 2, 44100, 440.0);
    const std::vector<int16_t> blip(tone.begin(), tone.begin() + 2 * 419);  // 9.5 ms
    const std::vector<int16_t> first(tone.begin(), tone.begin() + 2);
    const std::string wav = folders.music + "tone.wav";
    switch (kind) {
      case TSource::OggEndInLastPacket:
      case TSource::OggEndBeforeLastPacket:
        // Made by the program's own encoder, then ended early as other encoders do.
        QVERIFY(WriteWav(wav, 44100, 2, tone));
        QCOMPARE(ConvFunc.EncodeOGG(wav, path, ConvFunc.Options), 1);
        QVERIFY(std::remove(wav.c_str()) == 0);
        QVERIFY(LowerLastGranule(path, kind == TSource::OggEndInLastPacket ? 300 : 6000));
        break;
      case TSource::Mp3LongSkip:
      case TSource::Mp3NothingLeft:
        // 419 frames, or one, after an encoder delay claimed as longer than a frame.
        QVERIFY(WriteMp3Fixture(path, 44100, 2, kind == TSource::Mp3LongSkip ? blip : first));
        QVERIFY(SetLameDelay(path, 2000));
        break;
      case TSource::ModuleOfNoLength: {
        // Its order list ends before the first pattern.
        QVERIFY(WriteModule(path, TModuleKind::S3m, 8, {{0, 0}}));
        std::string bytes = ReadWholeFile(path);
        bytes[0x60] = '\xFF';
        QVERIFY(WriteWholeFile(path, bytes));
        break;
      }
      case TSource::WmaWithDate:
        QVERIFY(WriteWav(wav, 44100, 2, tone));
        QCOMPARE(RunTool("ffmpeg", {"-v", "error", "-i", wav, "-c:a", "wmav2", "-metadata",
                                    "date=1987", path}, nullptr), 0);
        QVERIFY(std::remove(wav.c_str()) == 0);
        break;
    }
    const int64_t reference = kind == TSource::ModuleOfNoLength ? 0 : ReferenceFrames(path, ogg);
    QVERIFY(reference >= 0);
    QCOMPARE(reference > 0, plays);

    MainFunc.FileList = {path};
    ConvFunc.Options.OutputFormat = "wav";
    ConvFunc.Options.OutputFolder.clear();
    ConvFunc.Options.OutputName = 0;
    ConvFunc.Options.WAVFreq = 44100, ConvFunc.Options.WAVNumChannels = 2;
    ConvFunc.Options.Delete = true;
    MainFunc.ConvertAll();
    ConvFunc.Options.Delete = false;
    MainFunc.FileList.clear();

    const std::string output = folders.music + name.section('.', 0, 0).toStdString() + ".wav";
    if (!plays) {
      // Failed, nothing written, and the source kept although it was to go.
      QCOMPARE(ConvFunc.DecodeResult, DECODE_NO_AUDIO);
      QCOMPARE(FilesIn(folders.music), std::set<std::string>{name.toStdString()});
      return;
    }
    QCOMPARE(FilesIn(folders.music), std::set<std::string>{NamePart(output)});
    const TWavData converted = ReadWav(output);
    QVERIFY(converted.ok);
    QCOMPARE(static_cast<int64_t>(converted.samples.size() / 2), reference);
    if (kind == TSource::WmaWithDate) QCOMPARE(ConvFunc.SourceTags.date, std::string("1987"));
  }
};

QTEST_GUILESS_MAIN(TestForeignSources)
#include "test_foreignsources.moc"
