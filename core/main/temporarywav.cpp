#include "main/temporarywav.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "codecs/options.h"
#include "main/paths.h"

namespace {

constexpr const char* kWavName = "tmp100000.wav";
constexpr const char* kSpareName = "tmp100001.wav";
constexpr const char* kPrivatePrefix = "copy-";

// The folder open for locking, or -1.
int OpenFolder(const std::string& folder) {
  return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

bool TryLock(int fd) { return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0; }

// Removes every file in the folder open as `fd` (only files are made there), then the
// folder itself by its path.
void RemoveFolderWithFiles(int fd, const std::string& folder) {
  const int listing = ::dup(fd);
  if (listing < 0) return;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(listing), ::closedir);
  if (!dir) {
    ::close(listing);
    return;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  for (const std::string& name : names) ::unlinkat(fd, name.c_str(), 0);
  ::rmdir(folder.c_str());
}

// The private folders of copies that have ended: nobody holds their lock any more.
void RemoveEndedPrivateFolders(const std::string& temp) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(temp.c_str()), ::closedir);
  if (!dir) return;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name.rfind(kPrivatePrefix, 0) == 0) names.push_back(name);
  }
  dir.reset();
  for (const std::string& name : names) {
    const int fd = OpenFolder(temp + name);
    if (TryLock(fd)) RemoveFolderWithFiles(fd, temp + name);
    if (fd >= 0) ::close(fd);
  }
}

// A locked private folder "copy-XXXXXX/" in `temp`, its descriptor in `fd`; empty on
// failure. It is made and locked under a name no sweep takes, then renamed, so that a
// sweep never finds it unlocked.
std::string MakePrivateFolder(const std::string& temp, int& fd) {
  std::string draft = temp + ".claim-XXXXXX";
  if (!::mkdtemp(draft.data())) return {};
  fd = OpenFolder(draft);
  const std::string folder = temp + kPrivatePrefix + draft.substr(draft.size() - 6);
  if (TryLock(fd) && ::rename(draft.c_str(), folder.c_str()) == 0) return folder + "/";
  if (fd >= 0) ::close(fd);
  fd = -1;
  ::rmdir(draft.c_str());
  return {};
}

}  // namespace

TTemporaryWavClaim::TTemporaryWavClaim(std::string tempFolder) : temp_(std::move(tempFolder)) {
  path_ = temp_ + kWavName;
  ::mkdir(temp_.c_str(), 0777);
  const int fd = OpenFolder(temp_);
  if (fd < 0) return;
  RemoveEndedPrivateFolders(temp_);
  if (TryLock(fd)) {
    lock_ = fd;
    return;
  }
  ::close(fd);
  private_ = MakePrivateFolder(temp_, lock_);
  if (!private_.empty()) path_ = private_ + kWavName;
}

TTemporaryWavClaim::~TTemporaryWavClaim() {
  if (lock_ < 0) return;
  if (Private()) RemoveFolderWithFiles(lock_, private_);
  ::close(lock_);
}

bool TTemporaryWavClaim::StillHeld() const {
  if (lock_ < 0) return true;  // nothing held: nothing to lose either
  struct stat held {}, named {};
  const std::string folder = Private() ? private_ : temp_;
  return ::fstat(lock_, &held) == 0 && ::stat(folder.c_str(), &named) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

void TTemporaryWavClaim::RemoveFiles() const {
  const std::string folder = Private() ? private_ : temp_;
  std::remove((folder + kWavName).c_str());
  std::remove((folder + kSpareName).c_str());
  // The WAVs of the other conversion slots of a batch and their spare names.
  for (int n = 2; n < 2 * MaxBatchJobs(); ++n)
    std::remove((folder + "tmp" + std::to_string(100000 + n) + ".wav").c_str());
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
