#include "channel.h"

#include <unordered_map>

namespace audio_detail {

int32_t Channel::pull(void* buffer, uint32_t bytes) {
  if (drained_ || buffer == nullptr || chans == 0) return drained_ ? 0 : -1;
  const uint32_t frame = frame_bytes();
  bytes -= bytes % frame;
  if (bytes == 0) return 0;
  const int64_t got = decode(static_cast<uint8_t*>(buffer), bytes);
  if (got <= 0) {
    drained_ = true;
    return got < 0 ? -1 : 0;
  }
  position_ += static_cast<uint64_t>(got);
  return static_cast<int32_t>(got);
}

namespace {
struct ThreadState {
  bool ready = false;
  uint32_t next_handle = 1;
  std::unordered_map<uint32_t, std::shared_ptr<Channel>> channels;
};

ThreadState& state() {
  thread_local ThreadState s;
  return s;
}
}  // namespace

namespace {
thread_local uint64_t synthesisLimit = 3600;
thread_local int openError = 0;
thread_local std::string openErrorDetail;
}  // namespace

void set_open_error(int code, std::string detail) {
  openError = code;
  openErrorDetail = std::move(detail);
}
int open_error() { return openError; }
const std::string& open_error_detail() { return openErrorDetail; }

uint64_t synthesis_limit_seconds() { return synthesisLimit; }
void set_synthesis_limit_seconds(uint64_t seconds) { synthesisLimit = seconds; }

bool library_ready() { return state().ready; }

void set_library_ready(bool ready) {
  ThreadState& s = state();
  s.ready = ready;
  if (!ready) s.channels.clear();
}

uint32_t register_channel(std::shared_ptr<Channel> channel) {
  ThreadState& s = state();
  if (!s.ready || !channel) return 0;
  uint32_t handle = s.next_handle++;
  if (handle == 0) handle = s.next_handle++;  // wrapped around
  s.channels[handle] = std::move(channel);
  return handle;
}

std::shared_ptr<Channel> find_channel(uint32_t handle) {
  ThreadState& s = state();
  const auto it = s.channels.find(handle);
  return it == s.channels.end() ? nullptr : it->second;
}

bool release_channel(uint32_t handle) { return state().channels.erase(handle) > 0; }

}  // namespace audio_detail
