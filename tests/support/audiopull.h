// Test helpers that read a channel of the audio layer to its end.
#pragma once

#include <cstdint>
#include <vector>

struct TPulled {
  std::vector<int16_t> samples;  // interleaved, as delivered
  uint64_t bytes = 0;            // total bytes delivered
  bool error = false;            // a pull returned -1
  bool capped = false;           // stopped at the byte cap while the channel still ran
  int pulls = 0;
};

// Pulls `handle` in blocks of `block` bytes until a pull returns 0 or -1, or until `capBytes`
// have come (a guard against endless output).
TPulled PullAll(uint32_t handle, uint64_t capBytes = 64ull << 20, uint32_t block = 65536);
