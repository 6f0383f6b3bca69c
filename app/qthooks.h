// Connects the logic behind the windows to Qt: the file-open dialog, message boxes, event
// processing and pauses used by the list operations and the conversion routines.
#pragma once

#include <QString>

// The file-open dialog's one filter: "Все поддерживаемые типы" with the source patterns,
// separated by blanks as Qt expects.
QString OpenDialogFilter();

// Fills UiHooks (all but ShowReadOnlyWarning) and EngineHooks.
void InstallWindowHooks();
