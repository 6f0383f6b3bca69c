// EncodeOGG: temporary WAV files written here are encoded, then read back page by page with
// libogg and libvorbis and decoded through the audio layer.
#include <QTemporaryDir>
#include <QtTest>

#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "codecs/convfunc.h"
#include "codecs/passhooks.h"
#include "codecs/vorbissamples.h"
#include "encodercheck.h"
#include "encodertestkit.h"
#include "signalfixture.h"
#include "wavfixture.h"

namespace {

TOptions OggSettings(int rate, int chans, bool vbr, int bitrate, int quality) {
  TOptions o = FirstRunOptions();
  o.OGGFreq = rate;
  o.OGGNumChannels = chans;
  o.OGGUseVBR = vbr;
  o.OGGBitrate = bitrate;
  o.OGGQuality = quality;
  return o;
}

struct TOggPage {
  int64_t granule = 0;
  bool continued = false;  // begins with the rest of a packet from the page before
  bool eos = false;
  int serial = 0;
  int packetsEnded = 0;    // packets that end on this page
};

struct TOggFile {
  bool ok = false;
  std::vector<TOggPage> pages;
  int channels = 0;
  long rate = 0;
  long bitrateUpper = 0, bitrateNominal = 0, bitrateLower = 0;
  std::vector<std::string> comments;
};

// Reads every page and the three Vorbis headers of a single-stream file.
TOggFile ReadOgg(const std::string& path) {
  TOggFile out;
  const std::string bytes = ReadWholeFile(path);
  ogg_sync_state sync;
  ogg_sync_init(&sync);
  char* buffer = ogg_sync_buffer(&sync, static_cast<long>(bytes.size()));
  std::memcpy(buffer, bytes.data(), bytes.size());
  ogg_sync_wrote(&sync, static_cast<long>(bytes.size()));
  ogg_stream_state stream;
  bool streamReady = false;
  vorbis_info vi;
  vorbis_comment vc;
  vorbis_info_init(&vi);
  vorbis_comment_init(&vc);
  int headers = 0;
  bool headersOk = true;
  ogg_page page;
  while (ogg_sync_pageout(&sync, &page) == 1) {
    TOggPage p;
    p.granule = ogg_page_granulepos(&page);
    p.continued = ogg_page_continued(&page) != 0;
    p.eos = ogg_page_eos(&page) != 0;
    p.serial = ogg_page_serialno(&page);
    if (!streamReady) {
      ogg_stream_init(&stream, p.serial);
      streamReady = true;
    }
    ogg_stream_pagein(&stream, &page);
    ogg_packet packet;
    while (ogg_stream_packetout(&stream, &packet) == 1) {
      ++p.packetsEnded;
      if (headers < 3) {
        headersOk = headersOk && vorbis_synthesis_headerin(&vi, &vc, &packet) == 0;
        ++headers;
      }
    }
    out.pages.push_back(p);
  }
  if (headers == 3 && headersOk) {
    out.ok = true;
    out.channels = vi.channels;
    out.rate = vi.rate;
    out.bitrateUpper = vi.bitrate_upper;
    out.bitrateNominal = vi.bitrate_nominal;
    out.bitrateLower = vi.bitrate_lower;
    for (int i = 0; i < vc.comments; ++i)
      out.comments.emplace_back(vc.user_comments[i], static_cast<size_t>(vc.comment_lengths[i]));
  }
  if (streamReady) ogg_stream_clear(&stream);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  ogg_sync_clear(&sync);
  return out;
}

// What libvorbis itself announces for a quality, to compare with the file's header.
std::array<long, 3> BitratesForQuality(int chans, int rate, float quality) {
  vorbis_info vi;
  vorbis_info_init(&vi);
  std::array<long, 3> r{-2, -2, -2};
  if (vorbis_encode_init_vbr(&vi, chans, rate, quality) == 0)
    r = {vi.bitrate_upper, vi.bitrate_nominal, vi.bitrate_lower};
  vorbis_info_clear(&vi);
  return r;
}

}  // namespace

class TestEncodeOgg : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::string Path(const char* name) const { return dir_.filePath(name).toStdString(); }

 private slots:
  void init() { ResetEngine(); }
  void cleanup() { ResetEngine(); }

  void settingsReachTheEncoder_data() {
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("chans");
    QTest::addColumn<bool>("vbr");
    QTest::addColumn<int>("bitrate");
    QTest::addColumn<int>("quality");
    QTest::addColumn<int>("announced");  // kbit/s in the file; 0: the bitrate asked for
    QTest::newRow("bitrate 128, quality not read") << 44100 << 2 << false << 128 << 0 << 0;
    QTest::newRow("bitrate 64 mono 32000") << 32000 << 1 << false << 64 << 12 << 0;
    QTest::newRow("quality step 5") << 44100 << 2 << true << 0 << 5 << 0;
    QTest::newRow("quality step 1") << 48000 << 2 << true << 0 << 1 << 0;
    QTest::newRow("quality step 9 mono") << 44100 << 1 << true << 0 << 9 << 0;
    // Bitrates the dialog offers beyond libvorbis's band for the rate: the band's edge.
    QTest::newRow("256 mono 44100") << 44100 << 1 << false << 256 << 0 << 240;
    QTest::newRow("498 stereo 32000") << 32000 << 2 << false << 498 << 0 << 380;
    QTest::newRow("64 mono 11025") << 11025 << 1 << false << 64 << 0 << 50;
    QTest::newRow("320 stereo 22050") << 22050 << 2 << false << 320 << 0 << 180;
  }
  void settingsReachTheEncoder() {
    QFETCH(int, rate);
    QFETCH(int, chans);
    QFETCH(bool, vbr);
    QFETCH(int, bitrate);
    QFETCH(int, quality);
    QFETCH(int, announced);
    const std::string wav = Path("map.wav"), ogg = Path("map.ogg");
    const auto c = static_cast<uint16_t>(chans);
    QVERIFY(WriteWav(wav, static_cast<uint32_t>(rate), c, TestSignal(static_cast<uint32_t>(rate), c, 8192)));
    QCOMPARE(ConvFunc.EncodeOGG(wav, ogg, OggSettings(rate, chans, vbr, bitrate, quality)), 1);
    QCOMPARE(ConvFunc.Stage, int32_t(STAGE_OGG));
    const TOggFile f = ReadOgg(ogg);
    QVERIFY(f.ok);
    QCOMPARE(f.channels, chans);
    QCOMPARE(f.rate, long(rate));
    const std::array<long, 3> inFile{f.bitrateUpper, f.bitrateNominal, f.bitrateLower};
    if (vbr) {
      // Step q is quality q / 10; its neighbours announce other bitrates.
      QCOMPARE(inFile, BitratesForQuality(chans, rate, quality * 0.1f));
      QVERIFY(inFile != BitratesForQuality(chans, rate, (quality + 1) * 0.1f));
      QVERIFY(inFile != BitratesForQuality(chans, rate, (quality - 1) * 0.1f));
    } else {
      const long nominal = long(announced != 0 ? announced : bitrate) * 1000;
      QCOMPARE(inFile, (std::array<long, 3>{-1, nominal, -1}));
    }
  }

  void samplesBecomeFloats_data() {
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::addColumn<float>("expected");
    QTest::newRow("00 80 is -1") << 0x00 << 0x80 << -1.0f;
    QTest::newRow("FF 7F is 32767/32768") << 0xff << 0x7f << 32767.0f / 32768.0f;
    QTest::newRow("FF FF is -1/32768") << 0xff << 0xff << -1.0f / 32768.0f;
    QTest::newRow("80 00 is 128/32768") << 0x80 << 0x00 << 128.0f / 32768.0f;
    QTest::newRow("00 00 is 0") << 0x00 << 0x00 << 0.0f;
  }
  void samplesBecomeFloats() {
    QFETCH(int, low);
    QFETCH(int, high);
    QFETCH(float, expected);
    // Two stereo frames: the sample under test in the right channel of frame 1.
    const unsigned char chunk[8] = {0x01, 0x00, 0x02, 0x00, 0x03, 0x00,
                                    static_cast<unsigned char>(low), static_cast<unsigned char>(high)};
    float left[2] = {9, 9}, right[2] = {9, 9};
    float* buffer[2] = {left, right};
    WavChunkToVorbis(chunk, 2, 2, buffer);
    QCOMPARE(right[1], expected);
    QCOMPARE(left[0], 1.0f / 32768.0f);
    QCOMPARE(right[0], 2.0f / 32768.0f);
    QCOMPARE(left[1], 3.0f / 32768.0f);
  }

  // One user comment, and the three headers on pages of their own before any audio.
  void headersAndComment() {
    const std::string wav = Path("head.wav"), ogg = Path("head.ogg");
    QVERIFY(WriteWav(wav, 44100, 2, TestSignal(44100, 2, 44100)));
    QCOMPARE(ConvFunc.EncodeOGG(wav, ogg, OggSettings(44100, 2, true, 0, 4)), 1);
    const TOggFile f = ReadOgg(ogg);
    QVERIFY(f.ok);
    QCOMPARE(f.comments, (std::vector<std::string>{"Encoder=Ogg Vorbis encoder"}));
    QVERIFY2(f.pages.size() >= 3, qPrintable(QString::number(f.pages.size())));
    QCOMPARE(f.pages[0].packetsEnded, 1);  // identification alone on the first page
    int headerPackets = 0;
    size_t page = 0;
    for (; page < f.pages.size() && headerPackets < 3; ++page) {
      QCOMPARE(f.pages[page].granule, int64_t(0));
      headerPackets += f.pages[page].packetsEnded;
    }
    QCOMPARE(headerPackets, 3);  // no audio packet ended on a header page
    QVERIFY(page < f.pages.size());
    QVERIFY(!f.pages[page].continued);
    QVERIFY(f.pages[page].granule > 0);
    QVERIFY(f.pages.back().eos);
    for (const TOggPage& p : f.pages) QCOMPARE(p.serial, f.pages[0].serial);
  }

  void decodesToTheSource_data() {
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("chans");
    QTest::addColumn<qulonglong>("frames");
    QTest::addColumn<int>("extraBytes");
    QTest::newRow("44100 stereo") << 44100 << 2 << 88211ull << 0;
    // The last read holds only the stray bytes: no frame, and the input ends once.
    QTest::newRow("48000 stereo, 2 stray bytes after whole chunks") << 48000 << 2 << 20480ull << 2;
    QTest::newRow("32000 mono, 1 stray byte") << 32000 << 1 << 40001ull << 1;
    QTest::newRow("stereo, 2 stray bytes inside the last chunk") << 44100 << 2 << 30001ull << 2;
  }
  void decodesToTheSource() {
    QFETCH(int, rate);
    QFETCH(int, chans);
    QFETCH(qulonglong, frames);
    QFETCH(int, extraBytes);
    const std::string wav = Path("round.wav"), ogg = Path("round.ogg");
    const auto c = static_cast<uint16_t>(chans);
    const auto source = TestSignal(static_cast<uint32_t>(rate), c, frames);
    QVERIFY(WriteWav(wav, static_cast<uint32_t>(rate), c, source));
    if (extraBytes) {
      QVERIFY(WriteWholeFile(wav, ReadWholeFile(wav) + std::string(static_cast<size_t>(extraBytes), '\x55')));
    }
    QCOMPARE(ConvFunc.EncodeOGG(wav, ogg, OggSettings(rate, chans, false, 128, 5)), 1);
    const TDecodedFile d = DecodeThroughAudioLayer(ogg);
    QVERIFY(d.ok);
    QCOMPARE(d.rate, static_cast<uint32_t>(rate));
    QCOMPARE(d.channels, c);
    QCOMPARE(d.frames(), uint64_t(frames));
    const uint16_t chirp = static_cast<uint16_t>(chans - 1);
    const TLag lag = BestLag(source, c, chirp, d.samples, d.channels, chirp, frames / 4, 4096, 1200);
    QCOMPARE(lag.lag, 0);
    QVERIFY2(lag.correlation > 0.9, qPrintable(QString::number(lag.correlation)));
    if (chans == 2) {
      const double pitch = EstimateFrequency(d.samples, 2, 0, static_cast<uint32_t>(rate));
      QVERIFY2(std::abs(pitch - 440.0) < 4.0, qPrintable(QString::number(pitch)));
    }
  }

  // Three channels do not divide a 4096-byte chunk: every frame is still encoded, none
  // torn across two reads (a torn one would shift every later frame across the channels).
  void threeChannelsKeepEveryFrame() {
    const std::string wav = Path("three.wav"), ogg = Path("three.ogg");
    const uint64_t frames = 44100;
    QVERIFY(WriteWav(wav, 44100, 3, MakeTone(44100, 3, frames, 300.0, 0.5, true)));
    QCOMPARE(ConvFunc.EncodeOGG(wav, ogg, OggSettings(44100, 3, false, 192, 5)), 1);
    const TDecodedFile d = DecodeThroughAudioLayer(ogg);
    QVERIFY(d.ok);
    QCOMPARE(d.channels, static_cast<uint16_t>(3));
    QCOMPARE(d.frames(), frames);
  }

  void higherQualityMakesLargerFiles() {
    const std::string wav = Path("q.wav");
    QVERIFY(WriteWav(wav, 44100, 2, TestSignal(44100, 2, 44100 * 2)));
    size_t previous = 0;
    for (int quality : {1, 5, 9}) {
      const std::string ogg = Path("q.ogg");
      QCOMPARE(ConvFunc.EncodeOGG(wav, ogg, OggSettings(44100, 2, true, 0, quality)), 1);
      const size_t size = ReadWholeFile(ogg).size();
      QVERIFY2(size > previous, qPrintable(QString("step %1: %2 bytes").arg(quality).arg(size)));
      previous = size;
    }
  }

  void countersReachTheEnd() {
    const std::string wav = Path("count.wav"), ogg = Path("count.ogg");
    QVERIFY(WriteWav(wav, 32000, 1, TestSignal(32000, 1, 32000 * 3 + 5000)));
    ConvFunc.TotalLength = 9;
    ConvFunc.TotalPosition = 4;
    std::vector<int32_t> seen;
    EngineHooks.ProcessEvents = [&] { seen.push_back(ConvFunc.CurrentPosition); };
    QCOMPARE(ConvFunc.EncodeOGG(wav, ogg, OggSettings(32000, 1, true, 0, 3)), 1);
    QCOMPARE(ConvFunc.CurrentLength, 3);
    QCOMPARE(ConvFunc.CurrentPosition, 3);
    QCOMPARE(ConvFunc.CurrentProgress, 100);
    QCOMPARE(ConvFunc.TotalPosition, 7);
    QCOMPARE(ConvFunc.TotalProgress, 77);
    QCOMPARE(seen.size(), size_t((2 * (32000 * 3 + 5000) + 4095) / 4096));  // one per chunk
    QVERIFY(std::is_sorted(seen.begin(), seen.end()));
  }

  void shortWavShowsNoProgress() {
    const std::string wav = Path("short.wav"), ogg = Path("short.ogg");
    QVERIFY(WriteWav(wav, 44100, 2, TestSignal(44100, 2, 20000)));
    ConvFunc.TotalLength = 10;
    bool moved = false;
    EngineHooks.ProcessEvents = [&] { moved = moved || ConvFunc.CurrentProgress != 0; };
    QCOMPARE(ConvFunc.EncodeOGG(wav, ogg, OggSettings(44100, 2, false, 96, 5)), 1);
    QCOMPARE(ConvFunc.CurrentLength, 0);
    QCOMPARE(ConvFunc.CurrentProgress, 0);
    QVERIFY(!moved);
  }

  void cancelLeavesTheOldDestination() {
    QTemporaryDir dir;
    const std::string wav = dir.filePath("c.wav").toStdString();
    const std::string ogg = dir.filePath("c.ogg").toStdString();
    QVERIFY(WriteWav(wav, 44100, 2, TestSignal(44100, 2, 44100)));
    QVERIFY(WriteWholeFile(ogg, "an older file"));
    const TCancelRun run = RunWithCancelAt(3, [&] {
      ConvFunc.EncodeOGG(wav, ogg, OggSettings(44100, 2, false, 192, 5));
    });
    QVERIFY(run.aborted);
    QCOMPARE(run.passes, 3);
    QCOMPARE(ReadWholeFile(ogg), std::string("an older file"));
    QCOMPARE(FolderEntries(dir.path().toStdString()), (std::vector<std::string>{"c.ogg", "c.wav"}));
    ResetEngine();
    QCOMPARE(ConvFunc.EncodeOGG(wav, ogg, OggSettings(44100, 2, false, 192, 5)), 1);
    QCOMPARE(DecodeThroughAudioLayer(ogg).frames(), uint64_t(44100));
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
    QTest::newRow("missing WAV") << "missing" << "plain" << 44100 << 2 << false << 128 << 5 << -1;
    QTest::newRow("empty WAV") << "empty" << "plain" << 44100 << 2 << false << 128 << 5 << -1;
    QTest::newRow("header only") << "headerOnly" << "plain" << 44100 << 2 << false << 128 << 5 << -1;
    QTest::newRow("less than a frame") << "halfFrame" << "plain" << 44100 << 2 << false << 128 << 5 << -1;
    QTest::newRow("rate 0") << "good" << "plain" << 0 << 2 << false << 128 << 5 << -1;
    QTest::newRow("no channels") << "good" << "plain" << 44100 << 0 << false << 128 << 5 << -1;
    QTest::newRow("bitrate 0") << "good" << "plain" << 44100 << 2 << false << 0 << 5 << -1;
    QTest::newRow("bitrate out of reach") << "good" << "plain" << 44100 << 2 << false << 5000 << 5 << -1;
    QTest::newRow("quality step 0") << "good" << "plain" << 44100 << 2 << true << 128 << 0 << -1;
    QTest::newRow("quality step 12") << "good" << "plain" << 44100 << 2 << true << 128 << 12 << -1;
    QTest::newRow("folder missing") << "good" << "noFolder" << 44100 << 2 << false << 128 << 5 << -2;
    QTest::newRow("folder is a file") << "good" << "underFile" << 44100 << 2 << false << 128 << 5 << -2;
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
    std::string wav, ogg;
    QVERIFY(MakeBadInputCase(folder, wavKind, destKind, "ogg", &wav, &ogg));
    const auto before = FolderEntries(folder);
    QCOMPARE(ConvFunc.EncodeOGG(wav, ogg, OggSettings(rate, chans, vbr, bitrate, quality)), result);
    QCOMPARE(FolderEntries(folder), before);
  }

  void fullDiskGivesAFailureAndNoFile() {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    QVERIFY(WriteWav(folder + "/in.wav", 44100, 2, TestSignal(44100, 2, 44100 * 3)));
    const TLimitedRun run = RunWithFileSizeLimit(6000, [&] {
      return ConvFunc.EncodeOGG(folder + "/in.wav", folder + "/out.ogg",
                                OggSettings(44100, 2, false, 192, 5));
    });
    QVERIFY(run.limited);
    QCOMPARE(run.result, -2);
    QCOMPARE(FolderEntries(folder), (std::vector<std::string>{"in.wav"}));
  }

  void validatorsAcceptTheFile() {
    const std::string wav = Path("valid.wav"), ogg = Path("valid.ogg");
    QVERIFY(WriteWav(wav, 44100, 2, TestSignal(44100, 2, 30000)));
    QCOMPARE(ConvFunc.EncodeOGG(wav, ogg, OggSettings(44100, 2, true, 0, 6)), 1);
    if (!HaveTool("oggz-validate") || !HaveTool("vorbiscomment"))
      QSKIP("oggz-validate or vorbiscomment is not installed");
    std::string text;
    QCOMPARE(RunTool("oggz-validate", {ogg}, &text), 0);
    QCOMPARE(RunTool("vorbiscomment", {"-l", ogg}, &text), 0);
    QCOMPARE(text, std::string("Encoder=Ogg Vorbis encoder\n"));
  }
};

QTEST_GUILESS_MAIN(TestEncodeOgg)
#include "test_encodeogg.moc"
