// The share of the temporary WAV that the MP3 and Ogg Vorbis encoders have read.
#pragma once

#include <cstdint>

// done / size held in a 32-bit float; once it passes 0.99 it counts as the whole file, so
// the last passes show 100 percent although the 44 header bytes are never counted as done.
// The comparison is made in double: 0.99 held in a float lies above the double 0.99, so
// 990000 of 1000000 bytes already counts as complete.
inline float EncodedFraction(uint64_t done, uint64_t size) {
  float f = static_cast<float>(static_cast<double>(done) / static_cast<double>(size));
  if (static_cast<double>(f) > 0.99) f = 1.0f;
  return f;
}
