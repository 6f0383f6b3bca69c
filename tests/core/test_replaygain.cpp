// Loudness tags: every output that carries tags gets ReplayGain (Opus: R128) values that
// agree with FFmpeg's own EBU R128 measurement of the file as written, an album's tracks one
// album gain; with the setting off nothing is written.
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <ebur128.h>

#include <cmath>
#include <random>

#include "codecs/convfunc.h"
#include "codecs/loudness.h"
#include "codecs/truepeak.h"
#include "loudnesscheck.h"
#include "main/mainfunc.h"
#include "runfolders.h"
#include "wavfixture.h"

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

double GainOf(const QString& text) {
  static const QRegularExpression form(R"(^-?\d+\.\d\d dB$)");
  if (!form.match(text).hasMatch()) return NAN;
  return text.chopped(3).toDouble();
}

double PeakDbOf(const QString& text) {
  static const QRegularExpression form(R"(^\d+\.\d{6}$)");
  return form.match(text).hasMatch() ? 20 * std::log10(text.toDouble()) : NAN;
}

// Within `tolerance`, or a message saying by how much not.
void Near(double found, double wanted, double tolerance, const QString& what) {
  QVERIFY2(std::isfinite(found) && std::abs(found - wanted) <= tolerance,
           qPrintable(QString("%1: %2, independently %3").arg(what).arg(found).arg(wanted)));
}

}  // namespace

class TestReplayGain : public QObject {
  Q_OBJECT

  QTemporaryDir root_;
  TRunFolders folders_;
  std::vector<std::string> album_;  // one folder's sources: one album
  int runs_ = 0;

 private slots:
  void initTestCase() {
    if (!HaveFfmpegTools()) QSKIP("ffmpeg and ffprobe are needed for the independent measurement");
    QVERIFY(root_.isValid());
    QVERIFY(MakeRunFolders(root_.path(), 0, &folders_));
    // Three loudnesses at three rates, one of them mono (written as stereo it plays louder).
    const struct {
      const char* name;
      uint32_t rate;
      uint16_t channels;
      double tone, amplitude;
    } tracks[] = {{"1 loud.wav", 48000, 2, 440, 0.5},
                  {"2 quiet mono.wav", 22050, 1, 1000, 0.2},
                  {"3 middle.wav", 32000, 2, 300, 0.3}};
    for (const auto& t : tracks) {
      const std::string path = folders_.music + t.name;
      QVERIFY(WriteWav(path, t.rate, t.channels,
                       MakeTone(t.rate, t.channels, uint64_t(t.rate) * 8, t.tone, t.amplitude, true)));
      album_.push_back(path);
    }
  }

  // The fast true peak gives libebur128's own, in quiet passages (which it passes over) and
  // loud ones, fed in blocks of any length.
  void truePeakIsLibebur128s_data() {
    QTest::addColumn<uint32_t>("rate");
    QTest::addColumn<uint32_t>("channels");
    QTest::addColumn<QString>("signal");
    QTest::newRow("22050 mono, steady") << 22050u << 1u << "steady";
    QTest::newRow("44100 stereo, swelling") << 44100u << 2u << "swelling";
    QTest::newRow("48000 stereo, steady") << 48000u << 2u << "steady";
    QTest::newRow("48000 stereo, peak between samples") << 48000u << 2u << "between";
    QTest::newRow("96000 stereo, swelling") << 96000u << 2u << "swelling";
    QTest::newRow("192000 mono, swelling") << 192000u << 1u << "swelling";
  }

  void truePeakIsLibebur128s() {
    QFETCH(uint32_t, rate);
    QFETCH(uint32_t, channels);
    QFETCH(QString, signal);
    std::mt19937 random(rate);
    std::uniform_int_distribution<int> noise(-6000, 6000);
    const size_t frames = rate * 5;
    std::vector<int16_t> samples(frames * channels);
    for (size_t i = 0; i < frames; ++i) {
      for (uint32_t c = 0; c < channels; ++c) {
        double value;
        if (signal == "between") {
          // A slow tone whose samples reach 0.8, then a quarter-rate tone whose samples
          // reach only 0.67 while its peaks between them reach 0.95: the later, quieter
          // looking passage holds the true peak.
          value = i < frames / 2 ? 0.8 * std::sin(i * 0.01) : 0.95 * std::sin(M_PI / 2 * i + M_PI / 4);
          value *= 32767;
        } else {
          const double level = signal == "swelling" ? 0.1 + 0.9 * std::fabs(std::sin(i * 3.0 / rate)) : 1.0;
          // Near half the rate, where samples miss the peaks between them.
          value = level * (20000 * std::sin(i * (2.9 + c * 0.1)) + noise(random));
        }
        samples[i * channels + c] = int16_t(value);
      }
    }
    ebur128_state* state = ebur128_init(channels, rate, EBUR128_MODE_TRUE_PEAK);
    QVERIFY(state);
    QCOMPARE(ebur128_add_frames_short(state, samples.data(), frames), int(EBUR128_SUCCESS));
    double wanted = 0;
    for (uint32_t c = 0; c < channels; ++c) {
      double peak = 0;
      ebur128_true_peak(state, c, &peak);
      wanted = std::max(wanted, peak);
    }
    ebur128_destroy(&state);
    TTruePeak truePeak(channels, rate);
    std::uniform_int_distribution<size_t> length(1, 9000);
    for (size_t at = 0; at < frames;) {
      const size_t n = std::min(frames - at, length(random));
      truePeak.Add(samples.data() + at * channels, n);
      at += n;
    }
    QVERIFY2(std::abs(truePeak.Peak() - wanted) < 1e-6,
             qPrintable(QString("%1 against libebur128's %2").arg(truePeak.Peak()).arg(wanted)));
  }

  void tagsAgreeWithAnIndependentMeasurement_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("mode");
    for (const char* format : {"mp3", "ogg", "wma", "flac", "opus"})
      QTest::newRow(qPrintable(QString(format) + ", by album")) << QString(format) << int(REPLAYGAIN_ALBUM);
    QTest::newRow("opus, by track") << QString("opus") << int(REPLAYGAIN_TRACK);
    QTest::newRow("flac, by track") << QString("flac") << int(REPLAYGAIN_TRACK);
    QTest::newRow("mp3, off") << QString("mp3") << int(REPLAYGAIN_OFF);
    QTest::newRow("wma, off") << QString("wma") << int(REPLAYGAIN_OFF);
  }

  void tagsAgreeWithAnIndependentMeasurement() {
    QFETCH(QString, format);
    QFETCH(int, mode);
    const std::string out = folders_.program + "out" + std::to_string(++runs_);
    QVERIFY(QDir().mkpath(Q(out)));
    TOptions options = FirstRunOptions();
    options.OutputFormat = format.toStdString();
    options.OutputFolder = out;
    options.ReplayGain = mode;
    ConvFunc.Options = options;
    MainFunc.FileList = album_;
    MainFunc.Rows.Items = album_;
    MainFunc.ConvertAll();

    const bool opus = format == "opus";
    QStringList outputs;
    QSet<QString> albumGains;
    double loudestPeakDb = -1e9;
    for (const std::string& source : album_) {
      const std::string name = source.substr(source.rfind('/') + 1);
      const QString output = Q(out + "/" + name.substr(0, name.size() - 3)) + format;
      QVERIFY2(QFile::exists(output), qPrintable(output));
      outputs << output;
      const QMap<QString, QString> tags = TagsByFfprobe(output);
      QStringList loudnessTags;
      for (const QString& key : tags.keys())
        if (key.startsWith("REPLAYGAIN_") || key.startsWith("R128_")) loudnessTags << key;
      if (mode == REPLAYGAIN_OFF) {
        QVERIFY2(loudnessTags.isEmpty(), qPrintable(loudnessTags.join(' ')));
        continue;
      }
      const TReferenceLoudness reference = ReferenceLoudness({output});
      QVERIFY(reference.ok);
      loudestPeakDb = std::max(loudestPeakDb, reference.truePeakDb);
      QStringList expected = opus ? QStringList{"R128_TRACK_GAIN"}
                                  : QStringList{"REPLAYGAIN_TRACK_GAIN", "REPLAYGAIN_TRACK_PEAK"};
      if (mode == REPLAYGAIN_ALBUM)
        expected << (opus ? QStringList{"R128_ALBUM_GAIN"}
                          : QStringList{"REPLAYGAIN_ALBUM_GAIN", "REPLAYGAIN_ALBUM_PEAK"});
      expected.sort();
      loudnessTags.sort();
      QCOMPARE(loudnessTags, expected);
      if (opus) {
        bool integer = false;
        const double gain = tags["R128_TRACK_GAIN"].toInt(&integer) / 256.0;
        QVERIFY(integer);
        Near(gain, -23 - reference.integrated, 0.1, "R128 track gain");
        albumGains << tags.value("R128_ALBUM_GAIN");
      } else {
        Near(GainOf(tags["REPLAYGAIN_TRACK_GAIN"]), -18 - reference.integrated, 0.1, "track gain");
        Near(PeakDbOf(tags["REPLAYGAIN_TRACK_PEAK"]), reference.truePeakDb, 0.2, "track peak");
        albumGains << tags.value("REPLAYGAIN_ALBUM_GAIN") + " " + tags.value("REPLAYGAIN_ALBUM_PEAK");
      }
    }
    if (mode != REPLAYGAIN_ALBUM) return;
    // One album gain on every track: the album's tracks measured together, not averaged.
    QCOMPARE(albumGains.size(), 1);
    const QStringList album = albumGains.values().first().split(' ');
    const TReferenceLoudness whole = ReferenceLoudness(outputs);
    QVERIFY(whole.ok);
    if (opus) {
      Near(album[0].toInt() / 256.0, -23 - whole.integrated, 0.1, "R128 album gain");
    } else {
      Near(GainOf(album[0] + " dB"), -18 - whole.integrated, 0.1, "album gain");
      Near(PeakDbOf(album[2]), loudestPeakDb, 0.2, "album peak");
    }
  }
};

QTEST_GUILESS_MAIN(TestReplayGain)
#include "test_replaygain.moc"
