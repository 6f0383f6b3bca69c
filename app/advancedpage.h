// The options dialog's fourth page, "Дополнительно": how the batch is run.
#pragma once

#include <QWidget>

class QPushButton;
class QSpinBox;

class TAdvancedPage : public QWidget {
  Q_OBJECT

 public:
  explicit TAdvancedPage(QWidget* parent = nullptr);

  // Conversions a batch runs at once: 1 to twice the number of cores.
  QSpinBox* JobsEdit = nullptr;
  QPushButton* AdvancedOK = nullptr;

  // Shows the live settings; a value outside the control's range (a hand edit of
  // config.cfg) is shown at the nearest bound but kept until the user changes it.
  void FormShow();

 public slots:
  void JobsEditChange(int jobs);
};
