// The temporary WAV as the FLAC and Opus encoders read it: raw after its 44-byte header, in
// passes of whole sample frames, with the share read so far for the progress. The header is
// only compared with the rate and channel count the encoder is set up for.
#pragma once

#include <cstdint>
#include <string>

#include "stdio_file.h"

class TWavPasses {
 public:
  TWavPasses(const std::string& path, int channels, int rate);

  // Opened, a 16-bit PCM WAV of `channels` and `rate`, and holding at least one whole sample
  // frame: anything else would be encoded as noise, at the wrong speed, or as an output with
  // no sound in it.
  bool Ready() const { return frames_ > 0; }
  uint64_t Frames() const { return frames_; }
  // The file's size in bytes, header included.
  uint64_t Size() const { return size_; }
  // Bytes of sample data read so far.
  uint64_t Done() const { return done_; }
  // True when a read failed before the end: the output would silently miss the song's end.
  bool Failed() const { return failed_; }

  // Reads up to `maxFrames` whole frames into `samples` (interleaved 16-bit); 0 at the end
  // of the data or on a read error. A trailing part of a frame is never returned.
  size_t Read(int16_t* samples, size_t maxFrames);

 private:
  FilePtr file_;
  size_t frameBytes_;
  uint64_t size_ = 0;
  uint64_t frames_ = 0;
  uint64_t framesLeft_ = 0;
  uint64_t done_ = 0;
  bool failed_ = false;
};
