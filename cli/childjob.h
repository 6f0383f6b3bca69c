// One conversion in a child process of its own: its own engine state and temporary WAV, so a
// decoder that crashes or hangs takes only this file down. The child tells the parent how it
// is going over a pipe, one line per message:
//   length SECONDS        the source's length in whole seconds, once known
//   stage STAGE PERCENT   the engine's stage code and the share done of that stage
//   alive                 the conversion moved on within the same percent
//   seconds EXACT         the output's exact length, before "done"
//   loudness MEASUREMENT  the output's loudness (codecs/loudness.h), before "done"
//   note TEXT             said with a success
//   done | cancelled | skipped (the destination appeared meanwhile) | failed REASON
#pragma once

#include <string>

#include "codecs/options.h"

// The child writes only into two private folders: `scratch` on a local disk for the
// temporary WAV, and `staging` beside the destination for the encoder's partial file and the
// finished output, so that whatever happens to the child the parent removes all it left with
// the folders. Only a finished output is put at `destination`; without `overwrite` only
// where nothing is yet (another run may have put a file there meanwhile). Never returns.
[[noreturn]] void RunChildJob(const std::string& source, const std::string& destination,
                              const std::string& scratch, const std::string& staging,
                              const TOptions& options, bool overwrite, int reportFd);

// Set by the signal handlers of the parent and of every child: stop at the next pass.
extern volatile int CancelRequested;
