// Stream files (MP3, WAV, Ogg Vorbis, FLAC, ...) and ASF/WMA files decoded with FFmpeg.
//
// The length of a channel is learnt before the first byte is delivered, exact to the
// sample: from the packets' durations where the container states them (less the samples
// the decoder is told to skip for encoder delay and padding), otherwise by decoding the
// whole file once. The channel then delivers exactly that many bytes.
#include <algorithm>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavutil/intreadwrite.h>
}

#include "audio.h"
#include "channel.h"
#include "source_io.h"
#include "stream_decoder.h"
#include "ogg_vorbis_trim.h"
#include "vorbis_link_count.h"
#include "tag_detail.h"

namespace audio_detail {

namespace {

// Frames by which one Ogg packet's stamp may miss where the packet before it ended: a
// Vorbis packet decodes to at most 4096, and FFmpeg's durations can be off by a block where
// the block size changes at a page's edge.
constexpr int64_t kMinPacketSlack = 8192;

// One link's length from its granule positions.
int64_t ogg_link_frames(int64_t first_pts, int64_t last_end) {
  return std::max<int64_t>(0, last_end - std::max<int64_t>(0, first_pts));
}

// Packets read, or blocks decoded, between two calls of the progress callback while a
// length is counted.
constexpr int kPacketsPerReport = 1024;
constexpr int kBlocksPerReport = 16;
// count_frames_from_packets: the progress callback stopped the count.
constexpr int64_t kCountStopped = -2;

// Frames the decoder will deliver, judged from the packets alone; -1 when a packet has no
// duration, so that only decoding can tell.
//
// Ogg stamps each packet from the granule positions and the last one ends at the last
// granule position, which is the stream's true length when it starts at 0. Other
// containers: the sum of the durations, less the samples the decoder is told to drop for
// encoder delay and padding.
//
// A chained Ogg file is links one after the other, each restarting its granule positions;
// `links` receives the length of each, which the decoder trims each link to.
int64_t count_frames_from_packets(const std::string& path, int stream_index, uint32_t rate,
                                  std::vector<int64_t>& links) {
  links.clear();
  InputPtr input = open_input_file(path);
  if (!input || stream_index < 0 || stream_index >= static_cast<int>(input->nb_streams)) {
    return -1;
  }
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    if (static_cast<int>(i) != stream_index) input->streams[i]->discard = AVDISCARD_ALL;
  }
  const bool ogg = std::strcmp(input->iformat->name, "ogg") == 0;
  const AVRational time_base = input->streams[stream_index]->time_base;
  const AVRational sample_base{1, static_cast<int>(rate)};
  PacketPtr packet(av_packet_alloc());
  if (!packet || time_base.num <= 0 || time_base.den <= 0) return -1;
  // Stamps coarser than one sample (Matroska's milliseconds, say) cannot count samples.
  if (int64_t{time_base.num} * rate > time_base.den) return -1;

  int64_t frames = 0;
  int64_t front_left = 0;  // of the decoder's front skip
  int64_t first_pts = AV_NOPTS_VALUE;
  int64_t last_end = AV_NOPTS_VALUE;
  // Ogg Vorbis: what the packets of the current link decode to.
  VorbisLinkCount decoded;
  if (ogg) {
    const AVCodecParameters* params = input->streams[stream_index]->codecpar;
    decoded.start(params->extradata, params->extradata_size);
  }
  // The last page's granule position trims the link's last packet, but only it (so libvorbis
  // reads it): a position short of the packet's start leaves the packets before it whole,
  // and one past what the packets decode to adds nothing.
  const auto finish_link = [&] {
    if (last_end == AV_NOPTS_VALUE) return;
    int64_t length = ogg_link_frames(first_pts, last_end);
    if (decoded.valid()) {
      length = std::clamp(length, decoded.frames() - decoded.last_packet(), decoded.frames());
    }
    links.push_back(length);
  };
  for (int packets = 1; av_read_frame(input.get(), packet.get()) >= 0; ++packets) {
    if (packets % kPacketsPerReport == 0 && !keep_going()) return kCountStopped;
    if (packet->stream_index != stream_index) {
      av_packet_unref(packet.get());
      continue;
    }
    int64_t duration = packet->duration;
    const int64_t pts = packet->pts;
    // When the end trimming reaches back past the last packet's start, the Ogg demuxer's
    // 32-bit duration wraps; read as signed it still marks where the stream ends.
    if (ogg && duration > INT32_MAX && duration <= UINT32_MAX) {
      duration = static_cast<int32_t>(static_cast<uint32_t>(duration));
    }
    size_t side_size = 0;
    const uint8_t* side =
        av_packet_get_side_data(packet.get(), AV_PKT_DATA_SKIP_SAMPLES, &side_size);
    const bool skips = side != nullptr && side_size >= 10;
    const int64_t skip_front = skips ? static_cast<int32_t>(AV_RL32(side)) : 0;
    const int64_t skip_end = skips ? AV_RL32(side + 4) : 0;
    const int header = vorbis_header_type(*packet);
    if (ogg) {
      if (header == 0) decoded.add_audio(packet->data, packet->size);
      // The headers of a further link: its identification header ends the link before.
      if (header == 1) {
        finish_link();
        first_pts = last_end = AV_NOPTS_VALUE;
      }
      if (header != 0) decoded.add_header(packet->data, packet->size);
    }
    av_packet_unref(packet.get());
    if (ogg && header != 0) continue;
    if (ogg) {
      if (pts == AV_NOPTS_VALUE || duration > INT32_MAX) return -1;
      const int64_t start = av_rescale_q(pts, time_base, sample_base);
      // The demuxer stamps a page's packets back from the page's granule position, and the
      // last packet's duration reaches its page's granule position. A damaged one shows as
      // a jump between packets or, where the packets' own count cannot bound the end, as a
      // last packet longer than any; the packets themselves then decide, by decoding.
      const int64_t length = av_rescale_q(duration, time_base, sample_base);
      if (last_end != AV_NOPTS_VALUE && std::abs(start - last_end) > kMinPacketSlack) return -1;
      if (!decoded.valid() && std::abs(length) > kMinPacketSlack) return -1;
      if (first_pts == AV_NOPTS_VALUE) first_pts = start;
      last_end = start + length;
      continue;
    }
    if (duration <= 0 || duration > INT32_MAX) return -1;
    // The skips as the decoder applies them to the packet's frame: a front skip, once given,
    // runs on over the frames after until used up or replaced by the next packet that
    // carries skips; an end discard counts only when it fits in what the front skip left.
    int64_t samples = av_rescale_q(duration, time_base, sample_base);
    if (skips) front_left = std::max<int64_t>(0, skip_front);
    const int64_t cut = std::min(front_left, samples);
    front_left -= cut;
    samples -= cut;
    if (samples > 0 && skip_end > 0 && skip_end <= samples) samples -= skip_end;
    frames += samples;
  }
  if (ogg) {
    finish_link();
    int64_t total = 0;
    for (const int64_t link : links) total += link;
    return total;
  }
  return frames;
}

// Takes each link's start trim and length from the Ogg pages themselves where they can be
// followed, so a short first audio page trims the start as the Vorbis I format
// defines; `starts` stays empty when no link is trimmed at its start. False when the count
// was stopped.
bool trim_vorbis_links(const std::string& path, std::vector<int64_t>& links,
                       std::vector<int64_t>& starts, int64_t& frames) {
  starts.clear();
  std::vector<VorbisLinkTrim> trims;
  const VorbisTrimResult result = count_vorbis_link_trims(path, trims);
  if (result == VorbisTrimResult::Stopped) return false;
  if (result != VorbisTrimResult::Counted || trims.size() != links.size()) return true;
  frames = 0;
  bool any_start = false;
  for (size_t i = 0; i < trims.size(); ++i) {
    links[i] = trims[i].frames;
    frames += trims[i].frames;
    any_start = any_start || trims[i].start > 0;
  }
  if (any_start) {
    for (const VorbisLinkTrim& trim : trims) starts.push_back(trim.start);
  }
  return true;
}

int64_t count_frames_by_decoding(const std::string& path, InputKind kind, uint32_t chans) {
  StreamDecoder decoder;
  if (!decoder.open(path, kind) || decoder.chans() != chans) return -1;
  std::vector<uint8_t> block;
  int64_t bytes = 0;
  for (int blocks = 1; decoder.next_block(block); ++blocks) {
    bytes += static_cast<int64_t>(block.size());
    if (blocks % kBlocksPerReport == 0 && !keep_going()) return -1;
  }
  if (source_io_failed(decoder.input()->pb)) return -1;
  return bytes / (int64_t{chans} * 2);
}

class FfmpegChannel final : public Channel {
 public:
  bool open(const std::string& path, bool wma, int64_t known_frames = -1) {
    const InputKind kind = wma ? InputKind::Asf : InputKind::Stream;
    if (!decoder_.open(path, kind)) return false;
    path_ = path;
    rate = decoder_.rate();
    chans = decoder_.chans();
    ctype = wma ? AUDIO_CTYPE_WMA : AUDIO_CTYPE_STREAM;

    // ASF stamps packets in whole milliseconds, so only decoding gives the exact count.
    std::vector<int64_t> links;
    int64_t frames = known_frames >= 0 ? known_frames
                     : wma ? -1
                           : count_frames_from_packets(path, decoder_.stream_index(), rate, links);
    if (frames == kCountStopped) return false;
    std::vector<int64_t> starts;
    if (frames >= 0 && !links.empty() && !trim_vorbis_links(path, links, starts, frames)) return false;
    if (frames >= 0 && (links.size() > 1 || !starts.empty())) {
      decoder_.trim_links(std::move(links), std::move(starts));
    }
    if (frames < 0) frames = count_frames_by_decoding(path, kind, chans);
    if (frames < 0) return false;
    length_bytes = static_cast<uint64_t>(frames) * frame_bytes();

    // A file whose packets do not decode at all is not audio of this kind (random bytes
    // can look like a stream to the probe); another opener may still take it. A file whose
    // packets decode cleanly to no samples is an honest empty one.
    decoder_done_ = !decoder_.next_block(pending_);
    if (decoder_done_ && (length_bytes > 0 || decoder_.decode_errors() > 0)) return false;
    if (length_bytes == 0) mark_drained();
    return true;
  }

  uint64_t padded_bytes() const override { return padded_bytes_; }

  bool seek_frame(uint64_t frame) override {
    const uint64_t at = frame * frame_bytes();
    if (at > length_bytes) return false;
    if (at == delivered_ && pending_used_ == 0) return true;  // already there
    if (!decoder_.seek_to(static_cast<int64_t>(frame))) return false;
    pending_.clear();
    pending_used_ = 0;
    decoder_done_ = !decoder_.next_block(pending_);
    if (decoder_.seek_failed()) return false;
    delivered_ = at;
    if (delivered_ >= length_bytes) mark_drained();
    return true;
  }

  void read_tags(SongTags& tags) const override { ReadFileTags(path_, tags); }

 protected:
  int64_t decode(uint8_t* buffer, uint32_t bytes) override {
    const uint64_t left = length_bytes - delivered_;
    const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(bytes, left));
    uint32_t filled = 0;
    while (filled < want) {
      if (pending_used_ < pending_.size()) {
        const size_t take = std::min<size_t>(want - filled, pending_.size() - pending_used_);
        std::memcpy(buffer + filled, pending_.data() + pending_used_, take);
        pending_used_ += take;
        filled += static_cast<uint32_t>(take);
      } else if (!decoder_done_) {
        pending_used_ = 0;
        decoder_done_ = !decoder_.next_block(pending_);
      } else if (source_io_failed(decoder_.input()->pb)) {
        // The file shrank or could not be read while it was decoded: the rest of the song
        // is lost, and silence in its place would pass for a whole conversion.
        return -1;
      } else {
        // Corrupt packets decoded to less than the packets promised: silence keeps the
        // delivered length equal to the reported one.
        std::memset(buffer + filled, 0, want - filled);
        padded_bytes_ += want - filled;
        filled = want;
      }
    }
    delivered_ += filled;
    if (delivered_ >= length_bytes) mark_drained();
    return filled;
  }

 private:
  StreamDecoder decoder_;
  std::string path_;
  std::vector<uint8_t> pending_;
  size_t pending_used_ = 0;
  bool decoder_done_ = false;
  uint64_t delivered_ = 0;
  uint64_t padded_bytes_ = 0;
};

}  // namespace

std::shared_ptr<Channel> open_ffmpeg_channel(const std::string& path, bool wma) {
  auto channel = std::make_shared<FfmpegChannel>();
  if (!channel->open(path, wma)) return nullptr;
  return channel;
}

std::shared_ptr<Channel> open_ffmpeg_channel_of_length(const std::string& path, int64_t frames) {
  auto channel = std::make_shared<FfmpegChannel>();
  if (!channel->open(path, false, frames)) return nullptr;
  return channel;
}

}  // namespace audio_detail
