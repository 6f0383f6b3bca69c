// A batch run several entries at a time gives what the batch run one entry after the other
// gives: the same outputs byte for byte, the same sources kept or deleted, the same end
// state; and a cancel in the middle stops every running conversion without a partial file
// or a temporary WAV left behind.
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <map>
#include <set>

#include "audio.h"
#include "cdimagefixture.h"
#include "codecs/convfunc.h"
#include "codecs/eabort.h"
#include "codecs/passhooks.h"
#include "decodeback.h"
#include "encodedfixtures.h"
#include "main/mainfunc.h"
#include "main/paths.h"
#include "main/uihooks.h"
#include "midifixture.h"
#include "modulefixture.h"
#include "runfolders.h"
#include "wavfixture.h"

namespace {
constexpr uint32_t kRate = 44100;

QByteArray Contents(const std::string& path) {
  QFile file(QFile::decodeName(path.c_str()));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void SetList(const std::vector<std::string>& paths) {
  MainFunc.FileList = paths;
  MainFunc.Rows.Items = paths;
}

std::vector<int16_t> Tone(double seconds, double hz) {
  return MakeTone(kRate, 2, static_cast<uint64_t>(seconds * kRate), hz);
}

// Every file of the folders a batch touched, with its bytes.
using TFolderState = std::map<std::string, QByteArray>;
}  // namespace

class TestParallelJobs : public QObject {
  Q_OBJECT

  QTemporaryDir root_;
  int runs_ = 0;
  TRunFolders folders_;

  void NewRun() {
    QVERIFY(MakeRunFolders(root_.path(), runs_++, &folders_));
    ConvFunc.Options = FirstRunOptions();
    ConvFunc.Stage = STAGE_NONE;
    MainFunc.ReadOnlyWarn = false;
    EngineHooks = TEngineHooks();
    UiHooks = TUiHooks();
  }

  TFolderState State() const {
    TFolderState state;
    for (const std::string& folder : {folders_.music, folders_.program + "output/"})
      for (const std::string& name : FilesIn(folder))
        state[folder.substr(folder.rfind('/', folder.size() - 2)) + name] = Contents(folder + name);
    for (const std::string& name : FilesIn(folders_.program + "temp/")) state["temp/" + name] = {};
    return state;
  }

  // The mixed list, made afresh in the run's folders. The first entry is a CD track, so
  // every output goes to the fallback folder "output".
  std::vector<std::string> MixedList(const std::string& ext) {
    const std::string& m = folders_.music;
    const std::string output = folders_.program + "output/";
    const std::string cue = m + "disc.cue";
    if (!WriteCdImage(cue, {Tone(2.0, 440.0), Tone(1.5, 550.0)})) qFatal("no CD image");
    cd_set_drives_for_testing({cue});
    if (!QDir().mkpath(QFile::decodeName(output.c_str()))) qFatal("no output folder");
    bool ok = WriteWav(m + "later.wav", kRate, 2, Tone(1.5, 660.0)) &&
              // A source in the output folder that the entry before would replace (the
              // decoder goes by the contents, not by the name).
              WriteWav(output + "later" + ext, kRate, 2, Tone(1.2, 770.0)) &&
              WriteMp3Fixture(m + "clash.mp3", kRate, 2, Tone(1.6, 330.0)) &&
              WriteWav(m + "clash.wav", kRate, 2, Tone(1.1, 880.0)) &&
              WriteMidiFile(m + "song.mid", MidiScale(4)) &&
              WriteModule(m + "tune.xm", TModuleKind::Xm, 16, {{0, 0}, {8, 1}}) &&
              WriteWav(m + "plain.wav", kRate, 2, Tone(2.5, 990.0));
    QFile broken(QFile::decodeName((m + "broken.mp3").c_str()));
    ok = ok && broken.open(QIODevice::WriteOnly) && broken.write("not audio at all") > 0;
    if (!ok) qFatal("fixtures not written");
    return {cue + "/Track01.cda", m + "later.wav",  output + "later" + ext, m + "clash.mp3",
            m + "broken.mp3",     m + "clash.wav",  cue + "/Track02.cda", m + "song.mid",
            m + "tune.xm",        m + "plain.wav"};
  }

  struct TRunResult {
    TFolderState state;
    int32_t stage = 0;
    int32_t totalProgress = 0;
    std::vector<std::string> list;
    std::vector<std::string> failed;
    bool ended = false;
  };

  TRunResult RunBatch(const QString& format, int jobs) {
    NewRun();
    const std::vector<std::string> list = MixedList("." + format.toStdString());
    ConvFunc.Options.OutputFormat = format.toStdString();
    ConvFunc.Options.Delete = true;
    ConvFunc.Options.Jobs = jobs;
    SetList(list);
    ConvFunc.TotalLength = ConvFunc.MeasureTotalLength();
    MainFunc.ConvertAll();
    TRunResult result{State(), ConvFunc.Stage, ConvFunc.TotalProgress, MainFunc.FileList,
                      MainFunc.FailedSources, MainFunc.BatchEnded};
    // The lists name each run's own folders: compare them by the names alone.
    for (std::string& path : result.list) path = path.substr(folders_.program.size() - 5);
    for (std::string& path : result.failed) path = path.substr(folders_.program.size() - 5);
    return result;
  }

 private slots:
  void initTestCase() { QVERIFY(root_.isValid()); }
  void cleanup() {
    cd_set_drives_for_testing({});
    SetProgramDirForTesting("");
    EngineHooks = TEngineHooks();
    UiHooks = TUiHooks();
  }

  void sameBatchWhateverTheJobs_data() {
    QTest::addColumn<QString>("format");
    QTest::newRow("mp3") << "mp3";
    QTest::newRow("wav") << "wav";
    QTest::newRow("flac") << "flac";
  }
  void sameBatchWhateverTheJobs() {
    QFETCH(QString, format);
    const TRunResult one = RunBatch(format, 1);
    const TRunResult three = RunBatch(format, 3);
    const std::string ext = "." + format.toStdString();

    // What one entry at a time gives: the CD tracks, the MIDI song, the module and the plain
    // source converted and their sources gone; the entry whose output would replace a later
    // source kept; the later source replaced by its own output; the second of the clashing
    // pair and the broken source kept.
    std::set<std::string> names;
    for (const auto& [name, bytes] : one.state) names.insert(name);
    const std::set<std::string> expected{
        "/music/disc.cue", "/music/disc.bin", "/music/later.wav", "/music/broken.mp3",
        "/music/clash.wav", "/output/Track01" + ext, "/output/Track02" + ext,
        "/output/later" + ext, "/output/clash" + ext, "/output/song" + ext,
        "/output/tune" + ext, "/output/plain" + ext};
    QCOMPARE(names, expected);
    QCOMPARE(one.stage, int32_t(STAGE_FINISHED));
    // The broken source counts 0 seconds; the held-back entries count as done.
    QCOMPARE(one.totalProgress, int32_t(100));
    QVERIFY(one.ended);
    QCOMPARE(one.failed, std::vector<std::string>{"music/broken.mp3"});

    QCOMPARE(three.stage, one.stage);
    QCOMPARE(three.totalProgress, one.totalProgress);
    QCOMPARE(three.list, one.list);
    QCOMPARE(three.failed, one.failed);
    QCOMPARE(three.ended, one.ended);
    QCOMPARE(three.state.size(), one.state.size());
    for (const auto& [name, bytes] : one.state) {
      QVERIFY2(three.state.count(name), name.c_str());
      QVERIFY2(three.state.at(name) == bytes, name.c_str());
    }
  }

  // A cancel confirmed while three conversions run stops all of them: no partial output,
  // no temporary WAV, every source still there or replaced by its whole output.
  void cancelStopsEveryConversion() {
    NewRun();
    const std::string& m = folders_.music;
    std::vector<std::string> list;
    for (int i = 0; i < 4; ++i) {
      const std::string path = m + "long" + std::to_string(i) + ".wav";
      QVERIFY(WriteWav(path, kRate, 2, Tone(20.0, 440.0 + 110 * i)));
      list.push_back(path);
    }
    ConvFunc.Options.OutputFormat = "mp3";
    ConvFunc.Options.Delete = true;
    ConvFunc.Options.Jobs = 3;
    SetList(list);
    ConvFunc.TotalLength = ConvFunc.MeasureTotalLength();
    bool cancelled = false;
    EngineHooks.ProcessEvents = [&] {
      if (!cancelled && ConvFunc.Stage == STAGE_MP3 && ConvFunc.TotalProgress >= 5) {
        cancelled = true;
        ConvFunc.Stage = STAGE_CANCEL;
        MainFunc.ClearList();  // as the progress window does
      }
    };
    QVERIFY_THROWS_EXCEPTION(EAbort, MainFunc.ConvertAll());
    QVERIFY(cancelled);
    QVERIFY(!MainFunc.BatchEnded);
    QCOMPARE(ConvFunc.Stage, int32_t(STAGE_CANCEL));
    QCOMPARE(FilesIn(folders_.program + "temp/"), std::set<std::string>{});
    const std::set<std::string> files = FilesIn(m);
    for (int i = 0; i < 4; ++i) {
      const std::string name = "long" + std::to_string(i);
      if (files.count(name + ".mp3")) {
        // Only a whole output lets its source go.
        const TWavData back = DecodeBack(m + name + ".mp3");
        QVERIFY(back.ok && back.frames() > 19 * kRate);
      } else {
        QVERIFY2(files.count(name + ".wav"), name.c_str());
      }
    }
    for (const std::string& name : files)
      QVERIFY2(name.size() == 9 && name.rfind("long", 0) == 0, name.c_str());  // no partial file

    // The next batch runs afresh.
    EngineHooks = TEngineHooks();
    SetList({list.back()});
    MainFunc.ConvertAll();
    QCOMPARE(ConvFunc.Stage, int32_t(STAGE_FINISHED));
    QVERIFY(FilesIn(m).count("long3.mp3"));
  }
};

QTEST_GUILESS_MAIN(TestParallelJobs)
#include "test_paralleljobs.moc"
