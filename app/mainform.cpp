#include "mainform.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

#include "application.h"
#include "codecs/convfunc.h"
#include "codecs/partialfile.h"
#include "convertlist.h"
#include "main/mainfunc.h"
#include "main/paths.h"
#include "main/uihooks.h"
#include "main/temporarywav.h"
#include "options.h"
#include "about.h"
#include "main/cdopen.h"
#include "main/jobdriver.h"
#include "progress.h"
#include "runningcopy.h"

TForm1* Form1 = nullptr;

namespace {

// The winter-blue look of the main window.
const char* const kFormStyle = R"(
QWidget#Central { background-color: rgb(119, 171, 202); }
QPushButton {
  border: 1px solid rgb(49, 96, 140); border-radius: 2px; padding: 0px;
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1,
              stop:0 rgb(246, 250, 253), stop:1 rgb(190, 215, 232));
}
QPushButton:hover { background: rgb(226, 239, 248); }
QPushButton:pressed { background: rgb(160, 196, 222); }
QPushButton:focus { border: 1px solid rgb(10, 50, 110); }
QPushButton:disabled { color: rgb(120, 130, 140); }
)";

QFont FormFont() {
  QFont font(QStringLiteral("Sans Serif"), 8);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

QPushButton* MakeButton(QWidget* parent, const char* text, int left) {
  auto* button = new QPushButton(QString::fromUtf8(text), parent);
  button->setGeometry(left, 24, 97, 17);
  return button;
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QString::fromUtf8(kApplicationTitle));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint);
  setFont(FormFont());
  BuildControls();
  BuildMenu();
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  adjustSize();

  OpenUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  // A malformed config.cfg is reported here and the window still starts.
  RunGuarded([this] { FormCreate(); });
}

void TForm1::BuildControls() {
  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("Central"));
  central->setFixedSize(528, 302);
  central->setStyleSheet(QString::fromUtf8(kFormStyle));
  setCentralWidget(central);

  Label1 = new QLabel(QString::fromUtf8("Конвертировать в:"), central);
  Label1->setGeometry(8, 8, 95, 13);
  // The label sizes itself to its text, which runs wider in this font than 95 pixels.
  Label1->adjustSize();

  OutFormat = new QComboBox(central);
  OutFormat->setObjectName(QStringLiteral("OutFormat"));
  OutFormat->setGeometry(8, 24, 97, 21);
  OutFormat->addItems({"mp3", "ogg", "wma", "wav", "flac", "opus"});
  OutFormat->setCurrentIndex(-1);
  QPalette white = OutFormat->palette();
  white.setColor(QPalette::Base, Qt::white);
  white.setColor(QPalette::Button, Qt::white);
  OutFormat->setPalette(white);
  // activated: the user's choice only, so the start-up selection changes no setting.
  connect(OutFormat, &QComboBox::activated, this, [this] { RunCommand(&TForm1::OutFormatChange); });

  Convert = MakeButton(central, "Конвертировать", 112);
  Add = MakeButton(central, "Доб. файл (-ы)", 216);
  Remove = MakeButton(central, "Удалить", 320);
  Clear = MakeButton(central, "Очистить", 424);
  Convert->setObjectName(QStringLiteral("Convert"));
  Add->setObjectName(QStringLiteral("Add"));
  Remove->setObjectName(QStringLiteral("Remove"));
  Clear->setObjectName(QStringLiteral("Clear"));
  connect(Convert, &QPushButton::clicked, this, [this] { RunCommand(&TForm1::ConvertClick); });
  connect(Add, &QPushButton::clicked, this, [this] { RunCommand(&TForm1::AddClick); });
  connect(Remove, &QPushButton::clicked, this, [this] { RunCommand(&TForm1::RemoveClick); });
  connect(Clear, &QPushButton::clicked, this, [this] { RunCommand(&TForm1::ClearClick); });

  ConvertList = new TConvertList(MainFunc.Rows, central);
  ConvertList->setObjectName(QStringLiteral("ConvertList"));
  ConvertList->move(8, 48);

  setTabOrder(Convert, OutFormat);
  setTabOrder(OutFormat, ConvertList);
  setTabOrder(ConvertList, Add);
  setTabOrder(Add, Remove);
  setTabOrder(Remove, Clear);
  Convert->setFocus();  // first in the tab order
}

void TForm1::BuildMenu() {
  const auto item = [this](QMenu* menu, const char* caption, void (TForm1::*handler)(),
                           QKeySequence shortcut = {}) {
    QAction* action = menu->addAction(QString::fromUtf8(caption));
    action->setShortcut(shortcut);
    connect(action, &QAction::triggered, this, [this, handler] { RunCommand(handler); });
    return action;
  };
  menuBar()->setStyleSheet(QStringLiteral(
      "QMenuBar { background-color: rgb(214, 230, 240); }"
      "QMenuBar::item:selected { background-color: rgb(97, 172, 222); }"));
  File1 = menuBar()->addMenu(QString::fromUtf8("Файл"));
  Convert1 = item(File1, "Добавить", &TForm1::Convert1Click, QKeySequence(Qt::CTRL | Qt::Key_A));
  CD1 = item(File1, "Открыть CD", &TForm1::CD1Click, QKeySequence(Qt::CTRL | Qt::Key_V));
  Remove1 = item(File1, "Удалить", &TForm1::Remove1Click, QKeySequence(Qt::CTRL | Qt::Key_D));
  Clear1 = item(File1, "Очистить список", &TForm1::Clear1Click, QKeySequence(Qt::CTRL | Qt::Key_R));
  File1->addSeparator();
  Convert2 = item(File1, "Ковертировать", &TForm1::Convert2Click, QKeySequence(Qt::CTRL | Qt::Key_C));
  File1->addSeparator();
  Exit1 = item(File1, "Выход", &TForm1::Exit1Click);

  Options1 = menuBar()->addMenu(QString::fromUtf8("Опции"));
  Preferences1 = item(Options1, "Настройки...", &TForm1::Preferences1Click);

  Help1 = menuBar()->addMenu(QString::fromUtf8("Справка"));
  OrvikConverterHelp1 =
      item(Help1, "Orvik Converter Помощь", &TForm1::OrvikConverterHelp1Click);
  Help1->addSeparator();
  About1 = item(Help1, "О программе...", &TForm1::About1Click);

  for (QMenu* menu : {File1, Options1, Help1}) {
    connect(menu, &QMenu::aboutToShow, this, &TForm1::UpdateCommandState);
  }
}

bool TForm1::CommandAllowed() const { return !MainFunc.BatchRunning; }

void TForm1::UpdateCommandState() {
  const bool enabled = CommandAllowed();
  for (QAction* action : {Convert1, CD1, Remove1, Clear1, Convert2, Exit1, Preferences1,
                          OrvikConverterHelp1, About1}) {
    action->setEnabled(enabled);
  }
  for (QWidget* control : std::initializer_list<QWidget*>{OutFormat, Convert, Add, Remove, Clear}) {
    control->setEnabled(enabled);
  }
  ConvertList->setAcceptDrops(enabled);
}

void TForm1::RunCommand(void (TForm1::*handler)()) {
  if (!CommandAllowed()) return;
  RunGuarded([this, handler] { (this->*handler)(); });
  UpdateCommandState();
  // Files a later start handed over while this command filled the list.
  AddHandedFiles();
}

void TForm1::showEvent(QShowEvent* event) {
  UpdateCommandState();
  QMainWindow::showEvent(event);
  // Shown again after a batch: files handed over meanwhile join the list, once the
  // progress window's handler that showed this window has returned.
  QTimer::singleShot(0, this, [] { AddHandedFiles(); });
}

void TForm1::FormCreate() {
  // Partial files of a run that was killed or crashed where the file system has no unnamed
  // files; only the program's own folder is swept, never the user's folders.
  RemoveStalePartialFiles(ProgramDir() + "temp");
  MainFunc.FileList.clear();
  MainFunc.Rows.Items.clear();
  MainFunc.Rows.ItemIndex = -1;
  MainFunc.Rows.TopIndex = 0;
  MainFunc.Rows.Repaint();
  // Settings that a damaged config.cfg does not reach keep working values rather than
  // zeros, with which every conversion would fail without a word.
  ConvFunc.Options = FirstRunOptions();
  MainFunc.ReadOnlyWarn = true;
  MainFunc.ReadConfig();
  const std::string& format = ConvFunc.Options.OutputFormat;
  // Any text that names no item shows "wav", as before FLAC and Opus joined the list.
  const int item = OutFormat->findText(QString::fromStdString(format),
                                       Qt::MatchExactly | Qt::MatchCaseSensitive);
  OutFormat->setCurrentIndex(item >= 0 ? item : 3);
}

void TForm1::FormClose() {
  MainFunc.WriteConfig();
  // Only this copy's own: another copy started from this folder may be converting.
  ReleaseTemporaryWav();
}

void TForm1::closeEvent(QCloseEvent* event) {
  // A running batch holds the temporary WAV and the list; it ends through the progress
  // window, not by closing this one.
  if (!CommandAllowed()) {
    event->ignore();
    return;
  }
  RunGuarded([this] { FormClose(); });
  event->accept();
}

void TForm1::OutFormatChange() {
  if (!CommandAllowed()) return;
  ConvFunc.Options.OutputFormat = OutFormat->currentText().toStdString();
}

void TForm1::ConvertClick() {
  if (!CommandAllowed()) return;
  if (MainFunc.Rows.Count() == 0) return;
  // Cleared again on every exit, the cancel exception included.
  TBatchGuard batch;
  // Shown first: its FormShow measures the whole list before the batch starts.
  ProgressBox->show();
  // A cancel confirmed while the list was measured has closed the progress window and
  // shown this one again, with the list emptied: there is no batch to run.
  if (!ProgressBox->isVisible()) return;
  hide();
  MainFunc.ConvertAll();
}

void TForm1::Convert2Click() {
  if (!CommandAllowed()) return;
  ConvertClick();
}

void TForm1::AddClick() {
  if (!CommandAllowed()) return;
  // Files are appended with events processed between them: no other command may change
  // the list or start a batch on it meanwhile.
  TBatchGuard busy;
  MainFunc.AddFiles();
}

void TForm1::Convert1Click() {
  if (!CommandAllowed()) return;
  // Files are appended with events processed between them: no other command may change
  // the list or start a batch on it meanwhile.
  TBatchGuard busy;
  MainFunc.AddFiles();
}

void TForm1::RemoveClick() {
  if (!CommandAllowed()) return;
  MainFunc.RemoveSelected();
}

void TForm1::Remove1Click() {
  if (!CommandAllowed()) return;
  MainFunc.RemoveSelected();
}

void TForm1::ClearClick() {
  if (!CommandAllowed()) return;
  MainFunc.ClearList();
}

void TForm1::Clear1Click() {
  if (!CommandAllowed()) return;
  MainFunc.ClearList();
}

void TForm1::CD1Click() {
  if (!CommandAllowed()) return;
  // The drive query may wait for a disc to spin up and the tracks are appended with events
  // processed between them: no other command may change the list or start a batch meanwhile.
  TBatchGuard busy;
  OpenCDTracks();
}

void TForm1::Preferences1Click() {
  if (!CommandAllowed()) return;
  if (OptionsBox) OptionsBox->exec();
}

void TForm1::About1Click() {
  if (!CommandAllowed()) return;
  if (AboutBox) AboutBox->exec();
}

void TForm1::OrvikConverterHelp1Click() {
  if (!CommandAllowed()) return;
  const std::string page = ProgramDir() + "Help.html";
  const QString file = QFile::decodeName(QByteArray::fromStdString(page));
  // Without the page, or without a program for HTML pages, the user learns where it lies.
  if (!QFileInfo(file).isFile()) {
    UiHooks.MessageBox("Страница справки не найдена: " + page, "Orvik Converter", MB_WARNING);
  } else if (!OpenUrl || !OpenUrl(QUrl::fromLocalFile(file))) {
    UiHooks.MessageBox("Не удалось открыть страницу справки " + page +
                           ": не найдена программа для HTML-страниц. Откройте её в браузере.",
                       "Orvik Converter", MB_WARNING);
  }
}

void TForm1::Exit1Click() {
  if (!CommandAllowed()) return;
  close();
}
