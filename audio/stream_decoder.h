// One FFmpeg input with its audio decoder, delivering 16-bit interleaved blocks at the
// stream's own rate and channel count.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ffmpeg_handles.h"

namespace audio_detail {

enum class InputKind {
  Stream,  // MP3, WAV, Ogg, FLAC and the other stream formats
  Asf,     // ASF/WMA
};

class StreamDecoder {
 public:
  StreamDecoder() = default;
  StreamDecoder(const StreamDecoder&) = delete;
  StreamDecoder& operator=(const StreamDecoder&) = delete;
  ~StreamDecoder() { av_channel_layout_uninit(&swr_layout_); }

  // False when the file is missing, not a regular file, not of `kind`, has no audio
  // stream or no decoder for it.
  bool open(const std::string& path, InputKind kind);

  // Appends the next decoded block to `out` (cleared first). False once nothing is left:
  // the decoder has been flushed and the converter drained.
  bool next_block(std::vector<uint8_t>& out);

  uint32_t rate() const { return rate_; }
  uint32_t chans() const { return chans_; }
  const char* format_name() const;
  AVFormatContext* input() const { return input_.get(); }
  int stream_index() const { return stream_; }
  // An Ogg Vorbis file: each link loses `starts` frames at its start and is cut to its
  // length in `frames` (both from its granule positions), as the decoder leaves the start
  // and end padding of every link in.
  void trim_links(std::vector<int64_t> frames, std::vector<int64_t> starts = {}) {
    link_frames_ = std::move(frames);
    link_starts_ = std::move(starts);
  }

  // Positions the decoder so that the next block begins exactly at sample `frame`. False
  // when the input cannot seek; after a true, seek_failed() tells whether the stamps of the
  // frames decoded there allowed the exact start (if not, the decoder has ended).
  bool seek_to(int64_t frame);
  bool seek_failed() const { return seek_failed_; }

  // Packets or frames the decoder rejected so far.
  uint64_t decode_errors() const { return decode_errors_; }

 private:
  bool feed();
  bool convert(AVFrame* frame, std::vector<uint8_t>& out);
  bool configure_converter(const AVFrame* frame, const AVChannelLayout& layout);
  void drain_converter(std::vector<uint8_t>& out);
  void trim_to_link(const AVFrame* frame, std::vector<uint8_t>& out, size_t start);
  bool skip_before_target(AVFrame* frame, int64_t& drop);

  InputPtr input_;
  CodecPtr codec_;
  FramePtr frame_;
  PacketPtr packet_;
  SwrPtr swr_;
  int stream_ = -1;
  uint32_t rate_ = 0;
  uint32_t chans_ = 0;
  bool flushing_ = false;
  bool finished_ = false;
  int flush_errors_ = 0;
  uint64_t decode_errors_ = 0;
  // What the converter was set up for; a stream may change its format midway.
  int swr_format_ = -1;
  int swr_rate_ = 0;
  AVChannelLayout swr_layout_{};
  // Links of a chain: their lengths, the one being decoded, frames delivered of it.
  std::vector<int64_t> link_frames_;
  std::vector<int64_t> link_starts_;
  size_t link_ = 0;
  int64_t link_delivered_ = 0;
  int64_t link_skipped_ = 0;
  bool link_has_audio_ = false;
  int64_t link_first_pts_ = AV_NOPTS_VALUE;
  // After a seek: the sample the next block must begin with, -1 when not seeking.
  int64_t skip_to_ = -1;
  bool seek_failed_ = false;
};

// The type of a Vorbis header packet (1 identification, 3 comment, 5 setup), 0 for audio.
int vorbis_header_type(const AVPacket& packet);

// Opens `path` for reading with FFmpeg, refusing anything but regular files and every
// protocol but plain files. Returns null on failure.
InputPtr open_input_file(const std::string& path);

}  // namespace audio_detail
