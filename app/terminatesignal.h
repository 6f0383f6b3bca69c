// Ending the session (logout, shutdown, `kill`, Ctrl+C in a terminal) closes the program
// as its "Выход" would: config.cfg is written and the temporary WAV removed.
#pragma once

// Catches SIGTERM, SIGINT and SIGHUP and turns each into closing every window from the
// event loop. During a batch the signal takes its default course: the batch cannot end
// in the middle of a handler. Call once, after the application object exists.
void CloseOnTerminateSignals();
