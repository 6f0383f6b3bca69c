#include "codecs/partialfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "main/outputplace.h"
#include "main/paths.h"

namespace {

constexpr const char* kPartSuffix = ".part-";
constexpr size_t kUniqueChars = 6;  // as mkstemp's XXXXXX

// ".NAME.part-" in the folder of `target`; a hidden name, so that a file manager open on
// the folder does not show the half file.
std::string HiddenStem(const std::string& target) {
  const std::string name = NamePart(target);
  // Cut between two characters, never inside one: a file system that stores names as
  // UTF-16 (a memory card, a Windows disk) refuses a name with half a character.
  size_t cut = std::min<size_t>(name.size(), 100);
  while (cut > 0 && cut < name.size() && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return FolderPart(target) + "." + name.substr(0, cut) + kPartSuffix;
}

// ".NAME.part-XXXXXX"
bool IsPartialName(const std::string& name) {
  const size_t suffixLength = std::char_traits<char>::length(kPartSuffix);
  if (name.size() < 2 + suffixLength + kUniqueChars || name[0] != '.') return false;
  const size_t suffix = name.size() - kUniqueChars - suffixLength;
  return name.compare(suffix, suffixLength, kPartSuffix) == 0;
}

// The mode a new file gets from this process.
mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// Holds the partial file's lock for as long as it is open, so that RemoveStalePartialFiles
// never takes the file of a live conversion.
void LockAsLive(int fd) { ::flock(fd, LOCK_EX | LOCK_NB); }

// What dead runs left in a folder goes when this process first writes there; once is
// enough, since the partial files of this process's own writers are alive.
void SweepFolderOnce(const std::string& folder) {
  static std::mutex mutex;
  static std::set<std::string> swept;
  {
    const std::lock_guard<std::mutex> hold(mutex);
    if (!swept.insert(folder).second) return;
  }
  RemoveStalePartialFiles(folder.empty() ? "." : folder);
}

TCommittedFile& CommittedFile() {
  thread_local TCommittedFile last;
  return last;
}

}  // namespace

const TCommittedFile& LastCommittedFile() { return CommittedFile(); }

void NoteCommittedFile(const std::string& destination, int64_t length) {
  CommittedFile() = {destination, length};
}

void TakeOverAttributes(int fd, const std::string& replaced) {
  struct stat info {};
  if (::lstat(replaced.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  if (::fchown(fd, info.st_uid, info.st_gid) != 0) {
    // Not allowed to give a file away: it stays with this user.
  }
  ::fchmod(fd, info.st_mode & 07777 & ~(S_ISUID | S_ISGID));
}

TPartialFile::TPartialFile(std::string destination, bool allowUnnamed)
    : destination_(std::move(destination)) {
  if (destination_.empty() || destination_.back() == '/') return;
  const std::string folder = FolderPart(destination_);
  SweepFolderOnce(folder);
  if (allowUnnamed) {
    // The inode has no name until Commit links it in: the kernel frees it with the last
    // descriptor, also when the process is killed.
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd >= 0) {
      const std::string procPath = "/proc/self/fd/" + std::to_string(fd);
      // Writers open the file by its /proc path; without /proc the named file is used.
      if (::access(procPath.c_str(), W_OK) == 0) {
        fd_ = fd;
        path_ = procPath;
        unnamed_ = true;
        LockAsLive(fd_);
        return;
      }
      ::close(fd);
    }
  }
  std::string pattern = HiddenStem(destination_) + std::string(kUniqueChars, 'X');
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return;
  LockAsLive(fd);
  // mkstemp makes the file 0600; give it the usual mode of a new file.
  ::fchmod(fd, NewFileMode());
  fd_ = fd;
  path_ = pattern;
}

TPartialFile::~TPartialFile() { Discard(); }

void TPartialFile::Discard() {
  if (fd_ < 0) return;
  if (!unnamed_) ::unlink(path_.c_str());
  ::close(fd_);
  fd_ = -1;
  path_.clear();
}

bool TPartialFile::Commit() {
  if (fd_ < 0) return false;
  TakeOverAttributes(fd_, destination_);
  struct stat info {};
  const int64_t length = ::fstat(fd_, &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
  const bool ok = unnamed_ ? LandUnnamed(path_, destination_, HiddenStem(destination_))
                           : LandOutput(path_, destination_, TLanding::Replace);
  if (ok) {
    NoteCommittedFile(destination_, length);
    ::close(fd_);
    fd_ = -1;
    path_.clear();
    return true;
  }
  Discard();
  return false;
}

void RemoveStalePartialFiles(const std::string& folder) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return;
  const int dirFd = ::dirfd(dir.get());
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (!IsPartialName(name)) continue;
    const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat info {};
    // The lock is free only when no live conversion holds the file open.
    struct stat named {};
    // Only this user's own files, and only the very file opened: another user may swap
    // names in a shared folder.
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == info.st_dev && named.st_ino == info.st_ino)
      ::unlinkat(dirFd, name.c_str(), 0);
    ::close(fd);
  }
}
