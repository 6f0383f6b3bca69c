// Float samples to 16-bit with triangular dither (two steps peak to peak) from a generator
// that starts alike every time, so the same samples always give the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace audio_detail {

class PcmDither {
 public:
  // Converts `samples` floats of full scale +-1; the noise runs on from the call before.
  void ToPcm16(const float* in, size_t samples, int16_t* out);

 private:
  uint32_t state_ = 0x9E3779B9u;  // a 32-bit xorshift, two steps a sample
};

}  // namespace audio_detail
