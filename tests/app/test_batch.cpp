// Whole batches under the offscreen platform, driven through the windows' own handlers:
// the Convert command, the progress window with its cancel question, the read-only
// warning before each file, and the about box's links.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <set>

#include "about.h"
#include "audio.h"
#include "cdimagefixture.h"
#include "codecs/convfunc.h"
#include "codecs/passhooks.h"
#include "convertlist.h"
#include "decodeback.h"
#include "encodedfixtures.h"
#include "main/jobdriver.h"
#include "main/listops.h"
#include "main/mainfunc.h"
#include "main/paths.h"
#include "main/uihooks.h"
#include "mainform.h"
#include "midifixture.h"
#include "modulefixture.h"
#include "options.h"
#include "progress.h"
#include "qthooks.h"
#include "readonlywarnbox.h"
#include "runfolders.h"
#include "startup.h"
#include "wavfixture.h"

namespace {
constexpr uint32_t kRate = 44100;

struct TShown {
  std::string text, caption;
  int flags;
};

std::string Str(const QString& s) { return QFile::encodeName(s).toStdString(); }
bool Exists(const std::string& path) { return QFile::exists(QFile::decodeName(path.c_str())); }

double Frequency(const TWavData& data) {
  return ToneFrequency(data);
}

// With ORVIK_SCREENSHOT set to a folder, keeps a picture of the window as the user sees it.
void SaveScreenshot(QWidget* window, const char* what) {
  if (!qEnvironmentVariableIsSet("ORVIK_SCREENSHOT")) return;
  const QString name = QString::fromUtf8(QTest::currentDataTag()).replace(' ', '-');
  window->grab().save(qEnvironmentVariable("ORVIK_SCREENSHOT") + "/" + what + "-" + name + ".png");
}

// Runs `act` on the first event-loop turn at which `ready` holds (a modal box is up).
void WhenReady(std::function<bool()> ready, std::function<void()> act) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, ready, act] {
    if (!ready()) return;
    timer->stop();
    timer->deleteLater();
    act();
  });
  timer->start();
}
}  // namespace

class TestBatch : public QObject {
  Q_OBJECT

  QTemporaryDir root_;
  std::string program_, music_;
  std::vector<TShown> shown_;
  int answer_ = ID_OK;
  int counter_ = 0;

  std::string Tone(const std::string& name, double seconds, double tone) {
    const std::string path = music_ + name;
    const auto samples = MakeTone(kRate, 2, static_cast<uint64_t>(seconds * kRate), tone);
    const std::string ext = ExtensionOf(name);
    const bool ok = ext == "ogg"   ? WriteOggFixture(path, kRate, 2, samples)
                    : ext == "mp3" ? WriteMp3Fixture(path, kRate, 2, samples)
                    : ext == "wma" ? WriteWmaFixture(path, kRate, 2, samples)
                                   : WriteWav(path, kRate, 2, samples);
    if (!ok) qFatal("fixture %s not written", path.c_str());
    return path;
  }

  void SetList(const std::vector<std::string>& paths) {
    MainFunc.ClearList();
    AppendSourcePaths(paths);
    QCOMPARE(MainFunc.Rows.Count(), int(paths.size()));
  }

  void ChooseFormat(const QString& format) {
    Form1->OutFormat->setCurrentIndex(Form1->OutFormat->findText(format));
    Form1->OutFormatChange();
    QCOMPARE(QString::fromStdString(ConvFunc.Options.OutputFormat), format);
  }

  // The user presses OK in the progress window after a finished batch.
  void DismissFinished() {
    // The stage line keeps the last batch's text until the first tick after showing, so
    // wait for the gauge, which FormShow set to 0.
    QTRY_COMPARE(ProgressBox->ProgressTotal->value(), 100);
    QCOMPARE(ProgressBox->ProgressStage->text(), QStringLiteral("Конвертация завершена."));
    ProgressBox->CloseProgress->click();
    QVERIFY(shown_.empty());  // nothing asked once the batch is complete
    QVERIFY(!ProgressBox->isVisible());
    QVERIFY(!ProgressBox->Timer->isActive());
    QVERIFY(Form1->isVisible());
    QCOMPARE(MainFunc.Rows.Count(), 0);
    QVERIFY(MainFunc.FileList.empty());
  }

 private slots:
  void initTestCase() {
    QVERIFY(root_.isValid());
    SetProgramDirForTesting(Str(root_.path()) + "/prog/");
    QVERIFY(QDir().mkpath(root_.path() + "/prog"));
    StartUp();
    QVERIFY(QTest::qWaitForWindowExposed(Form1));
  }

  void init() {
    TRunFolders folders;
    QVERIFY(MakeRunFolders(root_.path(), counter_++, &folders));
    program_ = folders.program;
    music_ = folders.music;
    ConvFunc.Options = FirstRunOptions();
    MainFunc.ReadOnlyWarn = false;
    MainFunc.ClearList();
    shown_.clear();
    answer_ = ID_OK;
    UiHooks.MessageBox = [this](const std::string& text, const std::string& caption, int flags) {
      shown_.push_back({text, caption, flags});
      return answer_;
    };
    // Real event processing between passes, without the pauses.
    EngineHooks.Sleep = nullptr;
    UiHooks.Sleep = nullptr;
    cd_set_drives_for_testing({});
  }

  void cleanup() {
    if (ProgressBox->isVisible()) {
      ConvFunc.TotalProgress = 100;
      ProgressBox->CloseProgress->click();
    }
    InstallWindowHooks();
    cd_set_drives_for_testing({});
  }

  void cleanupTestCase() { SetProgramDirForTesting(""); }

  // A list of every source kind converted to each output format; each output holds its
  // source's tone, and the finished batch empties the list on OK.
  void mixedListToEachFormat_data() {
    QTest::addColumn<QString>("format");
    QTest::newRow("mp3") << "mp3";
    QTest::newRow("ogg") << "ogg";
    QTest::newRow("wma") << "wma";
    QTest::newRow("wav") << "wav";
  }
  void mixedListToEachFormat() {
    QFETCH(QString, format);
    const std::vector<std::pair<std::string, double>> tones{
        {Tone("a.wav", 1.5, 440.0), 440.0},
        {Tone("b.ogg", 1.5, 550.0), 550.0},
        {Tone("c.mp3", 1.5, 660.0), 660.0},
        {Tone("d.wma", 1.5, 770.0), 770.0}};
    const std::string midi = music_ + "e.mid";
    QVERIFY(WriteMidiFile(midi, MidiScale(3)));
    const std::string module = music_ + "f.xm";
    QVERIFY(WriteModule(module, TModuleKind::Xm, 12, {{0, 0}, {4, 1}}));
    std::vector<std::string> list;
    for (const auto& [path, tone] : tones) list.push_back(path);
    list.push_back(midi);
    list.push_back(module);
    SetList(list);
    ChooseFormat(format);

    bool sawBatch = false;
    auto process = EngineHooks.ProcessEvents;
    EngineHooks.ProcessEvents = [&] {
      sawBatch = sawBatch || (ProgressBox->isVisible() && !Form1->isVisible() &&
                              MainFunc.BatchRunning && !Form1->Convert->isEnabled());
      process();
    };
    Form1->Convert->click();
    EngineHooks.ProcessEvents = process;

    QVERIFY(sawBatch);
    QVERIFY(!MainFunc.BatchRunning);
    QVERIFY(ProgressBox->isVisible());
    QVERIFY(!Form1->isVisible());
    QVERIFY(ConvFunc.TotalLength >= 4);
    const std::string ext = format.toStdString();
    for (const auto& [path, tone] : tones) {
      const TWavData back = DecodeBack(StripExtension(path) + "." + ext);
      QVERIFY2(back.ok, path.c_str());
      QVERIFY(back.frames() > kRate);
      QVERIFY2(std::abs(Frequency(back) - tone) < tone * 0.03, path.c_str());
    }
    for (const std::string& synthetic : {midi, module}) {
      const TWavData back = DecodeBack(StripExtension(synthetic) + "." + ext);
      QVERIFY2(back.ok && back.frames() > kRate / 4, synthetic.c_str());
    }
    DismissFinished();
  }

  // OK pressed mid-file: Cancel goes on with the batch untouched, OK stops it at once
  // and leaves no partial output. A MIDI song is rendered while the list is measured: the
  // progress window is on the screen by then, and OK there ends the batch before it starts.
  void cancelMidFile_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("measuring");
    QTest::newRow("answered Cancel") << int(ID_CANCEL) << false;
    QTest::newRow("answered OK") << int(ID_OK) << false;
    QTest::newRow("answered OK while measuring") << int(ID_OK) << true;
  }
  void cancelMidFile() {
    QFETCH(int, answer);
    QFETCH(bool, measuring);
    answer_ = answer;
    const std::string song = music_ + "long.mid";
    QVERIFY(!measuring || WriteMidiFile(song, MidiScale(20, 48)));
    const std::string first = measuring ? song : Tone("long.ogg", 6.0, 440.0);
    const std::string second = Tone("next.wav", 1.2, 880.0);
    SetList({first, second});
    ChooseFormat("mp3");

    int passes = 0;
    bool listKeptWhileAsked = false, onScreen = false;
    auto process = EngineHooks.ProcessEvents;
    EngineHooks.ProcessEvents = [&] {
      if (++passes == 3) {
        onScreen = ProgressBox->windowHandle() && ProgressBox->windowHandle()->isVisible();
        ProgressBox->CloseProgress->click();
        listKeptWhileAsked = answer != ID_CANCEL || MainFunc.FileList.size() == 2;
      }
      process();
    };
    Form1->Convert->click();
    EngineHooks.ProcessEvents = process;

    QCOMPARE(shown_.size(), size_t(1));
    QCOMPARE(shown_[0].text, std::string("Вы действительно хотите прервать конвертацию файла (-ов)?"));
    QCOMPARE(shown_[0].caption, std::string("Подтверждение"));
    QCOMPARE(shown_[0].flags, 33);
    QVERIFY(!MainFunc.BatchRunning);
    if (answer == ID_CANCEL) {
      QVERIFY(listKeptWhileAsked);
      QVERIFY(ProgressBox->isVisible());
      QVERIFY(Exists(music_ + "long.mp3"));
      QVERIFY(Exists(music_ + "next.mp3"));
      shown_.clear();
      DismissFinished();
    } else {
      QCOMPARE(ConvFunc.Stage, int32_t(STAGE_CANCEL));
      QVERIFY(!ProgressBox->isVisible());
      QVERIFY(Form1->isVisible());
      QVERIFY(Form1->Convert->isEnabled());
      QCOMPARE(MainFunc.Rows.Count(), 0);
      QCOMPARE(FilesIn(music_), (std::set<std::string>{NamePart(first), "next.wav"}));
      QVERIFY(!Exists(TemporaryWavPath()));
      QVERIFY(onScreen);
    }
  }

  // Convert with nothing listed does nothing; Ctrl+C's menu item starts a batch as the
  // button does.
  void convertCommands() {
    Form1->Convert->click();
    QVERIFY(!ProgressBox->isVisible());
    QVERIFY(Form1->isVisible());

    const std::string source = Tone("menu.wav", 1.2, 440.0);
    SetList({source});
    ChooseFormat("ogg");
    QCOMPARE(Form1->Convert2->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_C));
    Form1->Convert2->trigger();
    QVERIFY(ProgressBox->isVisible());
    QVERIFY(std::abs(Frequency(DecodeBack(music_ + "menu.ogg")) - 440.0) < 440.0 * 0.03);
    DismissFinished();
  }

  // The warning comes before each CD file until "don't show again" is ticked.
  void warningBeforeEachFile() {
    const std::string cue = music_ + "disc.cue";
    std::vector<std::vector<int16_t>> tracks;
    for (int i = 0; i < 3; ++i) tracks.push_back(MakeTone(kRate, 2, kRate * 5 / 4, 300.0 + 200 * i));
    QVERIFY(WriteCdImage(cue, tracks));
    cd_set_drives_for_testing({cue});
    MainFunc.ReadOnlyWarn = true;
    ReadOnlyWarningBox->WarnMore->setChecked(false);
    Form1->CD1->trigger();
    QCOMPARE(MainFunc.Rows.Count(), 3);
    ChooseFormat("wav");

    int showings = 0;
    std::function<void()> answerBox = [&] {
      WhenReady([] { return QApplication::activeModalWidget() == ReadOnlyWarningBox; },
                [&] {
                  ++showings;
                  QCOMPARE(QString::number(FilesIn(program_ + "output").size()), QString::number(showings - 1));
                  if (showings == 2) ReadOnlyWarningBox->WarnMore->setChecked(true);
                  ReadOnlyWarningBox->sBitBtn1->click();
                  if (showings < 2) answerBox();
                });
    };
    answerBox();
    Form1->Convert->click();
    QCOMPARE(showings, 2);
    QVERIFY(!MainFunc.ReadOnlyWarn);
    QCOMPARE(FilesIn(program_ + "output"),
             (std::set<std::string>{"Track01.wav", "Track02.wav", "Track03.wav"}));
    QVERIFY(std::abs(Frequency(ReadWav(program_ + "output/Track03.wav")) - 700.0) < 21.0);
    DismissFinished();
  }

  // The box's own rules: OK writes the flag from the tick, which stays between showings;
  // any other way out leaves the flag alone.
  void warningBoxChoice() {
    QCOMPARE(ReadOnlyWarningBox->windowTitle(), QStringLiteral("Запись невозможна"));
    QCOMPARE(ReadOnlyWarningBox->size(), QSize(320, 121));
    ReadOnlyWarningBox->WarnMore->setChecked(false);
    MainFunc.ReadOnlyWarn = false;
    WhenReady([] { return ReadOnlyWarningBox->isVisible(); }, [] { ReadOnlyWarningBox->sBitBtn1->click(); });
    UiHooks.ShowReadOnlyWarning();
    QVERIFY(MainFunc.ReadOnlyWarn);

    ReadOnlyWarningBox->WarnMore->setChecked(true);
    WhenReady([] { return ReadOnlyWarningBox->isVisible(); }, [] { ReadOnlyWarningBox->reject(); });
    UiHooks.ShowReadOnlyWarning();
    QVERIFY(MainFunc.ReadOnlyWarn);

    bool tickKept = false;
    WhenReady([] { return ReadOnlyWarningBox->isVisible(); }, [&] {
      tickKept = ReadOnlyWarningBox->WarnMore->isChecked();
      ReadOnlyWarningBox->sBitBtn1->click();
    });
    UiHooks.ShowReadOnlyWarning();
    QVERIFY(tickKept);
    QVERIFY(!MainFunc.ReadOnlyWarn);
  }

  // Only its button closes the progress window: not Escape, not the window manager.
  void progressWindowClosesOnlyByItsButton() {
    QCOMPARE(ProgressBox->windowTitle(), QStringLiteral("Статус"));
    QCOMPARE(ProgressBox->size(), QSize(387, 157));
    const Qt::WindowFlags flags = ProgressBox->windowFlags();
    QVERIFY(!(flags & Qt::WindowCloseButtonHint));
    QVERIFY(!(flags & Qt::WindowSystemMenuHint));
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));

    const std::string source = Tone("short.wav", 1.2, 440.0);
    SetList({source});
    ChooseFormat("wav");
    ProgressBox->ProgressStage->setText(QStringLiteral("old text"));
    ConvFunc.CurrentProgress = 70;
    ConvFunc.TotalProgress = 40;
    ConvFunc.Stage = STAGE_CANCEL;
    ProgressBox->show();
    QCOMPARE(ProgressBox->ProgressCurrent->value(), 0);
    QCOMPARE(ProgressBox->ProgressTotal->value(), 0);
    QCOMPARE(ProgressBox->ProgressStage->text(), QStringLiteral("old text"));
    QCOMPARE(ConvFunc.TotalLength, 1);
    QVERIFY(ProgressBox->Timer->isActive());
    QCOMPARE(ProgressBox->Timer->interval(), 500);

    QTest::keyClick(ProgressBox, Qt::Key_Escape);
    QVERIFY(!ProgressBox->close());
    QVERIFY(ProgressBox->isVisible());
    QTRY_COMPARE(ProgressBox->ProgressStage->text(), QString());  // Stage 30 has no text
    QVERIFY(shown_.empty());

    ConvFunc.TotalProgress = 100;
    ProgressBox->CloseProgress->click();
    QVERIFY(!ProgressBox->isVisible());
    QVERIFY(Form1->isVisible());
  }

  // Once a batch has ended, OK asks nothing whatever the percentage; the list keeps just
  // the files that failed (converted and held-back ones leave it) and the stage line says
  // how many, so a second Convert retries them.
  void endedBatchKeepsItsFailures_data() {
    QTest::addColumn<QStringList>("sources");
    QTest::addColumn<QStringList>("blocked");  // outputs that are folders: those files fail
    QTest::addColumn<QString>("format");
    QTest::addColumn<QStringList>("left");
    QTest::addColumn<QString>("stage");
    const QString finished = QStringLiteral("Конвертация завершена.");
    QTest::newRow("all converted")
        << QStringList{"a.ogg", "b.wav"} << QStringList{} << "mp3" << QStringList{} << finished;
    QTest::newRow("one failed of three")
        << QStringList{"a.wma", "b.wav", "c.mp3"} << QStringList{"b.ogg"} << "ogg"
        << QStringList{"b.wav"} << finished + QStringLiteral(" Не удалось: 1 файл");
    QTest::newRow("two failed, held back one")
        << QStringList{"a.ogg", "b.wav", "b.mp3", "c.wma"} << QStringList{"a.flac", "c.flac"}
        << "flac" << QStringList{"a.ogg", "c.wma"} << finished + QStringLiteral(" Не удалось: 2 файла");
    QTest::newRow("every file failed")
        << QStringList{"a.ogg"} << QStringList{"a.opus"} << "opus" << QStringList{"a.ogg"}
        << finished + QStringLiteral(" Не удалось: 1 файл");
  }
  void endedBatchKeepsItsFailures() {
    QFETCH(QStringList, sources);
    QFETCH(QStringList, blocked);
    QFETCH(QString, format);
    QFETCH(QStringList, left);
    QFETCH(QString, stage);
    std::vector<std::string> list;
    double tone = 330.0;
    for (const QString& name : sources) list.push_back(Tone(Str(name), 1.2, tone += 110.0));
    for (const QString& name : blocked)
      QVERIFY(QDir().mkpath(QFile::decodeName((music_ + Str(name)).c_str())));
    SetList(list);
    ChooseFormat(format);
    Form1->Convert->click();
    QVERIFY(ProgressBox->isVisible());
    QCOMPARE(ConvFunc.Stage, int32_t(STAGE_FINISHED));
    ProgressBox->TimerTimer();
    QCOMPARE(ProgressBox->ProgressStage->text(), stage);
    SaveScreenshot(ProgressBox, "progress");

    ProgressBox->CloseProgress->click();
    QVERIFY(shown_.empty());
    QVERIFY(!ProgressBox->isVisible());
    QVERIFY(Form1->isVisible());
    std::vector<std::string> expected;
    for (const QString& name : left) expected.push_back(music_ + Str(name));
    QCOMPARE(MainFunc.FileList, expected);
    QCOMPARE(MainFunc.Rows.Items, expected);
    SaveScreenshot(Form1, "main");
    if (left.isEmpty()) return;

    // With the obstacles gone, a second Convert converts just the files left.
    for (const QString& name : blocked)
      QVERIFY(QDir(QFile::decodeName((music_ + Str(name)).c_str())).removeRecursively());
    Form1->Convert->click();
    for (const QString& name : left) {
      const std::string output = StripExtension(music_ + Str(name)) + "." + Str(format);
      QVERIFY2(Exists(output), output.c_str());
    }
    DismissFinished();
  }

  void stageTexts_data() {
    QTest::addColumn<int>("stage");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ended");  // the driver has reached the end of the list
    QTest::addColumn<int>("failed");
    QTest::newRow("1") << 1 << "Декодирование в wav..." << false << 0;
    QTest::newRow("2") << 2 << "Ремиксинг..." << false << 0;
    QTest::newRow("3") << 3 << "Кодирование в mp3..." << false << 0;
    QTest::newRow("4") << 4 << "Кодирование в ogg..." << false << 0;
    QTest::newRow("5") << 5 << "Кодирование в wma..." << false << 0;
    QTest::newRow("6") << 6 << "Кодирование в flac..." << false << 0;
    QTest::newRow("7") << 7 << "Кодирование в opus..." << false << 0;
    QTest::newRow("10") << 10 << "Конвертация завершена." << false << 0;
    QTest::newRow("0") << 0 << "" << false << 0;
    QTest::newRow("8") << 8 << "" << false << 0;
    QTest::newRow("30") << 30 << "" << false << 0;
    QTest::newRow("negative") << -1 << "" << false << 0;
    QTest::newRow("10 between files, one failed") << 10 << "Конвертация завершена." << false << 1;
    QTest::newRow("ended, none failed") << 10 << "Конвертация завершена." << true << 0;
    const QString failed = QStringLiteral("Конвертация завершена. Не удалось: ");
    QTest::newRow("ended, 1 failed") << 10 << failed + "1 файл" << true << 1;
    QTest::newRow("ended, 3 failed") << 10 << failed + "3 файла" << true << 3;
    QTest::newRow("ended, 5 failed") << 10 << failed + "5 файлов" << true << 5;
    QTest::newRow("ended, 11 failed") << 10 << failed + "11 файлов" << true << 11;
    QTest::newRow("ended, 12 failed") << 10 << failed + "12 файлов" << true << 12;
    QTest::newRow("ended, 21 failed") << 10 << failed + "21 файл" << true << 21;
    QTest::newRow("ended, 104 failed") << 10 << failed + "104 файла" << true << 104;
    QTest::newRow("ended, then a cancel code") << 30 << "" << true << 2;
  }
  void stageTexts() {
    QFETCH(int, stage);
    QFETCH(QString, text);
    QFETCH(bool, ended);
    QFETCH(int, failed);
    MainFunc.BatchEnded = ended;
    MainFunc.FailedSources.assign(failed, "x.ogg");
    ConvFunc.Stage = stage;
    ConvFunc.CurrentProgress = 130;  // a last pass may pass 100
    ConvFunc.TotalProgress = -5;
    ProgressBox->TimerTimer();
    QCOMPARE(ProgressBox->ProgressStage->text(), text);
    QCOMPARE(ProgressBox->ProgressCurrent->value(), 100);
    QCOMPARE(ProgressBox->ProgressTotal->value(), 0);
    QCOMPARE(ProgressBox->ProgressCurrent->text(), QStringLiteral("100%"));
    MainFunc.BatchEnded = false;
    MainFunc.FailedSources.clear();
  }

  // The links open through the desktop; the box stays open until OK.
  void aboutBoxLinks() {
    std::vector<QUrl> opened;
    AboutBox->OpenUrl = [&](const QUrl& url) { opened.push_back(url); };
    bool stayedOpen = false;
    WhenReady([] { return QApplication::activeModalWidget() == AboutBox; }, [&] {
      QTest::mouseClick(AboutBox->SiteURL, Qt::LeftButton);
      QTest::mouseClick(AboutBox->EMail, Qt::LeftButton);
      stayedOpen = AboutBox->isVisible();
      AboutBox->OK->click();
    });
    Form1->About1->trigger();
    QVERIFY(stayedOpen);
    QVERIFY(!AboutBox->isVisible());
    QCOMPARE(opened.size(), size_t(2));
    QCOMPARE(opened[0], QUrl(QStringLiteral("https://orvik-converter.example/")));
    QCOMPARE(opened[1], QUrl(QStringLiteral("mailto:support@orvik-converter.example")));
    QCOMPARE(AboutBox->EMail->text(), QStringLiteral("email: ") + opened[1].path());
    QCOMPARE(AboutBox->SiteURL->text(), opened[0].toString());

    QStringList texts;
    for (QLabel* label : AboutBox->findChildren<QLabel*>()) texts << label->text();
    QVERIFY(texts.contains(QStringLiteral("ORVIK CONVERTER")));
    QVERIFY(texts.contains(QStringLiteral("Версия 1.1 (22.03.2007)")));
    QCOMPARE(AboutBox->windowTitle(), QStringLiteral("О программе"));
    QVERIFY(!AboutBox->Logo->pixmap().isNull());
    // The logo is drawn, not blank.
    const QImage logo = AboutBox->Logo->pixmap().toImage();
    QVERIFY(logo.pixelColor(logo.width() / 2, logo.height() / 4).alpha() > 0);
    QCOMPARE(logo.pixelColor(0, 0).alpha(), 0);
  }
};

QTEST_MAIN(TestBatch)
#include "test_batch.moc"
