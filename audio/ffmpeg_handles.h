// Owning pointers for the FFmpeg objects the audio layer holds, so that every exit path
// releases them.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

namespace audio_detail {

void free_source_io(AVIOContext* io);  // source_io.h

// An input context together with the source I/O it reads through, when it has its own.
struct InputDeleter {
  void operator()(AVFormatContext* ctx) const {
    AVIOContext* io = (ctx->flags & AVFMT_FLAG_CUSTOM_IO) ? ctx->pb : nullptr;
    avformat_close_input(&ctx);
    free_source_io(io);
  }
};
struct CodecDeleter {
  void operator()(AVCodecContext* ctx) const { avcodec_free_context(&ctx); }
};
struct FrameDeleter {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct SwrDeleter {
  void operator()(SwrContext* ctx) const { swr_free(&ctx); }
};
struct DictDeleter {
  void operator()(AVDictionary* dict) const { av_dict_free(&dict); }
};
// An output format context together with the file it opened.
struct OutputDeleter {
  void operator()(AVFormatContext* ctx) const {
    if (ctx->pb && !(ctx->oformat->flags & AVFMT_NOFILE)) avio_closep(&ctx->pb);
    avformat_free_context(ctx);
  }
};

using InputPtr = std::unique_ptr<AVFormatContext, InputDeleter>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;
using OutputPtr = std::unique_ptr<AVFormatContext, OutputDeleter>;

}  // namespace audio_detail
