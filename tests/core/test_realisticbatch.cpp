// Whole batches at the length of real songs, headless through the job driver: three sources
// of about three minutes whose rates differ from the settings, one of them MIDI, converted
// to each output format. Every output is there, ffprobe reads it at the set rate and channel
// count, and it holds exactly the source's length at the new rate.
#include <QDir>
#include <QtTest>

extern "C" {
#include <libavutil/mathematics.h>
}

#include "audio.h"
#include "codecs/convfunc.h"
#include "codecs/passhooks.h"
#include "encodercheck.h"
#include "main/mainfunc.h"
#include "main/uihooks.h"
#include "midifixture.h"
#include "runfolders.h"
#include "wavfixture.h"

namespace {

struct TSource {
  std::string path;
  uint32_t rate = 0;
  uint64_t frames = 0;
};

// Frames of a source as the audio layer opens it (MIDI is rendered at 44100 Hz).
TSource Measure(const std::string& path) {
  TSource s{path};
  if (audio_init(0, 44100, 0, nullptr, nullptr) == 0) return s;
  const uint32_t handle = OpenSource(path, AUDIO_FLAG_DECODE, AUDIO_FLAG_DECODE);
  AUDIO_CHANNELINFO info;
  if (handle != 0 && audio_get_info(handle, &info) == 1) {
    s.rate = info.freq;
    s.frames = audio_get_length(handle) / (uint64_t{info.chans} * 2);
  }
  audio_free();
  return s;
}

}  // namespace

class TestRealisticBatch : public QObject {
  Q_OBJECT

  QTemporaryDir root_;
  TRunFolders folders_;
  std::vector<TSource> sources_;

 private slots:
  void initTestCase() {
    QVERIFY(root_.isValid());
    QVERIFY(MakeRunFolders(root_.path(), 0, &folders_));
    const std::string wide = folders_.music + "wide.wav";
    const std::string narrow = folders_.music + "narrow.wav";
    const std::string song = folders_.music + "song.mid";
    QVERIFY(WriteWav(wide, 48000, 2, MakeTone(48000, 2, 180 * 48000 + 1237, 440.0)));
    QVERIFY(WriteWav(narrow, 22050, 1, MakeTone(22050, 1, 177 * 22050 + 311, 660.0)));
    QVERIFY(WriteMidiFile(song, MidiScale(356)));
    for (const std::string& path : {wide, narrow, song}) {
      sources_.push_back(Measure(path));
      QVERIFY2(sources_.back().rate > 0 && sources_.back().frames / sources_.back().rate >= 170, path.c_str());
    }
  }

  void everyOutputWholeAtTheSetRate_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("chans");
    QTest::newRow("wav") << "wav" << 11025 << 2;
    QTest::newRow("mp3") << "mp3" << 48000 << 1;
    QTest::newRow("ogg") << "ogg" << 32000 << 1;
    QTest::newRow("wma") << "wma" << 44100 << 2;  // WMA is always written at 44100 Hz stereo
    QTest::newRow("flac") << "flac" << 22050 << 1;
    QTest::newRow("opus") << "opus" << 48000 << 2;  // Opus is always 48000 Hz
  }

  void everyOutputWholeAtTheSetRate() {
    QFETCH(QString, format);
    QFETCH(int, rate);
    QFETCH(int, chans);
    const std::string out = folders_.music + "out-" + format.toStdString();
    QVERIFY(QDir().mkpath(QString::fromStdString(out)));
    ConvFunc.Options = FirstRunOptions();
    ConvFunc.Options.OutputFormat = format.toStdString();
    ConvFunc.Options.OutputFolder = out;
    ConvFunc.Options.WAVFreq = ConvFunc.Options.MP3Freq = ConvFunc.Options.OGGFreq = rate;
    ConvFunc.Options.FLACFreq = rate;
    ConvFunc.Options.WAVNumChannels = ConvFunc.Options.MP3NumChannels =
        ConvFunc.Options.OGGNumChannels = ConvFunc.Options.FLACNumChannels =
            ConvFunc.Options.OpusNumChannels = chans;
    ConvFunc.Options.OGGUseVBR = true;  // a managed 192 kbit/s is beyond Vorbis at 32000 Hz mono
    std::vector<std::string> list;
    for (const TSource& s : sources_) list.push_back(s.path);
    MainFunc.FileList = list;
    MainFunc.Rows.Items = list;
    UiHooks = TUiHooks();
    EngineHooks = TEngineHooks();
    MainFunc.ConvertAll();
    QCOMPARE(ConvFunc.Stage, int32_t(STAGE_FINISHED));

    for (const TSource& s : sources_) {
      const QString name = QFileInfo(QString::fromStdString(s.path)).completeBaseName();
      const std::string path = out + "/" + name.toStdString() + "." + format.toStdString();
      const TProbeResult probe = ProbeWithFfprobe(path);
      QVERIFY2(probe.ran, path.c_str());
      QCOMPARE(probe.sampleRate, rate);
      QCOMPARE(probe.channels, chans);
      const TDecodedFile back = DecodeThroughAudioLayer(path, format == "wma");
      QVERIFY(back.ok);
      const uint64_t expected =
          uint64_t(av_rescale_rnd(int64_t(s.frames), rate, s.rate, AV_ROUND_NEAR_INF));
      if (format == "wma") {
        // ASF states no exact length: the decoder gives up to two blocks of padding more.
        QVERIFY2(back.frames() >= expected && back.frames() < expected + 2 * 2048,
                 qPrintable(QString("%1 of %2").arg(back.frames()).arg(expected)));
      } else {
        QCOMPARE(back.frames(), expected);
      }
    }
  }
};

QTEST_GUILESS_MAIN(TestRealisticBatch)
#include "test_realisticbatch.moc"
