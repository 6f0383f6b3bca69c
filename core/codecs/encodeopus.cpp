// EncodeOpus: the temporary WAV, already at 48000 Hz and the Opus channel count, into an Ogg
// Opus file through libopus and libopusenc.
//
// libopusenc rather than Ogg framing of our own: it writes the pre-skip of the encoder's
// look-ahead into the header and gives the last page the granule position of the true end,
// so every decoder trims both ends and gives back exactly the samples put in; it pages the
// stream as players expect and writes OpusTags, pictures included.

#include <opus/opusenc.h>

#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "audio.h"
#include "codecs/convfunc.h"
#include "codecs/encodeprogress.h"
#include "codecs/freespace.h"
#include "codecs/partialfile.h"
#include "codecs/passhooks.h"
#include "codecs/truncate.h"
#include "codecs/wavpasses.h"
#include "stdio_file.h"

namespace {

constexpr int32_t kOpusRate = 48000;
constexpr size_t kFramesPerPass = 4096;
constexpr int kFrontCover = 3;
constexpr int kComplexity = 10;  // the reference encoder's default: its quality, its speed

struct CommentsDestroy {
  void operator()(OggOpusComments* c) const { ope_comments_destroy(c); }
};
using CommentsPtr = std::unique_ptr<OggOpusComments, CommentsDestroy>;
struct EncoderDestroy {
  void operator()(OggOpusEnc* e) const { ope_encoder_destroy(e); }
};
using OpusEncoderPtr = std::unique_ptr<OggOpusEnc, EncoderDestroy>;

// libopus codes 6 to 510 kbit/s; the dialog offers 32 to 256. A count or bitrate outside
// (a hand edit of config.cfg) is refused rather than encoded as something else.
bool SettingsUsable(const TOptions& s) {
  return (s.OpusNumChannels == 1 || s.OpusNumChannels == 2) && s.OpusBitrate >= 6 &&
         s.OpusBitrate <= 510;
}

// The source's tags as OpusTags. The cover goes in through libopusenc, which reads the
// picture's size and colour depth from the image; one it cannot read (not JPEG, PNG or GIF)
// still goes in, as the picture block the audio layer renders.
CommentsPtr BuildComments(const SongTags& tags) {
  VorbisComments comments;
  if (!audio_vorbis_comments(tags, &comments)) return nullptr;
  CommentsPtr out(ope_comments_create());
  if (!out) return nullptr;
  for (const auto& [name, value] : comments) {
    if (name == "METADATA_BLOCK_PICTURE") {
      const auto& data = tags.cover.data;
      if (ope_comments_add_picture_from_memory(
              out.get(), reinterpret_cast<const char*>(data.data()), data.size(), kFrontCover,
              tags.cover.description.c_str()) == OPE_OK)
        continue;
    }
    if (ope_comments_add(out.get(), name.c_str(), value.c_str()) != OPE_OK) return nullptr;
  }
  return out;
}

// Where libopusenc's pages go: the partial file, every write checked so that a full disk
// fails the conversion.
struct TOpusSink {
  FILE* file = nullptr;
  bool failed = false;
};

int WritePage(void* data, const unsigned char* bytes, opus_int32 length) {
  auto* sink = static_cast<TOpusSink*>(data);
  const auto n = static_cast<size_t>(length);
  if (std::fwrite(bytes, 1, n, sink->file) != n) sink->failed = true;
  return sink->failed ? 1 : 0;
}

// The file is closed by its owner, where the result of the last write is seen.
int KeepOpen(void*) { return 0; }

OpusEncoderPtr SetUpEncoder(const TOptions& s, OggOpusComments* comments, TOpusSink* sink) {
  static const OpusEncCallbacks callbacks = {WritePage, KeepOpen};
  int error = OPE_OK;
  // Family 0: one stream, mono or stereo, as every Opus player takes it.
  OpusEncoderPtr encoder(ope_encoder_create_callbacks(&callbacks, sink, comments, kOpusRate,
                                                      s.OpusNumChannels, 0, &error));
  if (!encoder || error != OPE_OK) return nullptr;
  OggOpusEnc* e = encoder.get();
  // libopusenc draws the stream's serial number from rand(), unseeded unless someone else
  // seeded it: every file would carry the same one, and two of them could not be chained.
  const auto serial = static_cast<int>(std::random_device{}() & 0x7fffffff);
  bool ok = ope_encoder_ctl(e, OPE_SET_SERIALNO(serial)) == OPE_OK &&
            ope_encoder_ctl(e, OPUS_SET_BITRATE(s.OpusBitrate * 1000)) == OPE_OK &&
            ope_encoder_ctl(e, OPUS_SET_COMPLEXITY(kComplexity)) == OPE_OK &&
            // The samples are 16-bit: no bits are spent on detail below their last one.
            ope_encoder_ctl(e, OPUS_SET_LSB_DEPTH(16)) == OPE_OK &&
            ope_encoder_ctl(e, OPUS_SET_VBR(s.OpusUseVBR ? 1 : 0)) == OPE_OK;
  // Variable: the bits go where the music needs them, as the reference encoder does by
  // default. Constant: every packet the same size.
  if (s.OpusUseVBR) ok = ok && ope_encoder_ctl(e, OPUS_SET_VBR_CONSTRAINT(0)) == OPE_OK;
  if (!ok) return nullptr;
  return encoder;
}

}  // namespace

int32_t TConvFunc::EncodeOpus(const std::string& wav, const std::string& destination,
                              TOptions settings) {
  if (!SettingsUsable(settings)) return -1;
  const int channels = settings.OpusNumChannels;
  TWavPasses in(wav, channels, kOpusRate);
  if (!in.Ready()) return -1;

  Stage = STAGE_OPUS;

  // At a constant bitrate the size is known before the first byte: a file that cannot fit
  // fails now rather than after filling the disk. A variable bitrate has no such bound.
  const double seconds = static_cast<double>(in.Frames()) / kOpusRate;
  if (!settings.OpusUseVBR &&
      !FitsFreeSpace(destination, static_cast<uint64_t>(seconds * settings.OpusBitrate * 125)))
    return -2;

  TPartialFile partial(destination);
  // New and empty: not truncated, which would make closing it write it all out first.
  FilePtr out(partial.Created() ? std::fopen(partial.Path().c_str(), "r+b") : nullptr);
  if (!out) return -2;
  TOpusSink sink{out.get()};

  CommentsPtr comments = BuildComments(SourceTags);
  if (!comments) return -3;
  OpusEncoderPtr encoder = SetUpEncoder(settings, comments.get(), &sink);
  if (!encoder) return -3;

  const int32_t base = TotalPosition;
  CurrentProgress = 0;
  CurrentLength = TruncToInt(seconds);

  std::vector<int16_t> pcm(kFramesPerPass * static_cast<size_t>(channels));
  for (;;) {
    CheckCancel();
    PassBreak(10);
    UpdateCounters(base, TruncToInt(static_cast<double>(CurrentLength) *
                                    EncodedFraction(in.Done(), in.Size())));
    const size_t frames = in.Read(pcm.data(), kFramesPerPass);
    if (frames == 0) break;
    if (ope_encoder_write(encoder.get(), pcm.data(), static_cast<int>(frames)) != OPE_OK)
      return sink.failed ? -2 : -3;
    if (sink.failed) return -2;
  }
  if (in.Failed()) return -1;
  // Encodes what the look-ahead still holds and writes the last page, whose granule
  // position marks the true end.
  if (ope_encoder_drain(encoder.get()) != OPE_OK) return sink.failed ? -2 : -3;
  if (sink.failed) return -2;
  encoder.reset();
  if (std::fclose(out.release()) != 0) return -2;
  if (!partial.Commit()) return -2;
  return 0;
}
