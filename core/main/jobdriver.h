// The job driver's helpers: names of outputs, the fallback folder, and the mark of a
// running batch.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "codecs/options.h"
#include "main/albumgain.h"
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

// True when both paths name the same entry of the same folder, whether it exists or not.
bool SamePlace(const std::string& a, const std::string& b);

// True when `destination` holds what this thread's conversion put there last: a file with
// the length its writer committed.
bool OutputIsThere(const std::string& destination);

class TConvFunc;
// Converts `source` into `destination` with the routines of `engine`, through the temporary
// WAV `slotWav` (or `spareWav` when that is the file read or written); true when every step
// succeeded. Settings come from engine.Options. Throws EAbort on a cancel.
bool ConvertFileWith(TConvFunc& engine, const std::string& source,
                     const std::string& destination, const std::string& slotWav,
                     const std::string& spareWav);

// One entry of a batch on its way: its place in the list, its source and its output.
struct TBatchEntry {
  size_t index = 0;
  std::string source;
  std::string destination;
};

// What became of one entry's conversion, told by the thread that ran it.
struct TEntryResult {
  bool converted = false;  // its output is there, whole, as it was written
  std::optional<TLoudness> loudness;  // of the output, when measured
};

// Runs `entry` with `engine` on the calling thread (ConvertFileWith), then what must follow
// on that same thread: the check that its output is there as it was written, and its
// loudness measured (and its track tags written) when the settings ask. Throws EAbort on a
// cancel.
TEntryResult RunEntry(TConvFunc& engine, const TBatchEntry& entry, const std::string& slotWav,
                      const std::string& spareWav);

// What one batch decides entry by entry, in list order, on the user-interface thread: where
// each output goes, which entries are held back, and what follows once an entry is done.
class TBatchPlan {
 public:
  // For the list and the settings as they are when the batch starts.
  TBatchPlan();
  // Readies entry `index`: the source made writable, the fallback folder and its warning,
  // the output path. False when the list has ended meanwhile (cleared by the progress
  // window while the warning was open).
  bool Prepare(size_t index, TBatchEntry& entry);
  // True when preparing the next entry (not the first) shows the read-only warning box.
  bool WarnsBeforeNext() const;
  // True (and the entry counted as done) when its output is not to be written: it would
  // replace a source still waiting in the list, an output this batch made earlier, or the
  // sheet or an image of an album still to be read. Asked
  // only once every earlier entry whose files meet this one's has finished.
  bool HoldsBack(const TBatchEntry& entry);
  // The one place where an entry ends, whatever order entries end in: its output joins
  // the batch's outputs, or its source joins MainFunc.FailedSources (in list order); its
  // album learns of it (album tags once the album's last entry has ended); the source goes
  // when the settings say so and its complete output is a different file.
  void Finish(const TBatchEntry& entry, const TEntryResult& result);

 private:
  bool fallback_ = false;
  std::string destination_;          // kept from one entry to the next
  std::vector<std::string> written_;  // the outputs this batch has made
  std::vector<size_t> failedIndexes_;  // list places of MainFunc.FailedSources, ascending
  std::set<std::string> albumTracksDone_;  // album tracks with their outputs
  TAlbumGain albums_;                      // album tags once an album's last entry has ended
};

// Marks MainFunc.BatchRunning for as long as it lives, the cancel exception included: around
// a batch, and around every command that fills the list while processing events.
class TBatchGuard {
 public:
  TBatchGuard() { MainFunc.BatchRunning = true; }
  ~TBatchGuard() { MainFunc.BatchRunning = false; }
  TBatchGuard(const TBatchGuard&) = delete;
  TBatchGuard& operator=(const TBatchGuard&) = delete;
};
