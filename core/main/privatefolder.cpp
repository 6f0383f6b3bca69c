#include "main/privatefolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "main/paths.h"

void (*PrivateFolderSweepHook)(int parentFd, const char* name) = nullptr;

namespace {

constexpr const char* kLockName = "lock";
constexpr const char* kDraftLockName = ".lock";
// A folder without a lock was left by a run that died before it took one; a younger one
// may belong to a run that is taking it now.
constexpr time_t kUnlockedAgeSeconds = 60;

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

void CloseIfOpen(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// The names in the folder open as `fd` (beginning with `prefix`), "." and ".." left out.
std::vector<std::string> NamesIn(int fd, const std::string& prefix = {}) {
  std::vector<std::string> names;
  const int listing = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (listing < 0) return names;
  DIR* dir = ::fdopendir(listing);
  if (!dir) {
    ::close(listing);
    return names;
  }
  ::rewinddir(dir);
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != ".." && name.rfind(prefix, 0) == 0) names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

bool SameInode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The folder open as `fd` is a folder of this user's that nobody else can write into.
bool IsOwnPrivateFolder(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
         (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Removes every file in the folder open as `fd`, then the folder named `name` in the folder
// open as `parentFd` when it still is that folder (device and inode `dev`, `ino`).
void RemoveFolderThrough(int parentFd, const std::string& name, int fd, dev_t dev, ino_t ino) {
  // Only files are made in these folders; a folder found inside stays, and so does this one.
  for (const std::string& entry : NamesIn(fd)) ::unlinkat(fd, entry.c_str(), 0);
  struct stat named {};
  if (parentFd >= 0 && ::fstatat(parentFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISDIR(named.st_mode) && named.st_dev == dev && named.st_ino == ino)
    ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR);
}

// True when the run that made the folder open as `fd` has ended. A lock that is not a
// regular file of this user's (a FIFO, a link, a device) proves nothing: the folder stays.
bool RunHasEnded(int fd, const struct stat& folder) {
  const int lock = ::openat(fd, kLockName, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  if (lock < 0) return errno == ENOENT && std::time(nullptr) - folder.st_mtime > kUnlockedAgeSeconds;
  struct stat info {};
  const bool ended = ::fstat(lock, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
                     ::flock(lock, LOCK_EX | LOCK_NB) == 0;
  // No run takes up a dead folder again (every folder gets a new name), so the lock need
  // not be held while the folder is removed; two sweeps at once remove the same files.
  ::close(lock);
  return ended;
}

// Opens `name` in the folder open as `parentFd` when it is a folder of this user's, never
// through a link, and the very folder that `info` (an lstat) describes; -1 otherwise.
int OpenOwnFolder(int parentFd, const char* name, struct stat& info) {
  if (::fstatat(parentFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(info.st_mode) ||
      info.st_uid != ::geteuid())
    return -1;
  const int fd = ::openat(parentFd, name, kFolderFlags);
  struct stat opened {};
  if (fd >= 0 && ::fstat(fd, &opened) == 0 && SameInode(opened, info) && opened.st_uid == ::geteuid())
    return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

// Opens the folder `path` (made 0700 when missing) when it is this user's, not a link, a
// folder and writable by nobody else; -1 otherwise.
int OpenOrMakeOwnFolder(const std::string& path) {
  ::mkdir(path.c_str(), 0700);
  const int fd = ::open(path.c_str(), kFolderFlags);
  if (fd >= 0 && IsOwnPrivateFolder(fd)) return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

}  // namespace

std::string RandomNameChars() {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[6] = {};
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(std::rand());
  }
  std::string text;
  for (unsigned char b : bytes) text += kChars[b % (sizeof kChars - 1)];
  return text;
}

std::unique_ptr<TPrivateFolder> TPrivateFolder::Make(const std::string& parent, const std::string& prefix) {
  std::unique_ptr<TPrivateFolder> folder(new TPrivateFolder);
  folder->parentFd_ = ::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder->parentFd_ < 0) return nullptr;
  std::string name;
  for (int attempt = 0;; ++attempt) {
    name = prefix + RandomNameChars();
    if (::mkdirat(folder->parentFd_, name.c_str(), 0700) == 0) break;
    if (errno != EEXIST || attempt == 100) return nullptr;
  }
  folder->named_ = (parent.empty() ? std::string(".") : parent) + (parent.empty() || parent.back() != '/' ? "/" : "") + name;
  // Between mkdirat and this open another user may have swapped the name: the folder
  // opened must be a folder of this user's, and nobody else's to write.
  folder->fd_ = ::openat(folder->parentFd_, name.c_str(), kFolderFlags);
  struct stat info {};
  if (folder->fd_ < 0 || ::fstat(folder->fd_, &info) != 0 || info.st_uid != ::geteuid() ||
      !S_ISDIR(info.st_mode) || ::fchmod(folder->fd_, 0700) != 0) {
    const int error = folder->fd_ < 0 ? errno : EPERM;
    CloseIfOpen(folder->fd_);
    CloseIfOpen(folder->parentFd_);
    errno = error;
    return nullptr;
  }
  folder->dev_ = info.st_dev;
  folder->ino_ = info.st_ino;
  // The lock file gets its name only once it is locked, so a sweep that finds "lock" free
  // knows its run has ended.
  const int lock = ::openat(folder->fd_, kDraftLockName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (lock < 0 || ::flock(lock, LOCK_EX | LOCK_NB) != 0 ||
      ::renameat(folder->fd_, kDraftLockName, folder->fd_, kLockName) != 0) {
    const int error = errno;
    if (lock >= 0) ::close(lock);
    folder.reset();  // removes what was made
    errno = error;
    return nullptr;
  }
  folder->lockFd_ = lock;
  const std::string proc = "/proc/self/fd/" + std::to_string(folder->fd_);
  folder->path_ = ::access(proc.c_str(), W_OK | X_OK) == 0 ? proc : folder->named_;
  return folder;
}

TPrivateFolder::~TPrivateFolder() {
  if (fd_ >= 0) RemoveFolderThrough(parentFd_, NamePart(named_), fd_, dev_, ino_);
  CloseIfOpen(lockFd_);
  CloseIfOpen(fd_);
  CloseIfOpen(parentFd_);
}

void TPrivateFolder::Forget() {
  CloseIfOpen(lockFd_);
  CloseIfOpen(fd_);
  CloseIfOpen(parentFd_);
}

void RemoveDeadPrivateFolders(const std::string& parent, const std::string& prefix) {
  const int parentFd = ::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parentFd < 0) return;
  for (const std::string& name : NamesIn(parentFd, prefix)) {
    struct stat info {};
    const int fd = OpenOwnFolder(parentFd, name.c_str(), info);
    if (fd < 0) continue;
    if (RunHasEnded(fd, info)) {
      if (PrivateFolderSweepHook) PrivateFolderSweepHook(parentFd, name.c_str());
      RemoveFolderThrough(parentFd, name, fd, info.st_dev, info.st_ino);
    }
    ::close(fd);
  }
  ::close(parentFd);
}

std::string PrivateRuntimeFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || *runtime != '/') return {};
  const int fd = ::open(runtime, kFolderFlags);
  const bool usable = fd >= 0 && IsOwnPrivateFolder(fd);
  if (fd >= 0) ::close(fd);
  return usable ? runtime : std::string();
}

std::string PerUserScratchFolder() {
  const std::string runtime = PrivateRuntimeFolder();
  if (!runtime.empty()) return runtime;
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp && *tmp == '/' ? tmp : "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  const std::string folder = base + "/orvik-converter-" + std::to_string(::geteuid());
  const int fd = OpenOrMakeOwnFolder(folder);
  if (fd < 0) return {};
  ::close(fd);
  return folder;
}
