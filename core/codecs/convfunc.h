// The conversion engine: status counters of the running conversion, the live settings, and
// the routines that measure, decode and encode.
#pragma once

#include <cstdint>
#include <string>

#include "codecs/options.h"
#include "songtags.h"

enum : int32_t {
  STAGE_NONE = 0,
  STAGE_DECODING = 1,
  STAGE_REMIXING = 2,
  STAGE_MP3 = 3,
  STAGE_OGG = 4,
  STAGE_WMA = 5,
  STAGE_FLAC = 6,
  STAGE_OPUS = 7,
  STAGE_FINISHED = 10,
  STAGE_CANCEL = 30,
};

// True while an encoder turns the temporary WAV into the output.
inline bool IsEncodingStage(int32_t stage) { return stage >= STAGE_MP3 && stage <= STAGE_OPUS; }
// DecodeToWAV's result for a source that holds no audio at all.
constexpr int32_t DECODE_NO_AUDIO = -4;

class TConvFunc {
 public:
  int32_t CurrentProgress = 0;
  int32_t TotalProgress = 0;
  int32_t TotalLength = 0;
  int32_t CurrentLength = 0;
  int32_t CurrentPosition = 0;
  int32_t TotalPosition = 0;
  int32_t Stage = STAGE_NONE;
  TOptions Options;
  // The tags of the source DecodeToWAV read last, for the output made from it: a WAV output
  // gets them from DecodeToWAV itself, the other outputs from their encoder.
  SongTags SourceTags;

  // Whole seconds of every source of MainFunc.FileList, or -1.
  int32_t MeasureTotalLength();
  // Moves the counters past a listed source that the batch does not convert, by the whole
  // seconds MeasureTotalLength counted for it, so a finished batch still stands at 100 %.
  void CountAsDone(const std::string& path);
  // 1 done; -1 library refused; -2 source not opened, no mixer, or the source failed while
  // decoded; -3 destination not created; DECODE_NO_AUDIO the source plays for no time (no
  // output is made).
  int32_t DecodeToWAV(const std::string& source, const std::string& destination,
                      TOptions settings, int mode);
  // What the last DecodeToWAV returned; 0 while it runs and after a cancel.
  int32_t DecodeResult = 0;
  // 0 done; -1 library refused; -2 temporary WAV not accepted; -3 files or LAME not set up.
  int32_t EncodeMP3(const std::string& wav, const std::string& destination, TOptions settings);
  // 1 done; -1 WAV not opened, encoder refused or library refused; -2 destination not created.
  int32_t EncodeOGG(const std::string& wav, const std::string& destination, TOptions settings);
  // 0 done; -1 any failure.
  int32_t EncodeWMA(const std::string& wav, const std::string& destination, TOptions settings);
  // 0 done; -1 settings refused or WAV not usable; -2 destination not created or not
  // written whole; -3 the encoder failed.
  int32_t EncodeFLAC(const std::string& wav, const std::string& destination, TOptions settings);
  int32_t EncodeOpus(const std::string& wav, const std::string& destination, TOptions settings);

  // Throws EAbort when a cancel has been requested of this engine or of every conversion.
  void CheckCancel() const;
  // Moves CurrentPosition, TotalPosition, CurrentProgress and TotalProgress for a pass that
  // has reached `position` whole seconds, from the batch position `base`.
  void UpdateCounters(int32_t base, int32_t position);

 private:
  int32_t DecodeSource(const std::string& source, const std::string& destination,
                       const TOptions& settings, int mode);
};

extern TConvFunc ConvFunc;

// Sets or clears the request that every conversion running beside the user-interface thread
// stops at its next pass (through EAbort, as a cancel does).
void StopAllConversions(bool stop);
// True when the conversion on this thread is to stop: the request above, or on the
// user-interface thread a cancel confirmed in the progress window (Stage 30).
bool ConversionStopRequested();

// Opens any supported source through the fixed cascade of openers; 0 if none takes it.
uint32_t OpenSource(const std::string& path, uint32_t streamFlags, uint32_t moduleFlags);
// Frees a channel by its type; 0 is ignored.
void FreeSource(uint32_t handle);
