// Stream and WMA channels: header fields, exact lengths, gapless delivery and the division
// of file kinds between the stream opener and the WMA opener.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <ogg/ogg.h>

#include <cmath>

#include "audio.h"
#include "audiopull.h"
#include "channel.h"
#include "encodedfixtures.h"
#include "midifixture.h"
#include "modulefixture.h"
#include "wavfixture.h"

namespace {

enum class Kind { Wav, Mp3Cbr, Mp3CbrNoTag, Mp3VbrNoTag, Mp3VbrTag, Ogg, Wma, Flac, Opus, Aiff,
                  MkaFlac, M4a };

bool WriteFixture(Kind kind, const std::string& path, uint32_t rate, uint16_t chans,
                  const std::vector<int16_t>& samples) {
  switch (kind) {
    case Kind::Wav: return WriteWav(path, rate, chans, samples);
    case Kind::Mp3Cbr: return WriteMp3Fixture(path, rate, chans, samples, 128, false, true);
    case Kind::Mp3CbrNoTag: return WriteMp3Fixture(path, rate, chans, samples, 128, false, false);
    case Kind::Mp3VbrNoTag: return WriteMp3Fixture(path, rate, chans, samples, 128, true, false);
    case Kind::Mp3VbrTag: return WriteMp3Fixture(path, rate, chans, samples, 128, true, true);
    case Kind::Ogg: return WriteOggFixture(path, rate, chans, samples);
    case Kind::Wma: return WriteWmaFixture(path, rate, chans, samples);
    case Kind::Flac: return WriteFfmpegFixture(path, "flac", "flac", rate, chans, samples);
    case Kind::Opus: return WriteFfmpegFixture(path, "ogg", "libopus", rate, chans, samples);
    case Kind::Aiff: return WriteFfmpegFixture(path, "aiff", "pcm_s16be", rate, chans, samples);
    // Matroska stamps in milliseconds: the length has to be counted by decoding.
    case Kind::MkaFlac:
      return WriteFfmpegFixture(path, "matroska", "flac", rate, chans, samples);
    case Kind::M4a: return WriteFfmpegFixture(path, "ipod", "aac", rate, chans, samples);
  }
  return false;
}

// Largest difference between two interleaved signals over frames [from, to).
int MaxDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b, uint16_t chans,
                  size_t from, size_t to) {
  int worst = 0;
  for (size_t i = from * chans; i < to * chans && i < a.size() && i < b.size(); ++i) {
    worst = std::max(worst, std::abs(int{a[i]} - int{b[i]}));
  }
  return worst;
}

constexpr int Exact = 0, AtLeast = 1, Near = 2;  // what the length must match

// Pages an Ogg Vorbis file anew, as some other encoders write it: the comment and setup
// headers share a page with the first audio packets when `setupSharesPage`, and the first
// audio page's granule position is lowered by `startTrim`, which a decoder must trim from
// the start (or, where that page is also the last, from the end). The other pages end
// where the original ones did; the last page's granule position moves by `endShift`. False
// when the file does not read as Ogg.
bool RepageOgg(const QString& path, bool setupSharesPage, int64_t startTrim,
               bool* firstPageIsLast = nullptr, int64_t endShift = 0) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray in = file.readAll();
  file.close();
  ogg_sync_state sync;
  ogg_sync_init(&sync);
  char* buffer = ogg_sync_buffer(&sync, in.size());
  memcpy(buffer, in.constData(), static_cast<size_t>(in.size()));
  ogg_sync_wrote(&sync, in.size());
  ogg_stream_state read{}, write{};
  bool started = false;
  ogg_page page;
  QByteArray out;
  const auto flushAll = [&] {
    // Pages end only where they are flushed (libogg would otherwise cut one at 4 KiB, and
    // a page cut there has packets ending on it but no granule position).
    while (ogg_stream_flush_fill(&write, &page, 65025) != 0) {
      out.append(reinterpret_cast<const char*>(page.header), page.header_len);
      out.append(reinterpret_cast<const char*>(page.body), page.body_len);
    }
  };
  int packets = 0;
  bool firstAudioPage = true;
  while (ogg_sync_pageout(&sync, &page) == 1) {
    if (!started) {
      ogg_stream_init(&read, ogg_page_serialno(&page));
      ogg_stream_init(&write, ogg_page_serialno(&page));
      started = true;
    }
    ogg_stream_pagein(&read, &page);
    ogg_packet packet;
    while (ogg_stream_packetout(&read, &packet) == 1) {
      ++packets;
      const bool header = packets <= 3;
      if (!header && packet.granulepos >= 0 && firstAudioPage) {
        packet.granulepos -= startTrim;
        firstAudioPage = false;
        if (firstPageIsLast) *firstPageIsLast = packet.e_o_s != 0;
      }
      if (packet.e_o_s != 0) packet.granulepos += endShift;
      ogg_stream_packetin(&write, &packet);
      // The identification header always stands alone on the first page.
      if (packets == 1 || (packets == 3 && !setupSharesPage) ||
          (!header && packet.granulepos >= 0)) {
        flushAll();
      }
    }
  }
  flushAll();
  if (started) {
    ogg_stream_clear(&read);
    ogg_stream_clear(&write);
  }
  ogg_sync_clear(&sync);
  if (!started || !file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  return file.write(out) == out.size();
}

}  // namespace

class TestStreamSource : public QObject {
  Q_OBJECT

 private slots:
  void init() { QVERIFY(audio_init(0, 44100, 0, nullptr, nullptr) != 0); }
  void cleanup() { audio_free(); }

  void lengthIsExact_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<uint32_t>("rate");
    QTest::addColumn<int>("chans");
    QTest::addColumn<uint32_t>("frames");
    // Exact: the source's own sample count is what must come out (gapless formats).
    // AtLeast: the delay and padding of a headerless MP3 or of WMA belong to the stream.
    // Near: AAC in MP4 is trimmed by its edit list, to a few samples.
    QTest::addColumn<int>("expect");
    QTest::newRow("wav 8000 mono") << int(Kind::Wav) << 8000u << 1 << 12345u << Exact;
    QTest::newRow("wav 22050 stereo") << int(Kind::Wav) << 22050u << 2 << 22051u << Exact;
    QTest::newRow("wav 48000 6ch") << int(Kind::Wav) << 48000u << 6 << 4801u << Exact;
    QTest::newRow("mp3 cbr tagged 44100 stereo")
        << int(Kind::Mp3Cbr) << 44100u << 2 << 44100u * 3 + 17 << Exact;
    QTest::newRow("mp3 cbr tagged 22050 mono")
        << int(Kind::Mp3Cbr) << 22050u << 1 << 30000u << Exact;
    QTest::newRow("mp3 vbr tagged 48000 stereo")
        << int(Kind::Mp3VbrTag) << 48000u << 2 << 70001u << Exact;
    QTest::newRow("mp3 vbr untagged 44100 stereo")
        << int(Kind::Mp3VbrNoTag) << 44100u << 2 << 44100u * 4 << AtLeast;
    QTest::newRow("mp3 cbr untagged 32000 mono")
        << int(Kind::Mp3CbrNoTag) << 32000u << 1 << 50000u << AtLeast;
    QTest::newRow("ogg 44100 stereo") << int(Kind::Ogg) << 44100u << 2 << 100003u << Exact;
    QTest::newRow("ogg 22050 stereo") << int(Kind::Ogg) << 22050u << 2 << 22050u << Exact;
    QTest::newRow("ogg 11025 mono") << int(Kind::Ogg) << 11025u << 1 << 9999u << Exact;
    QTest::newRow("wma 44100 stereo") << int(Kind::Wma) << 44100u << 2 << 60000u << AtLeast;
    QTest::newRow("wma 22050 mono") << int(Kind::Wma) << 22050u << 1 << 30000u << AtLeast;
    QTest::newRow("flac 44100 stereo") << int(Kind::Flac) << 44100u << 2 << 50001u << Exact;
    QTest::newRow("opus 48000 stereo") << int(Kind::Opus) << 48000u << 2 << 48123u << Exact;
    QTest::newRow("aiff 32000 mono") << int(Kind::Aiff) << 32000u << 1 << 32001u << Exact;
    QTest::newRow("matroska flac 44100 stereo")
        << int(Kind::MkaFlac) << 44100u << 2 << 44444u << Exact;
    QTest::newRow("aac m4a 44100 stereo") << int(Kind::M4a) << 44100u << 2 << 66000u << Near;
  }

  void lengthIsExact() {
    QFETCH(int, kind);
    QFETCH(uint32_t, rate);
    QFETCH(int, chans);
    QFETCH(uint32_t, frames);
    QFETCH(int, expect);
    QTemporaryDir dir;
    const std::string path = dir.filePath("source.bin").toStdString();
    const auto tone = MakeTone(rate, static_cast<uint16_t>(chans), frames, 1000.0, 0.5);
    QVERIFY(WriteFixture(static_cast<Kind>(kind), path, rate, static_cast<uint16_t>(chans), tone));

    const bool wma = static_cast<Kind>(kind) == Kind::Wma;
    const uint32_t handle = wma ? wma_open_file(0, path.c_str(), 0, 0, 0x220000)
                                : audio_open_file(0, path.c_str(), 0, 0, 0x220000);
    QVERIFY(handle != 0);
    AUDIO_CHANNELINFO info;
    QCOMPARE(audio_get_info(handle, &info), 1);
    QCOMPARE(info.freq, rate);
    QCOMPARE(info.chans, uint32_t(chans));
    QCOMPARE(info.flags & 1u, 0u);
    QCOMPARE(info.ctype, wma ? AUDIO_CTYPE_WMA : AUDIO_CTYPE_STREAM);

    const uint64_t frameBytes = uint64_t(chans) * 2;
    const uint64_t length = audio_get_length(handle);
    QCOMPARE(length % frameBytes, 0ull);
    if (expect == Exact) {
      QCOMPARE(length, uint64_t(frames) * frameBytes);
    } else if (expect == Near) {
      QVERIFY2(std::abs(double(length / frameBytes) - frames) <= 64,
               qPrintable(QString::number(length)));
    } else {
      // Encoder delay and padding: at least the source, at most a few codec frames more.
      QVERIFY2(length >= uint64_t(frames) * frameBytes, qPrintable(QString::number(length)));
      QVERIFY2(length <= (uint64_t(frames) + 6000) * frameBytes,
               qPrintable(QString::number(length)));
    }
    QCOMPARE(audio_bytes_to_seconds(handle, length), double(length / frameBytes) / rate);

    const TPulled pulled = PullAll(handle, length + (1 << 20), 40000);
    QVERIFY(!pulled.error);
    QCOMPARE(pulled.bytes, length);
    QCOMPARE(audio_get_position(handle), length);
    QCOMPARE(audio_is_active(handle), 0);
    // Every byte came from the decoder, none from the silence that covers corrupt data.
    QCOMPARE(audio_detail::find_channel(handle)->padded_bytes(), 0ull);
    QCOMPARE(audio_get_data(handle, const_cast<int16_t*>(pulled.samples.data()), 4096), 0);

    if (static_cast<Kind>(kind) == Kind::Wav || static_cast<Kind>(kind) == Kind::Aiff) {
      QVERIFY(pulled.samples == tone);
    } else {
      // The middle half only: delay and padding of some codecs are near-silent noise.
      const size_t quarter = pulled.samples.size() / 4 / chans * chans;
      const std::vector<int16_t> middle(pulled.samples.begin() + quarter,
                                        pulled.samples.end() - quarter);
      const double found = EstimateFrequency(middle, static_cast<uint16_t>(chans), 0, rate);
      QVERIFY2(std::abs(found - 1000.0) < 10.0, qPrintable(QString::number(found)));
    }
    if (expect == Exact && static_cast<Kind>(kind) != Kind::Wav) {
      // Gapless: the decoded tone lies on the original, not shifted by the encoder delay.
      const int worst = MaxDifference(pulled.samples, tone, static_cast<uint16_t>(chans),
                                      frames / 4, frames / 2);
      QVERIFY2(worst < 4000, qPrintable(QString::number(worst)));
    }
    QCOMPARE(audio_free_stream(handle), 1);
    QCOMPARE(audio_get_length(handle), 0ull);
  }

  // Ogg Vorbis links one after the other in one file, each restarting its granule
  // positions: every sample of every link and nothing else, as the reference decoder gives.
  void chainedOggDecodesLikeTheReference_data() {
    QTest::addColumn<int>("chans");
    QTest::addColumn<QList<int>>("links");  // frames per link
    // Frames taken off each link's first audio page's granule position, with the setup
    // header on a page of its own or sharing one with the first audio packets.
    QTest::addColumn<int>("startTrim");
    QTest::addColumn<bool>("setupSharesPage");
    QTest::newRow("two links") << 2 << QList<int>{44100, 88200} << 0 << false;
    QTest::newRow("odd lengths, mono") << 1 << QList<int>{30001, 7, 52919} << 0 << false;
    QTest::newRow("three links") << 2 << QList<int>{12345, 66666, 1001} << 0 << false;
    // A first audio page whose granule position is below what its packets decode to: the
    // difference goes from the start, or from the end where that page is also the last.
    QTest::newRow("start trimmed, setup on its own page")
        << 2 << QList<int>{441000} << 1000 << false;
    QTest::newRow("start trimmed, setup sharing the first audio page")
        << 2 << QList<int>{441000} << 1000 << true;
    QTest::newRow("setup sharing the first audio page") << 1 << QList<int>{220500} << 0 << true;
    QTest::newRow("first audio page also the last, trimmed")
        << 2 << QList<int>{4000} << 900 << false;
    QTest::newRow("first audio page also the last, trimmed past its last packet")
        << 2 << QList<int>{1500} << 1400 << false;
    QTest::newRow("first audio page also the last, setup sharing it")
        << 1 << QList<int>{2000} << 700 << true;
    QTest::newRow("chain, every link start trimmed")
        << 2 << QList<int>{100000, 1200, 60000} << 700 << true;
  }

  void chainedOggDecodesLikeTheReference() {
    QFETCH(int, chans);
    QFETCH(QList<int>, links);
    QFETCH(int, startTrim);
    QFETCH(bool, setupSharesPage);
    QTemporaryDir dir;
    QFile chain(dir.filePath("chain.ogg"));
    QVERIFY(chain.open(QIODevice::WriteOnly));
    QByteArray reference;  // each link decoded on its own by the reference decoder
    const auto oggdec = [](const QString& file) {
      QProcess process;
      process.start("oggdec", {"-Q", "-R", "-o", "-", file});
      if (!process.waitForFinished(60000) || process.exitCode() != 0) qFatal("oggdec failed");
      return process.readAllStandardOutput();
    };
    for (int i = 0; i < links.size(); ++i) {
      const QString part = dir.filePath(QString::number(i) + ".ogg");
      const auto tone = MakeTone(44100, static_cast<uint16_t>(chans), uint64_t(links[i]), 300.0 + 250 * i);
      QVERIFY(WriteOggFixture(part.toStdString(), 44100, static_cast<uint16_t>(chans), tone, 1000 + i));
      // oggdec reads no audio from the page that ends the headers, which the Vorbis I
      // format does not let hold any: it judges the same packets paged with the
      // setup header on a page of its own.
      const QString whole = dir.filePath(QString::number(i) + "-whole.ogg");
      const QString judged = dir.filePath(QString::number(i) + "-judged.ogg");
      QVERIFY(QFile::copy(part, whole) && QFile::copy(part, judged));
      bool firstPageIsLast = false;
      if (startTrim != 0 || setupSharesPage) {
        QVERIFY(RepageOgg(part, setupSharesPage, startTrim, &firstPageIsLast));
        QVERIFY(RepageOgg(judged, false, startTrim));
      }
      QFile in(part);
      QVERIFY(in.open(QIODevice::ReadOnly));
      chain.write(in.readAll());
      const QByteArray decoded = oggdec(judged);
      if (startTrim == 0 || firstPageIsLast) {
        reference += decoded;
      } else {
        // oggdec trims as many frames, but from the last packet of the first page, whose
        // packets before it it has already given out. Vorbis I asks for the first
        // frames of everything the packets decode to (which oggdec gives where the last
        // granule position is past the end) to go.
        QVERIFY(RepageOgg(whole, false, 0, nullptr, 8192));
        const QByteArray everything = oggdec(whole);
        QVERIFY(everything.size() >= startTrim * chans * 2 + decoded.size());
        reference += everything.mid(startTrim * chans * 2, decoded.size());
      }
    }
    chain.close();

    const uint32_t handle = audio_open_file(0, chain.fileName().toUtf8().constData(), 0, 0, 0x220000);
    QVERIFY(handle != 0);
    QCOMPARE(audio_get_length(handle), uint64_t(reference.size()));
    const TPulled pulled = PullAll(handle);
    QCOMPARE(pulled.bytes, uint64_t(reference.size()));
    // Two decoders round their float output each its own way: a step of one or two.
    const auto* expected = reinterpret_cast<const int16_t*>(reference.constData());
    int worst = 0;
    for (size_t i = 0; i < pulled.samples.size(); ++i)
      worst = std::max(worst, std::abs(int{pulled.samples[i]} - int{expected[i]}));
    QVERIFY2(worst <= 2, qPrintable(QString::number(worst)));
  }

  // Each opener takes its own kind only, so the opening cascade can tell them apart.
  void openersDivideKinds() {
    QTemporaryDir dir;
    const auto tone = MakeTone(22050, 2, 8000, 440.0);
    const std::string wav = dir.filePath("a.wav").toStdString();
    const std::string mp3 = dir.filePath("a.mp3").toStdString();
    const std::string ogg = dir.filePath("a.ogg").toStdString();
    const std::string wma = dir.filePath("a.wma").toStdString();
    QVERIFY(WriteWav(wav, 22050, 2, tone));
    QVERIFY(WriteMp3Fixture(mp3, 22050, 2, tone));
    QVERIFY(WriteOggFixture(ogg, 22050, 2, tone));
    QVERIFY(WriteWmaFixture(wma, 22050, 2, tone));
    for (const std::string& stream : {wav, mp3, ogg}) {
      const uint32_t h = audio_open_file(0, stream.c_str(), 0, 0, 0);
      QVERIFY2(h != 0, stream.c_str());
      QCOMPARE(wma_open_file(0, stream.c_str(), 0, 0, 0), 0u);
    }
    QCOMPARE(audio_open_file(0, wma.c_str(), 0, 0, 0), 0u);
    QVERIFY(wma_open_file(0, wma.c_str(), 0, 0, 0) != 0);
    // Tracker modules and MIDI belong to their own openers, though FFmpeg could read some.
    const std::string mod = dir.filePath("a.mod").toStdString();
    const std::string xm = dir.filePath("a.xm").toStdString();
    const std::string mid = dir.filePath("a.mid").toStdString();
    QVERIFY(WriteModule(mod, TModuleKind::Mod, 16, {{0, 0}, {8, 1}}));
    QVERIFY(WriteModule(xm, TModuleKind::Xm, 16, {{0, 0}, {8, 1}}));
    QVERIFY(WriteMidiFile(mid, MidiScale(4)));
    for (const std::string& other : {mod, xm, mid}) {
      QCOMPARE(audio_open_file(0, other.c_str(), 0, 0, 0), 0u);
      QCOMPARE(wma_open_file(0, other.c_str(), 0, 0, 0), 0u);
    }
    // Files only: memory openings and a library that is not ready are refused.
    QCOMPARE(audio_open_file(1, wav.c_str(), 0, 0, 0), 0u);
    audio_free();
    QCOMPARE(audio_open_file(0, wav.c_str(), 0, 0, 0), 0u);
    QVERIFY(audio_init(0, 44100, 0, nullptr, nullptr) != 0);
  }

  void probeStreamAndHandles() {
    // Called exactly as the opening cascade calls it.
    const uint32_t probe =
        audio_create_stream(10, 44100, 1, nullptr, reinterpret_cast<void*>(0x100));
    QVERIFY(probe != 0);
    AUDIO_CHANNELINFO info;
    QCOMPARE(audio_get_info(probe, &info), 1);
    QCOMPARE(info.freq, 10u);
    QVERIFY(info.ctype != 0x100 && (info.ctype < 0x20000 || info.ctype > 0x20004));
    QCOMPARE(audio_get_length(probe), 0ull);
    // Unknown handles answer with zeros, never a fault.
    QCOMPARE(audio_get_info(0, &info), 0);
    QCOMPARE(audio_get_length(0), 0ull);
    QCOMPARE(audio_bytes_to_seconds(0, 1000), 0.0);
    QCOMPARE(audio_is_active(12345), 0);
    int16_t buffer[8];
    QCOMPARE(audio_get_data(0, buffer, sizeof buffer), -1);
    QCOMPARE(audio_free_stream(0), 0);
    // audio_free releases every channel of the thread, the probe included.
    QCOMPARE(audio_free(), 1);
    QCOMPARE(audio_free(), 0);
    QVERIFY(audio_init(0, 44100, 0, nullptr, nullptr) != 0);
    QCOMPARE(audio_get_length(probe), 0ull);
    QCOMPARE(audio_get_info(probe, &info), 0);
  }
};

QTEST_GUILESS_MAIN(TestStreamSource)
#include "test_streamsource.moc"
