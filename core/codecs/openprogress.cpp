#include "codecs/openprogress.h"

#include <utility>

#include "audio.h"
#include "codecs/convfunc.h"
#include "codecs/eabort.h"
#include "codecs/passhooks.h"

namespace {
thread_local TOpenProgress* innermost = nullptr;
}

TOpenProgress::TOpenProgress(std::function<bool()> stop) : stop_(std::move(stop)), outer_(innermost) {
  innermost = this;
  audio_set_progress(&TOpenProgress::Report, this);
}

TOpenProgress::~TOpenProgress() {
  innermost = outer_;
  if (outer_)
    audio_set_progress(&TOpenProgress::Report, outer_);
  else
    audio_set_progress(nullptr, nullptr);
}

void TOpenProgress::RaiseIfStopped() const {
  if (raised_) std::rethrow_exception(raised_);
  if (stopped_) throw EAbort();
}

// Called from inside the audio layer, which must never see an exception.
int TOpenProgress::Report(void* self) {
  auto* progress = static_cast<TOpenProgress*>(self);
  if (progress->stopped_) return 0;
  try {
    PassBreak(0);
    progress->stopped_ = progress->stop_ && progress->stop_();
  } catch (...) {
    progress->raised_ = std::current_exception();
    progress->stopped_ = true;
  }
  return progress->stopped_ ? 0 : 1;
}

bool OpeningStopped() { return innermost != nullptr && innermost->Stopped(); }

namespace {
template <typename Open>
uint32_t OpenOrCancel(Open open) {
  TOpenProgress progress([] { return ConversionStopRequested(); });
  const uint32_t handle = open();
  if (progress.Stopped()) {
    FreeSource(handle);
    progress.RaiseIfStopped();
  }
  return handle;
}
}  // namespace

uint32_t OpenSourceOrCancel(const std::string& path, uint32_t streamFlags, uint32_t moduleFlags) {
  return OpenOrCancel([&] { return OpenSource(path, streamFlags, moduleFlags); });
}

uint32_t OpenFileOrCancel(const std::string& path) {
  return OpenOrCancel([&] { return audio_open_file(0, path.c_str(), 0, 0, 0); });
}
