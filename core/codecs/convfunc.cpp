#include "codecs/convfunc.h"

#include <atomic>
#include <utility>

#include "codecs/eabort.h"
#include "codecs/passhooks.h"
#include "codecs/truncate.h"

TConvFunc ConvFunc;
TEngineHooks EngineHooks;

namespace {
thread_local std::function<void()> passReporter;
std::atomic<bool> stopAllConversions{false};
}  // namespace

void PassBreak(int milliseconds) {
  if (passReporter)
    passReporter();
  else if (EngineHooks.ProcessEvents)
    EngineHooks.ProcessEvents();
  if (EngineHooks.Sleep) EngineHooks.Sleep(milliseconds);
}

void SetPassReporter(std::function<void()> report) { passReporter = std::move(report); }

bool OnWorkerThread() { return static_cast<bool>(passReporter); }

void StopAllConversions(bool stop) { stopAllConversions.store(stop); }

bool ConversionStopRequested() {
  // The live Stage belongs to the user-interface thread; a worker reads only the flag.
  return stopAllConversions.load(std::memory_order_relaxed) ||
         (!OnWorkerThread() && ConvFunc.Stage == STAGE_CANCEL);
}

void TConvFunc::CheckCancel() const {
  if (stopAllConversions.load(std::memory_order_relaxed)) throw EAbort();
  // The global engine's Stage belongs to the user-interface thread: a worker that asks the
  // global engine learns of a cancel through the flag above.
  if (this == &ConvFunc && OnWorkerThread()) return;
  if (Stage == STAGE_CANCEL) throw EAbort();
}

void TConvFunc::UpdateCounters(int32_t base, int32_t position) {
  CurrentPosition = position;
  TotalPosition = base + CurrentPosition;
  CurrentProgress = TruncToInt(static_cast<double>(CurrentPosition) / CurrentLength * 100.0);
  TotalProgress = TruncToInt(static_cast<double>(TotalPosition) / TotalLength * 100.0);
}
