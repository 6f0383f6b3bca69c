#include "codecs/partialfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

TPartialFile::TPartialFile(std::string destination) : destination_(std::move(destination)) {
  if (destination_.empty() || destination_.back() == '/') return;
  const auto slash = destination_.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : destination_.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? destination_ : destination_.substr(slash + 1);
  // A hidden name, so that a file manager open on the folder does not show the half file.
  std::string pattern = folder + "." + name.substr(0, 100) + ".part-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const int fd = mkstemp(buffer.data());
  if (fd < 0) return;
  // mkstemp makes the file 0600; give it the usual mode of a new file.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  path_ = buffer.data();
}

TPartialFile::~TPartialFile() {
  if (!path_.empty()) std::remove(path_.c_str());
}

bool TPartialFile::Commit() {
  if (path_.empty()) return false;
  const bool ok = std::rename(path_.c_str(), destination_.c_str()) == 0;
  if (!ok) std::remove(path_.c_str());
  path_.clear();
  return ok;
}
