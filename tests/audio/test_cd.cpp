// Audio-CD tracks read from a CUE/BIN image standing in for a drive.
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <vector>

#include "audio.h"
#include "cdimagefixture.h"
#include "channel.h"
#include "wavfixture.h"

using audio_detail::Channel;

namespace {
// Stereo tracks whose two channels differ and whose samples are not symmetric in their two
// bytes, so that a swapped channel or byte order shows.
std::vector<std::vector<int16_t>> ThreeTracks() {
  std::vector<std::vector<int16_t>> tracks;
  tracks.push_back(MakeTone(44100, 2, 44100, 441.0, 0.5, true));        // exactly 75 sectors
  tracks.push_back(MakeTone(44100, 2, 22050 + 100, 660.0, 0.3, true));  // padded to a sector
  std::vector<int16_t> ramp(2 * 5000);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<int16_t>(i * 7 - 30000);
  tracks.push_back(ramp);
  return tracks;
}

// A track that opens with two seconds of silence: nothing there tells the byte order.
std::vector<int16_t> LateTone() {
  std::vector<int16_t> track(2 * 44100 * 2, 0);
  const std::vector<int16_t> tone = MakeTone(44100, 2, 44100, 1000.0, 0.7, true);
  track.insert(track.end(), tone.begin(), tone.end());
  return track;
}

std::vector<int16_t> PullAll(Channel& c) {
  std::vector<int16_t> all;
  std::vector<int16_t> buffer(3000);  // not a whole sector, so reads straddle sectors
  for (int pulls = 0; pulls < 100000; ++pulls) {
    const int32_t got = c.pull(buffer.data(), 6000);
    if (got <= 0) break;
    all.insert(all.end(), buffer.begin(), buffer.begin() + got / 2);
  }
  return all;
}
}  // namespace

class TestCd : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  std::string cue_;

 private slots:
  void initTestCase() {
    cue_ = dir_.filePath("disc.cue").toStdString();
    QVERIFY(WriteCdImage(cue_, ThreeTracks()));
  }
  void cleanup() { cd_set_drives_for_testing({}); }

  void imageStandsAsTheFirstDrive() {
    cd_set_drives_for_testing({cue_, dir_.filePath("other.cue").toStdString()});
    const std::vector<std::string> drives = cd_list_drives();
    QCOMPARE(drives.size(), size_t(2));
    QCOMPARE(drives[0], cue_);
    QCOMPARE(cd_drive_query(0), 3);
    QCOMPARE(cd_drive_query(1), -1);  // that drive holds no disc
    QCOMPARE(cd_drive_query(2), -1);  // no such drive
    QCOMPARE(cd_drive_query(-1), -1);
  }

  void atMost23Drives() {
    cd_set_drives_for_testing(std::vector<std::string>(30, cue_));
    QCOMPARE(cd_list_drives().size(), size_t(23));
    cd_set_drives_for_testing({});
    QVERIFY(cd_list_drives().size() <= 23);
  }

  void tracksReadBitExact_data() {
    QTest::addColumn<int>("track");
    QTest::newRow("Track01") << 1;
    QTest::newRow("Track02") << 2;
    QTest::newRow("Track03") << 3;
  }
  void tracksReadBitExact() {
    QFETCH(int, track);
    char name[32];
    std::snprintf(name, sizeof name, "/Track%02d.cda", track);
    auto channel = audio_detail::open_cd_track_channel(cue_ + name);
    QVERIFY(channel);
    QCOMPARE(channel->rate, 44100u);
    QCOMPARE(channel->chans, 2u);
    QCOMPARE(channel->ctype, AUDIO_CTYPE_CD);
    const std::vector<int16_t> expected = PadToSectors(ThreeTracks()[track - 1]);
    QCOMPARE(channel->length_bytes, uint64_t(expected.size() * 2));
    QCOMPARE(channel->length_bytes % 2352, uint64_t(0));
    const std::vector<int16_t> got = PullAll(*channel);
    QCOMPARE(got.size(), expected.size());
    QVERIFY(got == expected);
    QVERIFY(!channel->active());
  }

  void byteOrderIsNotGuessedFromTheMusic() {
    const std::string cue = dir_.filePath("late.cue").toStdString();
    QVERIFY(WriteCdImage(cue, {LateTone(), LateTone()}));
    for (const char* entry : {"/Track01.cda", "/Track02.cda"}) {
      auto channel = audio_detail::open_cd_track_channel(cue + entry);
      QVERIFY(channel);
      QVERIFY(PullAll(*channel) == PadToSectors(LateTone()));
    }
  }

  void refusesEntriesThatNameNoTrack_data() {
    QTest::addColumn<QString>("entry");
    QTest::newRow("track beyond the disc") << "/Track04.cda";
    QTest::newRow("track zero") << "/Track00.cda";
    QTest::newRow("letter case counts") << "/track01.cda";
    QTest::newRow("other extension") << "/Track01.wav";
    QTest::newRow("no number") << "/Track.cda";
    QTest::newRow("sign in the number") << "/Track-1.cda";
  }
  void refusesEntriesThatNameNoTrack() {
    QFETCH(QString, entry);
    QVERIFY(!audio_detail::open_cd_track_channel(cue_ + entry.toStdString()));
  }

  void driveWithoutDiscIsRefused() {
    const std::string empty = dir_.filePath("nodisc.cue").toStdString();
    cd_set_drives_for_testing({empty});
    QCOMPARE(cd_drive_query(0), -1);
    QVERIFY(!audio_detail::open_cd_track_channel(empty + "/Track01.cda"));
    QVERIFY(!audio_detail::open_cd_track_channel("/dev/null/Track01.cda"));
    QVERIFY(!audio_detail::open_cd_track_channel("Track01.cda"));
    cd_set_drives_for_testing({""});
    QCOMPARE(cd_drive_query(0), -1);
  }
};

QTEST_GUILESS_MAIN(TestCd)
#include "test_cd.moc"
