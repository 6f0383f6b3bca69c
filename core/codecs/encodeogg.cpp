// EncodeOGG: the temporary WAV, already at the Ogg Vorbis rate and channel count, into an
// Ogg Vorbis file through libvorbis and libogg.

#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "audio.h"
#include "codecs/audioguards.h"
#include "codecs/convfunc.h"
#include "codecs/openprogress.h"
#include "codecs/encodeprogress.h"
#include "codecs/partialfile.h"
#include "codecs/passhooks.h"
#include "codecs/truncate.h"
#include "codecs/vorbissamples.h"
#include "stdio_file.h"

namespace {

constexpr long kWavHeaderBytes = 44;
constexpr size_t kReadBytes = 4096;
// Every band of libvorbis lies between 8 and 500 kbit/s. The search for a band's nearest edge
// goes in whole kbit/s at most 1000 kbit/s away from the wish; a wish further off (a hand
// edit of config.cfg) is refused as before.
constexpr long kHighestBitrate = 1000 * 1000;
constexpr long kBitrateSearchSteps = 1000;

// Everything libvorbis and libogg hold for one file, cleared in the reverse order of
// creation on every way out.
class TVorbisState {
 public:
  vorbis_info vi{};
  vorbis_comment vc{};
  vorbis_dsp_state vd{};
  vorbis_block vb{};
  ogg_stream_state os{};

  TVorbisState() { vorbis_info_init(&vi); }
  ~TVorbisState() {
    if (streamReady_) ogg_stream_clear(&os);
    if (blockReady_) vorbis_block_clear(&vb);
    if (dspReady_) vorbis_dsp_clear(&vd);
    if (commentReady_) vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
  }
  TVorbisState(const TVorbisState&) = delete;
  TVorbisState& operator=(const TVorbisState&) = delete;

  // The encoder set-up of the settings; false when libvorbis refuses it.
  bool SetUp(const TOptions& s) {
    // libvorbis clamps a quality above its range instead of refusing it; a step outside
    // 1..9 or a bitrate of 0 is refused here.
    if (s.OGGNumChannels < 1 || s.OGGFreq <= 0) return false;
    if (s.OGGUseVBR) {
      if (s.OGGQuality < 1 || s.OGGQuality > 9) return false;
      const float quality = static_cast<float>(static_cast<long double>(s.OGGQuality) * 0.1L);
      return vorbis_encode_init_vbr(&vi, s.OGGNumChannels, s.OGGFreq, quality) == 0;
    }
    if (s.OGGBitrate <= 0) return false;
    const long wanted = static_cast<long>(s.OGGBitrate) * 1000;
    if (SetUpManaged(s, wanted)) return true;
    // libvorbis holds each rate and channel count to a band of bitrates (44100 Hz mono stops
    // at 240 kbit/s, 11025 Hz mono at 50), and the dialog offers more than every band
    // holds. A wish outside the band is met by the band's nearest edge instead of no file.
    for (long step = 1; step <= kBitrateSearchSteps; ++step) {
      const long below = wanted - step * 1000, above = wanted + step * 1000;
      if (below > 0 && SetUpManaged(s, below)) return true;
      if (above <= kHighestBitrate && SetUpManaged(s, above)) return true;
    }
    return false;
  }

  // A fresh set-up at a managed bitrate; false when libvorbis refuses it.
  bool SetUpManaged(const TOptions& s, long bitrate) {
    vorbis_info_clear(&vi);
    vorbis_info_init(&vi);
    return vorbis_encode_init(&vi, s.OGGNumChannels, s.OGGFreq, -1, bitrate, -1) == 0;
  }

  // Comment, analysis, block and stream state; false if libvorbis fails to start. The
  // source's tags join the encoder's own comment.
  bool Start(int serial, const SongTags& tags) {
    vorbis_comment_init(&vc);
    commentReady_ = true;
    vorbis_comment_add_tag(&vc, "Encoder", "Ogg Vorbis encoder");
    VorbisComments comments;
    if (!audio_vorbis_comments(tags, &comments)) return false;
    for (const auto& [name, value] : comments)
      vorbis_comment_add_tag(&vc, name.c_str(), value.c_str());
    if (vorbis_analysis_init(&vd, &vi) != 0) return false;
    dspReady_ = true;
    if (vorbis_block_init(&vd, &vb) != 0) return false;
    blockReady_ = true;
    if (ogg_stream_init(&os, serial) != 0) return false;
    streamReady_ = true;
    return true;
  }

 private:
  bool commentReady_ = false;
  bool dspReady_ = false;
  bool blockReady_ = false;
  bool streamReady_ = false;
};

bool WritePage(FILE* out, const ogg_page& page) {
  const auto header = static_cast<size_t>(page.header_len);
  const auto body = static_cast<size_t>(page.body_len);
  return std::fwrite(page.header, 1, header, out) == header &&
         std::fwrite(page.body, 1, body, out) == body;
}

}  // namespace

int32_t TConvFunc::EncodeOGG(const std::string& wav, const std::string& destination,
                             TOptions settings) {
  Stage = STAGE_OGG;
  bool endOfStream = false;

  FilePtr in(std::fopen(wav.c_str(), "rb+"));
  if (!in) return -1;
  TPartialFile partial(destination);
  // New and empty: not truncated, which would make closing it write it all out first.
  FilePtr out(partial.Created() ? std::fopen(partial.Path().c_str(), "r+b") : nullptr);
  if (!out) return -2;

  TVorbisState v;
  if (!v.SetUp(settings)) return -1;
  // A WAV without one whole sample frame would give a file with no sound in it.
  if (std::fseek(in.get(), 0, SEEK_END) != 0) return -1;
  const long size = std::ftell(in.get());
  if (size < kWavHeaderBytes + 2L * settings.OGGNumChannels) return -1;
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  if (!v.Start(std::rand(), SourceTags)) return -1;

  ogg_packet identification, comment, codebook;
  if (vorbis_analysis_headerout(&v.vd, &v.vc, &identification, &comment, &codebook) != 0)
    return -1;
  ogg_stream_packetin(&v.os, &identification);
  ogg_stream_packetin(&v.os, &comment);
  ogg_stream_packetin(&v.os, &codebook);
  // The headers get pages of their own; the audio starts on a fresh page.
  ogg_page page;
  while (ogg_stream_flush(&v.os, &page) != 0)
    if (!WritePage(out.get(), page)) return -2;

  audio_set_config(1, 10);
  TAudioLibrary library(-1, 44100, 0x100);
  if (!library.Ready()) return -1;

  uint64_t done = 0;
  const int32_t base = TotalPosition;
  CurrentProgress = 0;

  {
    TSourceHandle measured(OpenFileOrCancel(wav));
    CurrentLength =
        TruncToInt(audio_bytes_to_seconds(measured.Get(), audio_get_length(measured.Get())));
  }
  library.Release();

  if (std::fseek(in.get(), kWavHeaderBytes, SEEK_SET) != 0) return -1;

  const int channels = settings.OGGNumChannels;
  const size_t frameBytes = 2 * static_cast<size_t>(channels);
  unsigned char chunk[kReadBytes];
  // Whole frames per read: with a channel count that does not divide the chunk, the bytes
  // left over would otherwise shift every later frame across the channels.
  const size_t readBytes = kReadBytes - kReadBytes % frameBytes;
  bool inputEnded = false;
  ogg_packet packet;
  while (!endOfStream) {
    const size_t n = std::fread(chunk, 1, readBytes, in.get());
    if (n == 0) {
      if (inputEnded) {
        // The library has given everything without marking a last page; what is left
        // goes out as it is rather than waiting for a mark that will not come.
        while (ogg_stream_flush(&v.os, &page) != 0)
          if (!WritePage(out.get(), page)) return -2;
        break;
      }
      vorbis_analysis_wrote(&v.vd, 0);  // end of input
      inputEnded = true;
    } else {
      const int frames = static_cast<int>(n / frameBytes);
      float** buffer = vorbis_analysis_buffer(&v.vd, frames);
      WavChunkToVorbis(chunk, frames, channels, buffer);
      CheckCancel();
      PassBreak(15);
      done += n;
      const float f = EncodedFraction(done, static_cast<uint64_t>(size));
      UpdateCounters(base, TruncToInt(static_cast<double>(CurrentLength) * f));
      // A tail shorter than one frame gives 0 frames, which ends the input right here.
      vorbis_analysis_wrote(&v.vd, frames);
      if (frames == 0) inputEnded = true;
    }

    while (vorbis_analysis_blockout(&v.vd, &v.vb) == 1) {
      vorbis_analysis(&v.vb, nullptr);
      vorbis_bitrate_addblock(&v.vb);
      while (vorbis_bitrate_flushpacket(&v.vd, &packet) == 1) {
        ogg_stream_packetin(&v.os, &packet);
        while (!endOfStream && ogg_stream_pageout(&v.os, &page) != 0) {
          if (!WritePage(out.get(), page)) return -2;
          if (ogg_page_eos(&page)) endOfStream = true;
        }
      }
    }
  }

  if (std::fclose(out.release()) != 0) return -2;
  in.reset();
  if (!partial.Commit()) return -2;
  return 1;
}
