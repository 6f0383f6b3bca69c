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
  // True when the live lines are shown and should be drawn now: when `force`d, and
  // otherwise at most a few times a second.
  bool DrawDue(bool force) const;
  // Redraws the live lines.
  void Draw(const std::vector<const TJobState*>& running, const TTotals& totals);
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
