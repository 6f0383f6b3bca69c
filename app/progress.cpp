#include "progress.h"

#include <QCloseEvent>
#include <algorithm>
#include <QFont>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>

#include "codecs/convfunc.h"
#include "finishedtext.h"
#include "main/listops.h"
#include "main/mainfunc.h"
#include "main/uihooks.h"
#include "mainform.h"

TProgressBox* ProgressBox = nullptr;

namespace {
QProgressBar* MakeGauge(QWidget* parent, int x, int y) {
  auto* gauge = new QProgressBar(parent);
  gauge->setGeometry(x, y, 321, 17);
  gauge->setRange(0, 100);
  gauge->setValue(0);
  gauge->setFormat(QStringLiteral("%v%"));
  gauge->setAlignment(Qt::AlignCenter);
  gauge->setTextVisible(true);
  // A black bar; the grey number stays readable on the bar and on the empty part alike.
  gauge->setStyleSheet(QStringLiteral(
      "QProgressBar { border: 1px solid #404040; background: white; color: #808080; }"
      "QProgressBar::chunk { background: black; }"));
  return gauge;
}

int Ask(const QString& text, const QString& caption, int flags, QWidget* owner) {
  if (UiHooks.MessageBox) return UiHooks.MessageBox(text.toStdString(), caption.toStdString(), flags);
  const auto answer = QMessageBox::question(owner, caption, text, QMessageBox::Ok | QMessageBox::Cancel);
  return answer == QMessageBox::Ok ? ID_OK : ID_CANCEL;
}
}  // namespace

TProgressBox::TProgressBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("ProgressBox"));
  // The geometry is laid out for the dialog font: sans-serif at 8 points.
  QFont dialogFont(QStringLiteral("Sans Serif"), 8);
  dialogFont.setStyleHint(QFont::SansSerif);
  setFont(dialogFont);
  setWindowTitle(QStringLiteral("Статус"));
  setFixedSize(387, 157);
  setModal(false);

  ProgressStage = new QLabel(this);
  ProgressStage->setObjectName(QStringLiteral("ProgressStage"));
  ProgressStage->setGeometry(32, 8, 321, 13);

  auto* current = new QLabel(QStringLiteral("Текущий статус:"), this);
  current->move(32, 24);
  current->adjustSize();
  ProgressCurrent = MakeGauge(this, 33, 40);
  ProgressCurrent->setObjectName(QStringLiteral("ProgressCurrent"));

  auto* total = new QLabel(QStringLiteral("Общий статус:"), this);
  total->move(32, 72);
  total->adjustSize();
  ProgressTotal = MakeGauge(this, 33, 88);
  ProgressTotal->setObjectName(QStringLiteral("ProgressTotal"));

  CloseProgress = new QPushButton(QStringLiteral("OK"), this);
  CloseProgress->setObjectName(QStringLiteral("CloseProgress"));
  CloseProgress->setGeometry(156, 120, 75, 25);
  // Return presses it as Space does, the finished batch dismissed from the keyboard.
  CloseProgress->setDefault(true);
  CloseProgress->setFocus();
  connect(CloseProgress, &QPushButton::clicked, this, [this] { CloseProgressClick(); });

  Timer = new QTimer(this);
  Timer->setInterval(500);
  connect(Timer, &QTimer::timeout, this, [this] { TimerTimer(); });

  setStyleSheet(QStringLiteral("QLabel { color: black; }"));
}

QString TProgressBox::StageText(int stage) {
  switch (stage) {
    case STAGE_DECODING: return QStringLiteral("Декодирование в wav...");
    case STAGE_REMIXING: return QStringLiteral("Ремиксинг...");
    case STAGE_MP3: return QStringLiteral("Кодирование в mp3...");
    case STAGE_OGG: return QStringLiteral("Кодирование в ogg...");
    case STAGE_WMA: return QStringLiteral("Кодирование в wma...");
    case STAGE_FLAC: return QStringLiteral("Кодирование в flac...");
    case STAGE_OPUS: return QStringLiteral("Кодирование в opus...");
    case STAGE_FINISHED: return QStringLiteral("Конвертация завершена.");
    default: return QString();
  }
}

void TProgressBox::FormShow() {
  Timer->start();
  ProgressCurrent->setValue(0);
  ProgressTotal->setValue(0);
  ConvFunc.TotalLength = ConvFunc.MeasureTotalLength();
}

void TProgressBox::TimerTimer() {
  // A gauge ignores values outside its range, so out-of-range counters show at the ends.
  ProgressCurrent->setValue(std::clamp<int>(ConvFunc.CurrentProgress, 0, 100));
  ProgressTotal->setValue(std::clamp<int>(ConvFunc.TotalProgress, 0, 100));
  // Once the batch has ended the line also says how many files failed.
  const bool ended = ConvFunc.Stage == STAGE_FINISHED && MainFunc.BatchEnded;
  ProgressStage->setText(ended ? FinishedStageText(int(MainFunc.FailedSources.size()))
                               : StageText(ConvFunc.Stage));
}

void TProgressBox::CloseProgressClick() {
  // An ended batch has nothing left to cancel, whatever its failures left of the percentage.
  if (!MainFunc.BatchEnded && ConvFunc.TotalProgress < 100) {
    const int answer = Ask(QStringLiteral("Вы действительно хотите прервать конвертацию файла (-ов)?"),
                           QStringLiteral("Подтверждение"), MB_QUESTION_OKCANCEL, this);
    if (answer != ID_OK) return;
    ConvFunc.Stage = STAGE_CANCEL;
  }
  Dismiss();
}

void TProgressBox::Dismiss() {
  // The files that failed stay listed, so the next Convert tries just them again.
  if (MainFunc.BatchEnded) {
    KeepOnlyEntries(MainFunc.FailedSources);
  } else {
    MainFunc.ClearList();
  }
  MainFunc.BatchEnded = false;
  closingByButton_ = true;
  close();
  closingByButton_ = false;
}

void TProgressBox::FormClose() {
  Timer->stop();
  if (Form1) Form1->show();
}

void TProgressBox::reject() {}

void TProgressBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  // Centred over the main window, which is still visible at this moment.
  if (Form1 && Form1->isVisible()) {
    QRect frame = frameGeometry();
    frame.moveCenter(Form1->frameGeometry().center());
    move(frame.topLeft());
  }
}

void TProgressBox::setVisible(bool visible) {
  const bool showing = visible && !isVisible();
  QDialog::setVisible(visible);
  // Measuring the list may take a while (a long MIDI song is rendered whole): it starts
  // once the window is on the screen, where the user sees it and can cancel, not from the
  // show event, which comes before the window is mapped.
  if (showing && isVisible()) FormShow();
}

void TProgressBox::closeEvent(QCloseEvent* event) {
  if (!closingByButton_) {
    event->ignore();
    return;
  }
  event->accept();
  FormClose();
}
