#include "render_file.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "audio.h"

namespace audio_detail {
namespace {

constexpr size_t kBufferBytes = 1u << 20;
// Room left beside a kept song for everything else the conversion writes there.
constexpr uint64_t kReserveBytes = 64u << 20;
constexpr uint64_t kCloseAsideBytes = 64u << 20;

std::mutex folderMutex;
std::string renderFolder;

FileDescriptor OpenUnnamed(const std::string& folder) {
  if (folder.empty()) return FileDescriptor();
  FileDescriptor fd(open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (fd) return fd;
  // File systems without unnamed files: a named one, unlinked at once.
  std::string name = folder + "/.orvik-render-XXXXXX";
  FileDescriptor named(mkostemp(name.data(), O_CLOEXEC));
  if (named) unlink(name.c_str());
  return named;
}

}  // namespace

void set_render_folder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(folderMutex);
  renderFolder = folder;
}

std::shared_ptr<RenderFile> RenderFile::create() {
  std::string folder;
  {
    std::lock_guard<std::mutex> lock(folderMutex);
    folder = renderFolder;
  }
  FileDescriptor fd = OpenUnnamed(folder);
  if (!fd) {
    const char* tmp = std::getenv("TMPDIR");
    fd = OpenUnnamed(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
  }
  if (!fd) return nullptr;
  return std::make_shared<RenderFile>(std::move(fd));
}

RenderFile::~RenderFile() {
  // Closing the last descriptor frees the file's blocks, which for an hour of sound takes
  // the file system a tenth of a second or more: done aside, so the caller does not wait.
  if (size_ >= kCloseAsideBytes) {
    const int fd = fd_.release();
    try {
      std::thread([fd] { close(fd); }).detach();
    } catch (...) {
      close(fd);
    }
  }
}

bool RenderFile::append(const void* data, size_t bytes) {
  if (failed_) return false;
  const auto* p = static_cast<const uint8_t*>(data);
  buffer_.insert(buffer_.end(), p, p + bytes);
  size_ += bytes;
  if (buffer_.size() >= kBufferBytes && !flush()) failed_ = true;
  return !failed_;
}

bool RenderFile::flush() {
  size_t done = 0;
  while (done < buffer_.size()) {
    const ssize_t n = write(fd_.get(), buffer_.data() + done, buffer_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  buffer_.clear();
  // The WAV made from the song is about as large as the song kept here: both must fit.
  struct statvfs disk;
  if (fstatvfs(fd_.get(), &disk) != 0) return false;
  const uint64_t free = static_cast<uint64_t>(disk.f_bavail) * disk.f_frsize;
  return free >= size_ + kReserveBytes;
}

bool RenderFile::finish() {
  if (!failed_ && !buffer_.empty() && !flush()) failed_ = true;
  return !failed_;
}

bool RenderFile::read(uint64_t offset, void* out, size_t bytes) const {
  auto* p = static_cast<uint8_t*>(out);
  size_t done = 0;
  while (done < bytes) {
    const ssize_t n = pread(fd_.get(), p + done, bytes - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace audio_detail

void audio_set_render_folder(const char* folder) {
  audio_detail::set_render_folder(folder != nullptr ? folder : "");
}
