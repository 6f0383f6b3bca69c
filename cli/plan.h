// Where each source of a batch goes, and which outputs must not be written: the window's
// naming rules and safety rules, applied to the whole list before anything runs, with the
// rules of a converter that is run again and again over one library: an existing output
// is left alone unless asked, and a file at the output path of another source is never
// taken as a source. Every check is by index or by file identity, so a list of a whole
// library plans in time linear in its length.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "codecs/options.h"

struct TPlannedJob {
  std::string source;
  std::string destination;
  // Not empty: the file is not converted, for this reason (in words).
  std::string refusal;
  // The refusal is a skip (its output exists already), not a failure.
  bool skipped = false;
  // Entries whose source this output replaces: it is written only after they converted.
  std::vector<size_t> after;
  // Another entry of the list names the same output: the source is never deleted.
  bool sharesOutput = false;
};

struct TPlanInput {
  std::vector<std::string> sources;     // in batch order
  // Per source, the folder below the named folder it was found in ("" or "a/b/"): with an
  // output folder the tree is mirrored below it.
  std::vector<std::string> subfolders;
  bool overwrite = false;               // existing outputs are replaced
};

// One job per source taken, in order; sources that are outputs of other sources are left
// out. OutputName must be 0, 1 or 2.
std::vector<TPlannedJob> PlanJobs(const TPlanInput& input, const TOptions& options);
