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

// Converts every job not refused, at most `jobs` at once, reporting as it goes. A child that
// crashes or runs past its time limit fails its file only.
TBatchResult RunBatch(const std::vector<TPlannedJob>& plan, const std::vector<std::string>& sources,
                      const TOptions& options, int jobs, TReport& report);
