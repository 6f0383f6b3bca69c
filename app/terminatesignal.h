// Ending the session (logout, shutdown, `kill`, Ctrl+C in a terminal) closes the program
// as its "Выход" would: config.cfg is written and the temporary WAV removed.
#pragma once

// Catches SIGTERM, SIGINT and SIGHUP (those not ignored from the start) and ends the program from the event loop through
// CloseProgramWindows. During a batch the signal takes its default course: the batch
// cannot end in the middle of a handler. Call once, after the application object exists.
void CloseOnTerminateSignals();

// Closes the open dialogs and then the main window, hidden or not, which runs its
// shut-down work. False, with nothing closed, while a batch runs.
bool CloseProgramWindows();
