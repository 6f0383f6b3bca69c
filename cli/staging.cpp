#include "staging.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "handles.h"
#include "main/paths.h"

namespace {

constexpr const char* kPrefix = ".orvik-convert-";
constexpr time_t kUnlockedAgeSeconds = 60;

}  // namespace

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

bool MakeStaging(const std::string& folder, std::string& staging, int& lockFd) {
  lockFd = -1;
  std::string pattern = (folder.empty() ? std::string(".") : folder) + "/" + kPrefix + "XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) return false;
  staging = buffer.data();
  // The lock file gets its name only once it is locked, so a cleaner that finds "lock"
  // unlocked knows its run has ended.
  const std::string unnamed = staging + "/.lock", named = staging + "/lock";
  const int fd = open(unnamed.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0 || rename(unnamed.c_str(), named.c_str()) != 0) {
    const int error = errno;
    if (fd >= 0) close(fd);
    RemoveStaging(staging);
    errno = error;
    return false;
  }
  lockFd = fd;
  return true;
}

std::string TemporaryFolder(const std::string& chosen) {
  if (!chosen.empty()) return chosen;
  const std::string programTemp = ProgramDir() + "temp";
  mkdir(programTemp.c_str(), 0777);
  if (access(programTemp.c_str(), W_OK | X_OK) == 0) return programTemp;
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

void RemoveStaging(const std::string& staging) {
  if (staging.empty()) return;
  if (DirPtr dir{opendir(staging.c_str())}) {
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir.get())) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    dir.reset();
    // Only files are ever made in it.
    for (const auto& name : names) std::remove((staging + "/" + name).c_str());
  }
  rmdir(staging.c_str());
}

void RemoveStaleStaging(const std::string& folder) {
  std::vector<std::string> found;
  if (DirPtr dir{opendir(folder.c_str())}) {
    while (const dirent* entry = readdir(dir.get())) {
      const std::string name = entry->d_name;
      if (name.rfind(kPrefix, 0) == 0) found.push_back(folder + "/" + name);
    }
  }
  for (const std::string& staging : found) {
    struct stat info;
    if (lstat(staging.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) continue;
    const TFd lock(open((staging + "/lock").c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (lock) {
      // Held while the cleaning goes on, so the folder is never in use and half removed.
      if (flock(lock.Get(), LOCK_EX | LOCK_NB) == 0) RemoveStaging(staging);
    } else if (errno == ENOENT && std::time(nullptr) - info.st_mtime > kUnlockedAgeSeconds) {
      RemoveStaging(staging);
    }
  }
}

bool MoveWithoutReplacing(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without that kind of rename: a hard link fails on an existing name too.
  if (link(from.c_str(), to.c_str()) == 0) {
    unlink(from.c_str());
    return true;
  }
  if (errno == EEXIST) return false;
  // Neither (a FAT stick): the best left is a look just before the rename.
  struct stat info;
  if (lstat(to.c_str(), &info) == 0) {
    errno = EEXIST;
    return false;
  }
  return rename(from.c_str(), to.c_str()) == 0;
}
