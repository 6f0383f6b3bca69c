#include "codecs/convfunc.h"

#include "codecs/eabort.h"
#include "codecs/passhooks.h"
#include "codecs/truncate.h"

TConvFunc ConvFunc;
TEngineHooks EngineHooks;

void PassBreak(int milliseconds) {
  if (EngineHooks.ProcessEvents) EngineHooks.ProcessEvents();
  if (EngineHooks.Sleep) EngineHooks.Sleep(milliseconds);
}

void TConvFunc::CheckCancel() const {
  if (Stage == STAGE_CANCEL) throw EAbort();
}

void TConvFunc::UpdateCounters(int32_t base, int32_t position) {
  CurrentPosition = position;
  TotalPosition = base + CurrentPosition;
  CurrentProgress = TruncToInt(static_cast<double>(CurrentPosition) / CurrentLength * 100.0);
  TotalProgress = TruncToInt(static_cast<double>(TotalPosition) / TotalLength * 100.0);
}
