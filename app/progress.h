// The window that stands in for the main window while a batch is converted: the stage of
// the current file, two percentage gauges and the one button that cancels or dismisses.
#pragma once

#include <QDialog>

class QCloseEvent;
class QKeyEvent;
class QLabel;
class QProgressBar;
class QPushButton;
class QShowEvent;
class QTimer;

class TProgressBox : public QDialog {
  Q_OBJECT

 public:
  explicit TProgressBox(QWidget* parent = nullptr);

  QLabel* ProgressStage = nullptr;
  QProgressBar* ProgressCurrent = nullptr;
  QProgressBar* ProgressTotal = nullptr;
  QPushButton* CloseProgress = nullptr;
  QTimer* Timer = nullptr;

  void FormShow();
  void TimerTimer();
  void CloseProgressClick();
  void FormClose();
  // Closes the window, as the button does once nothing is asked. The list keeps the files
  // that failed in a batch that ended, and is emptied otherwise.
  void Dismiss();

  // The stage line for a Stage code; empty for codes without a text.
  static QString StageText(int stage);

 public slots:
  // Escape and the window manager do not close this window; only CloseProgress does.
  void reject() override;
  void setVisible(bool visible) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  bool closingByButton_ = false;
};

extern TProgressBox* ProgressBox;
