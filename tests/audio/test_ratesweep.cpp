// Rate conversion over every source rate people have and every rate the settings offer, at
// lengths from a few frames to four minutes, pulled the way the conversion engine pulls:
// each case must finish, deliver exactly the promised frames and keep the pitch.
#include <QtTest>

#include <cmath>
#include <memory>
#include <random>

extern "C" {
#include <libavutil/mathematics.h>
}

#include "audio.h"
#include "channel.h"

namespace {

constexpr uint32_t kEnginePullBytes = 0x20000;  // what decoding to WAV asks the mixer for
constexpr double kToneHz = 997.0;               // below every Nyquist frequency of the sweep

// A tone made on the fly, so that minutes of audio cost no memory. Every side carries the
// same tone, so a fold to mono keeps it.
class ToneChannel final : public audio_detail::Channel {
 public:
  ToneChannel(uint32_t rate_hz, uint32_t channels, uint64_t frames) {
    rate = rate_hz;
    chans = channels;
    ctype = AUDIO_CTYPE_STREAM;
    length_bytes = frames * frame_bytes();
    const double step = 2.0 * M_PI * kToneHz / rate_hz;
    turn_cos_ = std::cos(step);
    turn_sin_ = std::sin(step);
  }

 protected:
  int64_t decode(uint8_t* buffer, uint32_t bytes) override {
    const uint64_t left = length_bytes - position();
    const uint32_t frames = static_cast<uint32_t>(std::min<uint64_t>(bytes, left) / frame_bytes());
    auto* out = reinterpret_cast<int16_t*>(buffer);
    for (uint32_t i = 0; i < frames; ++i) {
      // A phasor turned by one step per frame: the sweep's minutes of tone cost no sine calls.
      const auto value = static_cast<int16_t>(std::lrint(16000.0 * sin_));
      for (uint32_t c = 0; c < chans; ++c) *out++ = value;
      const double next_cos = cos_ * turn_cos_ - sin_ * turn_sin_;
      sin_ = sin_ * turn_cos_ + cos_ * turn_sin_;
      cos_ = next_cos;
    }
    if (position() + uint64_t{frames} * frame_bytes() >= length_bytes) mark_drained();
    return int64_t{frames} * frame_bytes();
  }

 private:
  double turn_cos_ = 1, turn_sin_ = 0;
  double cos_ = 1, sin_ = 0;
};

// Rising zero crossings of the first side, counted while the output streams past.
struct PitchCounter {
  uint64_t frame = 0;
  uint64_t first = 0, last = 0, crossings = 0;
  int previous = 0;
  uint64_t skipFrom = 0, skipTo = 0;  // edges left out: the filter settles there

  void add(const int16_t* samples, uint64_t frames, uint32_t chans) {
    for (uint64_t i = 0; i < frames; ++i, ++frame) {
      const int value = samples[i * chans];
      if (frame > skipFrom && frame < skipTo && previous < 0 && value >= 0) {
        if (crossings == 0) first = frame;
        last = frame;
        ++crossings;
      }
      previous = value;
    }
  }
  double hz(uint32_t rate) const {
    return crossings < 2 ? 0.0 : double(crossings - 1) * rate / double(last - first);
  }
};

}  // namespace

class TestRateSweep : public QObject {
  Q_OBJECT

 private slots:
  void init() { QVERIFY(audio_init(0, 44100, 0, nullptr, nullptr) != 0); }
  void cleanup() { audio_free(); }

  void everyRouteFinishesExactly_data() {
    QTest::addColumn<uint32_t>("inRate");
    QTest::addColumn<uint32_t>("inChans");
    QTest::addColumn<uint32_t>("outRate");
    QTest::addColumn<uint32_t>("outChans");
    QTest::addColumn<qulonglong>("frames");

    const uint32_t sourceRates[] = {8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000, 96000};
    const uint32_t outputRates[] = {11025, 22050, 32000, 44100, 48000};  // the settings' choice
    std::mt19937_64 random(20261209);
    const auto add = [](uint32_t inRate, uint32_t inChans, uint32_t outRate, uint32_t outChans,
                        uint64_t frames) {
      QTest::addRow("%u/%u->%u/%u %llu", inRate, inChans, outRate, outChans,
                    static_cast<unsigned long long>(frames))
          << inRate << inChans << outRate << outChans << qulonglong(frames);
    };
    for (const uint32_t inRate : sourceRates) {
      for (const uint32_t outRate : outputRates) {
        // Per channel count a short length (up to a second), and for one of them a length
        // drawn evenly on a log scale from a second to four minutes.
        const uint32_t longChans = 1 + uint32_t(random() % 2);
        for (const uint32_t inChans : {1u, 2u}) {
          const uint32_t outChans = 1 + uint32_t(random() % 2);
          const double second = std::exp(std::uniform_real_distribution<>(0, std::log(inRate))(random));
          const double longer =
              std::exp(std::uniform_real_distribution<>(std::log(inRate), std::log(240.0 * inRate))(random));
          add(inRate, inChans, outRate, outChans, uint64_t(second));
          if (inChans == longChans) add(inRate, inChans, outRate, outChans, uint64_t(longer));
        }
        // Lengths that users met: 3 and 6 seconds, and 18 seconds and up on the way to MP3's
        // first-run rate.
        for (const double seconds : {3.0, 6.0, 18.0})
          if (seconds < 10 || outRate == 44100) add(inRate, 2, outRate, 2, uint64_t(seconds * inRate));
      }
    }
    // Whole songs on the routes people use most.
    const std::pair<uint32_t, uint32_t> songs[] = {{44100, 48000}, {44100, 32000}, {48000, 32000},
                                                   {32000, 44100}, {16000, 44100}, {22050, 44100},
                                                   {48000, 44100}, {96000, 44100}};
    for (const auto& [inRate, outRate] : songs)
      add(inRate, 2, outRate, 2, uint64_t(3 * 60 + 37) * inRate + 11);
    for (const uint64_t frames : {1, 2, 3, 7, 64, 241})
      add(48000, 2, 44100, 2, frames);
  }

  void everyRouteFinishesExactly() {
    QFETCH(uint32_t, inRate);
    QFETCH(uint32_t, inChans);
    QFETCH(uint32_t, outRate);
    QFETCH(uint32_t, outChans);
    QFETCH(qulonglong, frames);

    const uint64_t expected = uint64_t(av_rescale_rnd(int64_t(frames), outRate, inRate, AV_ROUND_NEAR_INF));
    // Shorter cases run twice: the same source must give the same bytes.
    const int runs = frames < 10ull * inRate ? 2 : 1;
    uint64_t firstHash = 0;
    for (int run = 0; run < runs; ++run) {
      const uint32_t source =
          audio_detail::register_channel(std::make_shared<ToneChannel>(inRate, inChans, frames));
      const uint32_t mixer = mixer_create(outRate, outChans, AUDIO_FLAG_DECODE | AUDIO_FLAG_MIXER_END);
      QVERIFY(source != 0 && mixer != 0);
      QCOMPARE(mixer_add_channel(mixer, source, 0), 1);
      QCOMPARE(audio_get_length(mixer), expected * outChans * 2);

      PitchCounter pitch;
      const uint64_t edge = outRate / 100;
      pitch.skipFrom = edge;
      pitch.skipTo = expected > edge ? expected - edge : 0;
      std::vector<int16_t> buffer(kEnginePullBytes / 2);
      uint64_t delivered = 0;
      uint64_t hash = 1469598103934665603ull;  // FNV-1a
      for (;;) {
        const int32_t got = audio_get_data(mixer, buffer.data(), kEnginePullBytes);
        QVERIFY(got >= 0);
        if (got == 0) break;
        QCOMPARE(uint32_t(got) % (outChans * 2), 0u);
        pitch.add(buffer.data(), uint64_t(got) / (outChans * 2), outChans);
        if (runs > 1)
          for (int32_t i = 0; i < got / 2; ++i) hash = (hash ^ uint16_t(buffer[size_t(i)])) * 1099511628211ull;
        delivered += uint64_t(got);
        if (audio_is_active(mixer) == 0) break;
      }
      QCOMPARE(delivered / (outChans * 2), expected);
      QCOMPARE(audio_is_active(mixer), 0);
      if (pitch.crossings >= 20) {
        const double found = pitch.hz(outRate);
        QVERIFY2(std::abs(found - kToneHz) < kToneHz * (0.002 + 2.0 / double(pitch.last - pitch.first)),
                 qPrintable(QString::number(found)));
      }
      if (run == 0) firstHash = hash;
      else QCOMPARE(hash, firstHash);
      QCOMPARE(audio_free_stream(mixer), 1);
      QCOMPARE(audio_free_stream(source), 1);
    }
  }
};

QTEST_GUILESS_MAIN(TestRateSweep)
#include "test_ratesweep.moc"
