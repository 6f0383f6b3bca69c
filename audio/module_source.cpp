// Tracker modules (xm, umx, mod, it, s3m, mtm) rendered with libopenmpt, played once.
#include <libopenmpt/libopenmpt.h>
#include <libopenmpt/libopenmpt_ext.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "audio.h"
#include "channel.h"
#include "pcm_dither.h"
#include "sourcefile.h"

namespace audio_detail {
namespace {

constexpr uint32_t kDefaultRate = 44100;
// A module larger than this is not a module anyone wants converted; refuse rather than
// hold it in memory.
constexpr size_t kMaxModuleBytes = 128u * 1024 * 1024;
constexpr size_t kRenderFrames = 4096;

struct ModuleDeleter {
  void operator()(openmpt_module* m) const { openmpt_module_destroy(m); }
};
using ModulePtr = std::unique_ptr<openmpt_module, ModuleDeleter>;

struct ModuleExtDeleter {
  void operator()(openmpt_module_ext* m) const { openmpt_module_ext_destroy(m); }
};
using ModuleExtPtr = std::unique_ptr<openmpt_module_ext, ModuleExtDeleter>;

// Played once: no repeats, and at the song's end the renderer stops instead of fading out
// and looping, so the rendered length is finite and the same on every run.
constexpr openmpt_module_initial_ctl kPlayOnce[] = {{"play.at_end", "stop"}, {nullptr, nullptr}};

ModulePtr CreateModule(const std::vector<uint8_t>& data) {
  int error = 0;
  openmpt_module* m = openmpt_module_create_from_memory2(
      data.data(), data.size(), openmpt_log_func_silent, nullptr, openmpt_error_func_ignore,
      nullptr, &error, nullptr, kPlayOnce);
  if (m == nullptr) return nullptr;
  ModulePtr mod(m);
  if (openmpt_module_set_repeat_count(mod.get(), 0) == 0) return nullptr;
  return mod;
}

// Frames the song plays at `rate`, at most `most`; -1 when it cannot be played. How long a
// song plays follows from its ticks alone, never from what its channels sound, so it is
// counted with every channel's volume at 0: the mixer then only steps the samples on
// instead of mixing them, a tenth of the cost of rendering the song. (Muting the channels
// instead would not do: a muted channel of a Scream Tracker song loses its effects too,
// pattern breaks included, as in the tracker itself.)
int64_t CountFrames(const std::vector<uint8_t>& data, uint32_t rate, uint64_t most) {
  int error = 0;
  ModuleExtPtr ext(openmpt_module_ext_create_from_memory(
      data.data(), data.size(), openmpt_log_func_silent, nullptr, openmpt_error_func_ignore,
      nullptr, &error, nullptr, kPlayOnce));
  openmpt_module* mod = ext ? openmpt_module_ext_get_module(ext.get()) : nullptr;
  openmpt_module_ext_interface_interactive interactive{};
  if (mod == nullptr || openmpt_module_set_repeat_count(mod, 0) == 0 ||
      openmpt_module_ext_get_interface(ext.get(), LIBOPENMPT_EXT_C_INTERFACE_INTERACTIVE,
                                       &interactive, sizeof interactive) == 0 ||
      interactive.set_channel_volume == nullptr)
    return -1;
  for (int32_t c = 0; c < openmpt_module_get_num_channels(mod); ++c) {
    if (interactive.set_channel_volume(ext.get(), c, 0.0) == 0) return -1;
  }
  std::vector<float> scratch(kRenderFrames);
  uint64_t frames = 0;
  for (int reads = 1; frames < most; ++reads) {
    // About three quarters of a second of sound between two reports.
    if (reads % 8 == 0 && !keep_going()) return -1;
    const size_t got = openmpt_module_read_float_mono(mod, static_cast<int32_t>(rate),
                                                      kRenderFrames, scratch.data());
    if (got == 0) break;
    frames += got;
  }
  return static_cast<int64_t>(std::min(frames, most));
}

// The kind reported for a module: the format of the module itself (inside a umx
// container, that of the module it carries). Formats beyond the five named ones are
// reported as the nearest of them, so that every module is still freed as a module.
uint32_t ModuleType(openmpt_module* mod) {
  const char* raw = openmpt_module_get_metadata(mod, "type");
  const std::string type = raw ? raw : "";
  openmpt_free_string(raw);
  if (type == "mtm") return AUDIO_CTYPE_MTM;
  if (type == "s3m" || type == "stm" || type == "stx") return AUDIO_CTYPE_S3M;
  if (type == "xm") return AUDIO_CTYPE_XM;
  if (type == "it" || type == "mptm") return AUDIO_CTYPE_IT;
  return AUDIO_CTYPE_MOD;
}

// A metadata text of the module, UTF-8 whatever the tracker stored; "" when it has none.
std::string Metadata(openmpt_module* mod, const char* key) {
  const char* raw = openmpt_module_get_metadata(mod, key);
  std::string text = raw ? raw : "";
  openmpt_free_string(raw);
  // Trackers pad their name fields with spaces.
  const auto end = text.find_last_not_of(' ');
  text.erase(end == std::string::npos ? 0 : end + 1);
  return text;
}

// libopenmpt also reads a few things that are not tracker music (sample files, MIDI);
// those belong to other openers.
bool IsTrackerModule(openmpt_module* mod) {
  const char* raw = openmpt_module_get_metadata(mod, "type");
  const std::string type = raw ? raw : "";
  openmpt_free_string(raw);
  return !type.empty() && type != "mid" && type != "wav";
}

class ModuleChannel : public Channel {
 public:
  ModuleChannel(std::vector<uint8_t> data, ModulePtr mod)
      : data_(std::move(data)), mod_(std::move(mod)) {}

  // Counts the song's frames on a copy of its own; this one, untouched, delivers them.
  bool Measure() {
    // Song-end detection stops every module libopenmpt knows; the bound only keeps a
    // pathological file (a loop song-end detection misses) from rendering for hours. The
    // longest tracker songs play well under it; a module is cut there.
    const int64_t frames = CountFrames(data_, rate, synthesis_limit_seconds() * rate);
    if (frames < 0) return false;
    length_bytes = static_cast<uint64_t>(frames) * frame_bytes();
    return true;
  }

  void read_tags(SongTags& tags) const override {
    tags.title = Metadata(mod_.get(), "title");
    tags.artist = Metadata(mod_.get(), "artist");
  }

 protected:
  int64_t decode(uint8_t* buffer, uint32_t bytes) override {
    const uint64_t left = length_bytes - delivered_;
    const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(bytes, left));
    if (want == 0) return 0;
    const size_t frames = want / frame_bytes();
    rendered_.resize(frames * 2);
    size_t done = 0;
    while (done < frames && !ended_) {
      const size_t got = openmpt_module_read_interleaved_float_stereo(
          mod_.get(), static_cast<int32_t>(rate), frames - done, rendered_.data() + done * 2);
      if (got == 0) ended_ = true;
      done += got;
    }
    dither_.ToPcm16(rendered_.data(), done * 2, reinterpret_cast<int16_t*>(buffer));
    // Should the rendering end short of the counted length, the length is still honoured.
    std::memset(buffer + done * frame_bytes(), 0, (frames - done) * frame_bytes());
    delivered_ += want;
    return want;
  }

 private:
  std::vector<uint8_t> data_;
  ModulePtr mod_;
  uint64_t delivered_ = 0;
  bool ended_ = false;
  std::vector<float> rendered_;
  // libopenmpt's own 16-bit dither draws fresh noise on every rendering, so the same module
  // would never give the same bytes twice: the mix is taken as float and dithered here.
  PcmDither dither_;
};

}  // namespace

std::shared_ptr<Channel> open_module_channel(const std::string& path, uint32_t rate) {
  if (rate == 0) rate = kDefaultRate;
  if (rate < 8000 || rate > 192000) return nullptr;
  std::vector<uint8_t> data;
  if (!ReadWholeFile(path, kMaxModuleBytes, data) || data.empty()) return nullptr;
  // MIDI files go to the MIDI opener, even where libopenmpt could import them.
  if (data.size() >= 4 && std::memcmp(data.data(), "MThd", 4) == 0) return nullptr;
  ModulePtr mod = CreateModule(data);
  if (!mod || !IsTrackerModule(mod.get())) return nullptr;
  const uint32_t type = ModuleType(mod.get());
  auto channel = std::make_shared<ModuleChannel>(std::move(data), std::move(mod));
  channel->rate = rate;
  channel->chans = 2;
  channel->ctype = type;
  if (!channel->Measure()) return nullptr;
  return channel;
}

}  // namespace audio_detail
