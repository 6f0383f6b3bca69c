#include "pcm_dither.h"

#include <algorithm>
#include <array>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace audio_detail {
namespace {

uint32_t Step(uint32_t x) {
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  return x;
}

// Uniform in [0, 1) from a generator state.
float Uniform(uint32_t x) { return static_cast<float>(x >> 8) * (1.0f / 16777216.0f); }

// std::lrint in the default rounding mode, without the library call: adding 1.5 * 2^23
// leaves no fraction bits in a float, so the sum is rounded to an integer, ties to even.
// Exact for |x| < 2^22. NaN gives 0, as the 16 low bits of lrint's answer for it.
[[gnu::always_inline]] inline int16_t Round(float x) {
  constexpr float kShift = 12582912.0f;
  const float number = x == x ? x : 0.0f;
  return static_cast<int16_t>(static_cast<int32_t>((number + kShift) - kShift));
}

[[gnu::always_inline]] inline int16_t Dithered(float sample, uint32_t before) {
  const uint32_t first = Step(before);
  const float noise = Uniform(first) - Uniform(Step(first));
  return Round(std::clamp(sample * 32768.0f + noise, -32768.0f, 32767.0f));
}

// Eight steps of the generator at once. The steps are linear over bits, so the state eight
// steps on is the exclusive or of what each of its bytes alone becomes: four table lookups.
// Each sample takes two steps after the one before, so lanes four samples apart can run
// side by side instead of every sample waiting for the one before it.
struct Jump {
  std::array<std::array<uint32_t, 256>, 4> table;
  Jump() {
    for (int b = 0; b < 4; ++b) {
      for (uint32_t v = 0; v < 256; ++v) {
        uint32_t x = v << (8 * b);
        for (int i = 0; i < 8; ++i) x = Step(x);
        table[b][v] = x;
      }
    }
  }
  uint32_t operator()(uint32_t x) const {
    return table[0][x & 255] ^ table[1][(x >> 8) & 255] ^ table[2][(x >> 16) & 255] ^
           table[3][x >> 24];
  }
};

// Dithered for four samples at once.
#ifdef __SSE2__
// The same operations as the scalar steps, in the same order, so the same bytes.
[[gnu::always_inline]] inline void Dithered4(const float* in, const uint32_t* before,
                                             int16_t* out) {
  const auto step = [](__m128i x) {
    x = _mm_xor_si128(x, _mm_slli_epi32(x, 13));
    x = _mm_xor_si128(x, _mm_srli_epi32(x, 17));
    return _mm_xor_si128(x, _mm_slli_epi32(x, 5));
  };
  const auto uniform = [](__m128i x) {
    return _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(x, 8)), _mm_set1_ps(1.0f / 16777216.0f));
  };
  const __m128i first = step(_mm_loadu_si128(reinterpret_cast<const __m128i*>(before)));
  const __m128 noise = _mm_sub_ps(uniform(first), uniform(step(first)));
  __m128 v = _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(in), _mm_set1_ps(32768.0f)), noise);
  v = _mm_and_ps(v, _mm_cmpord_ps(v, v));  // NaN to 0
  v = _mm_min_ps(_mm_max_ps(v, _mm_set1_ps(-32768.0f)), _mm_set1_ps(32767.0f));
  const __m128 shift = _mm_set1_ps(12582912.0f);
  const __m128i whole = _mm_cvttps_epi32(_mm_sub_ps(_mm_add_ps(v, shift), shift));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(whole, whole));
}
#else
inline void Dithered4(const float* in, const uint32_t* before, int16_t* out) {
  for (int j = 0; j < 4; ++j) out[j] = Dithered(in[j], before[j]);
}
#endif

}  // namespace

void PcmDither::ToPcm16(const float* in, size_t samples, int16_t* out) {
  constexpr size_t kLanes = 4;
  static const Jump jump;
  size_t i = 0;
  if (samples >= kLanes) {
    uint32_t lane[kLanes];  // the state before sample i + j
    lane[0] = state_;
    for (size_t j = 1; j < kLanes; ++j) lane[j] = Step(Step(lane[j - 1]));
    for (; i + kLanes <= samples; i += kLanes) {
      Dithered4(in + i, lane, out + i);
      for (uint32_t& state : lane) state = jump(state);
    }
    state_ = lane[0];
  }
  for (; i < samples; ++i) {
    out[i] = Dithered(in[i], state_);
    state_ = Step(Step(state_));
  }
}

}  // namespace audio_detail
