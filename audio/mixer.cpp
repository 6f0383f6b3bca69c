// The mixer: one source delivered as 16-bit PCM at the mixer's rate and channel count,
// converted by libswresample. The mixer ends with its source.
#include <algorithm>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/opt.h>
}

#include "audio.h"
#include "channel.h"
#include "ffmpeg_handles.h"

namespace audio_detail {

namespace {

constexpr uint32_t kMaxChannels = 32;
constexpr uint32_t kMaxRate = 1000000;
constexpr uint32_t kMaxSourceFrames = 65536;  // per pull from the source

class MixerChannel final : public Channel {
 public:
  bool attach(std::shared_ptr<Channel> source) {
    if (source_ || !source || source->rate == 0 || source->chans == 0) return false;
    // Mono to stereo is converted as mono and then copied to both sides at full level, so
    // the sides stay identical and only one channel is resampled.
    duplicate_mono_ = source->chans == 1 && chans == 2;
    conv_chans_ = duplicate_mono_ ? 1 : chans;
    passthrough_ = source->rate == rate && source->chans == conv_chans_;
    if (!passthrough_ && !make_converter(*source)) return false;
    source_ = std::move(source);
    // The mixer starts where its source stands now.
    const uint64_t in_frames =
        (source_->length_bytes - std::min(source_->length_bytes, source_->position())) /
        source_->frame_bytes();
    const uint64_t out_frames =
        passthrough_ ? in_frames
                     : static_cast<uint64_t>(av_rescale_rnd(static_cast<int64_t>(in_frames), rate,
                                                            source_->rate, AV_ROUND_NEAR_INF));
    length_bytes = position() + out_frames * frame_bytes();
    if (out_frames == 0) mark_drained();
    return true;
  }

  void detach() {
    source_.reset();
    swr_.reset();
    mark_drained();
  }

  bool feeds_from(const Channel* channel) const {
    for (const Channel* link = source_.get(); link != nullptr;) {
      if (link == channel) return true;
      const auto* mixer = dynamic_cast<const MixerChannel*>(link);
      link = mixer ? mixer->source_.get() : nullptr;
    }
    return false;
  }

  bool has_source(const Channel* channel) const { return source_.get() == channel; }

 protected:
  int64_t decode(uint8_t* buffer, uint32_t bytes) override {
    if (!source_) return 0;
    const uint64_t left = length_bytes - position();
    const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(bytes, left));
    const uint32_t conv_want = want / frame_bytes() * conv_chans_ * 2;
    uint32_t filled =
        passthrough_ ? pull_direct(buffer, conv_want) : pull_converted(buffer, conv_want);
    // A source that failed has lost the rest of its sound: no silence stands in for it.
    if (filled == UINT32_MAX || source_failed_) return -1;
    if (duplicate_mono_) {
      // Backwards, so that no sample is overwritten before it is copied.
      int16_t* samples = reinterpret_cast<int16_t*>(buffer);
      const uint32_t frames = filled / 2;
      for (uint32_t i = frames; i-- > 0;) {
        const int16_t value = samples[i];
        samples[2 * i] = value;
        samples[2 * i + 1] = value;
      }
      filled = frames * 4;
    }
    if (filled < want && source_done_ && flushed_) {
      // The converter may give a frame less than the rounded length; silence completes it.
      std::memset(buffer + filled, 0, want - filled);
      filled = want;
    }
    if (position() + filled >= length_bytes) mark_drained();
    return filled;
  }

 private:
  bool make_converter(const Channel& source) {
    AVChannelLayout in_layout{};
    AVChannelLayout out_layout{};
    av_channel_layout_default(&in_layout, static_cast<int>(source.chans));
    av_channel_layout_default(&out_layout, static_cast<int>(conv_chans_));
    SwrContext* raw = nullptr;
    const int made = swr_alloc_set_opts2(&raw, &out_layout, AV_SAMPLE_FMT_S16,
                                         static_cast<int>(rate), &in_layout, AV_SAMPLE_FMT_S16,
                                         static_cast<int>(source.rate), 0, nullptr);
    av_channel_layout_uninit(&in_layout);
    av_channel_layout_uninit(&out_layout);
    SwrPtr swr(raw);
    if (made < 0 || !swr) return false;
    // libswresample's own resampler, never its soxr one: libsoxr 0.1.3 writes through a null
    // pointer when libswresample flushes it while still holding input, which the end of
    // every source whose last pull outgrew the output room does. The own resampler takes
    // that held input as part of its flush. Its defaults are tuned for speed (32 taps,
    // integer arithmetic, the edge at 0.97); 96 taps of a Kaiser window (beta 11) with the
    // edge at 0.95 of the lower Nyquist frequency keep the pass band flat to 0.9 of it and
    // fold back or mirror far less, at about ffmpeg's own cost (bench_resample). Exact
    // polyphase without interpolation between phases: the common rate pairs need at most
    // 1024 phases, others get the nearest of 1024. Float arithmetic carries the filter's
    // precision to the 16-bit output, rounded without dither, so the same source always
    // gives the same bytes.
    if (av_opt_set(swr.get(), "resampler", "swr", 0) < 0 ||
        av_opt_set_int(swr.get(), "filter_size", 96, 0) < 0 ||
        av_opt_set_int(swr.get(), "phase_shift", 10, 0) < 0 ||
        av_opt_set_int(swr.get(), "linear_interp", 0, 0) < 0 ||
        av_opt_set_int(swr.get(), "exact_rational", 1, 0) < 0 ||
        av_opt_set_double(swr.get(), "cutoff", 0.95, 0) < 0 ||
        av_opt_set(swr.get(), "filter_type", "kaiser", 0) < 0 ||
        av_opt_set_double(swr.get(), "kaiser_beta", 11, 0) < 0 ||
        av_opt_set_int(swr.get(), "dither_method", 0, 0) < 0 ||
        av_opt_set_sample_fmt(swr.get(), "internal_sample_fmt", AV_SAMPLE_FMT_FLTP, 0) < 0) {
      return false;
    }
    // Two channels fold into one as their average.
    if (source.chans == 2 && conv_chans_ == 1) {
      const double matrix[2] = {0.5, 0.5};
      if (swr_set_matrix(swr.get(), matrix, 2) < 0) return false;
    }
    if (swr_init(swr.get()) < 0) return false;
    swr_ = std::move(swr);
    return true;
  }

  // Same rate and channels: the source's bytes are the mixer's.
  uint32_t pull_direct(uint8_t* buffer, uint32_t want) {
    uint32_t filled = 0;
    while (filled < want && !source_done_) {
      const int32_t got = source_->pull(buffer + filled, want - filled);
      if (got <= 0) {
        source_failed_ = got < 0;
        source_done_ = true;
        break;
      }
      filled += static_cast<uint32_t>(got);
    }
    flushed_ = source_done_;
    return filled;
  }

  uint32_t pull_converted(uint8_t* buffer, uint32_t want) {
    const uint32_t out_frame = conv_chans_ * 2;
    const uint32_t in_frame = source_->frame_bytes();
    const int out_room = static_cast<int>(want / out_frame);
    int produced = 0;
    while (produced < out_room && !flushed_) {
      uint8_t* target = buffer + static_cast<size_t>(produced) * out_frame;
      int made = 0;
      if (!source_done_) {
        // Ask the source for about what the output still needs; the converter keeps any
        // surplus for the next pull.
        const int64_t need = av_rescale_rnd(out_room - produced, source_->rate, rate,
                                            AV_ROUND_UP) + 16;
        const uint32_t frames = static_cast<uint32_t>(std::min<int64_t>(need, kMaxSourceFrames));
        input_.resize(size_t{frames} * in_frame);
        const int32_t got = source_->pull(input_.data(), frames * in_frame);
        if (got <= 0) {
          source_failed_ = got < 0;
          source_done_ = true;
          continue;
        }
        const uint8_t* in = input_.data();
        made = swr_convert(swr_.get(), &target, out_room - produced, &in,
                           got / static_cast<int32_t>(in_frame));
      } else {
        made = swr_convert(swr_.get(), &target, out_room - produced, nullptr, 0);
        if (made == 0) flushed_ = true;
      }
      if (made < 0) {
        if (produced > 0) break;
        return UINT32_MAX;
      }
      produced += made;
    }
    return static_cast<uint32_t>(produced) * out_frame;
  }

  std::shared_ptr<Channel> source_;
  SwrPtr swr_;
  std::vector<uint8_t> input_;
  bool passthrough_ = false;
  bool duplicate_mono_ = false;
  uint32_t conv_chans_ = 0;
  bool source_done_ = false;
  bool source_failed_ = false;
  bool flushed_ = false;
};

// Mixers of this thread, so that removing a source can find the mixer it is plugged into.
thread_local std::vector<std::weak_ptr<MixerChannel>> mixers;

std::shared_ptr<MixerChannel> find_mixer(uint32_t handle) {
  return std::dynamic_pointer_cast<MixerChannel>(find_channel(handle));
}

}  // namespace

}  // namespace audio_detail

using audio_detail::MixerChannel;

uint32_t mixer_create(uint32_t freq, uint32_t chans, uint32_t flags) {
  if (!audio_detail::library_ready() || freq == 0 || freq > audio_detail::kMaxRate ||
      chans == 0 || chans > audio_detail::kMaxChannels) {
    return 0;
  }
  try {
    auto mixer = std::make_shared<MixerChannel>();
    mixer->rate = freq;
    mixer->chans = chans;
    mixer->ctype = AUDIO_CTYPE_MIXER;
    mixer->flags = flags & ~1u;
    auto& mixers = audio_detail::mixers;
    std::erase_if(mixers, [](const auto& weak) { return weak.expired(); });
    mixers.push_back(mixer);
    return audio_detail::register_channel(std::move(mixer));
  } catch (...) {  // out of memory: the layer reports through results only
    return 0;
  }
}

// One source per mixer; a second one, the mixer itself or a chain leading back to it is
// refused.
int mixer_add_channel(uint32_t mixer, uint32_t source, uint32_t /*flags*/) {
  const auto target = audio_detail::find_mixer(mixer);
  const auto channel = audio_detail::find_channel(source);
  if (!target || !channel || channel == target) return 0;
  if (const auto* chained = dynamic_cast<const MixerChannel*>(channel.get());
      chained != nullptr && chained->feeds_from(target.get())) {
    return 0;
  }
  try {
    return target->attach(channel) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

// Takes the mixer (which lets its source go) or a source (which leaves its mixer).
int mixer_remove_channel(uint32_t handle) {
  const auto channel = audio_detail::find_channel(handle);
  if (!channel) return 0;
  if (const auto mixer = std::dynamic_pointer_cast<MixerChannel>(channel)) {
    mixer->detach();
    return 1;
  }
  for (const auto& weak : audio_detail::mixers) {
    if (const auto mixer = weak.lock(); mixer && mixer->has_source(channel.get())) {
      mixer->detach();
      return 1;
    }
  }
  return 0;
}
