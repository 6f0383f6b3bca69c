// EncodeMP3: the temporary WAV, already at the MP3 rate and channel count, into an MP3 file
// through LAME.

#include <lame/lame.h>

#include <cstdio>
#include <memory>

#include "audio.h"
#include "codecs/audioguards.h"
#include "codecs/convfunc.h"
#include "codecs/openprogress.h"
#include "codecs/encodeprogress.h"
#include "codecs/partialfile.h"
#include "codecs/passhooks.h"
#include "codecs/truncate.h"
#include "stdio_file.h"

namespace {

constexpr long kWavHeaderBytes = 44;
constexpr size_t kPcmBufferBytes = 36864;
constexpr size_t kItemsPerRead = 9216;  // items of MP3NumChannels bytes: 4608 frames
constexpr int kMp3BufferBytes = 40000;
constexpr int kAlgorithmQuality = 2;     // LAME's scale, 0 best .. 9 worst

struct LameClose {
  void operator()(lame_global_flags* gf) const { lame_close(gf); }
};
using LamePtr = std::unique_ptr<lame_global_flags, LameClose>;

// LAME takes 0 as "choose for me" for several of these and clamps others; a setting the
// options dialog cannot produce is refused here instead of being encoded as something else.
bool SettingsUsable(const TOptions& s) {
  if (s.MP3NumChannels != 1 && s.MP3NumChannels != 2) return false;
  if (s.MP3Freq <= 0) return false;
  if (s.MP3UseVBR) return s.MP3Quality >= 1 && s.MP3Quality <= 9;
  return s.MP3Bitrate > 0;
}

// The encoder set up for the settings, or null when LAME refuses them.
LamePtr SetUpLame(const TOptions& s) {
  if (!SettingsUsable(s)) return nullptr;
  LamePtr gf(lame_init());
  if (!gf) return nullptr;
  bool ok = lame_set_num_channels(gf.get(), s.MP3NumChannels) == 0;
  ok = ok && lame_set_in_samplerate(gf.get(), s.MP3Freq) == 0;
  ok = ok && lame_set_out_samplerate(gf.get(), s.MP3Freq) == 0;
  ok = ok && lame_set_quality(gf.get(), kAlgorithmQuality) == 0;
  if (s.MP3UseVBR) {
    ok = ok && lame_set_VBR(gf.get(), vbr_rh) == 0;
    ok = ok && lame_set_VBR_q(gf.get(), 9 - s.MP3Quality) == 0;
  } else {
    ok = ok && lame_set_VBR(gf.get(), vbr_off) == 0;
    ok = ok && lame_set_brate(gf.get(), s.MP3Bitrate) == 0;
  }
  // Reserves the first frame for the tag that tells decoders the exact length.
  ok = ok && lame_set_bWriteVbrTag(gf.get(), 1) == 0;
  ok = ok && lame_init_params(gf.get()) >= 0;
  if (!ok) return nullptr;
  return gf;
}

bool Append(FILE* out, const unsigned char* data, int bytes) {
  if (bytes <= 0) return true;  // nothing encoded yet, or an encoder error: nothing to add
  return std::fwrite(data, 1, static_cast<size_t>(bytes), out) == static_cast<size_t>(bytes);
}

}  // namespace

int32_t TConvFunc::EncodeMP3(const std::string& wav, const std::string& destination,
                             TOptions settings) {
  audio_set_config(1, 10);
  TAudioLibrary library(-1, 44100, 0x100);
  if (!library.Ready()) return -1;
  TSourceHandle measured(OpenFileOrCancel(wav));
  // A WAV without one whole sample frame would give an MP3 with no sound in it.
  if (!measured || audio_get_length(measured.Get()) == 0) return -2;

  Stage = STAGE_MP3;

  FilePtr in(std::fopen(wav.c_str(), "rb"));
  TPartialFile partial(destination);
  // New and empty: not truncated, which would make closing it write it all out first.
  FilePtr out(partial.Created() ? std::fopen(partial.Path().c_str(), "r+b") : nullptr);
  if (!in || !out) return -3;

  LamePtr lame = SetUpLame(settings);
  if (!lame) return -3;
  // The source's tags: ID3v2 in front of the first frame, ID3v1 after the last.
  Mp3TagBlocks tags;
  if (!audio_mp3_tag_blocks(SourceTags, &tags)) return -3;
  if (!Append(out.get(), tags.front.data(), static_cast<int>(tags.front.size()))) return -3;

  const int channels = settings.MP3NumChannels;
  uint64_t done = 0;
  size_t items = 0;
  if (std::fseek(in.get(), 0, SEEK_END) != 0) return -3;
  const long size = std::ftell(in.get());
  if (size < 0) return -3;

  const int32_t base = TotalPosition;
  CurrentProgress = 0;

  CurrentLength =
      TruncToInt(audio_bytes_to_seconds(measured.Get(), audio_get_length(measured.Get())));
  measured.Reset();
  library.Release();

  if (std::fseek(in.get(), kWavHeaderBytes, SEEK_SET) != 0) return -3;

  short pcm[kPcmBufferBytes / sizeof(short)];
  unsigned char mp3[kMp3BufferBytes];
  for (;;) {
    CheckCancel();
    done += items * static_cast<uint64_t>(channels);
    PassBreak(15);
    const float f = EncodedFraction(done, static_cast<uint64_t>(size));
    UpdateCounters(base, TruncToInt(static_cast<double>(CurrentLength) * f));

    items = std::fread(pcm, static_cast<size_t>(channels), kItemsPerRead, in.get());
    if (items == 0) break;
    const int frames = static_cast<int>(items / 2);
    const int encoded =
        channels == 2
            ? lame_encode_buffer_interleaved(lame.get(), pcm, frames, mp3, kMp3BufferBytes)
            : lame_encode_buffer(lame.get(), pcm, nullptr, frames, mp3, kMp3BufferBytes);
    if (!Append(out.get(), mp3, encoded)) return -3;
  }

  if (!Append(out.get(), mp3, lame_encode_flush(lame.get(), mp3, kMp3BufferBytes))) return -3;
  if (!Append(out.get(), tags.back.data(), static_cast<int>(tags.back.size()))) return -3;

  // The tag frame goes over the frame reserved for it at the start of the file.
  const size_t tagBytes = lame_get_lametag_frame(lame.get(), mp3, sizeof mp3);
  if (tagBytes > 0 && tagBytes <= sizeof mp3) {
    if (std::fseek(out.get(), static_cast<long>(tags.front.size()), SEEK_SET) != 0) return -3;
    if (!Append(out.get(), mp3, static_cast<int>(tagBytes))) return -3;
  }

  if (std::fclose(out.release()) != 0) return -3;
  in.reset();
  lame.reset();
  if (!partial.Commit()) return -3;
  return 0;
}
