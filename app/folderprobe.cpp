#include "folderprobe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>

namespace {

// Removes the probe file on every way out of CanCreateFileIn.
class TProbeFile {
 public:
  TProbeFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  TProbeFile(const TProbeFile&) = delete;
  TProbeFile& operator=(const TProbeFile&) = delete;
  ~TProbeFile() {
    if (fd_ < 0) return;
    ::close(fd_);
    ::unlink(path_.c_str());
  }
  bool created() const { return fd_ >= 0; }

 private:
  std::string path_;
  int fd_;
};

std::string ProbeName() {
  static std::atomic<unsigned> counter{0};
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  char name[96];
  std::snprintf(name, sizeof name, ".orvik-write-test-%ld-%u-%llx", static_cast<long>(::getpid()),
                counter.fetch_add(1), static_cast<unsigned long long>(ticks));
  return name;
}

}  // namespace

bool CanCreateFileIn(const std::string& folder) {
  if (folder.empty() || folder.find('\0') != std::string::npos) return false;
  const std::string base = folder.back() == '/' ? folder : folder + "/";
  // A name taken meanwhile by someone else only costs another try.
  for (int attempt = 0; attempt < 8; ++attempt) {
    const std::string path = base + ProbeName();
    TProbeFile probe(path, ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (probe.created()) return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

TFolderProblem FolderSettingProblem(const std::string& folder) {
  if (folder.size() > kMaxFolderBytes) return TFolderProblem::TooLong;
  if (folder.find('=') != std::string::npos) return TFolderProblem::EqualsSign;
  if (folder.find_first_of("\r\n") != std::string::npos) return TFolderProblem::LineEnd;
  return TFolderProblem::None;
}

std::string WithoutTrailingSeparator(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}
