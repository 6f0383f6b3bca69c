// The main window under the offscreen platform: start-up with and without config.cfg, a
// malformed config, its controls and menu, the list widget, the command guard during a
// batch, closing, and the one place where escaped exceptions are shown.
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "application.h"
#include "audio.h"
#include "cdimagefixture.h"
#include "codecs/convfunc.h"
#include "codecs/eabort.h"
#include "codecs/passhooks.h"
#include "convertlist.h"
#include "main/cdopen.h"
#include "main/config.h"
#include "main/listops.h"
#include "main/mainfunc.h"
#include "main/paths.h"
#include "main/uihooks.h"
#include "mainform.h"
#include "about.h"
#include "options.h"
#include "progress.h"
#include "qthooks.h"
#include "readonlywarnbox.h"
#include "startup.h"
#include "wavfixture.h"

namespace {

struct TShownMessage {
  std::string text, caption;
  int flags;
};

// A receiver whose event handler fails, as a faulty handler would.
class TThrowingObject : public QObject {
 public:
  bool abort = false;
  bool event(QEvent* e) override {
    if (e->type() != QEvent::User) return QObject::event(e);
    if (abort) throw EAbort();
    throw std::runtime_error("handler failed: 100% 'x'");
  }
};

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  QFile f(QFile::decodeName(path.c_str()));
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
         f.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
             static_cast<qint64>(bytes.size());
}

std::string ReadWholeFile(const std::string& path) {
  QFile f(QFile::decodeName(path.c_str()));
  return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

QColor PixelAt(QWidget* widget, int x, int y) {
  return widget->grab().toImage().pixelColor(x, y);
}

}  // namespace

class TestMainForm : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::vector<TShownMessage> messages_;
  std::vector<std::vector<std::string>> dialogAnswers_;
  int dialogRuns_ = 0;
  TForm1* form_ = nullptr;

  std::string Dir() const { return QFile::encodeName(dir_.path()).toStdString() + "/"; }
  void WriteConfigText(const std::string& text) { QVERIFY(WriteWholeFile(Dir() + "config.cfg", text)); }

  TForm1* MakeForm() {
    delete form_;
    Form1 = form_ = new TForm1;
    return form_;
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    InstallWindowHooks();
  }

  void init() {
    SetProgramDirForTesting(Dir());
    QFile::remove(dir_.filePath("config.cfg"));
    ConvFunc.Options = TOptions{};
    MainFunc.ReadOnlyWarn = false;
    MainFunc.BatchRunning = false;
    messages_.clear();
    dialogRuns_ = 0;
    dialogAnswers_.clear();
    UiHooks.MessageBox = [this](const std::string& text, const std::string& caption, int flags) {
      messages_.push_back({text, caption, flags});
      return static_cast<int>(ID_OK);
    };
    UiHooks.RunOpenDialog = [this](std::vector<std::string>& paths) {
      ++dialogRuns_;
      if (dialogAnswers_.empty()) return false;
      paths = dialogAnswers_.front();
      dialogAnswers_.erase(dialogAnswers_.begin());
      return true;
    };
  }

  void cleanup() {
    delete form_;
    form_ = nullptr;
    Form1 = nullptr;
    MainFunc.BatchRunning = false;
  }

  void cleanupTestCase() { SetProgramDirForTesting(""); }

  void firstRunWithoutConfig() {
    // A partial file a killed run left in the program's temporary folder goes at start-up;
    // one elsewhere is not the program's to remove.
    QVERIFY(QDir().mkpath(dir_.filePath("temp")));
    QVERIFY(WriteWholeFile(Dir() + "temp/.tmp100000.wav.part-AbC123", "stale"));
    QVERIFY(WriteWholeFile(Dir() + ".song.mp3.part-AbC123", "not ours"));
    TForm1* form = MakeForm();
    QVERIFY(!QFile::exists(dir_.filePath("temp/.tmp100000.wav.part-AbC123")));
    QVERIFY(QFile::remove(dir_.filePath(".song.mp3.part-AbC123")));
    form->show();
    QVERIFY(messages_.empty());
    QVERIFY(ConvFunc.Options == FirstRunOptions());
    QVERIFY(MainFunc.ReadOnlyWarn);
    QCOMPARE(form->OutFormat->currentText(), QString::fromStdString(FirstRunOptions().OutputFormat));
    QVERIFY(MainFunc.FileList.empty() && MainFunc.Rows.Items.empty());
  }

  void startUpCreatesTheFiveWindows() {
    StartUp();
    form_ = Form1;
    QVERIFY(Form1 && ProgressBox && OptionsBox && AboutBox && ReadOnlyWarningBox);
    QVERIFY(Form1->isVisible());
    QVERIFY(UiHooks.RunOpenDialog && UiHooks.MessageBox && UiHooks.ProcessEvents &&
            UiHooks.Sleep && EngineHooks.ProcessEvents && EngineHooks.Sleep);
    QVERIFY(Form1->testAttribute(Qt::WA_QuitOnClose));
    for (QWidget* box : std::initializer_list<QWidget*>{ProgressBox, OptionsBox, AboutBox,
                                                        ReadOnlyWarningBox}) {
      QVERIFY(!box->isVisible());
      QVERIFY(!box->testAttribute(Qt::WA_QuitOnClose));
    }
    QVERIFY(ConvFunc.Options == FirstRunOptions());

    // Settings open modally.
    QWidget* modal = nullptr;
    QTimer::singleShot(0, [&] {
      modal = QApplication::activeModalWidget();
      if (modal) modal->close();
    });
    Form1->Preferences1->trigger();
    QCOMPARE(modal, static_cast<QWidget*>(OptionsBox));

    delete ProgressBox;
    ProgressBox = nullptr;
    OptionsBox = nullptr;  // owned by the main window, deleted with it
    AboutBox = nullptr;
    ReadOnlyWarningBox = nullptr;
  }

  void startUpSelection_data() {
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<int>("index");
    QTest::newRow("mp3") << QByteArray("mp3") << 0;
    QTest::newRow("ogg") << QByteArray("ogg") << 1;
    QTest::newRow("wma") << QByteArray("wma") << 2;
    QTest::newRow("wav") << QByteArray("wav") << 3;
    QTest::newRow("flac") << QByteArray("flac") << 4;
    QTest::newRow("opus") << QByteArray("opus") << 5;
    QTest::newRow("letter case counts") << QByteArray("OGG") << 3;
    QTest::newRow("empty") << QByteArray() << 3;
  }
  void startUpSelection() {
    QFETCH(QByteArray, format);
    QFETCH(int, index);
    TOptions stored = FirstRunOptions();
    stored.OutputFormat = format.toStdString();
    WriteConfigText(BuildConfigText(stored, false));
    TForm1* form = MakeForm();
    QCOMPARE(form->OutFormat->currentIndex(), index);
    // Selecting at start-up changes no setting.
    QCOMPARE(ConvFunc.Options.OutputFormat, format.toStdString());
    QVERIFY(!MainFunc.ReadOnlyWarn);

    // The user's choice sets it.
    form->OutFormat->setCurrentIndex(3);
    emit form->OutFormat->activated(3);
    QCOMPARE(ConvFunc.Options.OutputFormat, std::string("wav"));
  }

  void malformedConfigIsShownAndTheWindowStarts() {
    TOptions stored = FirstRunOptions();
    stored.OutputFormat = "ogg";
    std::string text = BuildConfigText(stored, true);
    text.replace(text.find("Bitrate=192"), 11, "Bitrate=19 2");
    WriteConfigText(text);
    ConvFunc.Options.MP3Bitrate = 7;
    TForm1* form = MakeForm();
    form->show();
    QVERIFY(form->isVisible());
    QCOMPARE(messages_.size(), size_t(1));
    QCOMPARE(messages_[0].text, std::string("'19 2' is not a valid integer value"));
    QCOMPARE(messages_[0].caption, std::string("Orvik Converter"));
    QCOMPARE(messages_[0].flags, static_cast<int>(MB_ERROR));
    // The rest of the start-up work was skipped; what was read stays read, and what the
    // file did not reach has working values, not zeros or what was there before.
    QCOMPARE(form->OutFormat->currentIndex(), -1);
    QCOMPARE(ConvFunc.Options.OutputFormat, std::string("ogg"));
    QCOMPARE(ConvFunc.Options.MP3Bitrate, FirstRunOptions().MP3Bitrate);
    QCOMPARE(ConvFunc.Options.OGGQuality, FirstRunOptions().OGGQuality);
    QVERIFY(MainFunc.ReadOnlyWarn);
  }

  void controlsAndLook() {
    TForm1* form = MakeForm();
    form->show();
    QWidget* central = form->centralWidget();
    QCOMPARE(central->size(), QSize(528, 302));
    QCOMPARE(form->minimumSize(), form->maximumSize());
    QCOMPARE(form->windowTitle(), QString("Orvik Converter"));
    QVERIFY(form->windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(form->windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(form->windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(form->font().pointSize(), 8);

    QCOMPARE(form->Label1->text(), QString::fromUtf8("Конвертировать в:"));
    QCOMPARE(form->Label1->pos(), QPoint(8, 8));
    QVERIFY(form->Label1->width() >= form->Label1->sizeHint().width());
    QCOMPARE(form->OutFormat->geometry(), QRect(8, 24, 97, 21));
    QCOMPARE(form->OutFormat->count(), 6);
    QCOMPARE(form->OutFormat->itemText(0), QString("mp3"));
    QCOMPARE(form->OutFormat->itemText(3), QString("wav"));
    QCOMPARE(form->OutFormat->itemText(4), QString("flac"));
    QCOMPARE(form->OutFormat->itemText(5), QString("opus"));
    QVERIFY(!form->OutFormat->isEditable());
    const std::vector<std::pair<QPushButton*, const char*>> buttons = {
        {form->Convert, "Конвертировать"}, {form->Add, "Доб. файл (-ы)"},
        {form->Remove, "Удалить"}, {form->Clear, "Очистить"}};
    for (size_t i = 0; i < buttons.size(); ++i) {
      QCOMPARE(buttons[i].first->text(), QString::fromUtf8(buttons[i].second));
      QCOMPARE(buttons[i].first->geometry(), QRect(112 + 104 * static_cast<int>(i), 24, 97, 17));
    }
    QCOMPARE(form->ConvertList->geometry(), QRect(8, 48, 514, 245));

    // Tab order: Convert, OutFormat, ConvertList, Add, Remove, Clear.
    const QList<QWidget*> expected = {form->Convert, form->OutFormat, form->ConvertList,
                                      form->Add, form->Remove, form->Clear};
    QList<QWidget*> order;
    for (QWidget* w = form->Convert; order.size() < expected.size(); w = w->nextInFocusChain()) {
      if (expected.contains(w) && !order.contains(w)) order << w;
    }
    QCOMPARE(order, expected);
    QCOMPARE(form->focusWidget(), static_cast<QWidget*>(form->Convert));

    // Colours: the winter-blue background, a white list.
    QCOMPARE(PixelAt(central, 4, 298), QColor(119, 171, 202));
    QCOMPARE(PixelAt(form->ConvertList, 200, 120), QColor(255, 255, 255));
  }

  void menu() {
    TForm1* form = MakeForm();
    QCOMPARE(form->menuBar()->actions().size(), 3);
    QCOMPARE(form->File1->title(), QString::fromUtf8("Файл"));
    QCOMPARE(form->Options1->title(), QString::fromUtf8("Опции"));
    QCOMPARE(form->Help1->title(), QString::fromUtf8("Справка"));
    const std::vector<std::tuple<QAction*, const char*, QKeySequence>> items = {
        {form->Convert1, "Добавить", QKeySequence("Ctrl+A")},
        {form->CD1, "Открыть CD", QKeySequence("Ctrl+V")},
        {form->Remove1, "Удалить", QKeySequence("Ctrl+D")},
        {form->Clear1, "Очистить список", QKeySequence("Ctrl+R")},
        {form->Convert2, "Ковертировать", QKeySequence("Ctrl+C")},
        {form->Exit1, "Выход", QKeySequence()},
        {form->Preferences1, "Настройки...", QKeySequence()},
        {form->OrvikConverterHelp1, "Orvik Converter Помощь", QKeySequence()},
        {form->About1, "О программе...", QKeySequence()}};
    for (const auto& [action, caption, keys] : items) {
      QCOMPARE(action->text(), QString::fromUtf8(caption));
      QCOMPARE(action->shortcut(), keys);
    }
    // Separators: before "Ковертировать", before "Выход", before "О программе...".
    const auto fileActions = form->File1->actions();
    QCOMPARE(fileActions.size(), 8);
    QVERIFY(fileActions[4]->isSeparator() && fileActions[6]->isSeparator());
    QVERIFY(form->Help1->actions()[1]->isSeparator());
  }

  void commandsChangeTheList() {
    TForm1* form = MakeForm();
    form->show();
    dialogAnswers_ = {{"/m/b.mp3", "/m/a.mp3"}, {"/m/b.mp3"}};
    form->Add->click();
    QCOMPARE(MainFunc.FileList, (std::vector<std::string>{"/m/b.mp3", "/m/a.mp3"}));
    form->Convert1->trigger();
    QCOMPARE(MainFunc.FileList, (std::vector<std::string>{"/m/a.mp3", "/m/b.mp3"}));
    MainFunc.Rows.ItemIndex = 1;
    form->Remove1->trigger();
    QCOMPARE(MainFunc.FileList, (std::vector<std::string>{"/m/a.mp3"}));
    QCOMPARE(MainFunc.Rows.ItemIndex, 0);
    form->Clear->click();
    QVERIFY(MainFunc.FileList.empty() && MainFunc.Rows.Items.empty());
    QCOMPARE(dialogRuns_, 2);
  }

  void guardBlocksEveryCommandDuringABatch() {
    TForm1* form = MakeForm();
    form->show();
    AppendSourcePaths({"/a.mp3", "/b.mp3", "/c.mp3"});
    MainFunc.Rows.ItemIndex = 2;
    ConvFunc.Options.OutputFormat = "mp3";
    dialogAnswers_ = {{"/d.mp3"}};
    int opened = 0;
    form->OpenUrl = [&](const QUrl&) { return ++opened > 0; };

    MainFunc.BatchRunning = true;
    // The conversion routines' event processing is where the window learns of the batch.
    EngineHooks.ProcessEvents();
    for (QWidget* w : std::initializer_list<QWidget*>{form->Convert, form->Add, form->Remove,
                                                      form->Clear, form->OutFormat}) {
      QVERIFY(!w->isEnabled());
    }
    for (QAction* a : form->File1->actions()) QVERIFY(a->isSeparator() || !a->isEnabled());

    // Handlers called directly, as a shortcut or a click would reach them, do nothing.
    form->AddClick();
    form->Convert1Click();
    form->RemoveClick();
    form->Remove1Click();
    form->ClearClick();
    form->Clear1Click();
    form->Convert2Click();
    form->CD1Click();
    form->Preferences1Click();
    form->OrvikConverterHelp1Click();
    form->OutFormat->setCurrentIndex(1);
    form->OutFormatChange();
    for (QAction* a : form->File1->actions()) a->trigger();
    form->Exit1Click();
    QVERIFY(!form->close());
    QVERIFY(form->isVisible());
    QCOMPARE(dialogRuns_, 0);
    QCOMPARE(opened, 0);
    QCOMPARE(MainFunc.FileList.size(), size_t(3));
    QCOMPARE(MainFunc.Rows.Items.size(), size_t(3));
    QCOMPARE(MainFunc.Rows.ItemIndex, 2);
    QCOMPARE(ConvFunc.Options.OutputFormat, std::string("mp3"));
    QVERIFY(!QFile::exists(dir_.filePath("config.cfg")));

    // Files dropped onto the list are refused too.
    QTemporaryDir files;
    QVERIFY(WriteWholeFile(QFile::encodeName(files.filePath("x.wav")).toStdString(), "x"));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(files.filePath("x.wav"))});
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form->ConvertList, &drop);
    QCOMPARE(MainFunc.FileList.size(), size_t(3));

    // After the batch everything works again.
    MainFunc.BatchRunning = false;
    form->UpdateCommandState();
    QVERIFY(form->Remove->isEnabled() && form->Convert2->isEnabled());
    form->Remove->click();
    QCOMPARE(MainFunc.FileList.size(), size_t(2));
  }

  // While the CD command or an add fills the list, the commands that its event processing
  // delivers (a second Ctrl+V, Ctrl+C, Ctrl+R, ...) are refused as during a batch.
  void commandsWaitWhileTheListIsFilled_data() {
    QTest::addColumn<QString>("first");
    QTest::newRow("CD listing") << "cd";
    QTest::newRow("adding files") << "add";
    QTest::newRow("dropping files") << "drop";
    QTest::newRow("dropping a folder") << "folder";
  }
  void commandsWaitWhileTheListIsFilled() {
    QFETCH(QString, first);
    TForm1* form = MakeForm();
    form->show();
    ProgressBox = new TProgressBox;
    const std::unique_ptr<TProgressBox> progress(ProgressBox);
    const std::string cue = Dir() + "disc.cue";
    std::vector<std::vector<int16_t>> tracks(12, MakeTone(44100, 2, 2352, 300.0));
    QVERIFY(WriteCdImage(cue, tracks));
    cd_set_drives_for_testing({cue});
    std::vector<std::string> expected;
    for (int track = 1; track <= 12; ++track) expected.push_back(CDTrackEntry(cue + "/", track));
    if (first != "cd") expected = {"/m/1.mp3", "/m/2.mp3", "/m/3.mp3", "/m/4.mp3"};
    // A folder of many files is walked with events processed as it goes.
    const std::string folder = Dir() + "album/";
    if (first == "folder") {
      expected.clear();
      QVERIFY(QDir().mkpath(QString::fromStdString(folder)));
      for (int i = 100; i < 400; ++i) {
        expected.push_back(folder + std::to_string(i) + ".mp3");
        QVERIFY(WriteWholeFile(expected.back(), "x"));
      }
    }
    dialogAnswers_ = {expected, {"/m/again.mp3"}};

    const auto realProcessEvents = UiHooks.ProcessEvents;
    int passes = 0;
    int rowsAtSecondPass = -1;
    UiHooks.ProcessEvents = [&] {
      if (++passes == 2) {
        rowsAtSecondPass = MainFunc.Rows.Count();
        for (QAction* command : {form->CD1, form->Convert2, form->Convert1, form->Clear1, form->Remove1})
          command->trigger();
        form->Add->click();
        form->Clear->click();
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile("/m/dropped.mp3")});
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(form->ConvertList, &enter);
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(form->ConvertList, &drop);
      }
      realProcessEvents();
    };
    MainFunc.Rows.ItemIndex = -1;
    if (first == "cd") {
      form->CD1->trigger();
    } else if (first == "add") {
      form->Add->click();
    } else {
      QMimeData data;
      QList<QUrl> urls;
      for (const std::string& path : expected) urls << QUrl::fromLocalFile(QString::fromStdString(path));
      if (first == "folder") urls = {QUrl::fromLocalFile(QString::fromStdString(folder))};
      data.setUrls(urls);
      QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QCoreApplication::sendEvent(form->ConvertList, &enter);
      QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QCoreApplication::sendEvent(form->ConvertList, &drop);
    }
    UiHooks.ProcessEvents = realProcessEvents;
    cd_set_drives_for_testing({});

    QVERIFY(passes >= 2);
    if (first == "folder") QCOMPARE(rowsAtSecondPass, 0);  // still walking the folder
    QCOMPARE(MainFunc.FileList, expected);
    QCOMPARE(MainFunc.Rows.Items, expected);
    QCOMPARE(dialogRuns_, first == "add" ? 1 : 0);
    QVERIFY(!ProgressBox->isVisible());
    QVERIFY(form->isVisible());
    QVERIFY(messages_.empty());
    // Afterwards every command works again.
    QVERIFY(!MainFunc.BatchRunning);
    QVERIFY(form->Clear->isEnabled() && form->Convert2->isEnabled());
    ProgressBox = nullptr;
  }

  void closingWritesConfigAndDeletesTheTemporaryWav() {
    QVERIFY(QDir(dir_.path()).mkpath("temp"));
    QVERIFY(WriteWav(TemporaryWavPath(), 8000, 1, MakeTone(8000, 1, 800, 440.0)));
    TForm1* form = MakeForm();
    form->show();
    ConvFunc.Options.OutputFolder = "/out/100% \"мои\"";
    form->Exit1->trigger();
    QVERIFY(!form->isVisible());
    QVERIFY(!QFile::exists(QFile::decodeName(TemporaryWavPath().c_str())));
    QVERIFY(QDir(dir_.filePath("temp")).exists());
    QCOMPARE(ReadWholeFile(Dir() + "config.cfg"), BuildConfigText(ConvFunc.Options, true));
  }

  // The help page beside the program opens in the desktop's program for it; where the
  // page or such a program is missing, a message names the page's path.
  void helpOpensTheHelpPage_data() {
    QTest::addColumn<bool>("pageThere");
    QTest::addColumn<bool>("launcher");
    QTest::addColumn<QString>("message");  // empty: none
    const QString page = dir_.filePath("Help.html");
    QTest::newRow("opened") << true << true << "";
    QTest::newRow("no program for HTML pages") << true << false
        << "Не удалось открыть страницу справки " + page +
               ": не найдена программа для HTML-страниц. Откройте её в браузере.";
    QTest::newRow("page missing") << false << true << "Страница справки не найдена: " + page;
  }
  void helpOpensTheHelpPage() {
    QFETCH(bool, pageThere);
    QFETCH(bool, launcher);
    QFETCH(QString, message);
    TForm1* form = MakeForm();
    const std::string page = Dir() + "Help.html";
    if (pageThere) QVERIFY(WriteWholeFile(page, "<html></html>"));
    else std::remove(page.c_str());
    QUrl opened;
    form->OpenUrl = [&](const QUrl& url) {
      opened = url;
      return launcher;
    };
    form->OrvikConverterHelp1->trigger();
    QCOMPARE(opened, pageThere ? QUrl::fromLocalFile(dir_.filePath("Help.html")) : QUrl());
    QCOMPARE(messages_.size(), size_t(message.isEmpty() ? 0 : 1));
    if (message.isEmpty()) return;
    QCOMPARE(QString::fromStdString(messages_[0].text), message);
    QCOMPARE(messages_[0].caption, std::string("Orvik Converter"));
    QCOMPARE(messages_[0].flags, 48);
  }

  void listShowsPathsExactly() {
    TForm1* form = MakeForm();
    form->show();
    const std::vector<std::string> paths = {
        "/home/анна/Музыка/Концерт 2006/01 \"Вступление\".mp3",
        "/home/анна/Музыка/Мастер-класс 100%/02 Соло.wav", "/home/анна/Музыка/03 %s %d.ogg",
        "/home/анна/Загрузки/4 сезона — Зима.wma", "/home/анна/Модули/space debris.mod"};
    AppendSourcePaths(paths);
    MainFunc.Rows.ItemIndex = 0;
    const auto rows = form->ConvertList->PaintedRows();
    QCOMPARE(rows.size(), paths.size());
    for (size_t i = 0; i < paths.size(); ++i) QCOMPARE(rows[i].Text, paths[i]);
    QCOMPARE(MainFunc.FileList, paths);

    // The selected row is filled across the width; the text is drawn in a real font.
    const QImage image = form->ConvertList->grab().toImage();
    QCOMPARE(image.pixelColor(480, 8), QColor(97, 172, 222));
    QCOMPARE(image.pixelColor(480, 24), QColor(255, 255, 255));
    int dark = 0;
    for (int x = 2; x < 200; ++x) {
      for (int y = 16; y < 32; ++y) dark += image.pixelColor(x, y).lightness() < 100;
    }
    QVERIFY2(dark > 20, "no text drawn in the second row");
    if (qEnvironmentVariableIsSet("ORVIK_SCREENSHOT")) {
      form->grab().save(qEnvironmentVariable("ORVIK_SCREENSHOT"));
    }
  }

  void longPathsAreShortenedInTheRealFont() {
    TForm1* form = MakeForm();
    std::string path = "/media/музыка";
    while (form->ConvertList->TextWidth(path) < 700) path += "/Очень длинный каталог";
    path += "/последняя песня.mp3";
    AppendSourcePaths({path});
    const auto rows = form->ConvertList->PaintedRows();
    QCOMPARE(rows.size(), size_t(1));
    const QString shown = QString::fromUtf8(rows[0].Text);
    QVERIFY(form->ConvertList->TextWidth(rows[0].Text) < LIST_TEXT_ROOM);
    QVERIFY(shown.endsWith(QString::fromUtf8(".. сня.mp3")));
    QVERIFY(!shown.contains(QChar::ReplacementCharacter));
    QCOMPARE(MainFunc.FileList[0], path);  // the store keeps the full path
  }

  void listClicksKeysWheelAndScrollBar() {
    TForm1* form = MakeForm();
    form->show();
    std::vector<std::string> paths;
    for (int i = 0; i < 40; ++i) paths.push_back("/track" + std::to_string(i) + ".mp3");
    AppendSourcePaths(paths);
    TConvertList* list = form->ConvertList;
    QVERIFY(list->ScrollBar->isVisible());
    QTest::mouseClick(list, Qt::LeftButton, {}, QPoint(50, 2 * 16 + 5));
    QCOMPARE(MainFunc.Rows.ItemIndex, 2);
    QTest::mouseClick(list, Qt::LeftButton, {}, QPoint(50, 5));
    QCOMPARE(MainFunc.Rows.ItemIndex, 0);
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(MainFunc.Rows.ItemIndex, 1);
    QTest::keyClick(list, Qt::Key_End);
    QCOMPARE(MainFunc.Rows.ItemIndex, 39);
    QCOMPARE(MainFunc.Rows.TopIndex, 25);
    QCOMPARE(list->ScrollBar->value(), 25);
    QTest::keyClick(list, Qt::Key_Home);
    QCOMPARE(MainFunc.Rows.TopIndex, 0);

    QWheelEvent down(QPointF(50, 50), list->mapToGlobal(QPointF(50, 50)), QPoint(),
                     QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(list, &down);
    QCOMPARE(MainFunc.Rows.TopIndex, 3);
    list->ScrollBar->setValue(10);
    QCOMPARE(MainFunc.Rows.TopIndex, 10);
    QCOMPARE(list->PaintedRows().front().Index, 10);
    list->ScrollBar->setValue(1000);
    QCOMPARE(MainFunc.Rows.TopIndex, 25);
  }

  // Dropped files join the list as from the dialog; a dropped folder by the sources below
  // it, in name order; addresses that are no local files are passed over.
  void filesDroppedOntoTheList_data() {
    QTest::addColumn<QStringList>("dropped");   // in the test folder; "" is the folder itself
    QTest::addColumn<QStringList>("expected");  // the list afterwards, which held "песня 1.mp3"
    QTest::newRow("files, their folder and an address")
        << QStringList{"b.wav", "", "https://example.invalid/c.mp3", "песня 1.mp3"}
        << QStringList{"b.wav", "альбом/01.mp3", "альбом/02.FLAC", "альбом/CD2/01.ogg",
                       "песня 1.mp3"};
    QTest::newRow("an album folder with a second disc")
        << QStringList{"альбом"}
        << QStringList{"песня 1.mp3", "альбом/01.mp3", "альбом/02.FLAC", "альбом/CD2/01.ogg"};
    QTest::newRow("an empty folder") << QStringList{"пусто"} << QStringList{"песня 1.mp3"};
  }
  void filesDroppedOntoTheList() {
    QFETCH(QStringList, dropped);
    QFETCH(QStringList, expected);
    TForm1* form = MakeForm();
    form->show();
    QTemporaryDir files;
    for (const char* name : {"песня 1.mp3", "b.wav", "альбом/02.FLAC", "альбом/01.mp3",
                             "альбом/cover.jpg", "альбом/.hidden.mp3", "альбом/CD2/01.ogg"}) {
      const QString path = files.filePath(QString::fromUtf8(name));
      QVERIFY(QDir().mkpath(QFileInfo(path).path()));
      QVERIFY(WriteWholeFile(QFile::encodeName(path).toStdString(), "x"));
    }
    QVERIFY(QDir().mkpath(files.filePath(QString::fromUtf8("пусто"))));
    AppendSourcePaths({QFile::encodeName(files.filePath(QString::fromUtf8("песня 1.mp3"))).toStdString()});
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& name : dropped) {
      urls << (name.startsWith("https:") ? QUrl(name)
                                         : QUrl::fromLocalFile(name.isEmpty() ? files.path()
                                                                              : files.filePath(name)));
    }
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form->ConvertList, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form->ConvertList, &drop);
    std::vector<std::string> want;
    for (const QString& name : expected) want.push_back(QFile::encodeName(files.filePath(name)).toStdString());
    QCOMPARE(MainFunc.FileList, want);
    QCOMPARE(MainFunc.Rows.Items, want);
  }

  void escapedExceptionsAreShownOnce() {
    // A handler's failure reaches the user as a message; the window goes on.
    TForm1* form = MakeForm();
    form->show();
    UiHooks.RunOpenDialog = [](std::vector<std::string>&) -> bool {
      throw std::runtime_error("диалог не открылся");
    };
    form->Add->click();
    QCOMPARE(messages_.size(), size_t(1));
    QCOMPARE(messages_[0].text, std::string("диалог не открылся"));
    QCOMPARE(messages_[0].caption, std::string("Orvik Converter"));
    QVERIFY(form->Add->isEnabled());

    // The cancel signal is discarded silently.
    UiHooks.RunOpenDialog = [](std::vector<std::string>&) -> bool { throw EAbort(); };
    form->Convert1->trigger();
    QCOMPARE(messages_.size(), size_t(1));

    // Exceptions of other kinds carry no message.
    QVERIFY(!RunGuarded([] { throw 42; }));
    QCOMPARE(messages_.back().text, std::string());
    QVERIFY(RunGuarded([] {}));

    // Any other handler: the application object catches it.
    TThrowingObject object;
    QEvent user(QEvent::User);
    QCoreApplication::sendEvent(&object, &user);
    QCOMPARE(messages_.back().text, std::string("handler failed: 100% 'x'"));
    const size_t shown = messages_.size();
    object.abort = true;
    QCoreApplication::sendEvent(&object, &user);
    QCOMPARE(messages_.size(), shown);
  }

  void openDialogFilter() {
    QCOMPARE(OpenDialogFilter(),
             QString::fromUtf8("Все поддерживаемые типы (*.mp3 *.wav *ogg *.wma *.mid *.cda "
                               "*.xm *.umx *.mod *.it *.s3m *.mtm *.flac *.opus *.m4a *.aac "
                               "*.aif *.aiff *.cue)"));
  }
};

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  TestMainForm test;
  QTEST_SET_MAIN_SOURCE_PATH
  return QTest::qExec(&test, argc, argv);
}

#include "test_mainform.moc"
