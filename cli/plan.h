// Where each source of a batch goes, and which outputs must not be written: the window's
// naming rules and safety rules, applied to the whole list before anything runs. Every
// check is by index or by file identity, so a list of a whole library plans in time linear
// in its length.
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
  // Entries whose source this output replaces: it is written only after they converted.
  std::vector<size_t> after;
  // Another entry of the list names the same output: the source is never deleted.
  bool sharesOutput = false;
};

// One job per source, in order. OutputName must be 0, 1 or 2.
std::vector<TPlannedJob> PlanJobs(const std::vector<std::string>& sources, const TOptions& options);
