#include "jobschoice.h"

#include <QGroupBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QSpinBox>

#include <algorithm>

#include "codecs/convfunc.h"

QSpinBox* MakeJobsChoice(QWidget* page) {
  auto* group = new QGroupBox(QStringLiteral("Конвертация"), page);
  group->setGeometry(8, 8, 577, 97);
  auto* label = new QLabel(QStringLiteral("Одновременных конвертаций:"), group);
  label->setGeometry(16, 32, label->sizeHint().width(), 16);
  auto* jobs = new QSpinBox(group);
  jobs->setObjectName(QStringLiteral("JobsEdit"));
  jobs->setRange(1, MaxBatchJobs());
  jobs->setGeometry(std::max(144, 16 + label->width() + 8), 30, 65, 21);
  label->setBuddy(jobs);
  QObject::connect(jobs, &QSpinBox::valueChanged, jobs,
                   [](int value) { ConvFunc.Options.Jobs = value; });
  return jobs;
}

void ShowJobs(QSpinBox* jobs) {
  const QSignalBlocker quiet(jobs);
  jobs->setValue(BatchJobsFor(ConvFunc.Options));
}
