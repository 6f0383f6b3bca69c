// Test signals that show where samples went: a chirp has no period, so comparing it with
// its encoded and decoded copy finds the copy's offset to the sample.
#pragma once

#include <cstdint>
#include <vector>

// A linear sweep from f0 to f1 Hz over `frames`, one channel.
std::vector<int16_t> MakeChirp(uint32_t rate, uint64_t frames, double f0, double f1,
                               double amplitude = 0.5);
// Two mono signals of equal length as one stereo signal.
std::vector<int16_t> InterleaveStereo(const std::vector<int16_t>& left,
                                      const std::vector<int16_t>& right);

struct TLag {
  int lag = 0;              // decoded frame i + lag matches reference frame i
  double correlation = 0.0; // normalised, at that lag
};
// Searches lags in [-maxLag, maxLag] over reference frames [from, from + count).
TLag BestLag(const std::vector<int16_t>& reference, uint16_t refChannels, uint16_t refChannel,
             const std::vector<int16_t>& decoded, uint16_t decChannels, uint16_t decChannel,
             uint64_t from, uint64_t count, int maxLag);
