// The public operations of the audio layer over the per-thread handle table. Source kinds
// and the mixer live in their own files; this file only checks arguments and dispatches.
#include <limits>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

#include "album.h"
#include "audio.h"
#include "channel.h"

using audio_detail::Channel;
using audio_detail::find_channel;

namespace {

// Silent user stream: the probe of the opener cascade. It never carries data.
class SilentStream final : public Channel {
 protected:
  int64_t decode(uint8_t*, uint32_t) override { return 0; }
};

uint32_t register_opened(std::shared_ptr<Channel> channel, uint32_t flags) {
  if (!channel) return 0;
  channel->flags = flags & ~1u;  // output is always 16-bit
  return audio_detail::register_channel(std::move(channel));
}

// The layer reports through results only: running out of memory while opening or decoding
// becomes the operation's failure value.
template <typename Result, typename Work>
Result guarded(Result failure, Work&& work) noexcept {
  try {
    return work();
  } catch (...) {
    return failure;
  }
}

bool can_open(int in_memory, const char* path) {
  return audio_detail::library_ready() && in_memory == 0 && path != nullptr && *path != 0;
}

// One opening: the channel `open` makes, registered, with the reason of a refusal kept for
// audio_error_get.
template <typename Open>
uint32_t open_channel(int in_memory, const char* path, uint32_t flags, Open&& open) noexcept {
  audio_detail::set_open_error(AUDIO_OK);
  uint32_t handle = 0;
  if (can_open(in_memory, path)) {
    handle = guarded<uint32_t>(0, [&] { return register_opened(open(), flags); });
  }
  if (handle != 0) {
    audio_detail::set_open_error(AUDIO_OK);
  } else if (audio_detail::open_error() == AUDIO_OK) {
    audio_detail::set_open_error(AUDIO_ERROR_UNKNOWN_FORMAT);
  }
  return handle;
}

}  // namespace

// Playback settings only; decoding needs none of them.
int audio_set_config(uint32_t /*option*/, uint32_t /*value*/) { return 1; }

int audio_init(int /*device*/, uint32_t /*freq*/, uint32_t /*flags*/, void* /*window*/,
               void* /*clsid*/) {
  // Corrupt input makes FFmpeg chatty; failures reach callers through result codes.
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
  audio_detail::set_library_ready(true);
  return 1;
}

int audio_free() {
  if (!audio_detail::library_ready()) return 0;
  audio_detail::set_library_ready(false);
  return 1;
}

uint32_t audio_create_stream(uint32_t freq, uint32_t chans, uint32_t flags, void* /*proc*/,
                             void* /*user*/) {
  // The opening cascade's probe passes 44100 as the channel count; any count that keeps a
  // frame's byte size in range is taken.
  if (!audio_detail::library_ready() || freq == 0 || chans == 0 || chans > 65535) return 0;
  return guarded<uint32_t>(0, [&] {
    auto stream = std::make_shared<SilentStream>();
    stream->rate = freq;
    stream->chans = chans;
    stream->ctype = AUDIO_CTYPE_PROBE;
    return register_opened(std::move(stream), flags);
  });
}

uint32_t audio_open_file(int in_memory, const char* path, uint64_t, uint64_t, uint32_t flags) {
  return open_channel(in_memory, path, flags,
                      [&] { return audio_detail::open_ffmpeg_channel(path, false); });
}

uint32_t wma_open_file(int in_memory, const char* path, uint64_t, uint64_t, uint32_t flags) {
  return open_channel(in_memory, path, flags,
                      [&] { return audio_detail::open_ffmpeg_channel(path, true); });
}

uint32_t cd_open_track_file(const char* path, uint32_t flags) {
  return open_channel(0, path, flags, [&] { return audio_detail::open_cd_track_channel(path); });
}

uint32_t album_open_track_file(const char* path, uint32_t flags) {
  return open_channel(0, path, flags, [&] { return audio_detail::open_album_track_channel(path); });
}

uint32_t audio_open_module(int in_memory, const char* path, uint64_t, uint64_t, uint32_t flags,
                           uint32_t freq) {
  return open_channel(in_memory, path, flags, [&] {
    return audio_detail::open_module_channel(path, freq == 0 ? 44100 : freq);
  });
}

uint32_t midi_open_file(int in_memory, const char* path, uint64_t, uint64_t, uint32_t flags,
                        uint32_t freq) {
  return open_channel(in_memory, path, flags, [&] {
    return audio_detail::open_midi_channel(path, freq == 0 ? 44100 : freq);
  });
}

int audio_error_get() { return audio_detail::open_error(); }

std::string audio_error_detail() {
  return guarded<std::string>(std::string(), [] { return audio_detail::open_error_detail(); });
}

// A mixer keeps its own reference to its source, so the two may be freed in either order.
int audio_free_stream(uint32_t handle) { return audio_detail::release_channel(handle) ? 1 : 0; }

int audio_free_module(uint32_t handle) { return audio_detail::release_channel(handle) ? 1 : 0; }

int audio_get_info(uint32_t handle, AUDIO_CHANNELINFO* info) {
  const auto channel = find_channel(handle);
  if (!channel || info == nullptr) return 0;
  *info = AUDIO_CHANNELINFO{};
  info->freq = channel->rate;
  info->chans = channel->chans;
  info->flags = channel->flags & ~1u;
  info->ctype = channel->ctype;
  return 1;
}

uint64_t audio_get_length(uint32_t handle) {
  const auto channel = find_channel(handle);
  return channel ? channel->length_bytes : 0;
}

uint64_t audio_get_position(uint32_t handle) {
  const auto channel = find_channel(handle);
  return channel ? channel->position() : 0;
}

double audio_bytes_to_seconds(uint32_t handle, uint64_t bytes) {
  const auto channel = find_channel(handle);
  if (!channel || channel->rate == 0 || channel->chans == 0) return 0.0;
  return static_cast<double>(bytes) /
         (static_cast<double>(channel->rate) * channel->frame_bytes());
}

int32_t audio_get_data(uint32_t handle, void* buffer, uint32_t bytes) {
  const auto channel = find_channel(handle);
  if (!channel || buffer == nullptr) return -1;
  const uint32_t most = static_cast<uint32_t>(std::numeric_limits<int32_t>::max());
  return guarded<int32_t>(-1,
                          [&] { return channel->pull(buffer, bytes > most ? most : bytes); });
}

int audio_is_active(uint32_t handle) {
  const auto channel = find_channel(handle);
  return channel && channel->active() ? 1 : 0;
}
