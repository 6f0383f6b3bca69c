// Tracker modules: played once, with an exact and finite length, and refused when they
// are not modules.
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "audio.h"
#include "channel.h"
#include "midifixture.h"
#include "modulefixture.h"
#include "channelpull.h"
#include "wavfixture.h"

using audio_detail::Channel;

Q_DECLARE_METATYPE(TModuleKind)

namespace {
bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}
}  // namespace

class TestModule : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  std::string Path(const char* name) { return dir_.filePath(name).toStdString(); }

 private slots:
  void playsOnceWithExactLength_data() {
    QTest::addColumn<TModuleKind>("kind");
    QTest::addColumn<uint32_t>("ctype");
    QTest::addColumn<int>("rows");
    QTest::addColumn<uint32_t>("rate");
    QTest::newRow("mod 16 rows") << TModuleKind::Mod << AUDIO_CTYPE_MOD << 16 << 44100u;
    QTest::newRow("xm 16 rows") << TModuleKind::Xm << AUDIO_CTYPE_XM << 16 << 44100u;
    QTest::newRow("s3m 16 rows") << TModuleKind::S3m << AUDIO_CTYPE_S3M << 16 << 44100u;
    QTest::newRow("umx holding an xm") << TModuleKind::UmxXm << AUDIO_CTYPE_XM << 16 << 44100u;
    QTest::newRow("xm 5 rows at 22050") << TModuleKind::Xm << AUDIO_CTYPE_XM << 5 << 22050u;
    QTest::newRow("mod full pattern at 48000") << TModuleKind::Mod << AUDIO_CTYPE_MOD << 64 << 48000u;
  }
  void playsOnceWithExactLength() {
    QFETCH(TModuleKind, kind);
    QFETCH(uint32_t, ctype);
    QFETCH(int, rows);
    QFETCH(uint32_t, rate);
    const std::string path = Path("song.mod");
    QVERIFY(WriteModule(path, kind, rows, {{0, 0}, {1, 1}, {rows / 2, 2}, {rows - 1, 3}}));

    auto channel = audio_detail::open_module_channel(path, rate);
    QVERIFY(channel);
    QCOMPARE(channel->ctype, ctype);
    QCOMPARE(channel->rate, rate);
    QCOMPARE(channel->chans, 2u);
    // Played once: the song's rows and no fade-out or second round.
    const double seconds = double(channel->length_bytes) / channel->frame_bytes() / rate;
    QVERIFY2(std::abs(seconds - rows * kModuleRowSeconds) < 0.03,
             qPrintable(QString::number(seconds)));

    const TChannelPulled pulled = PullChannel(*channel, 10000);
    QCOMPARE(pulled.bytes, channel->length_bytes);
    QVERIFY(!channel->active());
    QVERIFY2(pulled.peak > 1000, "the notes are audible");
  }

  // The same module gives the same bytes on every opening, dither included.
  void soundIsTheSameOnEveryOpening() {
    const std::string path = Path("again.xm");
    QVERIFY(WriteModule(path, TModuleKind::Xm, 20, {{0, 0}, {10, 1}}));
    auto a = audio_detail::open_module_channel(path, 44100);
    auto b = audio_detail::open_module_channel(path, 44100);
    QVERIFY(a && b);
    QCOMPARE(a->length_bytes, b->length_bytes);
    QVERIFY(a->length_bytes % 4 == 0);
    const auto readAll = [](audio_detail::Channel& channel) {
      std::vector<uint8_t> bytes(channel.length_bytes);
      uint64_t at = 0;
      int32_t got = 0;
      while (at < bytes.size() &&
             (got = channel.pull(bytes.data() + at,
                                 static_cast<uint32_t>(std::min<uint64_t>(65536, bytes.size() - at)))) > 0)
        at += static_cast<uint64_t>(got);
      bytes.resize(at);
      return bytes;
    };
    const std::vector<uint8_t> first = readAll(*a);
    QCOMPARE(first.size(), a->length_bytes);
    QVERIFY(first == readAll(*b));
  }

  void refusesWhatIsNoModule_data() {
    QTest::addColumn<QString>("what");
    QTest::newRow("random bytes") << "random";
    QTest::newRow("module cut after its header") << "truncated";
    QTest::newRow("wav named .mod") << "wav";
    QTest::newRow("midi named .xm") << "midi";
    QTest::newRow("empty file") << "empty";
    QTest::newRow("missing file") << "missing";
    QTest::newRow("a folder") << "folder";
  }
  void refusesWhatIsNoModule() {
    QFETCH(QString, what);
    std::string path = Path("bad.mod");
    std::remove(path.c_str());
    if (what == "random") {
      std::vector<uint8_t> bytes(5000);
      uint32_t x = 12345;
      for (auto& b : bytes) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 16);
      QVERIFY(WriteBytes(path, bytes));
    } else if (what == "truncated") {
      const std::string whole = Path("whole.xm");
      QVERIFY(WriteModule(whole, TModuleKind::Xm, 16, {{0, 0}}));
      FILE* f = std::fopen(whole.c_str(), "rb");
      std::vector<uint8_t> bytes(60);
      QCOMPARE(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
      std::fclose(f);
      QVERIFY(WriteBytes(path, bytes));
    } else if (what == "wav") {
      QVERIFY(WriteWav(path, 44100, 2, MakeTone(44100, 2, 4410, 440.0)));
    } else if (what == "midi") {
      QVERIFY(WriteMidiFile(path, MidiScale(3)));
    } else if (what == "empty") {
      QVERIFY(WriteBytes(path, {}));
    } else if (what == "folder") {
      path = dir_.path().toStdString();
    }
    QVERIFY(!audio_detail::open_module_channel(path, 44100));
  }
};

QTEST_GUILESS_MAIN(TestModule)
#include "test_module.moc"
