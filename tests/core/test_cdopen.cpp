// The CD command: a disc's tracks replace the list, and the two refusals leave it alone.
#include <QTemporaryDir>
#include <QtTest>

#include "audio.h"
#include "cdimagefixture.h"
#include "main/cdopen.h"
#include "main/mainfunc.h"
#include "main/uihooks.h"
#include "wavfixture.h"

namespace {
struct TMessage {
  std::string text, caption;
  int flags;
};

std::vector<std::vector<int16_t>> Tracks(int count) {
  // Short tracks keep the image small; the listing never reads the audio.
  std::vector<std::vector<int16_t>> tracks;
  for (int i = 0; i < count; ++i) tracks.push_back(MakeTone(44100, 2, 2352, 200.0 + 50 * i));
  return tracks;
}
}  // namespace

class TestCdOpen : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::vector<TMessage> messages_;
  int sleeps_ = 0, events_ = 0, repaints_ = 0;

  std::string Image(const std::string& name, int tracks) {
    const std::string cue = dir_.filePath(QString::fromStdString(name)).toStdString();
    if (!WriteCdImage(cue, Tracks(tracks))) qFatal("image %s not written", cue.c_str());
    return cue;
  }

  void Fill(const std::vector<std::string>& paths) {
    MainFunc.FileList = paths;
    MainFunc.Rows.Items = paths;
  }

 private slots:
  void init() {
    messages_.clear();
    sleeps_ = events_ = repaints_ = 0;
    UiHooks = TUiHooks();
    UiHooks.MessageBox = [this](const std::string& text, const std::string& caption, int flags) {
      messages_.push_back({text, caption, flags});
      return int(ID_OK);
    };
    UiHooks.Sleep = [this](int ms) {
      QCOMPARE(ms, 5);
      ++sleeps_;
    };
    UiHooks.ProcessEvents = [this] { ++events_; };
    MainFunc.Rows.OnRepaint = [this] { ++repaints_; };
    Fill({"/music/old.mp3", "/music/older.ogg"});
  }

  void cleanup() {
    cd_set_drives_for_testing({});
    MainFunc.Rows.OnRepaint = nullptr;
    UiHooks = TUiHooks();
  }

  void trackNames() {
    QCOMPARE(CDTrackEntry("/dev/sr0/", 1), std::string("/dev/sr0/Track01.cda"));
    QCOMPARE(CDTrackEntry("/dev/sr0/", 9), std::string("/dev/sr0/Track09.cda"));
    QCOMPARE(CDTrackEntry("/dev/sr0/", 10), std::string("/dev/sr0/Track10.cda"));
    QCOMPARE(CDTrackEntry("/dev/sr0/", 100), std::string("/dev/sr0/Track100.cda"));
  }

  // Twelve tracks, listed exactly, twice in a row: one set of entries.
  void twelveTracks() {
    const std::string cue = Image("twelve.cue", 12);
    cd_set_drives_for_testing({cue});
    std::vector<std::string> expected;
    for (int i = 1; i <= 12; ++i)
      expected.push_back(cue + (i < 10 ? "/Track0" : "/Track") + std::to_string(i) + ".cda");

    for (int run = 1; run <= 2; ++run) {
      OpenCDTracks();
      QVERIFY(messages_.empty());
      QCOMPARE(MainFunc.FileList, expected);
      QCOMPARE(MainFunc.Rows.Items, expected);
      QCOMPARE(sleeps_, 12 * run);
      QCOMPARE(events_, 12 * run);
    }
    // The clearing repaints too; the listing adds one repaint of its own per run.
    QVERIFY(repaints_ >= 2);
  }

  // Every entry is a source the CD layer opens: its length is the track's.
  void entriesOpenAsTracks() {
    const std::string cue = Image("three.cue", 3);
    cd_set_drives_for_testing({cue});
    OpenCDTracks();
    QCOMPARE(MainFunc.FileList.size(), size_t(3));
    QVERIFY(audio_init(0, 44100, 0, nullptr, nullptr));
    const uint32_t track = cd_open_track_file(MainFunc.FileList[2].c_str(), 0);
    QVERIFY(track != 0);
    QCOMPARE(audio_get_length(track), uint64_t(2352 * 4));
    audio_free();
  }

  void noDrive() {
    // An empty device path stands for "no drive at all".
    cd_set_drives_for_testing({""});
    OpenCDTracks();
    QCOMPARE(messages_.size(), size_t(1));
    QCOMPARE(messages_[0].text, std::string("CD/DVD дисковод в вашей системе не обнаружен!"));
    QCOMPARE(messages_[0].caption, std::string("Ошибка"));
    QCOMPARE(messages_[0].flags, 16);
    QCOMPARE(MainFunc.FileList, (std::vector<std::string>{"/music/old.mp3", "/music/older.ogg"}));
    QCOMPARE(MainFunc.Rows.Items, MainFunc.FileList);
  }

  // No disc, a one-track disc, or a disc only in the second drive: refused, list kept.
  void refused_data() {
    QTest::addColumn<QString>("firstDrive");
    QTest::addColumn<QString>("secondDrive");
    QTest::newRow("no disc") << "missing.cue" << "";
    QTest::newRow("one track") << "one.cue" << "";
    QTest::newRow("disc only in the second drive") << "missing.cue" << "five.cue";
  }
  void refused() {
    QFETCH(QString, firstDrive);
    QFETCH(QString, secondDrive);
    const std::string one = Image("one.cue", 1);
    const std::string five = Image("five.cue", 5);
    std::vector<std::string> drives{dir_.filePath(firstDrive).toStdString()};
    if (!secondDrive.isEmpty()) drives.push_back(dir_.filePath(secondDrive).toStdString());
    cd_set_drives_for_testing(drives);
    OpenCDTracks();
    QCOMPARE(messages_.size(), size_t(1));
    QCOMPARE(messages_[0].text, std::string("Некорректный CD в дисководе или CD отсутствует!"));
    QCOMPARE(messages_[0].caption, std::string("Ошибка чтения CD"));
    QCOMPARE(messages_[0].flags, 16);
    QCOMPARE(MainFunc.FileList, (std::vector<std::string>{"/music/old.mp3", "/music/older.ogg"}));
    QCOMPARE(MainFunc.Rows.Items, MainFunc.FileList);
    QCOMPARE(sleeps_, 0);
  }
};

QTEST_GUILESS_MAIN(TestCdOpen)
#include "test_cdopen.moc"
