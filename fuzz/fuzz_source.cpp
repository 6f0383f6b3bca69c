// Opens a fuzzed file through the engine's opening cascade and decodes its start through a
// mixer, as decoding to WAV does. The first byte picks the file's extension (the stream
// probe weighs it); the rest is the file. Checks: an opened source describes itself, and
// never delivers more than the length it reports.
#include <unistd.h>

#include <iterator>
#include <vector>

#include "audio.h"
#include "channel.h"
#include "codecs/audioguards.h"
#include "codecs/convfunc.h"
#include "fuzzcheck.h"

namespace {
const char* const kExtensions[] = {"mp3", "wav", "ogg", "wma", "mid", "xm", "mod", "it",
                                   "s3m", "mtm", "umx", "flac", "aiff", "txt"};
// Decoded bytes looked at per input (about a second and a half at 44100 Hz stereo), and
// the seconds a MIDI song or module may last: each input then takes milliseconds.
constexpr uint64_t kMaxPulledBytes = 1u << 18;
constexpr uint64_t kSynthesisSeconds = 2;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  audio_detail::set_synthesis_limit_seconds(kSynthesisSeconds);
  const std::string path = ScratchFolder() + "input." + kExtensions[data[0] % std::size(kExtensions)];
  WriteInput(path, data + 1, size - 1);
  {
    TAudioLibrary library(0, 44100, 0);
    Require(library.Ready(), "library not ready");
    const uint32_t flags = AUDIO_FLAG_UNICODE | AUDIO_FLAG_DECODE;
    TSourceHandle source(OpenSource(path, flags, flags));
    if (source) {
      AUDIO_CHANNELINFO info;
      Require(audio_get_info(source.Get(), &info) == 1, "no info for an opened source");
      Require(info.freq >= 1000 && info.chans > 0, "opened source without rate or channels");
      // The mixer converts to the usual output shape, as the WAV step does.
      TSourceHandle mixer(mixer_create(44100, 2, AUDIO_FLAG_DECODE | AUDIO_FLAG_MIXER_END));
      Require(static_cast<bool>(mixer), "no mixer");
      if (mixer_add_channel(mixer.Get(), source.Get(), 0) == 1) {
        const uint64_t length = audio_get_length(mixer.Get());
        std::vector<uint8_t> buffer(65536);
        uint64_t pulled = 0;
        while (pulled < kMaxPulledBytes) {
          const int32_t got = audio_get_data(mixer.Get(), buffer.data(), buffer.size());
          if (got <= 0) break;
          pulled += static_cast<uint64_t>(got);
          Require(pulled <= length, "delivered more than the reported length");
        }
        mixer_remove_channel(mixer.Get());
      }
    }
  }
  unlink(path.c_str());
  return 0;
}
