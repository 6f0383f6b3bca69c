// The true peak of a signal (ITU-R BS.1770 annex 2): the largest absolute value of the
// signal oversampled four times (twice from 96 kHz, not at all from 192 kHz), by the same
// interpolator as libebur128's (a 49-tap Hann-windowed sinc in polyphase form), so that both
// give the same peak. libebur128's own path interpolates tap by tap through a ring buffer in
// double precision and cost a fifth of a batch's time; this one runs each phase over a whole
// block, which the compiler turns into vector code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class TTruePeak {
 public:
  TTruePeak(uint32_t channels, uint32_t rate);

  // Takes `frames` interleaved 16-bit frames, continuing the signal given so far.
  void Add(const int16_t* samples, size_t frames);
  // Linear, 1.0 = full scale: the largest of all channels, never below the sample peak.
  double Peak() const { return peak_; }

 private:
  struct TPhase {
    std::vector<float> coefficients;
    std::vector<uint32_t> delays;  // in input frames, for each coefficient
  };
  static float PhasePeak(const TPhase& phase, const float* x, size_t n);

  uint32_t channels_;
  uint32_t history_;               // frames kept from one block for the next
  std::vector<TPhase> phases_;     // phase 0 is the samples themselves
  float gain_ = 1;                 // the largest sum of a phase's absolute coefficients
  std::vector<std::vector<float>> signal_;  // per channel: history, then the block
  double peak_ = 0;
};
