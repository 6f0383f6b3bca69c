// What the batch knows of each file while it runs.
#pragma once

#include <optional>
#include <string>

#include "codecs/loudness.h"

#include "plan.h"

enum class TPhase { Waiting, Running, Converted, Skipped, Failed, Cancelled };

struct TJobState {
  const TPlannedJob* plan = nullptr;
  TPhase phase = TPhase::Waiting;
  int lengthSeconds = -1;   // the source's length, once the child has told it
  double exactSeconds = -1; // the output's exact length, told by a child that succeeded
  int stage = 0;            // the engine's stage code
  int percent = 0;          // share done of that stage
  std::string reason;       // why it failed, in words
  std::string note;         // said after a success (a source that could not be deleted)
  std::optional<TLoudness> loudness;  // the output's, told by a child that measured it
};

struct TTotals {
  size_t files = 0, converted = 0, skipped = 0, failed = 0, cancelled = 0;
  double audioSecondsDone = 0;
  double elapsedSeconds = 0;
  double secondsLeft = -1;  // -1 while there is nothing to estimate from
};

// The share of its whole job a running file has done, from 0 to 1.
double JobFraction(const TJobState& job, bool encodes);
