// Owners of audio-layer resources, so that every exit of a routine, the cancel exception
// included, releases them.
#pragma once

#include <cstdint>

#include "audio.h"
#include "codecs/convfunc.h"

// The initialised library of this thread; audio_free on destruction.
class TAudioLibrary {
 public:
  TAudioLibrary(int device, uint32_t freq, uint32_t flags)
      : ready_(audio_init(device, freq, flags, nullptr, nullptr) != 0) {}
  ~TAudioLibrary() {
    if (ready_) audio_free();
  }
  TAudioLibrary(const TAudioLibrary&) = delete;
  TAudioLibrary& operator=(const TAudioLibrary&) = delete;
  bool Ready() const { return ready_; }
  // Frees the library now (the encoders drop it once they have measured their input).
  void Release() {
    if (ready_) audio_free();
    ready_ = false;
  }

 private:
  bool ready_;
};

// A channel freed by its type on destruction.
class TSourceHandle {
 public:
  explicit TSourceHandle(uint32_t handle = 0) : handle_(handle) {}
  ~TSourceHandle() { Reset(); }
  TSourceHandle(const TSourceHandle&) = delete;
  TSourceHandle& operator=(const TSourceHandle&) = delete;
  uint32_t Get() const { return handle_; }
  explicit operator bool() const { return handle_ != 0; }
  void Reset(uint32_t handle = 0) {
    if (handle_) FreeSource(handle_);
    handle_ = handle;
  }

 private:
  uint32_t handle_;
};
