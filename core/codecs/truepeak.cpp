#include "codecs/truepeak.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr uint32_t kTaps = 49;
constexpr double kAlmostZero = 0.000001;

// The largest absolute value, in eight lanes side by side: a plain running maximum of floats
// is not turned into vector code (it must keep the order of comparisons for NaNs).
float MaxAbs(const float* v, size_t n) {
  float lanes[8] = {};
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    for (size_t j = 0; j < 8; ++j) {
      const float a = std::fabs(v[i + j]);
      lanes[j] = lanes[j] > a ? lanes[j] : a;
    }
  }
  float peak = 0;
  for (; i < n; ++i) peak = std::max(peak, std::fabs(v[i]));
  for (const float lane : lanes) peak = std::max(peak, lane);
  return peak;
}
}  // namespace

TTruePeak::TTruePeak(uint32_t channels, uint32_t rate) : channels_(channels) {
  const uint32_t factor = rate < 96000 ? 4 : rate < 192000 ? 2 : 1;
  history_ = (kTaps + factor - 1) / factor;
  phases_.resize(factor);
  if (factor > 1) {
    for (uint32_t j = 0; j < kTaps; ++j) {
      const double m = double(j) - double(kTaps - 1) / 2.0;
      double c = 1.0;
      if (std::fabs(m) > kAlmostZero) c = std::sin(m * M_PI / factor) / (m * M_PI / factor);
      c *= 0.5 * (1 - std::cos(2 * M_PI * j / (kTaps - 1)));
      if (std::fabs(c) <= kAlmostZero) continue;
      phases_[j % factor].coefficients.push_back(float(c));
      phases_[j % factor].delays.push_back(j / factor);
    }
  }
  for (const TPhase& phase : phases_) {
    double sum = 0;
    for (const float c : phase.coefficients) sum += std::fabs(c);
    gain_ = std::max(gain_, float(sum));
  }
  signal_.assign(channels_, std::vector<float>(history_, 0.0f));
}

void TTruePeak::Add(const int16_t* samples, size_t frames) {
  if (frames == 0) return;
  for (uint32_t c = 0; c < channels_; ++c) signal_[c].resize(history_ + frames);
  // 1/32768 is exact, so this is the same as dividing.
  constexpr float kScale = 1.0f / 32768.0f;
  for (size_t i = 0; i < frames; ++i)
    for (uint32_t c = 0; c < channels_; ++c)
      signal_[c][history_ + i] = float(samples[i * channels_ + c]) * kScale;
  float peak = 0;
  // In tiles that stay in the first-level cache while every tap is added in.
  constexpr size_t kTile = 512;
  float y[kTile];
  for (uint32_t c = 0; c < channels_; ++c) {
    const float* block = signal_[c].data() + history_;
    peak = std::max(peak, MaxAbs(block, frames));
    for (size_t start = 0; start < frames; start += kTile) {
      const size_t n = std::min(kTile, frames - start);
      // No interpolated value exceeds the largest sample it is made of times the filter's
      // gain: a tile too quiet for that to reach the peak found so far can be passed over,
      // which spares most of the work in music that is not at its loudest throughout.
      const float reach = MaxAbs(block + start - (history_ - 1), n + history_ - 1) * gain_;
      if (reach <= std::max(peak, float(peak_))) continue;
      for (size_t p = 1; p < phases_.size(); ++p) {
        const TPhase& phase = phases_[p];
        std::fill(y, y + n, 0.0f);
        for (size_t t = 0; t < phase.coefficients.size(); ++t) {
          const float k = phase.coefficients[t];
          const float* from = block + start - phase.delays[t];
          for (size_t i = 0; i < n; ++i) y[i] += k * from[i];
        }
        peak = std::max(peak, MaxAbs(y, n));
      }
    }
    // The last frames are the next block's history.
    std::vector<float>& x = signal_[c];
    std::copy(x.end() - history_, x.end(), x.begin());
  }
  peak_ = std::max(peak_, double(peak));
}
