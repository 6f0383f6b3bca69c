#include "replaygainchoice.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QSignalBlocker>

#include "codecs/convfunc.h"
#include "codecs/loudness.h"

QComboBox* MakeReplayGainChoice(QWidget* page) {
  auto* group = new QGroupBox(QStringLiteral("Громкость"), page);
  group->setGeometry(8, 112, 577, 73);
  auto* label = new QLabel(QStringLiteral("ReplayGain:"), group);
  label->setGeometry(16, 32, label->sizeHint().width(), 16);
  auto* list = new QComboBox(group);
  list->setObjectName(QStringLiteral("ReplayGainList"));
  list->addItems({QStringLiteral("Выкл."), QStringLiteral("По трекам"),
                  QStringLiteral("По трекам и альбомам")});
  list->setCurrentIndex(-1);
  list->setGeometry(144, 30, 225, 21);
  label->setBuddy(list);
  QObject::connect(list, &QComboBox::currentIndexChanged, list, [](int item) {
    if (item >= REPLAYGAIN_OFF && item <= REPLAYGAIN_ALBUM) ConvFunc.Options.ReplayGain = item;
  });
  return list;
}

void ShowReplayGain(QComboBox* list) {
  const QSignalBlocker quiet(list);
  const int32_t mode = ConvFunc.Options.ReplayGain;
  list->setCurrentIndex(mode >= REPLAYGAIN_OFF && mode <= REPLAYGAIN_ALBUM ? mode : -1);
}
