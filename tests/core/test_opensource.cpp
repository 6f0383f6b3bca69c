// Opening every source kind through the cascade, freeing by type, and measuring the
// conversion list in whole seconds.
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "audio.h"
#include "cdimagefixture.h"
#include "codecs/audioguards.h"
#include "codecs/convfunc.h"
#include "encodedfixtures.h"
#include "main/mainfunc.h"
#include "midifixture.h"
#include "modulefixture.h"
#include "wavfixture.h"

namespace {
// A quiet tone of exactly `seconds` (to the frame) at a small rate, to keep files small.
bool WriteSeconds(const std::string& path, double seconds) {
  const uint32_t rate = 8000;
  return WriteWav(path, rate, 1,
                  MakeTone(rate, 1, static_cast<uint64_t>(seconds * rate + 0.5), 500.0, 0.2));
}
}  // namespace

class TestOpenSource : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  std::string Path(const std::string& name) {
    return dir_.filePath(QString::fromStdString(name)).toStdString();
  }

 private slots:
  void initTestCase() {
    QVERIFY(WriteWav(Path("tone.wav"), 44100, 2, MakeTone(44100, 2, 22050, 440.0)));
    QVERIFY(WriteMp3Fixture(Path("tone.mp3"), 44100, 2, MakeTone(44100, 2, 44100, 440.0)));
    QVERIFY(WriteOggFixture(Path("tone.ogg"), 44100, 2, MakeTone(44100, 2, 44100, 440.0)));
    QVERIFY(WriteWmaFixture(Path("tone.wma"), 44100, 2, MakeTone(44100, 2, 44100, 440.0)));
    QVERIFY(WriteModule(Path("song.mod"), TModuleKind::Mod, 8, {{0, 0}}));
    QVERIFY(WriteModule(Path("song.xm"), TModuleKind::Xm, 8, {{0, 0}}));
    QVERIFY(WriteModule(Path("song.s3m"), TModuleKind::S3m, 8, {{0, 0}}));
    QVERIFY(WriteMidiFile(Path("song.mid"), MidiScale(2)));
    QVERIFY(WriteCdImage(Path("disc.cue"), {MakeTone(44100, 2, 44100 * 3, 440.0),
                                            MakeTone(44100, 2, 44100, 880.0)}));
    FILE* f = std::fopen(Path("notes.txt").c_str(), "wb");
    std::fputs("plain text, no audio at all\n", f);
    std::fclose(f);
  }

  void cascadeOpensEveryKind_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<uint32_t>("ctype");
    QTest::newRow("wav") << "tone.wav" << AUDIO_CTYPE_STREAM;
    QTest::newRow("mp3") << "tone.mp3" << AUDIO_CTYPE_STREAM;
    QTest::newRow("ogg") << "tone.ogg" << AUDIO_CTYPE_STREAM;
    QTest::newRow("wma") << "tone.wma" << AUDIO_CTYPE_WMA;
    QTest::newRow("cd track") << "disc.cue/Track02.cda" << AUDIO_CTYPE_CD;
    QTest::newRow("mod") << "song.mod" << AUDIO_CTYPE_MOD;
    QTest::newRow("xm") << "song.xm" << AUDIO_CTYPE_XM;
    QTest::newRow("s3m") << "song.s3m" << AUDIO_CTYPE_S3M;
    QTest::newRow("midi") << "song.mid" << AUDIO_CTYPE_MIDI;
  }
  void cascadeOpensEveryKind() {
    QFETCH(QString, name);
    QFETCH(uint32_t, ctype);
    TAudioLibrary library(0, 44100, 0);
    QVERIFY(library.Ready());
    const uint32_t h = OpenSource(Path(name.toStdString()), 0x220000, 0x220000);
    QVERIFY(h != 0);
    AUDIO_CHANNELINFO info;
    QVERIFY(audio_get_info(h, &info));
    QCOMPARE(info.ctype, ctype);
    QVERIFY(audio_get_length(h) > 0);
    FreeSource(h);
    QCOMPARE(audio_get_info(h, &info), 0);  // gone, whichever way it was freed
  }

  void refusedByEveryOpener_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("text file") << "notes.txt";
    QTest::newRow("missing file") << "nothing.mp3";
    QTest::newRow("track beyond the disc") << "disc.cue/Track03.cda";
    QTest::newRow("folder") << "";
  }
  void refusedByEveryOpener() {
    QFETCH(QString, name);
    TAudioLibrary library(0, 44100, 0);
    QCOMPARE(OpenSource(Path(name.toStdString()), 0x220000, 0x220000), 0u);
    FreeSource(0);  // ignored
  }

  void measureSumsWholeSecondsOfEachSource_data() {
    QTest::addColumn<QList<double>>("seconds");
    QTest::addColumn<int>("total");
    QTest::newRow("three of 10.5 s") << QList<double>{10.5, 10.5, 10.5} << 30;
    QTest::newRow("59.9 and 0.4") << QList<double>{59.9, 0.4} << 59;
    QTest::newRow("all under a second") << QList<double>{0.9, 0.5, 0.99} << 0;
    QTest::newRow("empty list") << QList<double>{} << 0;
  }
  void measureSumsWholeSecondsOfEachSource() {
    QFETCH(QList<double>, seconds);
    QFETCH(int, total);
    MainFunc.FileList.clear();
    for (int i = 0; i < seconds.size(); ++i) {
      const std::string path = Path("part" + std::to_string(i) + ".wav");
      QVERIFY(WriteSeconds(path, seconds[i]));
      MainFunc.FileList.push_back(path);
    }
    QCOMPARE(ConvFunc.MeasureTotalLength(), total);
    QVERIFY(!LibraryStillReady());
  }

  void measureCountsEveryKindAndSkipsUnopenable() {
    // Each source's whole seconds: wav 0 (0.5 s), mp3 1, cd track 3, module of 64 rows 7
    // (7.68 s), and 0 for the text file that no opener takes.
    QVERIFY(WriteModule(Path("long.mod"), TModuleKind::Mod, 64, {{0, 0}}));
    MainFunc.FileList = {Path("tone.wav"), Path("tone.mp3"), Path("disc.cue/Track01.cda"),
                         Path("long.mod"), Path("notes.txt")};
    QCOMPARE(ConvFunc.MeasureTotalLength(), 11);
  }

  // FIFOs named like every source kind, and a device, in the list: measuring must not
  // open them at all (a FIFO's open waits for a writer, a device never ends). A watcher
  // plays the writer: its non-blocking open succeeds only while some reader holds the
  // FIFO open, so an opener that blocked is both seen and released.
  void fifosAndDevicesInTheListDoNotBlock() {
    std::vector<std::string> fifos;
    for (const char* name :
         {"pipe.mp3", "pipe.wma", "pipe.xm", "pipe.mid", "pipe.wav", "pipe.cue"}) {
      fifos.push_back(Path(name));
      QCOMPARE(mkfifo(fifos.back().c_str(), 0600), 0);
    }
    std::atomic<bool> done{false};
    std::atomic<int> readersSeen{0};
    std::thread watcher([&] {
      while (!done) {
        for (const std::string& fifo : fifos) {
          const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
          if (fd >= 0) {
            ++readersSeen;
            ::close(fd);
          }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
    MainFunc.FileList = fifos;
    MainFunc.FileList.back() += "/Track01.cda";  // a track of a disc image that is a FIFO
    MainFunc.FileList.push_back("/dev/zero");
    MainFunc.FileList.push_back(Path("tone.mp3"));
    const int32_t seconds = ConvFunc.MeasureTotalLength();
    done = true;
    watcher.join();
    QCOMPARE(readersSeen.load(), 0);
    QCOMPARE(seconds, 1);
    for (const std::string& fifo : fifos) std::remove(fifo.c_str());
  }

  void measureZeroesCountersButKeepsStage() {
    MainFunc.FileList = {};
    ConvFunc.CurrentProgress = 5;
    ConvFunc.TotalProgress = 6;
    ConvFunc.TotalLength = 7;
    ConvFunc.CurrentLength = 8;
    ConvFunc.CurrentPosition = 9;
    ConvFunc.TotalPosition = 10;
    ConvFunc.Stage = STAGE_CANCEL;
    QCOMPARE(ConvFunc.MeasureTotalLength(), 0);
    QCOMPARE(ConvFunc.CurrentProgress, 0);
    QCOMPARE(ConvFunc.TotalProgress, 0);
    QCOMPARE(ConvFunc.TotalLength, 0);
    QCOMPARE(ConvFunc.CurrentLength, 0);
    QCOMPARE(ConvFunc.CurrentPosition, 0);
    QCOMPARE(ConvFunc.TotalPosition, 0);
    QCOMPARE(ConvFunc.Stage, int32_t(STAGE_CANCEL));
    ConvFunc.Stage = STAGE_NONE;
  }

 private:
  // The library is released once measuring is done: a channel cannot be opened now.
  static bool LibraryStillReady() {
    return audio_create_stream(44100, 1, 0, nullptr, nullptr) != 0;
  }
};

QTEST_GUILESS_MAIN(TestOpenSource)
#include "test_opensource.moc"
