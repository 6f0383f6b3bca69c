#include "codecs/freespace.h"

#include <sys/statvfs.h>

#include "main/paths.h"

bool FitsFreeSpace(const std::string& path, uint64_t bytes) {
  const std::string folder = FolderPart(path);
  struct statvfs fs {};
  if (statvfs(folder.empty() ? "." : folder.c_str(), &fs) != 0 || fs.f_frsize == 0) return true;
  const uint64_t blocks = (bytes + fs.f_frsize - 1) / fs.f_frsize;
  return blocks <= fs.f_bavail;
}
