// What the tests of the three encoding routines share: the engine's state between test
// functions, the test signal, and the bad-input, cancel and full-disk runs every encoder is
// put through.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Counters, stage and hooks of the engine as a fresh conversion finds them.
void ResetEngine();

// Stereo: channel 0 a 440 Hz tone, channel 1 a 200..4000 Hz chirp that pins down offsets.
// Mono: the chirp alone.
std::vector<int16_t> TestSignal(uint32_t rate, uint16_t chans, uint64_t frames);

// The temporary WAV and the destination of one bad-input case, made in `folder`.
// `wavKind`: "good" (10000 frames of the 44100 Hz stereo test signal), "missing", "empty",
// "headerOnly", "halfFrame" (a header and half a sample frame) or "garbage" (5000 bytes
// that are no WAV). `destKind`: "plain", "noFolder" (in a folder that does not exist) or
// "underFile" (in a "folder" that is a file). False when a file could not be written or a
// kind is unknown.
bool MakeBadInputCase(const std::string& folder, const QString& wavKind,
                      const QString& destKind, const std::string& extension, std::string* wav,
                      std::string* destination);

struct TCancelRun {
  bool aborted = false;  // the routine stopped with EAbort
  int passes = 0;        // pauses between passes it made
};
// Runs `encode` with a cancel asked for in its `cancelAt`-th pause between passes.
TCancelRun RunWithCancelAt(int cancelAt, const std::function<void()>& encode);

struct TLimitedRun {
  bool limited = false;  // the file size limit took hold
  int32_t result = 0;
};
// Runs `encode` while no file may grow past `bytes`: a full disk.
TLimitedRun RunWithFileSizeLimit(uint64_t bytes, const std::function<int32_t()>& encode);
