#include "finishedtext.h"

namespace {
// Russian nouns after a number take one of three forms, chosen by the last two digits.
QString FilesWord(int count) {
  const int lastTwo = count % 100, last = count % 10;
  if (lastTwo >= 11 && lastTwo <= 14) return QStringLiteral("файлов");
  if (last == 1) return QStringLiteral("файл");
  if (last >= 2 && last <= 4) return QStringLiteral("файла");
  return QStringLiteral("файлов");
}
}  // namespace

QString FinishedStageText(int failedCount) {
  const QString finished = QStringLiteral("Конвертация завершена.");
  if (failedCount <= 0) return finished;
  return finished + QStringLiteral(" Не удалось: %1 %2").arg(failedCount).arg(FilesWord(failedCount));
}
