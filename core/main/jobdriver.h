// The job driver's helpers: names of outputs, the fallback folder, and the mark of a
// running batch.
#pragma once

#include <string>

#include "codecs/options.h"
#include "main/mainfunc.h"
#include "main/outputplace.h"

// The text without its extension: from the last "." to the end, unless a "/" follows that
// dot. "song.mp3" gives "song", "name." gives "name", "/a.b/song" comes back unchanged.
std::string StripExtension(const std::string& text);
// The extension without its dot; empty when there is none.
std::string ExtensionOf(const std::string& text);

// P + "output": where outputs go when the sources lie on a CD drive.
std::string FallbackFolder();

// The output path of entry `index` (counted from 0) with source `source`. `fallback` is the
// batch's mark that the first entry lies on a CD drive. An OutputName outside 0..2 gives
// `previous` back unchanged.
std::string OutputPathFor(const std::string& source, int index, const TOptions& options,
                          bool fallback, const std::string& previous);

// True when `destination` holds the complete output of `source` (`converted`) and is a
// different file: then the source may be deleted, unless a later file of the batch replaces
// that output.
bool OutputLetsSourceGo(const std::string& source, const std::string& destination,
                        bool converted);

// Marks MainFunc.BatchRunning for as long as it lives, the cancel exception included: around
// a batch, and around every command that fills the list while processing events.
class TBatchGuard {
 public:
  TBatchGuard() { MainFunc.BatchRunning = true; }
  ~TBatchGuard() { MainFunc.BatchRunning = false; }
  TBatchGuard(const TBatchGuard&) = delete;
  TBatchGuard& operator=(const TBatchGuard&) = delete;
};
