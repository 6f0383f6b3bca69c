// EncodeFLAC: the temporary WAV, already at the FLAC rate and channel count, into a FLAC file
// through libFLAC, with the source's tags as Vorbis comments and its cover as a PICTURE
// block.

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>
#include <stdio.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "audio.h"
#include "codecs/convfunc.h"
#include "codecs/encodeprogress.h"
#include "codecs/partialfile.h"
#include "codecs/passhooks.h"
#include "codecs/picturegeometry.h"
#include "codecs/truncate.h"
#include "codecs/wavpasses.h"
#include "stdio_file.h"

namespace {

constexpr size_t kFramesPerPass = 4096;
constexpr uint32_t kSeekPointSeconds = 10;  // as the reference encoder places them
constexpr uint32_t kPaddingBytes = 8192;    // room to edit the tags later without a rewrite
// A metadata block's length field has 24 bits.
constexpr size_t kMaxBlockBytes = (1u << 24) - 1;

struct FlacEncoderDelete {
  void operator()(FLAC__StreamEncoder* e) const { FLAC__stream_encoder_delete(e); }
};
using FlacEncoderPtr = std::unique_ptr<FLAC__StreamEncoder, FlacEncoderDelete>;

// The metadata blocks handed to the encoder, which only borrows them: they must outlive it.
class TFlacMetadata {
 public:
  TFlacMetadata() = default;
  ~TFlacMetadata() {
    for (FLAC__StreamMetadata* block : blocks_) FLAC__metadata_object_delete(block);
  }
  TFlacMetadata(const TFlacMetadata&) = delete;
  TFlacMetadata& operator=(const TFlacMetadata&) = delete;

  FLAC__StreamMetadata* Add(FLAC__MetadataType type) {
    FLAC__StreamMetadata* block = FLAC__metadata_object_new(type);
    if (block) blocks_.push_back(block);
    return block;
  }
  // Drops the block added last (one that turned out unusable).
  void DropLast() {
    FLAC__metadata_object_delete(blocks_.back());
    blocks_.pop_back();
  }
  FLAC__StreamMetadata** Blocks() { return blocks_.data(); }
  unsigned Count() const { return static_cast<unsigned>(blocks_.size()); }

 private:
  std::vector<FLAC__StreamMetadata*> blocks_;
};

// The rates and channel counts FLAC can store, and the nine levels; anything else is a hand
// edit of config.cfg and refused rather than encoded as something else.
bool SettingsUsable(const TOptions& s) {
  return (s.FLACNumChannels == 1 || s.FLACNumChannels == 2) && s.FLACFreq > 0 &&
         s.FLACFreq <= static_cast<int32_t>(FLAC__MAX_SAMPLE_RATE) && s.FLACLevel >= 0 &&
         s.FLACLevel <= 8;
}

// The source's tags as Vorbis comments, the cover as a front-cover PICTURE block, seek
// points and padding. False when libFLAC cannot hold a block (out of memory).
bool BuildMetadata(const SongTags& tags, uint32_t rate, uint64_t frames, TFlacMetadata& meta) {
  VorbisComments comments;
  if (!audio_vorbis_comments(tags, &comments)) return false;
  if (!comments.empty()) {
    FLAC__StreamMetadata* block = meta.Add(FLAC__METADATA_TYPE_VORBIS_COMMENT);
    if (!block) return false;
    for (const auto& [name, value] : comments) {
      // The cover goes into a PICTURE block of its own, where FLAC readers look for it.
      if (name == "METADATA_BLOCK_PICTURE") continue;
      // A field libFLAC will not take (a value that is not UTF-8) is left out rather than
      // the song.
      FLAC__StreamMetadata_VorbisComment_Entry entry;
      if (!FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, name.c_str(),
                                                                          value.c_str()))
        continue;
      if (!FLAC__metadata_object_vorbiscomment_append_comment(block, entry, false)) {
        std::free(entry.entry);
        return false;
      }
    }
  }
  const SongPicture& cover = tags.cover;
  if (!cover.data.empty() &&
      cover.data.size() + cover.mime.size() + cover.description.size() + 32 <= kMaxBlockBytes) {
    FLAC__StreamMetadata* block = meta.Add(FLAC__METADATA_TYPE_PICTURE);
    if (!block) return false;
    block->data.picture.type = FLAC__STREAM_METADATA_PICTURE_TYPE_FRONT_COVER;
    if (const auto geometry = PictureGeometry(cover.data)) {
      block->data.picture.width = geometry->width;
      block->data.picture.height = geometry->height;
      block->data.picture.depth = geometry->depth;
      block->data.picture.colors = geometry->colors;
    }
    std::string mime = cover.mime, description = cover.description;
    std::vector<FLAC__byte> data(cover.data.begin(), cover.data.end());
    if (!FLAC__metadata_object_picture_set_mime_type(block, mime.data(), true) ||
        !FLAC__metadata_object_picture_set_description(
            block, reinterpret_cast<FLAC__byte*>(description.data()), true) ||
        !FLAC__metadata_object_picture_set_data(block, data.data(),
                                                static_cast<FLAC__uint32>(data.size()), true))
      return false;
    // A MIME type or description FLAC cannot hold would make the encoder refuse the whole
    // file; the song is kept without its cover instead.
    const char* violation = nullptr;
    if (!FLAC__metadata_object_picture_is_legal(block, &violation)) meta.DropLast();
  }
  FLAC__StreamMetadata* seek = meta.Add(FLAC__METADATA_TYPE_SEEKTABLE);
  if (!seek ||
      !FLAC__metadata_object_seektable_template_append_spaced_points_by_samples(
          seek, kSeekPointSeconds * rate, frames) ||
      !FLAC__metadata_object_seektable_template_sort(seek, true))
    return false;
  FLAC__StreamMetadata* padding = meta.Add(FLAC__METADATA_TYPE_PADDING);
  if (!padding) return false;
  padding->length = kPaddingBytes;
  return true;
}

// Where the encoder's bytes go: the partial file, with every write checked so that a full
// disk fails the conversion. libFLAC seeks back at the end to complete the stream header
// and the seek table.
struct TFlacSink {
  FILE* file = nullptr;
  bool failed = false;
};

FLAC__StreamEncoderWriteStatus WriteBytes(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                          size_t bytes, uint32_t, uint32_t, void* data) {
  auto* sink = static_cast<TFlacSink*>(data);
  if (std::fwrite(buffer, 1, bytes, sink->file) != bytes) {
    sink->failed = true;
    return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
  }
  return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}

FLAC__StreamEncoderSeekStatus SeekTo(const FLAC__StreamEncoder*, FLAC__uint64 offset,
                                     void* data) {
  auto* sink = static_cast<TFlacSink*>(data);
  if (::fseeko(sink->file, static_cast<off_t>(offset), SEEK_SET) != 0) {
    sink->failed = true;
    return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
  }
  return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
}

FLAC__StreamEncoderTellStatus TellWhere(const FLAC__StreamEncoder*, FLAC__uint64* offset,
                                        void* data) {
  const off_t at = ::ftello(static_cast<TFlacSink*>(data)->file);
  if (at < 0) return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
  *offset = static_cast<FLAC__uint64>(at);
  return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

FlacEncoderPtr SetUpEncoder(const TOptions& s, uint64_t frames, TFlacMetadata& meta) {
  FlacEncoderPtr encoder(FLAC__stream_encoder_new());
  if (!encoder) return nullptr;
  FLAC__StreamEncoder* e = encoder.get();
  const bool ok =
      FLAC__stream_encoder_set_channels(e, static_cast<uint32_t>(s.FLACNumChannels)) &&
      FLAC__stream_encoder_set_bits_per_sample(e, 16) &&
      FLAC__stream_encoder_set_sample_rate(e, static_cast<uint32_t>(s.FLACFreq)) &&
      FLAC__stream_encoder_set_compression_level(e, static_cast<uint32_t>(s.FLACLevel)) &&
      FLAC__stream_encoder_set_total_samples_estimate(e, frames) &&
      FLAC__stream_encoder_set_metadata(e, meta.Blocks(), meta.Count());
  if (!ok) return nullptr;
  return encoder;
}

}  // namespace

int32_t TConvFunc::EncodeFLAC(const std::string& wav, const std::string& destination,
                              TOptions settings) {
  if (!SettingsUsable(settings)) return -1;
  const int channels = settings.FLACNumChannels;
  TWavPasses in(wav, channels, settings.FLACFreq);
  if (!in.Ready()) return -1;

  Stage = STAGE_FLAC;

  TPartialFile partial(destination);
  // New and empty: not truncated, which would make closing it write it all out first.
  FilePtr out(partial.Created() ? std::fopen(partial.Path().c_str(), "r+b") : nullptr);
  if (!out) return -2;
  TFlacSink sink{out.get()};

  // Declared before the encoder, which borrows the blocks until it is deleted.
  TFlacMetadata meta;
  if (!BuildMetadata(SourceTags, static_cast<uint32_t>(settings.FLACFreq), in.Frames(), meta))
    return -3;
  FlacEncoderPtr encoder = SetUpEncoder(settings, in.Frames(), meta);
  if (!encoder) return -3;
  if (FLAC__stream_encoder_init_stream(encoder.get(), WriteBytes, SeekTo, TellWhere, nullptr,
                                       &sink) != FLAC__STREAM_ENCODER_INIT_STATUS_OK)
    return sink.failed ? -2 : -3;

  const int32_t base = TotalPosition;
  CurrentProgress = 0;
  CurrentLength = TruncToInt(static_cast<double>(in.Frames()) / settings.FLACFreq);

  std::vector<int16_t> pcm(kFramesPerPass * static_cast<size_t>(channels));
  std::vector<FLAC__int32> wide(pcm.size());
  for (;;) {
    CheckCancel();
    PassBreak(10);
    UpdateCounters(base, TruncToInt(static_cast<double>(CurrentLength) *
                                    EncodedFraction(in.Done(), in.Size())));
    const size_t frames = in.Read(pcm.data(), kFramesPerPass);
    if (frames == 0) break;
    const size_t samples = frames * static_cast<size_t>(channels);
    for (size_t i = 0; i < samples; ++i) wide[i] = pcm[i];
    if (!FLAC__stream_encoder_process_interleaved(encoder.get(), wide.data(),
                                                  static_cast<uint32_t>(frames)))
      return sink.failed ? -2 : -3;
  }
  if (in.Failed()) return -1;
  // finish flushes the last frame and goes back to complete the header with the length,
  // the MD5 signature and the seek points.
  if (!FLAC__stream_encoder_finish(encoder.get())) return sink.failed ? -2 : -3;
  if (sink.failed) return -2;
  encoder.reset();
  if (std::fclose(out.release()) != 0) return -2;
  if (!partial.Commit()) return -2;
  return 0;
}
