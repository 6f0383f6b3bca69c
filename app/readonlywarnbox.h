// Tells the user that the output cannot go beside a source on a CD drive and goes to the
// program's output folder instead; its check box turns the warning off.
#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;

class TReadOnlyWarningBox : public QDialog {
  Q_OBJECT

 public:
  explicit TReadOnlyWarningBox(QWidget* parent = nullptr);
  ~TReadOnlyWarningBox() override;

  QCheckBox* WarnMore = nullptr;
  QPushButton* sBitBtn1 = nullptr;

  void sBitBtn1Click();

 private:
  // The box whose exec the job driver's hook runs; the hook goes with it.
  static TReadOnlyWarningBox* hookOwner_;
};

extern TReadOnlyWarningBox* ReadOnlyWarningBox;
