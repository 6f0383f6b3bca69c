#include "main/outputplace.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "codecs/partialfile.h"
#include "main/paths.h"
#include "main/privatefolder.h"

namespace {

bool MoveWithoutReplacing(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without that kind of rename: a hard link fails on an existing name too.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return true;
  }
  if (errno == EEXIST) return false;
  // Neither (a FAT stick): the best left is a look just before the rename.
  struct stat info {};
  if (::lstat(to.c_str(), &info) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool MoveReplacing(const std::string& from, const std::string& to) {
  const int fd = ::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  struct stat info {};
  if (fd >= 0) {
    TakeOverAttributes(fd, to);
    if (::fstat(fd, &info) != 0) info.st_size = -1;
    ::close(fd);
  }
  // rename replaces the name `to` itself, whatever is there: a link is not followed.
  if (::rename(from.c_str(), to.c_str()) != 0) {
    if (errno != EXDEV) return false;
    TPartialFile partial(to);
    if (!partial.Created() || !CopyInto(from, partial) || !partial.Commit()) return false;
    std::remove(from.c_str());
  }
  NoteCommittedFile(to, fd >= 0 ? info.st_size : -1);
  return true;
}

}  // namespace

bool CopyInto(const std::string& from, TPartialFile& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) return false;
  char buffer[65536];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (ssize_t done = 0; ok && done < n;) {
      const ssize_t written = ::write(to.Descriptor(), buffer + done, static_cast<size_t>(n - done));
      if (written < 0 && errno == EINTR) continue;
      ok = written > 0;
      done += written > 0 ? written : 0;
    }
    if (!ok) break;
  }
  ::close(in);
  return ok;
}

bool LandOutput(const std::string& from, const std::string& to, TLanding how) {
  if (to.empty() || to.back() == '/') {
    errno = EISDIR;
    return false;
  }
  return how == TLanding::Replace ? MoveReplacing(from, to) : MoveWithoutReplacing(from, to);
}

bool LandUnnamed(const std::string& unnamedPath, const std::string& to, const std::string& hiddenStem) {
  // Nothing stood there: the file appears whole under its name.
  if (::linkat(AT_FDCWD, unnamedPath.c_str(), AT_FDCWD, to.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
  if (errno != EEXIST) return false;
  // A link cannot replace a name; a hidden name is given first, then renamed over the old
  // name in one step.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string hidden = hiddenStem + RandomNameChars();
    if (::linkat(AT_FDCWD, unnamedPath.c_str(), AT_FDCWD, hidden.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    if (::rename(hidden.c_str(), to.c_str()) == 0) return true;
    const int error = errno;
    ::unlink(hidden.c_str());
    errno = error;
    return false;
  }
  return false;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {}, second {};
  if (::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0) return false;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool SameEntry(const std::string& a, const std::string& b) {
  if (NamePart(a) != NamePart(b)) return false;
  const std::string folderA = FolderPart(a), folderB = FolderPart(b);
  return SameFile(folderA.empty() ? "." : folderA, folderB.empty() ? "." : folderB);
}
