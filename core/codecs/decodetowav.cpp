// Decoding a source of any kind, converted to the rate and channel count of the output
// format, into a 16-bit PCM WAV file.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "audio.h"
#include "codecs/audioguards.h"
#include "codecs/convfunc.h"
#include "codecs/freespace.h"
#include "codecs/openprogress.h"
#include "codecs/partialfile.h"
#include "codecs/passhooks.h"
#include "codecs/truncate.h"
#include "stdio_file.h"

namespace {

constexpr uint32_t kPullBufferBytes = 262144;
constexpr uint32_t kPullBytes = 0x20000;
constexpr uint32_t kWavHeaderBytes = 44;

// The mixer's sample rate and channel count for each output mode.
void MixerFormat(const TOptions& settings, int mode, uint32_t& rate, uint32_t& channels) {
  switch (mode) {
    case 0: rate = settings.WAVFreq, channels = settings.WAVNumChannels; break;
    case 1: rate = settings.MP3Freq, channels = settings.MP3NumChannels; break;
    case 2: rate = settings.OGGFreq, channels = settings.OGGNumChannels; break;
    case 4: rate = settings.FLACFreq, channels = settings.FLACNumChannels; break;
    case 5: rate = 48000, channels = settings.OpusNumChannels; break;  // Opus has one rate
    default: rate = 44100, channels = 2; break;
  }
}

void PutLE(uint8_t* out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>((value >> (8 * i)) & 0xff);
}

bool WriteAll(FILE* f, const void* data, size_t bytes) {
  return bytes == 0 || std::fwrite(data, 1, bytes, f) == bytes;
}

// The 44-byte header in its three pieces, both size fields 0 until the end.
bool WriteHeader(FILE* f, const AUDIO_CHANNELINFO& info) {
  uint8_t riff[20] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E',
                      'f', 'm', 't', ' ', 0x10, 0, 0, 0};
  const uint32_t bits = (info.flags & 1) ? 8 : 16;
  const uint32_t blockAlign = info.chans * bits / 8;
  uint8_t format[16];
  PutLE(format, 1, 2);
  PutLE(format + 2, info.chans, 2);
  PutLE(format + 4, info.freq, 4);
  PutLE(format + 8, blockAlign * info.freq, 4);
  PutLE(format + 12, blockAlign, 2);
  PutLE(format + 14, bits, 2);
  const uint8_t data[8] = {'d', 'a', 't', 'a', 0, 0, 0, 0};
  return WriteAll(f, riff, sizeof riff) && WriteAll(f, format, sizeof format) &&
         WriteAll(f, data, sizeof data);
}

// A size field holds at most 32 bits; a longer file keeps the largest value rather than a
// wrapped one.
bool WriteSizeField(FILE* f, long offset, uint64_t value) {
  uint8_t bytes[4];
  PutLE(bytes, static_cast<uint32_t>(std::min<uint64_t>(value, std::numeric_limits<uint32_t>::max())), 4);
  return std::fseek(f, offset, SEEK_SET) == 0 && WriteAll(f, bytes, 4) && std::fflush(f) == 0;
}

}  // namespace

int32_t TConvFunc::DecodeToWAV(const std::string& source, const std::string& destination,
                               TOptions settings, int mode) {
  DecodeResult = 0;
  DecodeResult = DecodeSource(source, destination, settings, mode);
  return DecodeResult;
}

int32_t TConvFunc::DecodeSource(const std::string& source, const std::string& destination,
                                const TOptions& settings, int mode) {
  SourceTags = SongTags();
  audio_set_config(1, 0);
  TAudioLibrary library(0, 44100, 0);
  if (!library.Ready()) return -1;

  TSourceHandle input(OpenSourceOrCancel(source, AUDIO_FLAG_UNICODE | AUDIO_FLAG_DECODE,
                                         AUDIO_FLAG_UNICODE | AUDIO_FLAG_DECODE));
  if (!input) return -2;
  audio_get_tags(input.Get(), &SourceTags);
  CurrentLength = TruncToInt(audio_bytes_to_seconds(input.Get(), audio_get_length(input.Get())));

  uint32_t rate = 0, channels = 0;
  MixerFormat(settings, mode, rate, channels);
  TSourceHandle mixer(mixer_create(rate, channels, AUDIO_FLAG_DECODE | AUDIO_FLAG_MIXER_END));
  // A mixer without its source would deliver nothing and the WAV would be empty.
  if (!mixer || !mixer_add_channel(mixer.Get(), input.Get(), 0)) return -2;

  // A source that plays for no time (a module that ends before its first row, an MP3 whose
  // gapless trims leave nothing) would make a WAV of a header alone: no conversion at all.
  if (audio_get_length(mixer.Get()) == 0) return DECODE_NO_AUDIO;

  // The WAV's exact size is known now: when it cannot fit beside what the conversions
  // running at the same time still write, this one fails before a byte is written instead
  // of after filling the disk.
  TSpaceClaim room(destination, kWavHeaderBytes + audio_get_length(mixer.Get()));
  if (!room.Held()) return -3;

  // The WAV is written beside the destination under a name of its own and takes the
  // destination's place only when complete; the source is never written over.
  TPartialFile partial(destination);
  if (!partial.Created()) return -3;
  // The partial file is new and empty: opened without truncating it, since on ext4 closing
  // a file truncated to nothing writes all of it out first (a stall of a tenth of a second
  // or more for a long WAV).
  FilePtr file(std::fopen(partial.Path().c_str(), "r+b"));
  if (!file) return -3;

  AUDIO_CHANNELINFO info;
  audio_get_info(mixer.Get(), &info);
  bool written = WriteHeader(file.get(), info);

  std::vector<uint8_t> buffer(kPullBufferBytes);
  const int32_t base = TotalPosition;
  CurrentProgress = 0;
  for (;;) {
    // Leaving here releases the file (its partial copy removed), the mixer, the source
    // and the library.
    CheckCancel();
    PassBreak(5);
    const int32_t got = audio_get_data(mixer.Get(), buffer.data(), kPullBytes);
    // The source failed midway (a file that shrank or could not be read): what was
    // written is not the whole song and is not kept.
    if (got < 0) return -2;
    if (got > 0) {
      written = WriteAll(file.get(), buffer.data(), static_cast<size_t>(got)) && written;
      room.Wrote(static_cast<uint64_t>(got));
    }
    if (mode == 0)
      UpdateCounters(base, TruncToInt(audio_bytes_to_seconds(
                               mixer.Get(), audio_get_position(mixer.Get()))));
    // Decoding goes on until the mixer has delivered the whole source, so the WAV holds
    // every sample. A pull that yields nothing is the mixer's end too: no hang on a
    // mixer that stays active without delivering.
    if (audio_is_active(mixer.Get()) == 0 || got <= 0) break;
  }
  mixer_remove_channel(mixer.Get());

  if (!written || std::fflush(file.get()) != 0) return -3;
  const long length = std::ftell(file.get());
  if (length < static_cast<long>(kWavHeaderBytes)) return -3;
  if (length == static_cast<long>(kWavHeaderBytes)) return DECODE_NO_AUDIO;
  const uint64_t total = static_cast<uint64_t>(length);
  if (!WriteSizeField(file.get(), 4, total - 8) ||
      !WriteSizeField(file.get(), 40, total - kWavHeaderBytes))
    return -3;
  const bool closed = std::fclose(file.release()) == 0;
  // A disk that filled up shows only now; the destination is then left as it was.
  if (!closed) return -3;
  // Mode 0 makes a WAV output; the other modes make the temporary WAV, which the encoders
  // read raw to its end and which therefore carries no tags.
  if (mode == 0 && !audio_write_tags(partial.Path().c_str(), SongTagFormat::Wav, SourceTags))
    return -3;
  if (!partial.Commit()) return -3;

  mixer.Reset();
  input.Reset();
  library.Release();
  return 1;
}
