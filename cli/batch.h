// Runs the planned jobs, each in a child process of its own, several at once.
#pragma once

#include <string>
#include <vector>

#include "codecs/options.h"
#include "plan.h"
#include "report.h"

struct TBatchResult {
  TTotals totals;
  size_t notStarted = 0;
  int interruptedBy = 0;  // the signal that stopped the batch, 0 when it ran to its end
};

// Installs the handlers that turn Ctrl+C (and SIGTERM, SIGHUP) into a cancel of the batch.
void InstallCancelHandlers();

// The names of the private folders a run makes for its files (main/privatefolder.h).
inline constexpr const char* kStagingPrefix = ".orvik-convert-";

struct TBatchSettings {
  int jobs = 1;             // files converted at once
  std::string tempFolder;   // where the temporary WAVs go
  bool overwrite = false;   // an output that appeared meanwhile is replaced all the same
};

// Converts every job not refused, at most `jobs` at once, reporting as it goes. A child that
// crashes or stops making progress fails its file only.
TBatchResult RunBatch(const std::vector<TPlannedJob>& plan, const TOptions& options,
                      const TBatchSettings& settings, TReport& report);
