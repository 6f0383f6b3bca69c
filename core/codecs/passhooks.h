// What a conversion routine does between two passes: let the windows process their pending
// events, then pause. Headless (tests, benchmarks) both do nothing; the application
// installs the real ones, its pause a yield of the processor rather than a wait. Long
// openings make the same break now and then (codecs/openprogress.h).
#pragma once

#include <functional>

struct TEngineHooks {
  std::function<void()> ProcessEvents;
  std::function<void(int milliseconds)> Sleep;
};

extern TEngineHooks EngineHooks;

// Processes pending events, then sleeps `milliseconds` (each only if installed).
void PassBreak(int milliseconds);
