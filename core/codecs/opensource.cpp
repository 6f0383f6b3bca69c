// Opening any supported source through the fixed cascade of openers, freeing a channel by
// its type, and measuring the length of the whole conversion list.
#include <sys/stat.h>

#include "album.h"
#include "audio.h"
#include "codecs/audioguards.h"
#include "codecs/convfunc.h"
#include "codecs/openprogress.h"
#include "codecs/passhooks.h"
#include "codecs/truncate.h"
#include "main/albumentries.h"
#include "main/mainfunc.h"
#include "main/paths.h"

uint32_t OpenSource(const std::string& path, uint32_t streamFlags, uint32_t moduleFlags) {
  // The probe: a silent stream that the library can create only when it is fully usable.
  // Its handle is not kept; audio_free releases it with the library.
  uint32_t probeFlag = 0;
  if (audio_create_stream(10, 44100, 1, nullptr, reinterpret_cast<void*>(uintptr_t{0x100})))
    probeFlag = AUDIO_FLAG_PROBE;
  const char* p = path.c_str();
  const uint32_t s = streamFlags | probeFlag;
  // A MIDI song rendered to count its frames is kept beside the temporary WAV for its
  // delivery.
  audio_set_render_folder(FolderPart(TemporaryWavPath()).c_str());
  // An album's track entry, or a sheet listed itself, is the album opener's alone: its
  // reason for a refusal is the one to tell.
  if (IsAlbumEntry(path)) return album_open_track_file(p, s);
  // Otherwise the order does not depend on the file's extension: each opener refuses what
  // it does not take, and the MIDI opener comes last. An opening stopped by a cancel ends
  // the cascade.
  if (const uint32_t h = audio_open_file(0, p, 0, 0, s)) return h;
  if (OpeningStopped()) return 0;
  if (const uint32_t h = wma_open_file(0, p, 0, 0, s)) return h;
  if (OpeningStopped()) return 0;
  if (const uint32_t h = cd_open_track_file(p, s)) return h;
  if (OpeningStopped()) return 0;
  if (const uint32_t h =
          audio_open_module(0, p, 0, 0, moduleFlags | probeFlag | AUDIO_FLAG_MODULE, 0))
    return h;
  if (OpeningStopped()) return 0;
  return midi_open_file(0, p, 0, 0, s, 44100);
}

void FreeSource(uint32_t handle) {
  if (handle == 0) return;
  AUDIO_CHANNELINFO info;
  audio_get_info(handle, &info);
  // 0x100 is the type of a module of no particular format.
  const bool module = info.ctype == 0x100 ||
                      (info.ctype >= AUDIO_CTYPE_MOD && info.ctype <= AUDIO_CTYPE_IT);
  if (module)
    audio_free_module(handle);
  else
    audio_free_stream(handle);
}

namespace {
// A listed source's length as the batch total counts it; the library must be started.
double ListedSeconds(const std::string& path) {
  // A source no opener takes has handle 0, and the layer gives it 0 seconds.
  TSourceHandle source(OpenSource(path, AUDIO_FLAG_UNICODE, AUDIO_FLAG_UNICODE));
  return audio_bytes_to_seconds(source.Get(), audio_get_length(source.Get()));
}
}  // namespace

int32_t TConvFunc::MeasureTotalLength() {
  CurrentProgress = 0;
  TotalProgress = 0;
  TotalLength = 0;
  CurrentLength = 0;
  CurrentPosition = 0;
  TotalPosition = 0;

  // Songs kept from a list measured before and never converted are of no use now.
  audio_drop_kept_renders();
  mkdir(FolderPart(TemporaryWavPath()).c_str(), 0777);
  audio_set_config(1, 10);
  TAudioLibrary library(-1, 44100, 0x100);
  if (!library.Ready()) return -1;
  // Events are processed while the list is measured, so the user may cancel meanwhile: the
  // progress window then sets Stage 30 (a 30 left from a cancelled batch before does not
  // count) and empties the list. The list is read by index for that reason.
  const int32_t stageBefore = Stage;
  const auto cancelRequested = [&] { return Stage == STAGE_CANCEL && stageBefore != STAGE_CANCEL; };
  std::vector<std::string>& list = MainFunc.FileList;
  int32_t sum = 0;
  bool stopped = false;
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string path = list[i];
    const auto cancelled = [&] { return cancelRequested() || i >= list.size() || list[i] != path; };
    double seconds = 0;
    {
      TOpenProgress progress(cancelled);
      seconds = ListedSeconds(path);
    }
    stopped = cancelled();
    if (stopped) break;
    // Truncated after every addition: the total is the sum of each source's whole seconds.
    sum = TruncToInt(seconds + sum);
    PassBreak(0);
  }
  // The batch will not run: what was rendered for it goes now.
  if (stopped || cancelRequested() || list.empty()) audio_drop_kept_renders();
  return sum;
}

void TConvFunc::CountAsDone(const std::string& path) {
  audio_set_config(1, 10);
  TAudioLibrary library(-1, 44100, 0x100);
  int32_t seconds = 0;
  if (library.Ready()) {
    // Only a cancel requested now counts, not one left from a batch before.
    const int32_t stageBefore = Stage;
    TOpenProgress progress([&] { return Stage == STAGE_CANCEL && stageBefore != STAGE_CANCEL; });
    seconds = TruncToInt(ListedSeconds(path));
    progress.RaiseIfStopped();
  }
  CurrentLength = seconds;
  UpdateCounters(TotalPosition, seconds);
}
