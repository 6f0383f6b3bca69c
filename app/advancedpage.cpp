#include "advancedpage.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>

#include "codecs/convfunc.h"

TAdvancedPage::TAdvancedPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("AdvancedPage"));
  auto* label = new QLabel(QStringLiteral("Одновременных конвертаций:"), this);
  label->move(16, 20);
  label->adjustSize();
  JobsEdit = new QSpinBox(this);
  JobsEdit->setObjectName(QStringLiteral("JobsEdit"));
  JobsEdit->setRange(1, MaxBatchJobs());
  JobsEdit->setGeometry(16 + label->width() + 8, 16, 65, 21);
  label->setBuddy(JobsEdit);
  AdvancedOK = new QPushButton(QStringLiteral("OK"), this);
  AdvancedOK->setObjectName(QStringLiteral("AdvancedOK"));
  AdvancedOK->setGeometry(259, 288, 75, 25);
  connect(JobsEdit, &QSpinBox::valueChanged, this, &TAdvancedPage::JobsEditChange);
}

void TAdvancedPage::FormShow() {
  const QSignalBlocker quiet(JobsEdit);
  JobsEdit->setValue(BatchJobsFor(ConvFunc.Options));
}

void TAdvancedPage::JobsEditChange(int jobs) { ConvFunc.Options.Jobs = jobs; }
