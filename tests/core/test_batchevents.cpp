// A batch keeps the windows answering from the Convert command to its end: events are
// processed all through the measuring of the list and the conversion, also while a long
// MIDI song or tracker module is rendered inside the audio layer, and a cancel delivered
// while the list is measured stops the batch at once with nothing left behind. Counted per
// minute of audio, never timed.
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "audio.h"
#include "codecs/convfunc.h"
#include "codecs/passhooks.h"
#include "main/mainfunc.h"
#include "main/paths.h"
#include "main/uihooks.h"
#include "midifixture.h"
#include "modulefixture.h"
#include "runfolders.h"

namespace {

// Events must come at least this often while a source is worked on.
constexpr int kCallsPerMinute = 60;

void SetList(const std::vector<std::string>& paths) {
  MainFunc.FileList = paths;
  MainFunc.Rows.Items = paths;
}

QByteArray Contents(const std::string& path) {
  QFile file(QFile::decodeName(path.c_str()));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Files this process holds open in `folder`, unnamed ones included.
int OpenFilesIn(const std::string& folder) {
  const QString prefix = QDir(QFile::decodeName(folder.c_str())).canonicalPath() + "/";
  int count = 0;
  for (const QFileInfo& fd : QDir("/proc/self/fd").entryInfoList(QDir::Files | QDir::System))
    if (fd.symLinkTarget().startsWith(prefix)) ++count;
  return count;
}

}  // namespace

class TestBatchEvents : public QObject {
  Q_OBJECT

  QTemporaryDir root_;
  TRunFolders folders_;
  int songs_ = 0;

  // A MIDI song of `seconds`: a scale climbing and falling. Each song made differs from the
  // ones before, so none of them is known to the audio layer from an earlier opening.
  std::string Song(int seconds) {
    std::vector<TMidiNote> notes;
    for (int i = 0; i < seconds * 2; ++i) {
      TMidiNote n;
      n.startTick = static_cast<uint32_t>(i) * 480;
      n.lengthTicks = 400;
      n.key = static_cast<uint8_t>(48 + (i % 60 < 30 ? i % 30 : 60 - i % 60));
      n.velocity = static_cast<uint8_t>(100 - songs_);
      notes.push_back(n);
    }
    const std::string path = folders_.music + "song" + std::to_string(++songs_) + ".mid";
    if (!WriteMidiFile(path, notes)) qFatal("%s not written", path.c_str());
    return path;
  }

  // A tracker module of 10 passes of 7.68 s.
  std::string Module() {
    const std::string path = folders_.music + "tracker.xm";
    if (!WriteRepeatedXm(path, 10, {{0, 0}, {16, 1}, {32, 2}, {48, 3}}))
      qFatal("%s not written", path.c_str());
    return path;
  }

 private slots:
  void initTestCase() {
    QVERIFY(root_.isValid());
    QVERIFY(MakeRunFolders(root_.path(), 0, &folders_));
  }

  void init() {
    ConvFunc.Options = FirstRunOptions();
    // Counted per pass of the routines, which run on this thread one entry at a time.
    ConvFunc.Options.Jobs = 1;
    ConvFunc.Options.OutputFolder = folders_.program + "out";
    QVERIFY(QDir().mkpath(QString::fromStdString(ConvFunc.Options.OutputFolder)));
    ConvFunc.Stage = STAGE_NONE;
    UiHooks = TUiHooks();
    EngineHooks = TEngineHooks();
  }

  void cleanup() {
    EngineHooks = TEngineHooks();
    QDir(QString::fromStdString(ConvFunc.Options.OutputFolder)).removeRecursively();
  }

  // A long source measured and converted as the Convert command does it, with the event
  // processings counted in both steps.
  void eventsThroughoutMeasuringAndConverting_data() {
    QTest::addColumn<bool>("midi");
    QTest::addColumn<QString>("format");
    QTest::newRow("midi to ogg") << true << "ogg";
    QTest::newRow("midi to wav") << true << "wav";
    QTest::newRow("module to mp3") << false << "mp3";
    QTest::newRow("module to wav") << false << "wav";
  }
  void eventsThroughoutMeasuringAndConverting() {
    QFETCH(bool, midi);
    QFETCH(QString, format);
    const int seconds = 76;  // the module's length, whole seconds
    const std::string source = midi ? Song(seconds) : Module();
    ConvFunc.Options.OutputFormat = format.toStdString();
    SetList({source});
    int calls = 0;
    EngineHooks.ProcessEvents = [&] { ++calls; };

    ConvFunc.TotalLength = ConvFunc.MeasureTotalLength();
    const int measuring = calls;
    QVERIFY2(ConvFunc.TotalLength >= seconds, qPrintable(QString::number(ConvFunc.TotalLength)));
    calls = 0;
    MainFunc.ConvertAll();
    QCOMPARE(ConvFunc.Stage, int32_t(STAGE_FINISHED));
    const std::string output = ConvFunc.Options.OutputFolder + "/" +
                               QFileInfo(QString::fromStdString(source)).completeBaseName().toStdString() +
                               "." + format.toStdString();
    QVERIFY(!Contents(output).isEmpty());
    const double minutes = seconds / 60.0;
    QVERIFY2(measuring >= kCallsPerMinute * minutes, qPrintable(QString::number(measuring)));
    QVERIFY2(calls >= kCallsPerMinute * minutes, qPrintable(QString::number(calls)));

    if (midi && format == "wav") {
      // The song was rendered while measuring and delivered from that render; rendered
      // anew for delivery, it gives the same bytes.
      const QByteArray kept = Contents(output);
      audio_drop_kept_renders();
      const std::string again = ConvFunc.Options.OutputFolder + "/again.wav";
      QVERIFY(MainFunc.ConvertFile(source, again));
      QCOMPARE(Contents(again).size(), kept.size());
      QVERIFY(Contents(again) == kept);
    }
  }

  // The user cancels while the third source is rendered to measure it: the measuring stops
  // there, the batch converts nothing, and neither a file nor a kept render of the first
  // song stays behind.
  void cancelWhileMeasuringStopsAtOnce() {
    ConvFunc.Options.OutputFormat = "ogg";
    ConvFunc.Stage = STAGE_CANCEL;  // left from a cancelled batch before: no cancel now
    SetList({Song(10), Module(), Song(90)});
    int calls = 0, afterCancel = 0;
    bool cancelled = false;
    EngineHooks.ProcessEvents = [&] {
      if (cancelled) ++afterCancel;
      // The short song and the module take about 250 calls, the long song over 900.
      if (++calls == 600) {
        // As the progress window does it.
        ConvFunc.Stage = STAGE_CANCEL;
        MainFunc.ClearList();
        cancelled = true;
      }
    };
    ConvFunc.TotalLength = ConvFunc.MeasureTotalLength();
    QVERIFY(cancelled);
    MainFunc.ConvertAll();
    QCOMPARE(afterCancel, 0);
    QCOMPARE(ConvFunc.Stage, int32_t(STAGE_CANCEL));
    QVERIFY(FilesIn(ConvFunc.Options.OutputFolder).empty());
    QVERIFY(FilesIn(folders_.program + "temp").empty());
    QCOMPARE(OpenFilesIn(folders_.program + "temp"), 0);
  }
};

QTEST_GUILESS_MAIN(TestBatchEvents)
#include "test_batchevents.moc"
