#include "main/temporarywav.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "codecs/options.h"
#include "main/paths.h"

namespace {

constexpr const char* kWavName = "tmp100000.wav";
constexpr const char* kSpareName = "tmp100001.wav";
constexpr const char* kPrivatePrefix = "copy-";
// In a folder other programs share ($XDG_RUNTIME_DIR), a name nobody else would use.
constexpr const char* kScratchPrefix = "orvik-converter-copy-";

// temp/ open, made 0700 when missing, when it is a folder of this user's and not a link;
// -1 otherwise. A temp/ of this user's that others may write into (made by an older
// version with the umask's mode) is closed to them first: the program's files go there.
int OpenOwnTemp(const std::string& temp) {
  ::mkdir(temp.c_str(), 0700);
  const int fd = ::open(temp.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0 || info.st_uid != ::geteuid()) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) ::fchmod(fd, info.st_mode & 0755);
  return fd;
}

bool TryLock(int fd) { return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0; }

}  // namespace

TTemporaryWavClaim::TTemporaryWavClaim(std::string tempFolder) : temp_(std::move(tempFolder)) {
  path_ = temp_ + kWavName;
  const int fd = OpenOwnTemp(temp_);
  if (fd >= 0) {
    RemoveDeadPrivateFolders(temp_, kPrivatePrefix);
    if (TryLock(fd)) {
      lock_ = fd;
      return;
    }
    ::close(fd);
    private_ = TPrivateFolder::Make(temp_, kPrivatePrefix);
  } else {
    // Not a temp/ to trust: a private folder where this user keeps scratch folders.
    const std::string scratch = PerUserScratchFolder();
    if (!scratch.empty()) {
      RemoveDeadPrivateFolders(scratch, kScratchPrefix);
      private_ = TPrivateFolder::Make(scratch, kScratchPrefix);
    }
  }
  if (private_) path_ = private_->Named() + "/" + kWavName;
}

TTemporaryWavClaim::~TTemporaryWavClaim() {
  private_.reset();  // goes with its files
  if (lock_ >= 0) ::close(lock_);
}

int TTemporaryWavClaim::FolderFd() const { return Private() ? private_->Descriptor() : lock_; }

bool TTemporaryWavClaim::StillHeld() const {
  const int fd = FolderFd();
  if (fd < 0) return true;  // nothing held: nothing to lose either
  struct stat held {}, named {};
  const std::string folder = Private() ? private_->Named() : temp_;
  return ::fstat(fd, &held) == 0 && ::lstat(folder.c_str(), &named) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

void TTemporaryWavClaim::RemoveFiles() const {
  const int fd = FolderFd();
  if (fd < 0) return;
  ::unlinkat(fd, kWavName, 0);
  ::unlinkat(fd, kSpareName, 0);
  // The WAVs of the other conversion slots of a batch and their spare names.
  for (int n = 2; n < 2 * MaxBatchJobs(); ++n)
    ::unlinkat(fd, ("tmp" + std::to_string(100000 + n) + ".wav").c_str(), 0);
}

namespace {
std::unique_ptr<TTemporaryWavClaim>& ProcessClaim() {
  static std::unique_ptr<TTemporaryWavClaim> claim;
  return claim;
}
}  // namespace

std::string ClaimedTemporaryWavPath() {
  const std::string temp = ProgramDir() + "temp/";
  std::unique_ptr<TTemporaryWavClaim>& claim = ProcessClaim();
  if (!claim || claim->TempFolder() != temp || !claim->StillHeld()) {
    claim.reset();
    claim = std::make_unique<TTemporaryWavClaim>(temp);
  }
  return claim->Path();
}

void ReleaseTemporaryWav() {
  std::unique_ptr<TTemporaryWavClaim>& claim = ProcessClaim();
  struct stat info {};
  // Without a claim and without temp/ there is nothing of this copy's to remove.
  if (!claim && ::stat((ProgramDir() + "temp").c_str(), &info) != 0) return;
  ClaimedTemporaryWavPath();
  claim->RemoveFiles();
  claim.reset();
}
