// Inside the audio layer: what every decoding channel is, and the per-thread handle table.
// Each source kind lives in its own file and is reached through its factory below.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "songtags.h"

namespace audio_detail {

// A decoding channel. Output is 16-bit signed interleaved PCM at `rate` and `chans`.
class Channel {
 public:
  virtual ~Channel() = default;

  uint32_t rate = 0;
  uint32_t chans = 0;
  uint32_t ctype = 0;
  uint64_t length_bytes = 0;  // exact decoded length in bytes
  uint32_t flags = 0;         // open flags as reported by audio_get_info (bit 0 always clear)

  uint32_t frame_bytes() const { return chans * 2; }
  uint64_t position() const { return position_; }
  bool active() const { return !drained_; }

  // Fills up to `bytes` (rounded down to whole frames). Returns the bytes stored, 0 once
  // the channel is drained, -1 on an unrecoverable error (the channel then counts as
  // drained).
  int32_t pull(void* buffer, uint32_t bytes);

  // Bytes of silence delivered in place of data that would not decode, so that the
  // delivered length still equals length_bytes. 0 for a sound file.
  virtual uint64_t padded_bytes() const { return 0; }

  // Goes to frame `frame` (sample frames from the start), so that the next pull delivers
  // from there, exactly. False when the source cannot; the channel is then of no further
  // use and is to be opened anew.
  virtual bool seek_frame(uint64_t frame) { (void)frame; return false; }

  // Adds what the source knows of the song to `tags`; nothing for a source without tags.
  virtual void read_tags(SongTags& tags) const { (void)tags; }

 protected:
  // Fills as much of `bytes` (whole frames) as the source still has. Returns 0 only at the
  // end, -1 on an unrecoverable error. A source that hits corrupt data delivers what it
  // could decode and then ends.
  virtual int64_t decode(uint8_t* buffer, uint32_t bytes) = 0;

  // A source that knows it has delivered its last byte says so at once, so that
  // audio_is_active turns 0 without another empty pull.
  void mark_drained() { drained_ = true; }

 private:
  uint64_t position_ = 0;
  bool drained_ = false;
};

// Handle table of the calling thread. register_channel returns 0 when the library is not
// initialised on this thread.
uint32_t register_channel(std::shared_ptr<Channel> channel);
std::shared_ptr<Channel> find_channel(uint32_t handle);
bool release_channel(uint32_t handle);
bool library_ready();
// audio_init sets the library ready; audio_free unsets it, releasing every channel.
void set_library_ready(bool ready);

// The reason of the last failed opening on this thread (AUDIO_OK and "" after a success).
void set_open_error(int code, std::string detail = {});
int open_error();
const std::string& open_error_detail();

// The longest a synthesised source (MIDI song, module) plays, in seconds: one hour, longer
// than any real song, so that a broken file is cut there instead of rendering for hours.
// Fuzzing lowers it (for this thread) so that every input takes milliseconds.
uint64_t synthesis_limit_seconds();
void set_synthesis_limit_seconds(uint64_t seconds);

// Calls the progress callback of this thread (audio_set_progress); false when it asks for
// the work to stop. True when none is set.
bool keep_going();

// Factories; each returns nullptr when it does not take the file.
std::shared_ptr<Channel> open_ffmpeg_channel(const std::string& path, bool wma);
std::shared_ptr<Channel> open_module_channel(const std::string& path, uint32_t rate);
std::shared_ptr<Channel> open_midi_channel(const std::string& path, uint32_t rate);
std::shared_ptr<Channel> open_cd_track_channel(const std::string& path);
// A stream file whose length in sample frames is known already (an album image measured
// once): the packets are not counted again.
std::shared_ptr<Channel> open_ffmpeg_channel_of_length(const std::string& path, int64_t frames);
std::shared_ptr<Channel> open_album_track_channel(const std::string& path);

}  // namespace audio_detail
