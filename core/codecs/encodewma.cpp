// EncodeWMA: the temporary WAV (always 44100 Hz stereo) pulled through the audio layer and
// handed to its WMA file encoder.

#include <cstdint>

#include "audio.h"
#include "codecs/audioguards.h"
#include "codecs/convfunc.h"
#include "codecs/openprogress.h"
#include "codecs/partialfile.h"
#include "codecs/passhooks.h"
#include "codecs/truncate.h"

namespace {

constexpr uint32_t kPullBufferBytes = 32768;
constexpr uint32_t kPullBytes = 0x4000;

// The encoder argument: a quality in percent for a quality step, or the bitrate in bit/s.
// 0 when the quality step is not one of the five or the bitrate is not positive.
uint32_t EncoderRequest(const TOptions& s) {
  if (!s.WMAUseVBR) {
    if (s.WMABitrate <= 0 || s.WMABitrate > 4000000) return 0;  // no bitrate at all
    return static_cast<uint32_t>(s.WMABitrate) * 1000u;
  }
  switch (s.WMAQuality) {
    case 1: return 25;
    case 2: return 50;
    case 3: return 75;
    case 4: return 90;
    case 5: return 100;
    default: return 0;
  }
}

// An open WMA encoder, closed (and its file finished) on destruction.
class TWmaEncoder {
 public:
  explicit TWmaEncoder(uint32_t handle) : handle_(handle) {}
  ~TWmaEncoder() { Close(); }
  TWmaEncoder(const TWmaEncoder&) = delete;
  TWmaEncoder& operator=(const TWmaEncoder&) = delete;
  uint32_t Get() const { return handle_; }
  explicit operator bool() const { return handle_ != 0; }
  // True when the file was finished properly.
  bool Close() {
    if (!handle_) return false;
    const bool ok = wma_encode_close(handle_) != 0;
    handle_ = 0;
    return ok;
  }

 private:
  uint32_t handle_;
};

}  // namespace

int32_t TConvFunc::EncodeWMA(const std::string& wav, const std::string& destination,
                             TOptions settings) {
  TAudioLibrary library(0, 44100, 0);
  if (!library.Ready()) return -1;
  TSourceHandle source(OpenSourceOrCancel(wav, 0x220000, 0));
  // A WAV without one whole sample frame would give a file with no sound in it.
  if (!source || audio_get_length(source.Get()) == 0) return -1;

  Stage = STAGE_WMA;

  const uint32_t request = EncoderRequest(settings);
  TPartialFile partial(destination);
  if (request == 0 || !partial.Created()) return -1;
  TWmaEncoder encoder(wma_encode_open_file(44100, 2, 0, request, partial.Path().c_str()));
  if (!encoder) return -1;

  const int32_t base = TotalPosition;
  CurrentProgress = 0;

  unsigned char buffer[kPullBufferBytes];
  do {
    PassBreak(10);
    CheckCancel();
    const int32_t got = audio_get_data(source.Get(), buffer, kPullBytes);
    // A failed read or write would leave a file that silently misses its end.
    if (got < 0) return -1;
    if (got > 0 && wma_encode_write(encoder.Get(), buffer, static_cast<uint32_t>(got)) == 0)
      return -1;
    UpdateCounters(base, TruncToInt(audio_bytes_to_seconds(
                             source.Get(), audio_get_position(source.Get()))));
  } while (audio_is_active(source.Get()) != 0);

  const bool finished = encoder.Close();
  source.Reset();
  library.Release();
  if (!finished || !audio_write_tags(partial.Path().c_str(), SongTagFormat::Wma, SourceTags))
    return -1;
  if (!partial.Commit()) return -1;
  return 0;
}
