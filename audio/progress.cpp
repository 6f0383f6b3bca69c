// The per-thread progress callback of long openings.
#include "audio.h"
#include "channel.h"

namespace {
thread_local audio_progress_proc progressProc = nullptr;
thread_local void* progressUser = nullptr;
}  // namespace

void audio_set_progress(audio_progress_proc proc, void* user) {
  progressProc = proc;
  progressUser = proc ? user : nullptr;
}

namespace audio_detail {
bool keep_going() { return progressProc == nullptr || progressProc(progressUser) != 0; }
}  // namespace audio_detail
