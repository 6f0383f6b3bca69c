// Opening a source path for reading only when it is a regular file.
#pragma once

#include <sys/stat.h>

#include <string>

namespace audio_detail {

// A file descriptor that closes itself.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset();

 private:
  int fd_ = -1;
};

// Opens `path` read-only when it names a regular file, and fills `info` from the opened
// file. A FIFO, a pipe or a device in the list would block a plain open (a FIFO until a
// writer comes) or a read: the path is tested first, and the open itself does not block,
// so that a path swapped for a FIFO in between cannot block either; what was opened is
// then tested again. Reads of a regular file are not affected by the flag.
FileDescriptor open_regular_file_nonblocking(const std::string& path, struct stat* info = nullptr);

// Reads up to `bytes`, retrying interrupted and short reads; the count read, or -1.
long read_fully(int fd, void* buffer, unsigned long bytes);

}  // namespace audio_detail
