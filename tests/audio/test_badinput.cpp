// Bad input: missing, odd, corrupt and truncated files either fail to open or deliver what
// decodes, exactly their reported length, and end. Also awkward paths and two threads
// decoding at once.
#include <QTemporaryDir>
#include <QtTest>
#include <ogg/ogg.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <thread>

#include "audio.h"
#include "audiopull.h"
#include "encodedfixtures.h"
#include "wavfixture.h"

namespace {

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// Opens `path` through the stream opener, then the WMA opener, as the opening cascade does.
uint32_t OpenAny(const std::string& path) {
  const uint32_t stream = audio_open_file(0, path.c_str(), 0, 0, 0x220000);
  return stream != 0 ? stream : wma_open_file(0, path.c_str(), 0, 0, 0x220000);
}

// Decodes an opened channel to its end and checks the promises every channel keeps.
// Returns an empty text when they hold.
QString CheckDecodesToItsLength(uint32_t handle) {
  AUDIO_CHANNELINFO info;
  if (audio_get_info(handle, &info) != 1 || info.freq == 0 || info.chans == 0) {
    return "no info";
  }
  const uint64_t length = audio_get_length(handle);
  const TPulled pulled = PullAll(handle, length + (1u << 20));
  if (pulled.error) return "pull error";
  if (pulled.bytes != length) {
    return QString("delivered %1 of %2").arg(pulled.bytes).arg(length);
  }
  if (audio_is_active(handle) != 0) return "still active";
  return {};
}

}  // namespace

class TestBadInput : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::vector<int16_t> tone_ = MakeTone(22050, 2, 22050, 1000.0);

  std::string Path(const QString& name) const { return dir_.filePath(name).toStdString(); }

  // A good fixture of `kind` ("wav", "mp3", "ogg", "wma"): one second, or four when `long`
  // (Ogg pages are large; a cut must leave some of them whole).
  std::string Fixture(const std::string& kind, bool longer = false) {
    const std::string path = Path(QString::fromStdString("good." + kind));
    const auto tone = longer ? MakeTone(22050, 2, 4 * 22050, 1000.0) : tone_;
    bool ok = false;
    if (kind == "wav") ok = WriteWav(path, 22050, 2, tone);
    if (kind == "mp3") ok = WriteMp3Fixture(path, 22050, 2, tone, 64);
    if (kind == "ogg") ok = WriteOggFixture(path, 22050, 2, tone);
    if (kind == "wma") ok = WriteWmaFixture(path, 22050, 2, tone, 64000);
    return ok ? path : std::string();
  }

 private slots:
  void init() { QVERIFY(audio_init(0, 44100, 0, nullptr, nullptr) != 0); }
  void cleanup() { audio_free(); }

  void refusedOrDecodable_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    // What is done to a good file of `kind`: "missing", "folder", "empty", "random",
    // "cut:<fraction>", "header-only"; "rate:<Hz>" is a one-second WAV at that rate.
    QTest::addColumn<QString>("damage");
    // 1: must open, 0: must be refused (another opener may take it), -1: either.
    QTest::addColumn<int>("expect");
    QTest::newRow("missing file") << "nothing.mp3" << "mp3" << "missing" << 0;
    QTest::newRow("a folder") << "folder.mp3" << "mp3" << "folder" << 0;
    QTest::newRow("empty file") << "empty.wav" << "wav" << "empty" << 0;
    QTest::newRow("random bytes named mp3") << "noise.mp3" << "mp3" << "random" << 0;
    QTest::newRow("random bytes named wma") << "noise.wma" << "wma" << "random" << 0;
    QTest::newRow("truncated mp3") << "cut.mp3" << "mp3" << "cut:0.5" << 1;
    QTest::newRow("truncated ogg") << "cut.ogg" << "ogg" << "cut:0.8" << 1;
    QTest::newRow("truncated wav") << "cut.wav" << "wav" << "cut:0.37" << 1;
    QTest::newRow("truncated wma") << "cut.wma" << "wma" << "cut:0.6" << -1;
    QTest::newRow("wav header only") << "head.wav" << "wav" << "header-only" << 1;
    QTest::newRow("mp3 cut to a few bytes") << "stub.mp3" << "mp3" << "cut:0.01" << -1;
    // Below 1000 Hz a small file would expand to gigabytes at a usual output rate.
    QTest::newRow("wav at 1 Hz") << "slow1.wav" << "wav" << "rate:1" << 0;
    QTest::newRow("wav at 999 Hz") << "slow999.wav" << "wav" << "rate:999" << 0;
    QTest::newRow("wav at 1000 Hz") << "slow1000.wav" << "wav" << "rate:1000" << 1;
  }

  void refusedOrDecodable() {
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, damage);
    QFETCH(int, expect);
    const std::string path = Path(name);
    if (damage == "folder") {
      QVERIFY(QDir().mkpath(QString::fromStdString(path)));
    } else if (damage == "empty") {
      QVERIFY(WriteBytes(path, {}));
    } else if (damage == "random") {
      std::mt19937 random(7);
      std::vector<uint8_t> bytes(20000);
      for (auto& b : bytes) b = static_cast<uint8_t>(random());
      QVERIFY(WriteBytes(path, bytes));
    } else if (damage.startsWith("rate:")) {
      const uint32_t rate = damage.mid(5).toUInt();
      QVERIFY(WriteWav(path, rate, 1, MakeTone(rate, 1, rate, rate / 10.0)));
    } else if (damage.startsWith("cut:") || damage == "header-only") {
      auto bytes = ReadBytes(Fixture(kind.toStdString(), true));
      QVERIFY(!bytes.empty());
      const size_t keep = damage == "header-only"
                              ? 44
                              : static_cast<size_t>(bytes.size() * damage.mid(4).toDouble());
      bytes.resize(keep);
      QVERIFY(WriteBytes(path, bytes));
    }
    const uint32_t handle = OpenAny(path);
    if (expect == 1) QVERIFY(handle != 0);
    if (expect == 0) QCOMPARE(handle, 0u);
    if (handle != 0) {
      const QString problem = CheckDecodesToItsLength(handle);
      QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }
  }

  // The header promises a second; half of it is there. The length tells the truth.
  void wavClaimingMoreThanItHolds() {
    const std::string good = Fixture("wav");
    auto bytes = ReadBytes(good);
    bytes.resize(44 + 11025 * 4);
    const std::string path = Path("liar.wav");
    QVERIFY(WriteBytes(path, bytes));
    const uint32_t handle = audio_open_file(0, path.c_str(), 0, 0, 0);
    QVERIFY(handle != 0);
    QCOMPARE(audio_get_length(handle), 11025ull * 4);
    const TPulled pulled = PullAll(handle);
    QCOMPARE(pulled.bytes, 11025ull * 4);
    QVERIFY(std::equal(pulled.samples.begin(), pulled.samples.end(), tone_.begin()));
  }

  // The last page's granule position says where an Ogg stream ends. Damaged, it must not
  // make a one-second file hours long (silence up to a full disk) or empty.
  void oggWithDamagedEndGranule_data() {
    QTest::addColumn<qint64>("granule");
    QTest::newRow("ten hours") << qint64(22050) * 36000;
    QTest::newRow("wraps to the start") << (qint64(1) << 40);
    QTest::newRow("before the start") << qint64(100);
  }

  void oggWithDamagedEndGranule() {
    QFETCH(qint64, granule);
    auto bytes = ReadBytes(Fixture("ogg"));
    QVERIFY(bytes.size() > 64);
    size_t last = 0;
    for (size_t i = 0; i + 4 <= bytes.size(); ++i)
      if (std::memcmp(&bytes[i], "OggS", 4) == 0) last = i;
    ogg_page page{};
    page.header = &bytes[last];
    page.header_len = 27 + bytes[last + 26];
    page.body = &bytes[last + static_cast<size_t>(page.header_len)];
    for (int s = 0; s < bytes[last + 26]; ++s) page.body_len += bytes[last + 27 + s];
    for (int b = 0; b < 8; ++b) bytes[last + 6 + b] = static_cast<uint8_t>(granule >> (8 * b));
    ogg_page_checksum_set(&page);  // the demuxer drops a page whose checksum fails
    const std::string path = Path("granule.ogg");
    QVERIFY(WriteBytes(path, bytes));

    const uint32_t handle = audio_open_file(0, path.c_str(), 0, 0, 0x220000);
    QVERIFY(handle != 0);
    // A position short of the last packet drops that packet at most, as oggdec does.
    const uint64_t frames = audio_get_length(handle) / 4;
    QVERIFY2(frames > 22050 - 4096 && frames < 22050 + 4096, qPrintable(QString::number(frames)));
    const QString problem = CheckDecodesToItsLength(handle);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
  }

  void awkwardPaths_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("spaces") << "a file with  spaces.mp3";
    QTest::newRow("cyrillic") << "Запись №1 — тест.ogg";
    QTest::newRow("quotes") << "it's \"quoted\".wav";
    QTest::newRow("colon") << "http:not-a-url.wav";
    QTest::newRow("percent and hash") << "50% #1 ?.mp3";
  }

  void awkwardPaths() {
    QFETCH(QString, name);
    const QString ext = name.section('.', -1);
    const std::string good = Fixture(ext.toStdString());
    const QString sub = dir_.filePath("Папка с файлами");
    QVERIFY(QDir().mkpath(sub));
    const std::string path = (sub + "/" + name).toStdString();
    QVERIFY(std::rename(good.c_str(), path.c_str()) == 0);
    const uint32_t handle = audio_open_file(0, path.c_str(), 0, 0, 0x220000);
    QVERIFY(handle != 0);
    QVERIFY(audio_get_length(handle) > 0);
    const QString problem = CheckDecodesToItsLength(handle);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
  }

  // Flipped and cut bytes over every kind, with a fixed seed: whatever opens decodes to
  // its reported length and ends.
  void mutatedFixtures() {
    std::mt19937 random(20261208);
    int opened = 0;
    int cases = 0;
    for (const std::string kind : {"wav", "mp3", "ogg", "wma"}) {
      const auto original = ReadBytes(Fixture(kind));
      QVERIFY(!original.empty());
      for (int round = 0; round < 60; ++round) {
        auto bytes = original;
        const int flips = 1 + static_cast<int>(random() % 24);
        for (int f = 0; f < flips; ++f) {
          // Headers matter most: half of the flips land in the first 512 bytes.
          const size_t span = (f % 2 == 0) ? std::min<size_t>(512, bytes.size()) : bytes.size();
          bytes[random() % span] ^= static_cast<uint8_t>(1u << (random() % 8));
        }
        if (round % 3 == 0) bytes.resize(bytes.size() * (random() % 100) / 100);
        const std::string path = Path(QString("mutant.%1").arg(QString::fromStdString(kind)));
        QVERIFY(WriteBytes(path, bytes));
        ++cases;
        const uint32_t handle = OpenAny(path);
        if (handle == 0) continue;
        ++opened;
        const QString problem = CheckDecodesToItsLength(handle);
        QVERIFY2(problem.isEmpty(),
                 qPrintable(QString("%1 round %2: %3").arg(kind.c_str()).arg(round).arg(problem)));
        audio_free_stream(handle);
      }
    }
    QVERIFY2(opened > cases / 4, qPrintable(QString("%1 of %2 opened").arg(opened).arg(cases)));
  }

  // The layer keeps its state per thread: two threads decode at once, each with its own
  // library and handles, and get the same audio as a lone decode.
  void twoThreadsDecodeAtOnce() {
    const std::string mp3 = Fixture("mp3");
    const std::string ogg = Fixture("ogg");
    auto decodeAlone = [](const std::string& path, std::vector<int16_t>* out, bool* ok) {
      *ok = false;
      if (audio_init(0, 44100, 0, nullptr, nullptr) == 0) return;
      for (int repeat = 0; repeat < 3; ++repeat) {
        const uint32_t source = audio_open_file(0, path.c_str(), 0, 0, 0x220000);
        const uint32_t mixer = mixer_create(44100, 1, 0x210000);
        if (source == 0 || mixer == 0 || mixer_add_channel(mixer, source, 0) != 1) return;
        TPulled pulled = PullAll(mixer);
        if (repeat > 0 && pulled.samples != *out) return;
        *out = std::move(pulled.samples);
        audio_free_stream(mixer);
        audio_free_stream(source);
      }
      *ok = audio_free() == 1;
    };
    std::vector<int16_t> aloneMp3, aloneOgg, threadMp3, threadOgg;
    bool ok[4] = {};
    decodeAlone(mp3, &aloneMp3, &ok[0]);
    decodeAlone(ogg, &aloneOgg, &ok[1]);
    QVERIFY(audio_init(0, 44100, 0, nullptr, nullptr) != 0);
    // This thread's library stays ready while the others come and go.
    const uint32_t mine = audio_create_stream(44100, 2, 0, nullptr, nullptr);
    std::thread first(decodeAlone, mp3, &threadMp3, &ok[2]);
    std::thread second(decodeAlone, ogg, &threadOgg, &ok[3]);
    first.join();
    second.join();
    QVERIFY(ok[0]);
    QVERIFY(ok[1]);
    QVERIFY(ok[2]);
    QVERIFY(ok[3]);
    QVERIFY(!aloneMp3.empty() && !aloneOgg.empty());
    QVERIFY(threadMp3 == aloneMp3);
    QVERIFY(threadOgg == aloneOgg);
    AUDIO_CHANNELINFO info;
    QCOMPARE(audio_get_info(mine, &info), 1);
  }
};

QTEST_GUILESS_MAIN(TestBadInput)
#include "test_badinput.moc"
