#include "source_io.h"

#include <errno.h>
#include <unistd.h>

#include <new>

#include "regular_file.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace audio_detail {
namespace {

constexpr int kBufferBytes = 65536;

struct SourceFile {
  FileDescriptor fd;
  int64_t size_at_open = 0;
  bool failed = false;
};

int read_source(void* opaque, uint8_t* buffer, int size) {
  auto* file = static_cast<SourceFile*>(opaque);
  const long got = read_fully(file->fd.get(), buffer, static_cast<unsigned long>(size));
  if (got < 0) {
    const int error = errno;
    file->failed = true;
    return AVERROR(error);
  }
  if (got == 0) {
    struct stat st {};
    if (::fstat(file->fd.get(), &st) != 0 || st.st_size < file->size_at_open) file->failed = true;
    return AVERROR_EOF;
  }
  return static_cast<int>(got);
}

int64_t seek_source(void* opaque, int64_t offset, int whence) {
  auto* file = static_cast<SourceFile*>(opaque);
  if (whence & AVSEEK_SIZE) {
    struct stat st {};
    return ::fstat(file->fd.get(), &st) == 0 ? static_cast<int64_t>(st.st_size) : AVERROR(errno);
  }
  const off_t at = ::lseek(file->fd.get(), offset, whence & ~AVSEEK_FORCE);
  return at < 0 ? AVERROR(errno) : static_cast<int64_t>(at);
}

}  // namespace

AVIOContext* open_source_io(const std::string& path) {
  struct stat st {};
  FileDescriptor fd = open_regular_file_nonblocking(path, &st);
  if (!fd || st.st_size <= 0) return nullptr;
  auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
  if (buffer == nullptr) return nullptr;
  auto* file = new (std::nothrow) SourceFile{std::move(fd), st.st_size, false};
  AVIOContext* io = file ? avio_alloc_context(buffer, kBufferBytes, 0, file, read_source,
                                              nullptr, seek_source)
                         : nullptr;
  if (io == nullptr) {
    av_free(buffer);
    delete file;
  }
  return io;
}

void free_source_io(AVIOContext* io) {
  if (io == nullptr) return;
  delete static_cast<SourceFile*>(io->opaque);
  av_freep(&io->buffer);
  avio_context_free(&io);
}

bool source_io_failed(const AVIOContext* io) {
  return io != nullptr && static_cast<const SourceFile*>(io->opaque)->failed;
}

}  // namespace audio_detail
