#include "channelpull.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

TChannelPulled PullChannel(audio_detail::Channel& channel, uint32_t chunk) {
  TChannelPulled r;
  std::vector<int16_t> buffer(chunk / 2);
  while (r.pulls < 100000) {
    const int32_t got = channel.pull(buffer.data(), chunk);
    if (got <= 0) break;
    ++r.pulls;
    r.bytes += static_cast<uint64_t>(got);
    for (int i = 0; i < got / 2; ++i) {
      const int v = std::abs(int(buffer[i]));
      r.peak = std::max(r.peak, v);
      if (v >= 32767) ++r.clipped;
    }
  }
  return r;
}
