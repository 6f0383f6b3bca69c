#include "audiopull.h"

#include "audio.h"

TPulled PullAll(uint32_t handle, uint64_t capBytes, uint32_t block) {
  TPulled out;
  std::vector<int16_t> buffer(block / 2 + 1);
  while (out.bytes < capBytes) {
    const int32_t got = audio_get_data(handle, buffer.data(), block);
    ++out.pulls;
    if (got < 0) {
      out.error = true;
      return out;
    }
    if (got == 0) return out;
    out.bytes += static_cast<uint64_t>(got);
    out.samples.insert(out.samples.end(), buffer.begin(), buffer.begin() + got / 2);
  }
  out.capped = audio_is_active(handle) != 0;
  return out;
}
