// The audio layer's WMA file encoder, checked by decoding its files again.
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <fstream>

#include "audio.h"
#include "encodercheck.h"
#include "signalfixture.h"
#include "wavfixture.h"

namespace {

// Encodes `samples` in pieces of `piece` bytes (odd sizes split frames across calls).
bool EncodeWma(const std::string& path, uint32_t rate, uint16_t chans, uint32_t request,
               const std::vector<int16_t>& samples, size_t piece = 16384) {
  const uint32_t enc = wma_encode_open_file(rate, chans, 0, request, path.c_str());
  if (enc == 0) return false;
  const auto* bytes = reinterpret_cast<const uint8_t*>(samples.data());
  const size_t total = samples.size() * 2;
  bool ok = true;
  for (size_t at = 0; at < total; at += piece) {
    const size_t n = std::min(piece, total - at);
    ok = ok && wma_encode_write(enc, bytes + at, static_cast<uint32_t>(n)) == 1;
  }
  return wma_encode_close(enc) == 1 && ok;
}

// Channel 0: a steady 1000 Hz tone; channel 1 (stereo): a chirp that pins down offsets.
std::vector<int16_t> TestSignal(uint32_t rate, uint16_t chans, uint64_t frames) {
  if (chans == 1) return MakeChirp(rate, frames, 300.0, 3000.0);
  return InterleaveStereo(MakeTone(rate, 1, frames, 1000.0),
                          MakeChirp(rate, frames, 300.0, 3000.0));
}

qint64 FileSize(const std::string& path) { return QFileInfo(QString::fromStdString(path)).size(); }

}  // namespace

class TestWmaEncoder : public QObject {
  Q_OBJECT

 private slots:
  void everySampleComesBack_data() {
    QTest::addColumn<uint>("rate");
    QTest::addColumn<uint>("chans");
    QTest::addColumn<uint>("request");
    QTest::addColumn<int>("piece");
    QTest::newRow("44100 stereo 128 kbit/s") << 44100u << 2u << 128000u << 16384;
    QTest::newRow("44100 stereo quality 90, split frames") << 44100u << 2u << 90u << 1001;
    QTest::newRow("22050 mono 32 kbit/s") << 22050u << 1u << 32000u << 4096;
  }
  void everySampleComesBack() {
    QFETCH(uint, rate);
    QFETCH(uint, chans);
    QFETCH(uint, request);
    QFETCH(int, piece);
    QTemporaryDir dir;
    const std::string path = dir.filePath("out.wma").toStdString();
    const uint64_t frames = rate + rate / 3 + 17;  // not a whole number of codec frames
    const auto source = TestSignal(rate, static_cast<uint16_t>(chans), frames);
    QVERIFY(EncodeWma(path, rate, static_cast<uint16_t>(chans), request, source,
                      static_cast<size_t>(piece)));

    const TDecodedFile d = DecodeThroughAudioLayer(path, true);
    QVERIFY(d.ok);
    QCOMPARE(d.rate, rate);
    QCOMPARE(d.channels, static_cast<uint16_t>(chans));
    // Nothing lost at either end; at most the padding of the last codec frames added.
    QVERIFY2(d.frames() >= frames, qPrintable(QString("decoded %1 of %2 frames")
                                                  .arg(d.frames()).arg(frames)));
    QVERIFY2(d.frames() < frames + 2 * 2048, qPrintable(QString::number(d.frames())));
    // The decoded file starts with the first sample written: no lead-in, no loss.
    const uint16_t chirp = static_cast<uint16_t>(chans - 1);
    const TLag head = BestLag(source, static_cast<uint16_t>(chans), chirp, d.samples,
                              d.channels, chirp, 0, 4096, 2200);
    QCOMPARE(head.lag, 0);
    QVERIFY2(head.correlation > 0.8, qPrintable(QString::number(head.correlation)));
    const TLag tail = BestLag(source, static_cast<uint16_t>(chans), chirp, d.samples,
                              d.channels, chirp, frames - 4096, 4096, 2200);
    QCOMPARE(tail.lag, 0);
    QVERIFY(LoudShare(d.samples, d.channels, 0, frames - 1000, frames, 2000) > 50.0);
    if (chans == 2) {
      const double pitch = EstimateFrequency(d.samples, 2, 0, rate);
      QVERIFY2(std::abs(pitch - 1000.0) < 10.0, qPrintable(QString::number(pitch)));
    }
  }

  void bitrateFollowsTheRequest_data() {
    QTest::addColumn<uint>("bitrate");
    QTest::newRow("64 kbit/s") << 64000u;
    QTest::newRow("128 kbit/s") << 128000u;
    QTest::newRow("192 kbit/s") << 192000u;
    QTest::newRow("256 kbit/s") << 256000u;
  }
  void bitrateFollowsTheRequest() {
    QFETCH(uint, bitrate);
    QTemporaryDir dir;
    const std::string path = dir.filePath("rate.wma").toStdString();
    // Long enough that the last, partly filled packet of 8192 bytes hardly counts.
    const uint64_t seconds = 16;
    QVERIFY(EncodeWma(path, 44100, 2, bitrate, TestSignal(44100, 2, 44100 * seconds)));
    const double expected = bitrate / 8.0 * seconds;
    const double size = static_cast<double>(FileSize(path));
    QVERIFY2(size > expected * 0.98 && size < expected * 1.12,
             qPrintable(QString("%1 bytes, %2 expected").arg(size).arg(expected)));
  }

  void higherQualityMakesLargerFiles() {
    QTemporaryDir dir;
    const auto source = TestSignal(44100, 2, 44100 * 2);
    qint64 previous = 0;
    for (uint32_t quality : {25u, 50u, 75u, 90u, 100u}) {
      const std::string path = dir.filePath(QString("q%1.wma").arg(quality)).toStdString();
      QVERIFY(EncodeWma(path, 44100, 2, quality, source));
      const qint64 size = FileSize(path);
      QVERIFY2(size > previous, qPrintable(QString("quality %1: %2 bytes").arg(quality).arg(size)));
      previous = size;
    }
  }

  void refusedRequestsLeaveNoFile_data() {
    QTest::addColumn<uint>("rate");
    QTest::addColumn<uint>("chans");
    QTest::addColumn<uint>("request");
    QTest::addColumn<bool>("underAFile");
    QTest::newRow("bitrate below 24 kbit/s") << 44100u << 2u << 23999u << false;
    QTest::newRow("quality below 25") << 44100u << 2u << 24u << false;
    QTest::newRow("quality 0") << 44100u << 2u << 0u << false;
    QTest::newRow("rate 0") << 0u << 2u << 128000u << false;
    QTest::newRow("no channels") << 44100u << 0u << 128000u << false;
    QTest::newRow("three channels") << 44100u << 3u << 128000u << false;
    QTest::newRow("rate the codec lacks") << 96000u << 2u << 128000u << false;
    QTest::newRow("folder is a file") << 44100u << 2u << 128000u << true;
  }
  void refusedRequestsLeaveNoFile() {
    QFETCH(uint, rate);
    QFETCH(uint, chans);
    QFETCH(uint, request);
    QFETCH(bool, underAFile);
    QTemporaryDir dir;
    std::string path = dir.filePath("x.wma").toStdString();
    if (underAFile) {
      const std::string file = dir.filePath("plain").toStdString();
      std::ofstream(file) << "not a folder";
      path = file + "/x.wma";
    }
    QCOMPARE(wma_encode_open_file(rate, chans, 0, request, path.c_str()), 0u);
    QVERIFY(!QFileInfo::exists(QString::fromStdString(path)));
  }

  void unknownHandlesAreRefused() {
    const int16_t frame[2] = {1, 2};
    QCOMPARE(wma_encode_write(12345, frame, sizeof frame), 0);
    QCOMPARE(wma_encode_close(12345), 0);
    QCOMPARE(wma_encode_open_file(44100, 2, 0, 128000, nullptr), 0u);

    QTemporaryDir dir;
    const std::string path = dir.filePath("once.wma").toStdString();
    const uint32_t enc = wma_encode_open_file(44100, 2, 0, 128000, path.c_str());
    QVERIFY(enc != 0);
    QCOMPARE(wma_encode_write(enc, nullptr, 4), 0);
    QCOMPARE(wma_encode_close(enc), 1);
    QCOMPARE(wma_encode_close(enc), 0);  // closed handles are gone
    QCOMPARE(wma_encode_write(enc, frame, sizeof frame), 0);
  }

  // A relative name with a colon is a file name like any other, not an address.
  void relativeNameWithColon() {
    QTemporaryDir dir;
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    const bool encoded = EncodeWma("a:b.wma", 44100, 2, 128000, TestSignal(44100, 2, 4410));
    const bool exists = QFileInfo::exists(dir.filePath("a:b.wma"));
    QDir::setCurrent(before);
    QVERIFY(encoded);
    QVERIFY(exists);
  }

  void emptyInputStillMakesAFile() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("empty.wma").toStdString();
    QVERIFY(EncodeWma(path, 44100, 2, 128000, {}));
    const TDecodedFile d = DecodeThroughAudioLayer(path, true);
    QVERIFY(d.ok);
    QCOMPARE(d.channels, static_cast<uint16_t>(2));
    QVERIFY(LoudShare(d.samples, 2, 0, 0, d.frames(), 100) == 0.0);
  }

  void ffprobeReadsTheFile() {
    if (!HaveTool("ffprobe")) QSKIP("ffprobe is not installed");
    QTemporaryDir dir;
    const std::string path = dir.filePath("probe.wma").toStdString();
    QVERIFY(EncodeWma(path, 44100, 2, 128000, TestSignal(44100, 2, 44100 * 3)));
    const TProbeResult p = ProbeWithFfprobe(path);
    QVERIFY(p.ran);
    QCOMPARE(p.formatName, std::string("asf"));
    QCOMPARE(p.codecName, std::string("wmav2"));
    QCOMPARE(p.sampleRate, 44100);
    QCOMPARE(p.channels, 2);
    QVERIFY2(std::abs(p.duration - 3.0) < 0.15, qPrintable(QString::number(p.duration)));
  }
};

QTEST_GUILESS_MAIN(TestWmaEncoder)
#include "test_wmaencoder.moc"
