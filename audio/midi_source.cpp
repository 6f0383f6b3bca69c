// Standard MIDI files rendered offline with FluidSynth and the General MIDI soundfont.
#include <fluidsynth.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/sha.h>
}

#include "audio.h"
#include "channel.h"
#include "render_file.h"
#include "midi_check.h"
#include "sourcefile.h"
#include "tag_detail.h"

namespace audio_detail {
namespace {

constexpr uint32_t kDefaultRate = 44100;
constexpr size_t kMaxMidiBytes = 16u * 1024 * 1024;
// The synthesiser's own block; checking the end once per block finds it to the block.
constexpr int kBlockFrames = 64;
// Blocks rendered between two calls of the progress callback while a song is counted:
// 4096 frames, about a tenth of a second of sound.
constexpr int kBlocksPerReport = 64;
// Released notes have died away long before this; what still sounds then is cut.
constexpr uint64_t kMaxTailSeconds = 10;
// FluidSynth's default gain of 0.2 leaves a typical General MIDI song well below full
// scale; at 0.3 a dense arrangement (a dozen voices at full velocity, bass and drums)
// peaks just under full scale.
constexpr double kGain = 0.3;

struct SettingsDeleter {
  void operator()(fluid_settings_t* s) const { delete_fluid_settings(s); }
};
struct SynthDeleter {
  void operator()(fluid_synth_t* s) const { delete_fluid_synth(s); }
};
struct PlayerDeleter {
  void operator()(fluid_player_t* p) const { delete_fluid_player(p); }
};
using SettingsPtr = std::unique_ptr<fluid_settings_t, SettingsDeleter>;
using SynthPtr = std::unique_ptr<fluid_synth_t, SynthDeleter>;
using PlayerPtr = std::unique_ptr<fluid_player_t, PlayerDeleter>;

// FluidSynth's last error on this thread: the reason it gives for a song it cannot play.
thread_local std::string fluidError;

void KeepFluidError(int /*level*/, const char* message, void* /*data*/) {
  try {
    fluidError = message != nullptr ? message : "";
  } catch (...) {
  }
}

// Nothing is printed; errors are kept as the reason of a refusal.
void SilenceFluidLogging() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int level = 0; level < LAST_LOG_LEVEL; ++level)
      fluid_set_log_function(level, level <= FLUID_ERR ? KeepFluidError : nullptr, nullptr);
  });
}

// Why a song the synthesiser played no note of is refused: the structure's damage as the
// check finds it, else FluidSynth's own reason, else that it strikes no note.
void SetRefusalReason(const std::vector<uint8_t>& data) {
  const MidiCheck check = CheckMidiFile(data);
  if (!check.damage.empty()) return set_open_error(AUDIO_ERROR_MIDI_DAMAGED, check.damage);
  if (!fluidError.empty()) return set_open_error(AUDIO_ERROR_MIDI_DAMAGED, fluidError);
  set_open_error(check.notes ? AUDIO_ERROR_MIDI_DAMAGED : AUDIO_ERROR_MIDI_NO_NOTES);
}

// Counting a song's frames renders it whole. The list is measured before a batch and
// every source is opened again to be converted, so a song counted once is not counted
// again: its frame count is kept by the SHA-256 digest and size of its bytes, its rate and
// soundfont. (Kept by the bytes themselves, 64 songs of up to 16 MiB would stay in memory.)
// The samples rendered while counting are kept with it, on disk, until an opening delivers
// them; so a song measured and then converted is rendered once.
class LengthMemo {
 public:
  struct Entry {
    uint64_t bytes = 0;
    std::shared_ptr<RenderFile> render;  // null: to be rendered again for delivery
  };

  bool Find(const std::string& key, Entry& found) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [k, v] : entries_) {
      if (k == key) {
        found = v;
        return true;
      }
    }
    return false;
  }
  // A render is kept only while the kept ones stay within the budget; the songs measured
  // first, converted first, keep theirs.
  void Keep(std::string key, Entry entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entry.render && KeptBytes() + entry.render->size() > kMaxKeptBytes) entry.render.reset();
    for (auto& [k, v] : entries_) {
      if (k == key) {
        v = std::move(entry);
        return;
      }
    }
    if (entries_.size() >= kMaxEntries) entries_.erase(entries_.begin());
    entries_.emplace_back(std::move(key), std::move(entry));
  }
  // The render goes with the opening that delivers it; the count stays.
  void DropRender(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [k, v] : entries_)
      if (k == key) v.render.reset();
  }
  void DropRenders() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& entry : entries_) entry.second.render.reset();
  }

 private:
  uint64_t KeptBytes() const {
    uint64_t total = 0;
    for (const auto& entry : entries_)
      if (entry.second.render) total += entry.second.render->size();
    return total;
  }

  static constexpr size_t kMaxEntries = 64;
  // About three hours of 44100 Hz stereo.
  static constexpr uint64_t kMaxKeptBytes = 2ull << 30;
  std::mutex mutex_;
  std::vector<std::pair<std::string, Entry>> entries_;
};

LengthMemo& Lengths() {
  static LengthMemo memo;
  return memo;
}

struct ShaDeleter {
  void operator()(AVSHA* sha) const { av_free(sha); }
};

// Empty when the digest cannot be made.
std::string LengthKey(const std::vector<uint8_t>& data, uint32_t rate,
                      const std::string& soundfont) {
  std::unique_ptr<AVSHA, ShaDeleter> sha(av_sha_alloc());
  if (!sha || av_sha_init(sha.get(), 256) < 0) return {};
  av_sha_update(sha.get(), data.data(), data.size());
  uint8_t digest[32];
  av_sha_final(sha.get(), digest);
  std::string key = std::to_string(rate) + '\n' + std::to_string(data.size()) + '\n' + soundfont +
                    '\n';
  key.append(reinterpret_cast<const char*>(digest), sizeof digest);
  return key;
}

std::string SoundfontPath() {
  const char* override = std::getenv("ORVIK_SOUNDFONT");
  if (override != nullptr && *override != '\0') return override;
  return ORVIK_DEFAULT_SOUNDFONT;
}

SettingsPtr MakeSettings(uint32_t rate) {
  SettingsPtr settings(new_fluid_settings());
  if (!settings) return nullptr;
  fluid_settings_t* s = settings.get();
  // Without the sample clock the player follows the wall clock and never finishes
  // offline.
  if (fluid_settings_setstr(s, "player.timing-source", "sample") != FLUID_OK ||
      fluid_settings_setnum(s, "synth.sample-rate", rate) != FLUID_OK ||
      fluid_settings_setnum(s, "synth.gain", kGain) != FLUID_OK)
    return nullptr;
  // The soundfont is large; locking it into memory may fail or starve the machine.
  fluid_settings_setint(s, "synth.lock-memory", 0);
  fluid_settings_setint(s, "synth.threadsafe-api", 0);
  fluid_settings_setint(s, "synth.cpu-cores", 1);
  // Only the samples of the instruments the song selects are read from the soundfont.
  fluid_settings_setint(s, "synth.dynamic-sample-loading", 1);
  return settings;
}

// The soundfont as loaded by a synthesiser of its own, which owns it; each song's
// synthesiser borrows it.
struct LoadedSoundfont {
  std::string path;
  SettingsPtr settings;
  SynthPtr owner;
  fluid_sfont_t* sfont = nullptr;
  ~LoadedSoundfont() {
    owner.reset();
    settings.reset();
  }
};

// Loading the General MIDI soundfont reads its whole preset table, a tenth of a second or
// more; the list is measured and then converted on one thread, every song opened twice. So
// the loaded soundfont is kept for the thread and lent to each song's synthesiser; a song
// still open holds it, whatever is destroyed first when the thread ends.
std::shared_ptr<LoadedSoundfont> SharedSoundfont(const std::string& path) {
  thread_local std::shared_ptr<LoadedSoundfont> kept;
  if (kept && kept->path == path) return kept;
  kept.reset();
  auto font = std::make_shared<LoadedSoundfont>();
  font->path = path;
  font->settings = MakeSettings(kDefaultRate);
  if (!font->settings) return nullptr;
  font->owner.reset(new_fluid_synth(font->settings.get()));
  if (!font->owner) return nullptr;
  const int id = fluid_synth_sfload(font->owner.get(), path.c_str(), 0);
  if (id == FLUID_FAILED) return nullptr;
  font->sfont = fluid_synth_get_sfont_by_id(font->owner.get(), id);
  if (font->sfont == nullptr) return nullptr;
  kept = font;
  return font;
}

class MidiChannel : public Channel {
 public:
  MidiChannel(std::vector<uint8_t> data, SettingsPtr settings, SynthPtr synth)
      : data_(std::move(data)), settings_(std::move(settings)), synth_(std::move(synth)) {}

  ~MidiChannel() override {
    // The player refers to the synthesiser: it goes first. The borrowed soundfont is given
    // back before the synthesiser goes, which would otherwise free it.
    player_.reset();
    if (font_ && lent_) {
      fluid_synth_all_sounds_off(synth_.get(), -1);
      fluid_synth_remove_sfont(synth_.get(), font_->sfont);
    }
    synth_.reset();
    settings_.reset();
    font_.reset();
  }

  bool UseSoundfont(std::shared_ptr<LoadedSoundfont> font) {
    font_ = std::move(font);
    lent_ = fluid_synth_add_sfont(synth_.get(), font_->sfont) != FLUID_FAILED;
    return lent_;
  }

  // A synthesiser that has rendered keeps traces of it (effect and voice state) that a
  // reset does not clear; delivery after a count therefore starts from a fresh one, so that
  // every opening of a song gives the same bytes.
  bool StartFresh() {
    player_.reset();
    if (lent_) {
      fluid_synth_all_sounds_off(synth_.get(), -1);
      fluid_synth_remove_sfont(synth_.get(), font_->sfont);
      lent_ = false;
    }
    synth_.reset(new_fluid_synth(settings_.get()));
    return synth_ && UseSoundfont(font_) && Start();
  }

  // Takes a length counted before for the same song, and the samples rendered then when
  // they were kept.
  bool UseLength(const std::string& key, const LengthMemo::Entry& known) {
    key_ = key;
    length_bytes = known.bytes;
    render_ = known.render;
    return render_ != nullptr || Start();
  }

  // Renders the whole song once to count its frames, keeping the samples for delivery.
  // Where they cannot be kept the song is started again for delivery instead: both runs go
  // block by block through the same steps, so delivery renders exactly the frames counted
  // (and the same bytes as a kept render).
  // False when the song plays nothing, or when the progress callback stopped the work.
  bool Measure(const std::string& key) {
    key_ = key;
    if (!KeepGoing() || !Start()) return false;
    std::shared_ptr<RenderFile> render = RenderFile::create();
    // Effects and interpolation shape the sound, not when a voice ends: a run that only
    // counts goes without them, which roughly halves its cost.
    if (!render) SetCountingMode(true);
    // Longer than any real song (a whole symphony movement in one file still plays well
    // under it), yet a broken file, say one delta of days, is counted in seconds and
    // converts to a WAV of 635 MB at most (44100 Hz stereo): the song is cut there.
    const uint64_t maxFrames = synthesis_limit_seconds() * rate;
    // The player reads the file during the first block, so the end is looked for after it.
    bool ok = true;
    int sinceReport = 0;
    do {
      if (!RenderBlock()) {
        ok = false;
        break;
      }
      // The first block reads the instruments' samples: a report of its own.
      if (rendered_ == kBlockFrames && !KeepGoing()) return false;
      if (render && !render->append(block_, sizeof block_)) {
        // No room to keep it: the rest is only counted.
        render.reset();
        SetCountingMode(true);
      }
      if (++sinceReport == kBlocksPerReport) {
        sinceReport = 0;
        if (!KeepGoing()) return false;
      }
    } while (rendered_ < maxFrames && Sounding());
    SetCountingMode(false);
    // A song FluidSynth could not read (SMPTE timing, a header without tracks, a broken
    // track) plays nothing, and so does a song that strikes no note: either would convert
    // to silence.
    if (!ok || !noteStruck_) return false;
    length_bytes = rendered_ * frame_bytes();
    if (render && render->finish() && render->size() == length_bytes) {
      render_ = std::move(render);
      return true;
    }
    return StartFresh();
  }

  const std::shared_ptr<RenderFile>& Render() const { return render_; }
  // The progress callback stopped the count.
  bool Stopped() const { return stopped_; }

  void read_tags(SongTags& tags) const override { ReadMidiTags(data_, tags); }
  const std::vector<uint8_t>& Data() const { return data_; }

 protected:
  int64_t decode(uint8_t* buffer, uint32_t bytes) override {
    const uint64_t left = length_bytes - delivered_;
    const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(bytes, left));
    if (render_) {
      // This opening delivers the kept samples; no later one will find them.
      if (delivered_ == 0) Lengths().DropRender(key_);
      if (want > 0 && !render_->read(delivered_, buffer, want)) return -1;
      delivered_ += want;
      return want;
    }
    uint32_t done = 0;
    while (done < want) {
      if (blockTaken_ == kBlockFrames * 4) {
        if (!RenderBlock()) return done > 0 ? done : -1;
      }
      const uint32_t n = std::min<uint32_t>(want - done, kBlockFrames * 4 - blockTaken_);
      std::memcpy(buffer + done, reinterpret_cast<const uint8_t*>(block_) + blockTaken_, n);
      blockTaken_ += n;
      done += n;
    }
    delivered_ += done;
    return done;
  }

 private:
  bool Start() {
    player_.reset();
    if (fluid_synth_system_reset(synth_.get()) != FLUID_OK) return false;
    player_.reset(new_fluid_player(synth_.get()));
    if (!player_) return false;
    if (fluid_player_add_mem(player_.get(), data_.data(), data_.size()) != FLUID_OK) return false;
    // The events the player parsed pass through here on their way to the synthesiser.
    if (fluid_player_set_playback_callback(player_.get(), &MidiChannel::PlayEvent, this) !=
        FLUID_OK)
      return false;
    rendered_ = 0;
    totalTicks_ = 0;
    eventsDoneAt_ = 0;
    eventsDone_ = false;
    blockTaken_ = kBlockFrames * 4;
    return fluid_player_play(player_.get()) == FLUID_OK;
  }

  bool KeepGoing() {
    stopped_ = stopped_ || !keep_going();
    return !stopped_;
  }

  static int PlayEvent(void* data, fluid_midi_event_t* event) {
    auto* self = static_cast<MidiChannel*>(data);
    if (fluid_midi_event_get_type(event) == 0x90 && fluid_midi_event_get_velocity(event) > 0)
      self->noteStruck_ = true;
    return fluid_synth_handle_midi_event(self->synth_.get(), event);
  }

  void SetCountingMode(bool counting) {
    fluid_synth_t* synth = synth_.get();
    fluid_synth_set_interp_method(synth, -1, counting ? FLUID_INTERP_NONE : FLUID_INTERP_DEFAULT);
    fluid_synth_reverb_on(synth, -1, counting ? 0 : 1);
    fluid_synth_chorus_on(synth, -1, counting ? 0 : 1);
  }

  // One block of the synthesiser, rounded to 16 bits without dither (so that silence is
  // exact zeros), followed by the end-of-song handling.
  bool RenderBlock() {
    float left[kBlockFrames], right[kBlockFrames];
    if (fluid_synth_write_float(synth_.get(), kBlockFrames, left, 0, 1, right, 0, 1) != FLUID_OK)
      return false;
    for (int i = 0; i < kBlockFrames; ++i) {
      block_[2 * i] = ToSample(left[i]);
      block_[2 * i + 1] = ToSample(right[i]);
    }
    blockTaken_ = 0;
    rendered_ += kBlockFrames;
    FinishNotes();
    return true;
  }

  // Once the last event has been played, notes still held (a missing note-off, a pedal
  // left down) are released, so that the song ends with their release instead of
  // sounding for ever; whatever still sounds a while later is silenced.
  void FinishNotes() {
    if (!eventsDone_ && !EventsLeft()) {
      eventsDone_ = true;
      eventsDoneAt_ = rendered_;
      for (int channel = 0; channel < fluid_synth_count_midi_channels(synth_.get()); ++channel) {
        fluid_synth_cc(synth_.get(), channel, 64, 0);  // sustain pedal
        fluid_synth_cc(synth_.get(), channel, 66, 0);  // sostenuto pedal
      }
      fluid_synth_all_notes_off(synth_.get(), -1);
    } else if (eventsDone_ && rendered_ - eventsDoneAt_ >= kMaxTailSeconds * rate) {
      fluid_synth_all_sounds_off(synth_.get(), -1);
    }
  }

  static int16_t ToSample(float v) {
    if (!std::isfinite(v)) return 0;
    const float scaled = std::nearbyint(v * 32767.0f);
    return static_cast<int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
  }

  bool EventsLeft() {
    const int status = fluid_player_get_status(player_.get());
    const bool playing = status == FLUID_PLAYER_PLAYING || status == FLUID_PLAYER_STOPPING;
    if (!playing) return false;
    // The player walks every event of the song to tell its length; that length is fixed
    // once the player has read the song (during the first block), so it is asked once.
    if (totalTicks_ <= 0) totalTicks_ = fluid_player_get_total_ticks(player_.get());
    return fluid_player_get_current_tick(player_.get()) < totalTicks_;
  }

  // The song sounds while events remain to be played or a note is still dying away. (The
  // player itself lingers two seconds of silence after that before it reports the end;
  // that silence is no part of the song.)
  bool Sounding() {
    return !eventsDone_ || fluid_synth_get_active_voice_count(synth_.get()) > 0;
  }

  std::vector<uint8_t> data_;
  std::string key_;
  std::shared_ptr<RenderFile> render_;  // the samples rendered while counting, when kept
  std::shared_ptr<LoadedSoundfont> font_;
  bool lent_ = false;
  SettingsPtr settings_;
  SynthPtr synth_;
  PlayerPtr player_;
  int16_t block_[kBlockFrames * 2] = {};
  uint32_t blockTaken_ = kBlockFrames * 4;  // bytes of block_ already delivered
  uint64_t rendered_ = 0;                   // frames
  int totalTicks_ = 0;                      // of the song, once the player has read it
  uint64_t eventsDoneAt_ = 0;
  bool eventsDone_ = false;
  bool noteStruck_ = false;
  bool stopped_ = false;
  uint64_t delivered_ = 0;
};

}  // namespace

std::shared_ptr<Channel> open_midi_channel(const std::string& path, uint32_t rate) {
  if (rate == 0) rate = kDefaultRate;
  if (rate < 8000 || rate > 96000) return nullptr;
  // Everything that is not a Standard MIDI File is turned away before the soundfont loads.
  if (!FileStartsWith(path, "MThd", 4)) return nullptr;
  std::vector<uint8_t> data;
  if (!ReadWholeFile(path, kMaxMidiBytes, data)) {
    set_open_error(AUDIO_ERROR_MIDI_DAMAGED, "larger than any song, or unreadable");
    return nullptr;
  }

  SilenceFluidLogging();
  fluidError.clear();
  const std::string soundfont = SoundfontPath();
  // Loading the soundfont, then the samples of the instruments a song starts with, take a
  // while each the first time: reports on both sides.
  if (!keep_going()) return nullptr;
  std::shared_ptr<LoadedSoundfont> font;
  if (fluid_is_soundfont(soundfont.c_str())) font = SharedSoundfont(soundfont);
  if (!font) {
    set_open_error(AUDIO_ERROR_NO_SOUNDFONT, soundfont);
    return nullptr;
  }
  if (!keep_going()) return nullptr;

  SettingsPtr settings = MakeSettings(rate);
  if (!settings) return nullptr;
  SynthPtr synth(new_fluid_synth(settings.get()));
  if (!synth) return nullptr;

  std::string key = LengthKey(data, rate, soundfont);
  if (key.empty()) return nullptr;
  auto channel = std::make_shared<MidiChannel>(std::move(data), std::move(settings),
                                               std::move(synth));
  if (!channel->UseSoundfont(std::move(font))) return nullptr;
  channel->rate = rate;
  channel->chans = 2;
  channel->ctype = AUDIO_CTYPE_MIDI;
  LengthMemo::Entry known;
  if (Lengths().Find(key, known)) return channel->UseLength(key, known) ? channel : nullptr;
  if (!channel->Measure(key)) {
    // A count stopped by the caller says nothing about the song.
    if (!channel->Stopped()) SetRefusalReason(channel->Data());
    return nullptr;
  }
  Lengths().Keep(std::move(key), {channel->length_bytes, channel->Render()});
  return channel;
}

}  // namespace audio_detail

void audio_drop_kept_renders() { audio_detail::Lengths().DropRenders(); }
