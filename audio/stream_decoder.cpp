#include "stream_decoder.h"

#include "source_io.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/opt.h>
}

namespace audio_detail {

namespace {

constexpr uint32_t kMaxChannels = 32;
constexpr int kMaxRate = 1000000;
// No audio file is sampled this slowly; a header that claims it would, converted to a
// usual rate, expand a small file into tens of gigabytes.
constexpr int kMinRate = 1000;
constexpr int kMaxFlushErrors = 64;

bool is_asf_format(const char* name) {
  return std::strcmp(name, "asf") == 0 || std::strcmp(name, "asf_o") == 0;
}

// Formats the stream opener leaves to other openers (tracker modules, MIDI) or never
// takes, because they pull in further files or addresses named inside them.
bool is_refused_stream_format(const char* name) {
  static const char* const refused[] = {"libopenmpt", "libmodplug", "midi", "hls",
                                        "applehttp",  "concat",     "dash", "imf",
                                        "webm_dash_manifest"};
  for (const char* r : refused) {
    if (std::strcmp(name, r) == 0) return true;
  }
  return is_asf_format(name);
}

void layout_of(const AVChannelLayout& given, int channels, AVChannelLayout* out) {
  // WAV files often leave the layout unspecified; the default layout of the count stands in.
  if (given.order != AV_CHANNEL_ORDER_UNSPEC && given.nb_channels == channels &&
      av_channel_layout_copy(out, &given) == 0) {
    return;
  }
  av_channel_layout_default(out, channels);
}

}  // namespace

InputPtr open_input_file(const std::string& path) {
  // FFmpeg reads through an I/O of our own, so that only a regular file is ever opened,
  // and without blocking.
  AVIOContext* io = open_source_io(path);
  if (io == nullptr) return nullptr;
  AVFormatContext* raw = avformat_alloc_context();
  if (raw == nullptr) {
    free_source_io(io);
    return nullptr;
  }
  raw->pb = io;
  raw->flags |= AVFMT_FLAG_CUSTOM_IO;
  AVDictionary* raw_options = nullptr;
  av_dict_set(&raw_options, "protocol_whitelist", "file", 0);
  std::unique_ptr<AVDictionary, DictDeleter> options(raw_options);
  // The name only guides the probe by its extension; the "file:" prefix keeps a colon in
  // it from being read as a protocol.
  const std::string url = "file:" + path;
  raw_options = options.release();
  const int opened = avformat_open_input(&raw, url.c_str(), nullptr, &raw_options);
  options.reset(raw_options);
  if (opened < 0) {  // FFmpeg frees the context itself on failure, but not our I/O
    free_source_io(io);
    return nullptr;
  }
  InputPtr input(raw);
  if (avformat_find_stream_info(input.get(), nullptr) < 0) return nullptr;
  return input;
}

int vorbis_header_type(const AVPacket& packet) {
  const bool header = packet.size >= 7 && (packet.data[0] & 1) != 0 &&
                      std::memcmp(packet.data + 1, "vorbis", 6) == 0;
  return header ? packet.data[0] : 0;
}

const char* StreamDecoder::format_name() const {
  return input_ && input_->iformat && input_->iformat->name ? input_->iformat->name : "";
}

bool StreamDecoder::open(const std::string& path, InputKind kind) {
  input_ = open_input_file(path);
  if (!input_) return false;
  const char* name = format_name();
  if (kind == InputKind::Asf ? !is_asf_format(name) : is_refused_stream_format(name)) {
    return false;
  }
  const AVCodec* decoder = nullptr;
  stream_ = av_find_best_stream(input_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
  if (stream_ < 0 || decoder == nullptr) return false;
  AVStream* stream = input_->streams[stream_];
  // Only the audio stream is read; the demuxer may skip the rest cheaply.
  for (unsigned i = 0; i < input_->nb_streams; ++i) {
    if (static_cast<int>(i) != stream_) input_->streams[i]->discard = AVDISCARD_ALL;
  }

  codec_.reset(avcodec_alloc_context3(decoder));
  if (!codec_ || avcodec_parameters_to_context(codec_.get(), stream->codecpar) < 0) {
    return false;
  }
  codec_->pkt_timebase = stream->time_base;
  if (codec_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC && codec_->ch_layout.nb_channels > 0) {
    const int count = codec_->ch_layout.nb_channels;
    av_channel_layout_uninit(&codec_->ch_layout);
    av_channel_layout_default(&codec_->ch_layout, count);
  }
  // FFmpeg can misplace the end trim of Vorbis in Ogg by a block when it guesses the first
  // page's timestamps, cutting real samples. The channel trims to the last granule
  // position itself, so the decoder is told to keep everything.
  if (std::strcmp(name, "ogg") == 0 && decoder->id == AV_CODEC_ID_VORBIS) {
    codec_->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;
  }
  if (avcodec_open2(codec_.get(), decoder, nullptr) < 0) return false;

  const int channels = codec_->ch_layout.nb_channels;
  if (channels <= 0 || channels > static_cast<int>(kMaxChannels) || codec_->sample_rate < kMinRate ||
      codec_->sample_rate > kMaxRate) {
    return false;
  }
  rate_ = static_cast<uint32_t>(codec_->sample_rate);
  chans_ = static_cast<uint32_t>(channels);

  frame_.reset(av_frame_alloc());
  packet_.reset(av_packet_alloc());
  return frame_ && packet_;
}

// Reads packets until one of the audio stream is accepted by the decoder. At the end of
// the input, or on a read error, the decoder is told to flush. False once flushing.
bool StreamDecoder::feed() {
  while (!flushing_) {
    if (av_read_frame(input_.get(), packet_.get()) < 0) {
      // A read error ends the stream just as the end of the file does: what was decoded
      // so far is delivered, nothing more is attempted.
      avcodec_send_packet(codec_.get(), nullptr);
      flushing_ = true;
      break;
    }
    const bool ours = packet_->stream_index == stream_;
    if (ours && !link_frames_.empty()) {
      // Every frame of the link before has been received by now: the decoder asks for a
      // packet only when it has nothing left to give.
      const int header = vorbis_header_type(*packet_);
      if (header == 1 && link_has_audio_) {
        ++link_;
        link_delivered_ = 0;
        link_skipped_ = 0;
        link_has_audio_ = false;
      } else if (header == 0 && !link_has_audio_) {
        link_has_audio_ = true;
        link_first_pts_ = packet_->pts;
      }
    }
    const int sent = ours ? avcodec_send_packet(codec_.get(), packet_.get()) : -1;
    av_packet_unref(packet_.get());
    // A packet the decoder rejects as corrupt is dropped; the next one may decode.
    if (ours && (sent == 0 || sent == AVERROR(EAGAIN))) return true;
    if (ours) ++decode_errors_;
  }
  return false;
}

bool StreamDecoder::next_block(std::vector<uint8_t>& out) {
  out.clear();
  while (!finished_) {
    const int received = avcodec_receive_frame(codec_.get(), frame_.get());
    if (received == 0) {
      const bool ok = convert(frame_.get(), out);
      av_frame_unref(frame_.get());
      if (!ok) {
        finished_ = true;
        break;
      }
      if (!out.empty()) return true;
      continue;
    }
    if (received == AVERROR_EOF) {
      finished_ = true;
      continue;
    }
    if (received != AVERROR(EAGAIN)) ++decode_errors_;
    if (flushing_) {
      // After the flush request only frames or the end should come. EAGAIN means nothing
      // more will; an error is one bad frame, and a run of them ends the stream.
      if (received == AVERROR(EAGAIN) || ++flush_errors_ > kMaxFlushErrors) finished_ = true;
      continue;
    }
    // EAGAIN wants input; any other error was one bad frame, and the next packet may decode.
    feed();
  }
  drain_converter(out);
  return !out.empty();
}

bool StreamDecoder::seek_to(int64_t frame) {
  // Chained Ogg links restart their stamps, so a stamp names no place in the whole file.
  if (!input_ || !link_frames_.empty() || frame < 0 || rate_ == 0) return false;
  // Only lossless codecs stamp every frame with its first sample and decode it alone; a
  // lossy one after a seek may lack its encoder delay or the overlap of the frame before.
  switch (codec_->codec_id) {
    case AV_CODEC_ID_FLAC: case AV_CODEC_ID_WAVPACK: case AV_CODEC_ID_APE:
    case AV_CODEC_ID_TTA: case AV_CODEC_ID_ALAC: case AV_CODEC_ID_PCM_S16LE:
    case AV_CODEC_ID_PCM_S16BE: case AV_CODEC_ID_PCM_S24LE: case AV_CODEC_ID_PCM_S24BE:
    case AV_CODEC_ID_PCM_S32LE: case AV_CODEC_ID_PCM_F32LE: case AV_CODEC_ID_PCM_U8:
      break;
    default:
      return false;
  }
  const AVStream* stream = input_->streams[stream_];
  const int64_t stamp = av_rescale_q_rnd(frame, AVRational{1, static_cast<int>(rate_)},
                                         stream->time_base, AV_ROUND_DOWN);
  if (av_seek_frame(input_.get(), stream_, stamp, AVSEEK_FLAG_BACKWARD) < 0) return false;
  avcodec_flush_buffers(codec_.get());
  swr_.reset();
  swr_format_ = -1;
  flushing_ = finished_ = false;
  flush_errors_ = 0;
  skip_to_ = frame;
  seek_failed_ = false;
  return true;
}

// After a seek, drops what comes before the sample asked for. Only frames whose stamps are
// exact samples can say where that is; a frame that begins past it, or bears no stamp,
// fails the seek (the caller then decodes from the start).
bool StreamDecoder::skip_before_target(AVFrame* frame, int64_t& drop) {
  drop = 0;
  if (skip_to_ < 0) return true;
  const int64_t stamp = frame->best_effort_timestamp != AV_NOPTS_VALUE
                            ? frame->best_effort_timestamp : frame->pts;
  if (stamp == AV_NOPTS_VALUE || frame->sample_rate != static_cast<int>(rate_)) {
    seek_failed_ = true;
    return false;
  }
  const int64_t first = av_rescale_q(stamp, codec_->pkt_timebase,
                                     AVRational{1, static_cast<int>(rate_)});
  if (first > skip_to_) {
    seek_failed_ = true;
    return false;
  }
  drop = std::min<int64_t>(skip_to_ - first, frame->nb_samples);
  if (drop < frame->nb_samples) skip_to_ = -1;
  return true;
}

bool StreamDecoder::configure_converter(const AVFrame* frame, const AVChannelLayout& layout) {
  if (swr_ && swr_format_ == frame->format && swr_rate_ == frame->sample_rate &&
      av_channel_layout_compare(&swr_layout_, &layout) == 0) {
    return true;
  }
  AVChannelLayout out_layout{};
  av_channel_layout_default(&out_layout, static_cast<int>(chans_));
  SwrContext* raw = nullptr;
  const int made = swr_alloc_set_opts2(&raw, &out_layout, AV_SAMPLE_FMT_S16,
                                       static_cast<int>(rate_),
                                       const_cast<AVChannelLayout*>(&layout),
                                       static_cast<AVSampleFormat>(frame->format),
                                       frame->sample_rate, 0, nullptr);
  av_channel_layout_uninit(&out_layout);
  SwrPtr swr(raw);
  if (made < 0 || !swr || swr_init(swr.get()) < 0) return false;
  swr_ = std::move(swr);
  swr_format_ = frame->format;
  swr_rate_ = frame->sample_rate;
  av_channel_layout_uninit(&swr_layout_);
  return av_channel_layout_copy(&swr_layout_, &layout) == 0;
}

bool StreamDecoder::convert(AVFrame* frame, std::vector<uint8_t>& out) {
  const int count = frame->nb_samples;
  const int channels = frame->ch_layout.nb_channels;
  if (count <= 0) return true;
  if (channels <= 0 || channels > static_cast<int>(kMaxChannels) || frame->sample_rate <= 0 ||
      frame->sample_rate > kMaxRate) {
    return false;
  }
  const size_t frame_bytes = size_t{chans_} * 2;
  int64_t drop = 0;
  if (!skip_before_target(frame, drop)) return false;
  if (drop >= count) return true;
  const size_t kept_from = out.size() + static_cast<size_t>(drop) * frame_bytes;
  const auto drop_front = [&](size_t start) {
    if (drop > 0) out.erase(out.begin() + static_cast<std::ptrdiff_t>(start),
                            out.begin() + static_cast<std::ptrdiff_t>(std::min(kept_from, out.size())));
  };
  // The common case needs no conversion at all: 16-bit interleaved at the stream's shape.
  if (!swr_ && frame->format == AV_SAMPLE_FMT_S16 && channels == static_cast<int>(chans_) &&
      frame->sample_rate == static_cast<int>(rate_)) {
    const size_t bytes = static_cast<size_t>(count) * frame_bytes;
    out.insert(out.end(), frame->data[0], frame->data[0] + bytes);
    trim_to_link(frame, out, out.size() - bytes);
    drop_front(out.size() - bytes);
    return true;
  }
  AVChannelLayout layout{};
  layout_of(frame->ch_layout, channels, &layout);
  if (swr_ && (swr_format_ != frame->format || swr_rate_ != frame->sample_rate ||
               av_channel_layout_compare(&swr_layout_, &layout) != 0)) {
    drain_converter(out);  // keep what the old shape still held
    swr_.reset();
  }
  const bool ready = configure_converter(frame, layout);
  av_channel_layout_uninit(&layout);
  if (!ready) return false;
  const int room = swr_get_out_samples(swr_.get(), count);
  if (room < 0) return false;
  const size_t start = out.size();
  out.resize(start + static_cast<size_t>(room) * frame_bytes);
  uint8_t* target = out.data() + start;
  const int made = swr_convert(swr_.get(), &target, room,
                               const_cast<const uint8_t**>(frame->extended_data), count);
  if (made < 0) {
    out.resize(start);
    return false;
  }
  out.resize(start + static_cast<size_t>(made) * frame_bytes);
  trim_to_link(frame, out, start);
  // Same rate in and out: the converter keeps no samples back, so the frame's first
  // samples are the first ones made.
  drop_front(start);
  return true;
}

// Keeps of the frames appended to `out` from `start` only those inside the current link.
// A Vorbis link's first audio packet only primes the overlap and sounds nothing, but the
// decoder, set up anew by a later link's headers, gives it a block of output: dropped.
// The frame carries its packet's stamp, which tells it apart whatever the stamps' origin.
// The frames its first audio page's granule position leaves out come next: dropped.
// Past the link's length comes the encoder's end padding: dropped too.
void StreamDecoder::trim_to_link(const AVFrame* frame, std::vector<uint8_t>& out, size_t start) {
  if (link_frames_.empty()) return;
  const size_t frame_bytes = size_t{chans_} * 2;
  int64_t frames = static_cast<int64_t>((out.size() - start) / frame_bytes);
  const bool primer = link_ > 0 && link_delivered_ == 0 && frame->pts == link_first_pts_;
  const int64_t skip_total = link_ < link_starts_.size() ? link_starts_[link_] : 0;
  if (!primer && link_skipped_ < skip_total) {
    const int64_t skip = std::min(skip_total - link_skipped_, frames);
    const auto from = out.begin() + static_cast<std::ptrdiff_t>(start);
    out.erase(from, from + static_cast<std::ptrdiff_t>(skip * static_cast<int64_t>(frame_bytes)));
    link_skipped_ += skip;
    frames -= skip;
  }
  const int64_t length = link_ < link_frames_.size() ? link_frames_[link_] : 0;
  const int64_t keep = primer ? 0 : std::clamp<int64_t>(length - link_delivered_, 0, frames);
  out.resize(start + static_cast<size_t>(keep) * frame_bytes);
  link_delivered_ += keep;
}

void StreamDecoder::drain_converter(std::vector<uint8_t>& out) {
  if (!swr_) return;
  const size_t frame_bytes = size_t{chans_} * 2;
  for (;;) {
    const int room = swr_get_out_samples(swr_.get(), 0);
    if (room <= 0) break;
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(room) * frame_bytes);
    uint8_t* target = out.data() + start;
    const int made = swr_convert(swr_.get(), &target, room, nullptr, 0);
    out.resize(start + static_cast<size_t>(made > 0 ? made : 0) * frame_bytes);
    if (made <= 0) break;
  }
}

}  // namespace audio_detail
