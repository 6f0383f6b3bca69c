// The stage line of a batch that has ended, with the number of files that failed.
#pragma once

#include <QString>

// "Конвертация завершена." alone when nothing failed; otherwise followed by
// "Не удалось: " and the count with the Russian noun form that goes with it
// (1 файл, 2 файла, 5 файлов, 21 файл, 112 файлов).
QString FinishedStageText(int failedCount);
