// WMA file encoding: FFmpeg's wmav2 encoder writing into an ASF file.
//
// Three properties of the codec shape this file:
// - wmav2 takes planar float in frames of exactly frame_size samples (2048 at 44100 Hz) and
//   has no short last frame, so the tail is padded with silence;
// - FFmpeg's decoder drops the first frame_size samples of a stream and ASF has no field
//   that records such a delay, so every file starts with frame_size samples of silence;
//   the decoded file then begins exactly with the first sample written;
// - the ASF muxer pads every packet that cannot take the next frame whole, so the packet
//   size decides how close the file comes to its bitrate (PacketSize below).

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
}

#include "audio.h"
#include "ffmpeg_handles.h"

namespace {

constexpr uint32_t kMinBitrate = 24000;     // wmav2 refuses less
constexpr uint32_t kMinQuality = 25;
constexpr uint32_t kMaxQuality = 100;
constexpr uint32_t kLowestQualityBitrate = 48000;   // at quality 25
constexpr uint32_t kHighestQualityBitrate = 192000; // at quality 100
constexpr int kPacketTarget = 8192;        // bytes of one ASF data packet, at most
constexpr int kPayloadOverhead = 17;       // the muxer's header before each frame
constexpr int kPacketOverhead = 16;        // packet header (12 bytes) and slack

// The muxer never splits an audio frame over two packets, and pads a packet that cannot
// take the next frame whole. The default packet of 3200 bytes wastes so much that a
// 192 kbit/s file grows to the size of a 256 kbit/s one; a packet sized to a whole number
// of frames, at most 8 KB, leaves only the muxer's header of each frame.
int PacketSize(int blockAlign) {
  if (blockAlign <= 0) return kPacketTarget;
  const int perFrame = blockAlign + kPayloadOverhead;
  const int frames = std::max(1, (kPacketTarget - kPacketOverhead) / perFrame);
  return frames * perFrame + kPacketOverhead;
}

// A quality in percent (25..100) becomes a bitrate rising linearly with it; anything above
// 100 already is a bitrate in bit/s. 0 for a request that names neither.
uint32_t RequestToBitrate(uint32_t request) {
  if (request > kMaxQuality) return request;
  if (request < kMinQuality) return 0;
  return kLowestQualityBitrate + (request - kMinQuality) *
                                     (kHighestQualityBitrate - kLowestQualityBitrate) /
                                     (kMaxQuality - kMinQuality);
}

class WmaEncoder {
 public:
  // False when the codec or the file cannot be set up; the object is then discarded.
  bool Open(uint32_t freq, uint32_t chans, uint32_t bitrate, const char* path) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (!codec) return false;
    codec_.reset(avcodec_alloc_context3(codec));
    if (!codec_) return false;
    codec_->sample_rate = static_cast<int>(freq);
    codec_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    codec_->bit_rate = bitrate;
    av_channel_layout_default(&codec_->ch_layout, static_cast<int>(chans));
    codec_->time_base = AVRational{1, static_cast<int>(freq)};

    AVFormatContext* out = nullptr;
    if (avformat_alloc_output_context2(&out, nullptr, "asf", path) < 0 || !out) return false;
    output_.reset(out);
    if (output_->oformat->flags & AVFMT_GLOBALHEADER)
      codec_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(codec_.get(), codec, nullptr) < 0) return false;
    if (codec_->frame_size <= 0) return false;
    frameSize_ = codec_->frame_size;
    chans_ = chans;

    AVStream* stream = avformat_new_stream(output_.get(), nullptr);
    if (!stream) return false;
    if (avcodec_parameters_from_context(stream->codecpar, codec_.get()) < 0) return false;
    stream->time_base = codec_->time_base;
    stream_ = stream;

    // The "file:" prefix keeps a colon in a relative name from being read as a protocol.
    const std::string url = std::string("file:") + path;
    if (avio_open(&output_->pb, url.c_str(), AVIO_FLAG_WRITE) < 0) return false;
    createdFile_ = true;
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "packet_size", PacketSize(codec_->block_align), 0);
    const int headerResult = avformat_write_header(output_.get(), &options);
    av_dict_free(&options);
    if (headerResult < 0) return false;

    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!frame_ || !packet_) return false;
    // The lead-in that the decoder will drop.
    planes_.assign(chans_, std::vector<float>(static_cast<size_t>(frameSize_), 0.0f));
    return SendFrame();
  }

  // Interleaved 16-bit samples; bytes that do not complete a frame wait for the next call.
  bool Write(const uint8_t* data, uint32_t bytes) {
    if (failed_) return false;
    const uint32_t frameBytes = chans_ * 2;
    uint32_t i = 0;
    // Finish a frame split over two calls.
    while (!carry_.empty() && i < bytes) {
      carry_.push_back(data[i++]);
      if (carry_.size() == frameBytes) {
        if (!AddFrame(carry_.data())) return Fail();
        carry_.clear();
      }
    }
    for (; i + frameBytes <= bytes; i += frameBytes)
      if (!AddFrame(data + i)) return Fail();
    carry_.insert(carry_.end(), data + i, data + bytes);
    return true;
  }

  // True once the file exists on disk (an Open that failed late leaves it behind).
  bool CreatedFile() const { return createdFile_; }

  // Pads the last frame with silence, drains the codec and finishes the file.
  bool Close() {
    if (failed_) return false;
    if (!planes_.empty() && !planes_[0].empty()) {
      for (auto& plane : planes_) plane.resize(static_cast<size_t>(frameSize_), 0.0f);
      if (!SendFrame()) return Fail();
    }
    if (avcodec_send_frame(codec_.get(), nullptr) < 0) return Fail();
    if (!Drain()) return Fail();
    if (av_write_trailer(output_.get()) < 0) return Fail();
    // Closing does not report a write that failed earlier (a full disk); the context does.
    avio_flush(output_->pb);
    const bool writeFailed = output_->pb->error < 0;
    if (avio_closep(&output_->pb) < 0 || writeFailed) return Fail();
    return true;
  }

 private:
  bool Fail() {
    failed_ = true;
    return false;
  }

  bool AddFrame(const uint8_t* frame) {
    for (uint32_t c = 0; c < chans_; ++c) {
      const int16_t sample = static_cast<int16_t>(
          static_cast<uint16_t>(frame[2 * c]) | (static_cast<uint16_t>(frame[2 * c + 1]) << 8));
      planes_[c].push_back(static_cast<float>(sample) * (1.0f / 32768.0f));
    }
    if (planes_[0].size() == static_cast<size_t>(frameSize_)) return SendFrame();
    return true;
  }

  // Hands one full frame of planes_ to the codec and writes what comes out.
  bool SendFrame() {
    AVFrame* f = frame_.get();
    av_frame_unref(f);
    f->nb_samples = frameSize_;
    f->format = AV_SAMPLE_FMT_FLTP;
    f->sample_rate = codec_->sample_rate;
    if (av_channel_layout_copy(&f->ch_layout, &codec_->ch_layout) < 0) return false;
    if (av_frame_get_buffer(f, 0) < 0) return false;
    for (uint32_t c = 0; c < chans_; ++c) {
      std::memcpy(f->extended_data[c], planes_[c].data(),
                  static_cast<size_t>(frameSize_) * sizeof(float));
      planes_[c].clear();
    }
    f->pts = samplesSent_;
    samplesSent_ += frameSize_;
    if (avcodec_send_frame(codec_.get(), f) < 0) return false;
    return Drain();
  }

  bool Drain() {
    for (;;) {
      const int r = avcodec_receive_packet(codec_.get(), packet_.get());
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
      if (r < 0) return false;
      av_packet_rescale_ts(packet_.get(), codec_->time_base, stream_->time_base);
      packet_->stream_index = stream_->index;
      const int w = av_interleaved_write_frame(output_.get(), packet_.get());
      av_packet_unref(packet_.get());
      if (w < 0) return false;
    }
  }

  audio_detail::CodecPtr codec_;
  audio_detail::OutputPtr output_;
  audio_detail::FramePtr frame_;
  audio_detail::PacketPtr packet_;
  AVStream* stream_ = nullptr;  // owned by output_
  int frameSize_ = 0;
  uint32_t chans_ = 0;
  int64_t samplesSent_ = 0;
  std::vector<std::vector<float>> planes_;
  std::vector<uint8_t> carry_;
  bool failed_ = false;
  bool createdFile_ = false;
};

// The encoders of the calling thread, like the channels.
struct EncoderTable {
  uint32_t nextHandle = 1;
  std::unordered_map<uint32_t, std::unique_ptr<WmaEncoder>> encoders;
};

EncoderTable& Encoders() {
  thread_local EncoderTable table;
  return table;
}

}  // namespace

uint32_t wma_encode_open_file(uint32_t freq, uint32_t chans, uint32_t /*flags*/,
                              uint32_t bitrate_or_quality, const char* path) {
  if (!path || !*path || freq == 0 || chans == 0 || chans > 2) return 0;
  const uint32_t bitrate = RequestToBitrate(bitrate_or_quality);
  if (bitrate < kMinBitrate) return 0;
  auto encoder = std::make_unique<WmaEncoder>();
  if (!encoder->Open(freq, chans, bitrate, path)) {
    // Leave no half-made file behind.
    const bool created = encoder->CreatedFile();
    encoder.reset();
    if (created) std::remove(path);
    return 0;
  }
  EncoderTable& table = Encoders();
  uint32_t handle = table.nextHandle++;
  if (handle == 0) handle = table.nextHandle++;  // wrapped around
  table.encoders[handle] = std::move(encoder);
  return handle;
}

int wma_encode_write(uint32_t encoder, const void* buffer, uint32_t bytes) {
  EncoderTable& table = Encoders();
  const auto it = table.encoders.find(encoder);
  if (it == table.encoders.end() || (!buffer && bytes)) return 0;
  if (bytes == 0) return 1;
  return it->second->Write(static_cast<const uint8_t*>(buffer), bytes) ? 1 : 0;
}

int wma_encode_close(uint32_t encoder) {
  EncoderTable& table = Encoders();
  const auto it = table.encoders.find(encoder);
  if (it == table.encoders.end()) return 0;
  std::unique_ptr<WmaEncoder> owned = std::move(it->second);
  table.encoders.erase(it);
  return owned->Close() ? 1 : 0;
}
