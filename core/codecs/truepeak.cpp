#include "codecs/truepeak.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
constexpr uint32_t kTaps = 49;
constexpr double kAlmostZero = 0.000001;

// Eight floats side by side. The compiler does not turn the plain loops below into vector
// code on its own (a running maximum must keep the order of comparisons for NaNs, and it
// gives up on the taps' loop), so they are written with vectors of eight: one AVX register,
// or two SSE ones where AVX is missing. The hot functions are built for both and the one the
// processor has is taken at load time; neither contracts into fused multiply-adds, so both
// give the same floats.
// clang refuses vectors of eight in the default build (they would be passed differently
// with and without AVX, even where every call is inlined); its builds (the fuzz targets)
// take the plain loops, which add the same floats in the same order.
#if !defined(__clang__)
#define ORVIK_VECTORS 1
typedef float TFloat8 __attribute__((vector_size(32)));
typedef int32_t TInt8 __attribute__((vector_size(32)));
// The helpers taking and giving vectors are always inlined, so no call passes one in a way
// that differs between the two builds.
#pragma GCC diagnostic ignored "-Wpsabi"
#define ORVIK_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#define ORVIK_VECTOR_HELPER static inline __attribute__((always_inline))

ORVIK_VECTOR_HELPER TFloat8 Load8(const float* v) {
  TFloat8 x;
  std::memcpy(&x, v, sizeof x);
  return x;
}
ORVIK_VECTOR_HELPER TFloat8 Abs8(TFloat8 x) { return TFloat8(TInt8(x) & 0x7fffffff); }
ORVIK_VECTOR_HELPER TFloat8 Max8(TFloat8 a, TFloat8 b) { return a > b ? a : b; }
ORVIK_VECTOR_HELPER float Largest(TFloat8 x) {
  float peak = x[0];
  for (int j = 1; j < 8; ++j) peak = std::max(peak, x[j]);
  return peak;
}
#else
#define ORVIK_VECTOR_CLONES
#endif

// The largest absolute value.
ORVIK_VECTOR_CLONES float MaxAbs(const float* v, size_t n) {
  size_t i = 0;
#if ORVIK_VECTORS
  TFloat8 lanes = {};
  for (; i + 8 <= n; i += 8) lanes = Max8(lanes, Abs8(Load8(v + i)));
  float peak = Largest(lanes);
#else
  float peak = 0;
#endif
  for (; i < n; ++i) peak = std::max(peak, std::fabs(v[i]));
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

// The largest absolute value of one phase's interpolated values over `n` frames from `x`.
// Sixteen outputs at a time are summed tap by tap in registers; the taps are added in the
// same order for every output, so each sum is the same float as one made alone.
ORVIK_VECTOR_CLONES float TTruePeak::PhasePeak(const TPhase& phase, const float* x, size_t n) {
  const float* k = phase.coefficients.data();
  const uint32_t* d = phase.delays.data();
  const size_t taps = phase.coefficients.size();
  size_t i = 0;
#if ORVIK_VECTORS
  TFloat8 lanes = {};
  for (; i + 16 <= n; i += 16) {
    TFloat8 low = {}, high = {};
    for (size_t t = 0; t < taps; ++t) {
      const float* from = x + i - d[t];
      const TFloat8 tap = TFloat8{} + k[t];
      low += tap * Load8(from);
      high += tap * Load8(from + 8);
    }
    lanes = Max8(lanes, Max8(Abs8(low), Abs8(high)));
  }
  float peak = Largest(lanes);
#else
  float peak = 0;
#endif
  for (; i < n; ++i) {
    float sum = 0;
    for (size_t t = 0; t < taps; ++t) sum += k[t] * *(x + i - d[t]);
    peak = std::max(peak, std::fabs(sum));
  }
  return peak;
}

void TTruePeak::Add(const int16_t* samples, size_t frames) {
  if (frames == 0) return;
  for (uint32_t c = 0; c < channels_; ++c) signal_[c].resize(history_ + frames);
  // 1/32768 is exact, so this is the same as dividing.
  constexpr float kScale = 1.0f / 32768.0f;
  for (uint32_t c = 0; c < channels_; ++c) {
    float* to = signal_[c].data() + history_;
    const int16_t* from = samples + c;
    for (size_t i = 0; i < frames; ++i) to[i] = float(from[i * channels_]) * kScale;
  }
  float peak = 0;
  // In tiles that stay in the first-level cache while every tap is added in.
  constexpr size_t kTile = 512;
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
      for (size_t p = 1; p < phases_.size(); ++p)
        peak = std::max(peak, PhasePeak(phases_[p], block + start, n));
    }
    // The last frames are the next block's history.
    std::vector<float>& x = signal_[c];
    std::copy(x.end() - history_, x.end(), x.begin());
  }
  peak_ = std::max(peak_, double(peak));
}
