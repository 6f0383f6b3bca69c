// The I/O through which FFmpeg reads a source file: a regular file opened without blocking,
// which also notices when the file shrinks or fails while it is read.
#pragma once

#include <string>

extern "C" {
#include <libavformat/avio.h>
}

namespace audio_detail {

// An I/O context reading `path`, or null when it is no regular file or is empty. Freed with
// free_source_io (the input's deleter does so for an input opened on it).
AVIOContext* open_source_io(const std::string& path);
void free_source_io(AVIOContext* io);

// True once a read failed, or the end came before the size the file had when opened: what
// was decoded is then not the whole source.
bool source_io_failed(const AVIOContext* io);

}  // namespace audio_detail
