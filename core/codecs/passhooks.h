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

// Processes pending events, then sleeps `milliseconds` (each only if installed). On a thread
// with a pass reporter the reporter runs instead of the event processing, which belongs to
// the user-interface thread alone.
void PassBreak(int milliseconds);

// Makes `report` this thread's pass reporter (an empty one removes it): a conversion running
// beside the user-interface thread tells its progress through it at every pass.
void SetPassReporter(std::function<void()> report);
// True on a thread that has a pass reporter.
bool OnWorkerThread();
