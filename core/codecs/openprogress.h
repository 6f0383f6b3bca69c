// Breaks during a long opening: the audio layer may render a whole song, or read a whole
// stream, before it knows a length. Meanwhile the windows must still answer, and a cancel
// must stop the work at once.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

// While it lives, long work inside an audio-layer opening on this thread makes a break as
// between two passes now and then, and stops as soon as `stop` answers true: the layer
// then fails the opening, and OpenSource gives up without trying further openers. Nothing
// is raised from inside the layer; the caller does that once the layer has returned.
class TOpenProgress {
 public:
  explicit TOpenProgress(std::function<bool()> stop);
  ~TOpenProgress();
  TOpenProgress(const TOpenProgress&) = delete;
  TOpenProgress& operator=(const TOpenProgress&) = delete;

  // The work was stopped: `stop` answered true, or the event processing raised.
  bool Stopped() const { return stopped_; }
  // Raises what the event processing raised, else EAbort when the work was stopped.
  void RaiseIfStopped() const;

 private:
  static int Report(void* self);

  std::function<bool()> stop_;
  bool stopped_ = false;
  std::exception_ptr raised_;
  TOpenProgress* outer_;
};

// True when the innermost TOpenProgress of this thread has stopped the work.
bool OpeningStopped();

// OpenSource for a conversion routine: breaks during a long opening, and EAbort when a
// cancel is requested meanwhile (Stage 30).
uint32_t OpenSourceOrCancel(const std::string& path, uint32_t streamFlags, uint32_t moduleFlags);
// audio_open_file (0, path, 0, 0, 0) the same way: the encoders measure the temporary WAV
// with it, and a long WAV is read through for its length.
uint32_t OpenFileOrCancel(const std::string& path);
