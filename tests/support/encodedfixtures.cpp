#include "encodedfixtures.h"

#include <lame/lame.h>
#include <vorbis/vorbisenc.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

struct LameCloser {
  void operator()(lame_global_flags* gf) const { lame_close(gf); }
};

bool WriteAll(FILE* f, const unsigned char* data, size_t size) {
  return size == 0 || std::fwrite(data, 1, size, f) == size;
}

}  // namespace

bool WriteMp3Fixture(const std::string& path, uint32_t rate, uint16_t chans,
                     const std::vector<int16_t>& samples, int kbps, bool vbr,
                     bool writeXingTag) {
  if (chans < 1 || chans > 2) return false;
  std::unique_ptr<lame_global_flags, LameCloser> lame(lame_init());
  if (!lame) return false;
  lame_set_num_channels(lame.get(), chans);
  lame_set_in_samplerate(lame.get(), static_cast<int>(rate));
  lame_set_out_samplerate(lame.get(), static_cast<int>(rate));
  lame_set_mode(lame.get(), chans == 1 ? MONO : JOINT_STEREO);
  lame_set_quality(lame.get(), 7);  // fast; the fixtures test reading, not sound quality
  lame_set_write_id3tag_automatic(lame.get(), 0);
  lame_set_bWriteVbrTag(lame.get(), writeXingTag ? 1 : 0);
  if (vbr) {
    lame_set_VBR(lame.get(), vbr_default);
    lame_set_VBR_q(lame.get(), 4);
  } else {
    lame_set_VBR(lame.get(), vbr_off);
    lame_set_brate(lame.get(), kbps);
  }
  if (lame_init_params(lame.get()) < 0) return false;

  FilePtr file(std::fopen(path.c_str(), "wb+"));
  if (!file) return false;
  const size_t frames = samples.size() / chans;
  std::vector<unsigned char> out(frames * 5 / 4 + 7200 + 16384);
  constexpr size_t kChunk = 4096;
  std::vector<int16_t> mono_right(kChunk, 0);
  for (size_t at = 0; at < frames; at += kChunk) {
    const int n = static_cast<int>(std::min(kChunk, frames - at));
    int made = 0;
    if (chans == 2) {
      made = lame_encode_buffer_interleaved(lame.get(), const_cast<short*>(samples.data() + at * 2),
                                            n, out.data(), static_cast<int>(out.size()));
    } else {
      made = lame_encode_buffer(lame.get(), samples.data() + at, mono_right.data(), n,
                                out.data(), static_cast<int>(out.size()));
    }
    if (made < 0 || !WriteAll(file.get(), out.data(), static_cast<size_t>(made))) return false;
  }
  const int last = lame_encode_flush(lame.get(), out.data(), static_cast<int>(out.size()));
  if (last < 0 || !WriteAll(file.get(), out.data(), static_cast<size_t>(last))) return false;
  if (writeXingTag) {
    // The first frame was reserved for the tag; now that the counts are known, fill it in.
    unsigned char tag[2880];
    const size_t size = lame_get_lametag_frame(lame.get(), tag, sizeof tag);
    if (size == 0 || size > sizeof tag || std::fseek(file.get(), 0, SEEK_SET) != 0 ||
        !WriteAll(file.get(), tag, size)) {
      return false;
    }
  }
  return std::fflush(file.get()) == 0;
}

bool WriteOggFixture(const std::string& path, uint32_t rate, uint16_t chans,
                     const std::vector<int16_t>& samples, int serial) {
  if (chans < 1) return false;
  FilePtr file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;

  vorbis_info info;
  vorbis_info_init(&info);
  if (vorbis_encode_init_vbr(&info, chans, static_cast<long>(rate), 0.4f) != 0) {
    vorbis_info_clear(&info);
    return false;
  }
  vorbis_comment comment;
  vorbis_comment_init(&comment);
  vorbis_dsp_state dsp;
  vorbis_block block;
  vorbis_analysis_init(&dsp, &info);
  vorbis_block_init(&dsp, &block);
  ogg_stream_state stream;
  ogg_stream_init(&stream, serial);

  bool ok = true;
  ogg_page page;
  ogg_packet header, header_comment, header_code;
  vorbis_analysis_headerout(&dsp, &comment, &header, &header_comment, &header_code);
  ogg_stream_packetin(&stream, &header);
  ogg_stream_packetin(&stream, &header_comment);
  ogg_stream_packetin(&stream, &header_code);
  while (ok && ogg_stream_flush(&stream, &page) != 0) {
    ok = WriteAll(file.get(), page.header, page.header_len) &&
         WriteAll(file.get(), page.body, page.body_len);
  }

  const size_t frames = samples.size() / chans;
  size_t at = 0;
  bool eos = false;
  while (ok && !eos) {
    const size_t n = std::min<size_t>(1024, frames - at);
    if (n == 0) {
      vorbis_analysis_wrote(&dsp, 0);
    } else {
      float** buffer = vorbis_analysis_buffer(&dsp, static_cast<int>(n));
      for (size_t i = 0; i < n; ++i) {
        for (uint16_t c = 0; c < chans; ++c) {
          buffer[c][i] = samples[(at + i) * chans + c] / 32768.0f;
        }
      }
      vorbis_analysis_wrote(&dsp, static_cast<int>(n));
      at += n;
    }
    while (ok && vorbis_analysis_blockout(&dsp, &block) == 1) {
      vorbis_analysis(&block, nullptr);
      vorbis_bitrate_addblock(&block);
      ogg_packet packet;
      while (ok && vorbis_bitrate_flushpacket(&dsp, &packet) == 1) {
        ogg_stream_packetin(&stream, &packet);
        while (ok && !eos && ogg_stream_pageout(&stream, &page) != 0) {
          ok = WriteAll(file.get(), page.header, page.header_len) &&
               WriteAll(file.get(), page.body, page.body_len);
          eos = ogg_page_eos(&page) != 0;
        }
      }
    }
    if (n == 0) {
      // Whatever the last pageout left behind goes out with the final flush.
      while (ok && ogg_stream_flush(&stream, &page) != 0) {
        ok = WriteAll(file.get(), page.header, page.header_len) &&
             WriteAll(file.get(), page.body, page.body_len);
      }
      eos = true;
    }
  }

  ogg_stream_clear(&stream);
  vorbis_block_clear(&block);
  vorbis_dsp_clear(&dsp);
  vorbis_comment_clear(&comment);
  vorbis_info_clear(&info);
  return ok && std::fflush(file.get()) == 0;
}

namespace {

struct OutputCloser {
  void operator()(AVFormatContext* ctx) const {
    if (ctx->pb != nullptr) avio_closep(&ctx->pb);
    avformat_free_context(ctx);
  }
};
struct EncoderCloser {
  void operator()(AVCodecContext* ctx) const { avcodec_free_context(&ctx); }
};
struct FrameCloser {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketCloser {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};

bool DrainEncoder(AVCodecContext* enc, AVFormatContext* out, AVStream* stream, AVPacket* pkt) {
  for (;;) {
    const int got = avcodec_receive_packet(enc, pkt);
    if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return true;
    if (got < 0) return false;
    av_packet_rescale_ts(pkt, enc->time_base, stream->time_base);
    pkt->stream_index = stream->index;
    if (av_interleaved_write_frame(out, pkt) < 0) return false;
  }
}

}  // namespace

namespace {

// One sample of `samples` (or silence past its end) stored in the encoder's format.
void PutSample(AVFrame* frame, AVSampleFormat format, int chans, int index, int channel,
               int16_t value) {
  const bool planar = av_sample_fmt_is_planar(format) != 0;
  const int slot = planar ? index : index * chans + channel;
  uint8_t* base = frame->data[planar ? channel : 0];
  switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_S16: reinterpret_cast<int16_t*>(base)[slot] = value; break;
    case AV_SAMPLE_FMT_S32: reinterpret_cast<int32_t*>(base)[slot] = int32_t{value} * 65536; break;
    case AV_SAMPLE_FMT_FLT: reinterpret_cast<float*>(base)[slot] = value / 32768.0f; break;
    case AV_SAMPLE_FMT_DBL: reinterpret_cast<double*>(base)[slot] = value / 32768.0; break;
    default: break;
  }
}

}  // namespace

bool WriteFfmpegFixture(const std::string& path, const std::string& container,
                        const std::string& codecName, uint32_t rate, uint16_t chans,
                        const std::vector<int16_t>& samples, int bitrate, int extraSilentFrames) {
  if (chans < 1 || chans > 8) return false;
  const AVCodec* codec = avcodec_find_encoder_by_name(codecName.c_str());
  if (codec == nullptr || codec->sample_fmts == nullptr) return false;
  const AVSampleFormat format = codec->sample_fmts[0];
  if (av_get_packed_sample_fmt(format) == AV_SAMPLE_FMT_U8) return false;
  AVFormatContext* raw = nullptr;
  if (avformat_alloc_output_context2(&raw, nullptr, container.c_str(), path.c_str()) < 0) {
    return false;
  }
  std::unique_ptr<AVFormatContext, OutputCloser> out(raw);
  AVStream* stream = avformat_new_stream(out.get(), nullptr);
  std::unique_ptr<AVCodecContext, EncoderCloser> enc(avcodec_alloc_context3(codec));
  if (stream == nullptr || !enc) return false;
  enc->sample_fmt = format;
  enc->sample_rate = static_cast<int>(rate);
  if (bitrate > 0) enc->bit_rate = bitrate;
  av_channel_layout_default(&enc->ch_layout, chans);
  enc->time_base = AVRational{1, static_cast<int>(rate)};
  if (out->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (avcodec_open2(enc.get(), codec, nullptr) < 0) return false;
  if (avcodec_parameters_from_context(stream->codecpar, enc.get()) < 0) return false;
  stream->time_base = enc->time_base;
  if (avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) return false;
  if (avformat_write_header(out.get(), nullptr) < 0) return false;

  std::unique_ptr<AVFrame, FrameCloser> frame(av_frame_alloc());
  std::unique_ptr<AVPacket, PacketCloser> pkt(av_packet_alloc());
  if (!frame || !pkt) return false;
  const bool any_size = (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0;
  const int frame_size = enc->frame_size > 0 && !any_size ? enc->frame_size : 4096;
  const bool short_last =
      any_size || (codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0;
  const size_t frames =
      samples.size() / chans + static_cast<size_t>(extraSilentFrames) * frame_size;
  int64_t pts = 0;
  for (size_t at = 0; at < frames; at += static_cast<size_t>(frame_size)) {
    const int n = static_cast<int>(std::min<size_t>(frame_size, frames - at));
    av_frame_unref(frame.get());
    frame->format = enc->sample_fmt;
    frame->sample_rate = enc->sample_rate;
    frame->nb_samples = short_last ? n : frame_size;
    if (av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout) < 0 ||
        av_frame_get_buffer(frame.get(), 0) < 0) {
      return false;
    }
    for (int i = 0; i < frame->nb_samples; ++i) {
      for (uint16_t c = 0; c < chans; ++c) {
        const size_t k = (at + static_cast<size_t>(i)) * chans + c;
        PutSample(frame.get(), format, chans, i, c, i < n && k < samples.size() ? samples[k] : 0);
      }
    }
    frame->pts = pts;
    pts += frame->nb_samples;
    if (avcodec_send_frame(enc.get(), frame.get()) < 0 ||
        !DrainEncoder(enc.get(), out.get(), stream, pkt.get())) {
      return false;
    }
  }
  if (avcodec_send_frame(enc.get(), nullptr) < 0 ||
      !DrainEncoder(enc.get(), out.get(), stream, pkt.get())) {
    return false;
  }
  return av_write_trailer(out.get()) == 0;
}

bool WriteWmaFixture(const std::string& path, uint32_t rate, uint16_t chans,
                     const std::vector<int16_t>& samples, int bitrate) {
  if (chans < 1 || chans > 2) return false;
  // The wmav2 decoder gives back one frame less than was encoded; a trailing frame of
  // silence keeps the whole tone decodable.
  return WriteFfmpegFixture(path, "asf", "wmav2", rate, chans, samples, bitrate, 1);
}
