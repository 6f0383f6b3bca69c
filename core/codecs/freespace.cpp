#include "codecs/freespace.h"

#include <sys/statvfs.h>

bool FitsFreeSpace(const std::string& path, uint64_t bytes) {
  const auto slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  struct statvfs fs {};
  if (statvfs(folder.c_str(), &fs) != 0 || fs.f_frsize == 0) return true;
  const uint64_t blocks = (bytes + fs.f_frsize - 1) / fs.f_frsize;
  return blocks <= fs.f_bavail;
}
