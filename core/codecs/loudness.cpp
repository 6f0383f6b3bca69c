#include "codecs/loudness.h"

#include <ebur128.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <sstream>

#include "codecs/audioguards.h"
#include "codecs/convfunc.h"
#include "codecs/openprogress.h"
#include "codecs/passhooks.h"
#include "codecs/truepeak.h"

namespace {

struct TEbur128Deleter {
  void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
};
using TEbur128 = std::unique_ptr<ebur128_state, TEbur128Deleter>;

// libebur128's own constants: the loudness of an energy, and the gates.
double EnergyOf(double lufs) { return std::pow(10.0, (lufs + 0.691) / 10.0); }
double LufsOf(double energy) { return 10.0 * std::log10(energy) - 0.691; }
const double kAbsoluteGateEnergy = EnergyOf(-70.0);
constexpr double kRelativeGateFactor = 0.1;    // -10 LU

// Hands decoded frames to libebur128 in whole 100 ms steps, the step at which it makes its
// gating blocks, and keeps the energy of each step: a gating block is the mean of the last
// four. (Asking for the 400 ms loudness after every step would sum every frame four times.)
// At 11025 Hz libebur128's step is one frame longer than the 100 ms it sums over, a
// difference of a tenth of a percent of the frames.
class TStepFeeder {
 public:
  TStepFeeder(ebur128_state* state, uint32_t channels, uint32_t rate)
      : state_(state), channels_(channels), stepFrames_((rate + 5) / 10) {}

  bool Add(const int16_t* samples, size_t frames, std::vector<double>& blocks) {
    while (frames > 0) {
      const size_t take = std::min(frames, stepFrames_ - filled_);
      if (ebur128_add_frames_short(state_, samples, take) != EBUR128_SUCCESS) return false;
      samples += take * channels_;
      frames -= take;
      filled_ += take;
      if (filled_ < stepFrames_) break;
      filled_ = 0;
      double lufs = 0;
      if (ebur128_loudness_window(state_, 100, &lufs) != EBUR128_SUCCESS) return false;
      steps_[count_++ % 4] = std::isfinite(lufs) ? EnergyOf(lufs) : 0.0;
      // The first block ends after four steps.
      if (count_ < 4) continue;
      const double block = (steps_[0] + steps_[1] + steps_[2] + steps_[3]) / 4;
      if (block >= kAbsoluteGateEnergy) blocks.push_back(block);
    }
    return true;
  }

 private:
  ebur128_state* state_;
  uint32_t channels_;
  size_t stepFrames_;
  size_t filled_ = 0;
  double steps_[4] = {};  // the energies of the last four steps
  uint64_t count_ = 0;
};

}  // namespace

bool MeasureOutput(const std::string& path, TLoudness& result) {
  result = TLoudness();
  TAudioLibrary library(0, 44100, 0);
  if (!library.Ready()) return false;
  TSourceHandle input(OpenSourceOrCancel(path, AUDIO_FLAG_UNICODE | AUDIO_FLAG_DECODE,
                                         AUDIO_FLAG_UNICODE | AUDIO_FLAG_DECODE));
  if (!input) return false;
  AUDIO_CHANNELINFO info;
  if (!audio_get_info(input.Get(), &info) || info.chans == 0 || info.freq == 0) return false;
  // Momentary mode only: the gating blocks are made here from the 100 ms steps, and the
  // integrated loudness from them, so libebur128 need not sum every frame into 400 ms blocks
  // of its own as well (that summing was a third of its time).
  TEbur128 state(ebur128_init(info.chans, info.freq, EBUR128_MODE_M));
  if (!state) return false;
  TTruePeak truePeak(info.chans, info.freq);
  TStepFeeder feeder(state.get(), info.chans, info.freq);
  const uint32_t frameBytes = info.chans * 2;
  std::vector<int16_t> buffer(size_t(info.chans) * 16384);
  uint64_t sinceBreak = 0;
  for (;;) {
    const int32_t got = audio_get_data(input.Get(), buffer.data(),
                                       static_cast<uint32_t>(buffer.size() * 2));
    if (got < 0) return false;
    if (got == 0) break;
    if (!feeder.Add(buffer.data(), uint32_t(got) / frameBytes, result.blocks)) return false;
    truePeak.Add(buffer.data(), uint32_t(got) / frameBytes);
    // About one break per second of audio keeps the windows answering and a cancel quick.
    sinceBreak += uint32_t(got) / frameBytes;
    if (sinceBreak >= info.freq) {
      sinceBreak = 0;
      PassBreak(0);
      ConvFunc.CheckCancel();
    }
  }
  if (!result.blocks.empty()) result.integrated = GatedLoudness({&result});
  result.truePeak = truePeak.Peak();
  return true;
}

double GatedLoudness(const std::vector<const TLoudness*>& tracks) {
  double sum = 0;
  size_t count = 0;
  for (const TLoudness* track : tracks) {
    for (const double energy : track->blocks) sum += energy;
    count += track->blocks.size();
  }
  if (count == 0) return -std::numeric_limits<double>::infinity();
  const double threshold = sum / double(count) * kRelativeGateFactor;
  sum = 0;
  count = 0;
  for (const TLoudness* track : tracks) {
    for (const double energy : track->blocks) {
      if (energy < threshold) continue;
      sum += energy;
      ++count;
    }
  }
  return LufsOf(sum / double(count));
}

// Hexadecimal floating point: the blocks cross the pipe bit for bit.
std::string LoudnessToText(const TLoudness& loudness) {
  std::string text;
  char number[64];
  std::snprintf(number, sizeof number, "%a %a %zu", loudness.integrated, loudness.truePeak,
                loudness.blocks.size());
  text = number;
  for (const double energy : loudness.blocks) {
    std::snprintf(number, sizeof number, " %a", energy);
    text += number;
  }
  return text;
}

bool LoudnessFromText(const std::string& text, TLoudness& loudness) {
  loudness = TLoudness();
  const char* at = text.c_str();
  char* end = nullptr;
  loudness.integrated = std::strtod(at, &end);
  if (end == at) return false;
  at = end;
  loudness.truePeak = std::strtod(at, &end);
  if (end == at) return false;
  at = end;
  const unsigned long long count = std::strtoull(at, &end, 10);
  if (end == at || count > text.size()) return false;
  at = end;
  loudness.blocks.reserve(count);
  for (unsigned long long i = 0; i < count; ++i) {
    const double energy = std::strtod(at, &end);
    if (end == at || !(energy > 0)) return false;
    loudness.blocks.push_back(energy);
    at = end;
  }
  return *at == '\0';
}
