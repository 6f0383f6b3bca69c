// What the packets of one Vorbis link decode to, counted from the block sizes its setup
// header declares, packet by packet in order. FFmpeg's own packet durations cannot serve:
// its demuxer forgets the previous block size at a page's edge and counts the first packet,
// which sounds nothing.
#pragma once

#include <cstdint>
#include <vector>

struct AVVorbisParseContext;

namespace audio_detail {

class VorbisLinkCount {
 public:
  VorbisLinkCount() = default;
  VorbisLinkCount(const VorbisLinkCount&) = delete;
  VorbisLinkCount& operator=(const VorbisLinkCount&) = delete;
  ~VorbisLinkCount();

  // Starts a link from its three headers in Xiph lacing, as FFmpeg keeps them.
  void start(const uint8_t* extradata, int size);
  // Starts a link from its header packets as they come: identification, comment, setup.
  void add_header(const uint8_t* data, int size);
  void add_audio(const uint8_t* data, int size);

  // False when the headers could not be read or a packet not counted: the counts say nothing.
  bool valid() const { return parser_ != nullptr && valid_; }
  // Frames of the whole link, and of its last packet alone.
  int64_t frames() const { return frames_; }
  int64_t last_packet() const { return last_; }

 private:
  void reset();

  AVVorbisParseContext* parser_ = nullptr;
  std::vector<uint8_t> headers_[2];  // identification and comment, until the setup comes
  bool valid_ = false;
  bool first_ = true;
  int64_t frames_ = 0;
  int64_t last_ = 0;
};

}  // namespace audio_detail
