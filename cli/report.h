// What the user sees: on a terminal, one live line per running file and a total line,
// redrawn in place a few times a second; otherwise one plain line per finished file.
// Failures go to standard error as "orvik-convert: FILE: REASON".
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "jobstate.h"

class TReport {
 public:
  TReport(bool live, bool quiet, bool encodes);
  ~TReport();
  TReport(const TReport&) = delete;
  TReport& operator=(const TReport&) = delete;

  // The line of a file that has finished, whatever way.
  void Finished(const TJobState& job);
  // A failure of a path that never became a job.
  void Problem(const std::string& path, const std::string& reason);
  // Redraws the live lines; unless `force`, at most a few times a second.
  void Refresh(const std::vector<const TJobState*>& running, const TTotals& totals, bool force);
  // The last line: what was done, how much audio, how long it took.
  void Summary(const TTotals& totals, bool interrupted, size_t notStarted);

 private:
  void EraseLive();
  bool live_, quiet_, encodes_;
  size_t liveLines_ = 0;
  std::chrono::steady_clock::time_point lastDraw_{};
};

// "1:05" for 65 seconds, "1:02:03" past the hour.
std::string ClockText(double seconds);
