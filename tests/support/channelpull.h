// Test helper that reads a decoding channel of the audio layer directly to its end.
#pragma once

#include <cstdint>

#include "channel.h"

struct TChannelPulled {
  uint64_t bytes = 0;    // total bytes delivered
  int peak = 0;          // largest sample magnitude
  uint64_t clipped = 0;  // samples at full scale
  int pulls = 0;
};

// Pulls in pieces of `chunk` bytes until a pull returns 0 or -1; a channel that never ends
// stops after 100000 pulls, so the caller's length checks fail instead of hanging.
TChannelPulled PullChannel(audio_detail::Channel& channel, uint32_t chunk = 131072);
