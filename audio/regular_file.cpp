#include "regular_file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace audio_detail {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    reset();
    fd_ = other.release();
  }
  return *this;
}

void FileDescriptor::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

FileDescriptor open_regular_file_nonblocking(const std::string& path, struct stat* info) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  if (info != nullptr) *info = st;
  return fd;
}

long read_fully(int fd, void* buffer, unsigned long bytes) {
  unsigned long done = 0;
  while (done < bytes) {
    const ssize_t n = ::read(fd, static_cast<char*>(buffer) + done, bytes - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<unsigned long>(n);
  }
  return static_cast<long>(done);
}

}  // namespace audio_detail
