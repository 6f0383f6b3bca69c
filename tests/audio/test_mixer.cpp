// The mixer: rate conversion keeps the pitch, mono reaches both sides at full level, stereo
// folds to its average, and the output holds the whole source at the new rate.
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

#include "audio.h"
#include "audiopull.h"
#include "encodedfixtures.h"
#include "wavfixture.h"

namespace {

int Peak(const std::vector<int16_t>& samples, uint16_t chans, uint16_t channel, size_t from,
         size_t to) {
  int peak = 0;
  for (size_t i = from; i < to && i * chans + channel < samples.size(); ++i) {
    peak = std::max(peak, std::abs(int{samples[i * chans + channel]}));
  }
  return peak;
}

std::vector<int16_t> Middle(const std::vector<int16_t>& samples, uint16_t chans) {
  const size_t quarter = samples.size() / 4 / chans * chans;
  return {samples.begin() + quarter, samples.end() - quarter};
}

}  // namespace

class TestMixer : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;

  // Opens a WAV of `samples` and plugs it into a new mixer; returns {source, mixer}.
  std::pair<uint32_t, uint32_t> MixWav(const std::string& name, uint32_t rate, uint16_t chans,
                                       const std::vector<int16_t>& samples, uint32_t outRate,
                                       uint32_t outChans) {
    const std::string path = dir_.filePath(QString::fromStdString(name)).toStdString();
    if (!WriteWav(path, rate, chans, samples)) return {0, 0};
    const uint32_t source = audio_open_file(0, path.c_str(), 0, 0, 0x220000);
    const uint32_t mixer = mixer_create(outRate, outChans, 0x210000);
    if (source == 0 || mixer == 0 || mixer_add_channel(mixer, source, 0) != 1) return {0, 0};
    return {source, mixer};
  }

 private slots:
  void init() { QVERIFY(audio_init(0, 44100, 0, nullptr, nullptr) != 0); }
  void cleanup() { audio_free(); }

  void outputHoldsWholeSource_data() {
    QTest::addColumn<uint32_t>("inRate");
    QTest::addColumn<int>("inChans");
    QTest::addColumn<uint32_t>("outRate");
    QTest::addColumn<int>("outChans");
    QTest::addColumn<uint32_t>("frames");
    QTest::newRow("48000 stereo -> 22050 mono") << 48000u << 2 << 22050u << 1 << 48001u;
    QTest::newRow("44100 stereo -> 48000 stereo") << 44100u << 2 << 48000u << 2 << 100000u;
    QTest::newRow("8000 mono -> 44100 stereo") << 8000u << 1 << 44100u << 2 << 7999u;
    QTest::newRow("22050 mono -> 11025 mono") << 22050u << 1 << 11025u << 1 << 22051u;
    QTest::newRow("44100 stereo passes through") << 44100u << 2 << 44100u << 2 << 33333u;
    QTest::newRow("44100 mono -> stereo, same rate") << 44100u << 1 << 44100u << 2 << 10000u;
    QTest::newRow("6 channels -> stereo") << 48000u << 6 << 44100u << 2 << 4800u;
    QTest::newRow("one frame") << 44100u << 2 << 22050u << 2 << 1u;
  }

  void outputHoldsWholeSource() {
    QFETCH(uint32_t, inRate);
    QFETCH(int, inChans);
    QFETCH(uint32_t, outRate);
    QFETCH(int, outChans);
    QFETCH(uint32_t, frames);
    const auto tone = MakeTone(inRate, static_cast<uint16_t>(inChans), frames, 440.0);
    const auto [source, mixer] =
        MixWav("whole.wav", inRate, static_cast<uint16_t>(inChans), tone, outRate, outChans);
    QVERIFY(mixer != 0);

    AUDIO_CHANNELINFO info;
    QCOMPARE(audio_get_info(mixer, &info), 1);
    QCOMPARE(info.freq, outRate);
    QCOMPARE(info.chans, uint32_t(outChans));
    QCOMPARE(info.flags & 1u, 0u);
    QCOMPARE(info.ctype, AUDIO_CTYPE_MIXER);

    const uint64_t outFrame = uint64_t(outChans) * 2;
    const double exact = double(frames) * outRate / inRate;
    const uint64_t length = audio_get_length(mixer);
    QVERIFY2(std::abs(double(length / outFrame) - exact) <= 1.0,
             qPrintable(QString::number(length)));
    QVERIFY(audio_is_active(mixer) != 0);
    // Odd pull sizes: whole frames only, never more than asked.
    const TPulled pulled = PullAll(mixer, 1ull << 26, 131071);
    QVERIFY(!pulled.error);
    QCOMPARE(pulled.bytes % outFrame, 0ull);
    QCOMPARE(pulled.bytes, length);
    QCOMPARE(audio_get_position(mixer), length);
    QCOMPARE(audio_is_active(mixer), 0);
    QCOMPARE(audio_is_active(source), 0);
    if (inRate == outRate && inChans == outChans) QVERIFY(pulled.samples == tone);
  }

  // Every source length around one pull's worth ends cleanly: when the source ran out just
  // after a pull that left input in the converter, the flush used to crash in soxr.
  void everyLengthNearAPullEndsCleanly_data() {
    QTest::addColumn<uint32_t>("inRate");
    QTest::addColumn<int>("inChans");
    QTest::addColumn<uint32_t>("outRate");
    QTest::addColumn<uint32_t>("block");
    QTest::addColumn<uint32_t>("firstFrames");
    QTest::newRow("8000 mono, 64 KiB pulls") << 8000u << 1 << 44100u << 65536u << 2900u;
    QTest::newRow("22050 stereo, 128 KiB pulls") << 22050u << 2 << 48000u << 131072u << 14950u;
  }
  void everyLengthNearAPullEndsCleanly() {
    QFETCH(uint32_t, inRate);
    QFETCH(int, inChans);
    QFETCH(uint32_t, outRate);
    QFETCH(uint32_t, block);
    QFETCH(uint32_t, firstFrames);
    const auto tone = MakeTone(inRate, static_cast<uint16_t>(inChans), firstFrames + 130, 440.0);
    for (uint32_t frames = firstFrames; frames <= firstFrames + 130; ++frames) {
      const std::vector<int16_t> part(tone.begin(), tone.begin() + frames * inChans);
      const auto [source, mixer] =
          MixWav("near.wav", inRate, static_cast<uint16_t>(inChans), part, outRate, 2);
      QVERIFY(mixer != 0);
      const TPulled pulled = PullAll(mixer, 1ull << 24, block);
      QVERIFY(!pulled.error);
      QCOMPARE(pulled.bytes, audio_get_length(mixer));
      audio_free_stream(mixer);
      audio_free_stream(source);
    }
  }

  // Ends as soon as the last byte is out, without a further empty pull.
  void endsWithItsSource() {
    const auto tone = MakeTone(44100, 2, 1000, 440.0);
    const auto [source, mixer] = MixWav("short.wav", 44100, 2, tone, 22050, 2);
    QVERIFY(mixer != 0);
    std::vector<int16_t> buffer(1 << 16);
    const int32_t got = audio_get_data(mixer, buffer.data(), 131072);
    QCOMPARE(got, 500 * 4);
    QCOMPARE(audio_is_active(mixer), 0);
    QCOMPARE(audio_get_data(mixer, buffer.data(), 131072), 0);
    QCOMPARE(audio_bytes_to_seconds(mixer, audio_get_position(mixer)), 500.0 / 22050);
  }

  void keepsThePitch() {
    const auto tone = MakeTone(48000, 2, 48000, 1000.0);
    const auto [source, mixer] = MixWav("pitch.wav", 48000, 2, tone, 22050, 1);
    QVERIFY(mixer != 0);
    const TPulled pulled = PullAll(mixer);
    const double found = EstimateFrequency(Middle(pulled.samples, 1), 1, 0, 22050);
    QVERIFY2(std::abs(found - 1000.0) < 2.0, qPrintable(QString::number(found)));
    // The pass band is kept at its level: no loss, no clipping.
    const int peak = Peak(pulled.samples, 1, 0, 2000, 20000);
    QVERIFY2(std::abs(peak - 16384) < 400, qPrintable(QString::number(peak)));
  }

  void monoReachesBothSidesAtFullLevel() {
    const auto tone = MakeTone(44100, 1, 44100, 500.0, 0.8);
    for (const uint32_t outRate : {44100u, 32000u}) {
      const auto [source, mixer] = MixWav("mono.wav", 44100, 1, tone, outRate, 2);
      QVERIFY(mixer != 0);
      const TPulled pulled = PullAll(mixer);
      const int expected = static_cast<int>(std::lrint(0.8 * 32767));
      for (uint16_t side = 0; side < 2; ++side) {
        const int peak = Peak(pulled.samples, 2, side, 1000, 30000);
        QVERIFY2(std::abs(peak - expected) < 300, qPrintable(QString::number(peak)));
      }
      for (size_t i = 0; i + 1 < pulled.samples.size(); i += 2) {
        QCOMPARE(pulled.samples[i], pulled.samples[i + 1]);
      }
    }
  }

  void stereoFoldsToTheAverage() {
    // Left carries a tone, right its negative plus a constant: the average is the constant.
    const uint32_t frames = 20000;
    std::vector<int16_t> stereo(frames * 2);
    const auto tone = MakeTone(44100, 1, frames, 700.0, 0.4);
    for (uint32_t i = 0; i < frames; ++i) {
      stereo[2 * i] = tone[i];
      stereo[2 * i + 1] = static_cast<int16_t>(-tone[i] + 8000);
    }
    const auto [source, mixer] = MixWav("fold.wav", 44100, 2, stereo, 44100, 1);
    QVERIFY(mixer != 0);
    const TPulled pulled = PullAll(mixer);
    QCOMPARE(pulled.samples.size(), size_t(frames));
    for (uint32_t i = 0; i < frames; i += 97) {
      QVERIFY2(std::abs(pulled.samples[i] - 4000) <= 1, qPrintable(QString::number(i)));
    }
  }

  void convertsCompressedSources() {
    const auto tone = MakeTone(48000, 2, 48000, 1000.0);
    const std::string mp3 = dir_.filePath("tone.mp3").toStdString();
    QVERIFY(WriteMp3Fixture(mp3, 48000, 2, tone));
    const uint32_t source = audio_open_file(0, mp3.c_str(), 0, 0, 0x220000);
    const uint32_t mixer = mixer_create(22050, 1, 0x210000);
    QCOMPARE(mixer_add_channel(mixer, source, 0), 1);
    const TPulled pulled = PullAll(mixer);
    QVERIFY(std::abs(double(pulled.bytes / 2) - 22050.0) <= 1.0);
    const double found = EstimateFrequency(Middle(pulled.samples, 1), 1, 0, 22050);
    QVERIFY2(std::abs(found - 1000.0) < 5.0, qPrintable(QString::number(found)));
  }

  void pluggingRules() {
    const auto tone = MakeTone(44100, 2, 4410, 440.0);
    const auto [source, mixer] = MixWav("rules.wav", 44100, 2, tone, 22050, 2);
    QVERIFY(mixer != 0);
    QCOMPARE(mixer_add_channel(mixer, source, 0), 0);  // one source per mixer
    QCOMPARE(mixer_add_channel(mixer, mixer, 0), 0);
    QCOMPARE(mixer_add_channel(source, mixer, 0), 0);  // a stream is no mixer
    QCOMPARE(mixer_add_channel(mixer, 0, 0), 0);
    const uint32_t outer = mixer_create(11025, 1, 0);
    QCOMPARE(mixer_add_channel(outer, mixer, 0), 1);  // mixers chain
    QCOMPARE(mixer_add_channel(mixer, outer, 0), 0);  // but never in a ring
    QCOMPARE(mixer_create(0, 2, 0), 0u);
    QCOMPARE(mixer_create(44100, 0, 0), 0u);
    const TPulled pulled = PullAll(outer);
    QVERIFY(std::abs(double(pulled.bytes / 2) - 1102.5) <= 1.0);
  }

  // Freeing the source before the mixer, and removing it, never leaves a dangling source.
  void sourceAndMixerLifetimes() {
    const auto tone = MakeTone(44100, 2, 44100, 440.0);
    const auto [source, mixer] = MixWav("life.wav", 44100, 2, tone, 48000, 2);
    QVERIFY(mixer != 0);
    QCOMPARE(audio_free_stream(source), 1);
    std::vector<int16_t> buffer(8192);
    QVERIFY(audio_get_data(mixer, buffer.data(), 16384) > 0);
    QCOMPARE(mixer_remove_channel(mixer), 1);
    QCOMPARE(audio_get_data(mixer, buffer.data(), 16384), 0);
    QCOMPARE(audio_is_active(mixer), 0);
    QCOMPARE(audio_free_stream(mixer), 1);
    QCOMPARE(mixer_remove_channel(mixer), 0);

    const auto [source2, mixer2] = MixWav("life2.wav", 44100, 2, tone, 44100, 2);
    QCOMPARE(mixer_remove_channel(source2), 1);  // by the source's handle
    QCOMPARE(audio_get_data(mixer2, buffer.data(), 16384), 0);
  }
};

QTEST_GUILESS_MAIN(TestMixer)
#include "test_mixer.moc"
