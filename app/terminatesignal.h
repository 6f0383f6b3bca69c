// Ending the session (logout, shutdown, `kill`, Ctrl+C in a terminal) closes the program
// as its "Выход" would: config.cfg is written and the temporary WAV removed.
#pragma once

// Catches SIGTERM, SIGINT and SIGHUP (those not ignored from the start) and ends the
// program from the event loop: a running batch ends as a confirmed Cancel ends it, open
// dialogs close, and once nothing runs any more the windows close through
// CloseProgramWindows and the event loop ends. The same signal again during that shutdown
// takes its default course at once. Call once, after the application object exists.
void CloseOnTerminateSignals();

// Closes the open dialogs, the progress window of a finished batch, and then the main
// window, hidden or not, which runs its shut-down work. False, with nothing closed, while
// a batch runs or the list is being filled.
bool CloseProgramWindows();
