// What the user sees: on a terminal, one live line per running file and a total line,
// redrawn in place a few times a second; otherwise one plain line per finished file.
// Failures and skips go to standard error as "orvik-convert: FILE: REASON". Every line is
// printed escaped (names are data), and live lines are cut to the terminal's width in
// screen columns, so they never wrap.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "jobstate.h"

class TReport {
 public:
  // `skipSilently`: an output left because it exists is not reported.
  TReport(bool live, bool quiet, bool encodes, bool skipSilently);
  ~TReport();
  TReport(const TReport&) = delete;
  TReport& operator=(const TReport&) = delete;

  // The line of a file that has finished, whatever way.
  void Finished(const TJobState& job);
  // A failure of the whole run, before anything was converted.
  void Error(const std::string& text);
  // A failure of a path that never became a job.
  void Problem(const std::string& path, const std::string& reason);
  // A --dry-run's line for a job: where it would go, or why it would not be converted.
  void Planned(const TPlannedJob& job);
  // True when the live lines are shown and should be drawn now: when `force`d, and
  // otherwise at most a few times a second.
  bool DrawDue(bool force) const;
  // Redraws the live lines.
  void Draw(const std::vector<const TJobState*>& running, const TTotals& totals);
  // The last line: what was done, how much audio, how long it took.
  void Summary(const TTotals& totals, bool interrupted, size_t notStarted);
  // The last line of a --dry-run.
  void DrySummary(size_t toConvert, size_t skipped, size_t refused);

 private:
  void EraseLive();
  bool live_, quiet_, encodes_, skipSilently_;
  // Screen columns of each live line drawn last, and the width they were cut to: after the
  // terminal has narrowed, a line rewrapped by it takes more than one row.
  std::vector<size_t> liveColumns_;
  size_t liveWidth_ = 0;
  std::chrono::steady_clock::time_point lastDraw_{};
};

// "1:05" for 65 seconds, "1:02:03" past the hour.
std::string ClockText(double seconds);
