#include "codecs/freespace.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <map>
#include <mutex>

#include "main/paths.h"

namespace {

std::mutex claimsMutex;
// Bytes the living claims have still to write, by file system.
std::map<dev_t, uint64_t> claimed;

// Under claimsMutex.
bool FitsBesideClaims(const std::string& folder, uint64_t bytes, dev_t device) {
  struct statvfs fs {};
  if (statvfs(folder.c_str(), &fs) != 0 || fs.f_frsize == 0) return true;
  const auto others = claimed.find(device);
  const uint64_t wanted = bytes + (others == claimed.end() ? 0 : others->second);
  const uint64_t blocks = (wanted + fs.f_frsize - 1) / fs.f_frsize;
  return blocks <= fs.f_bavail;
}

dev_t DeviceOf(const std::string& folder) {
  struct stat info {};
  return stat(folder.c_str(), &info) == 0 ? info.st_dev : 0;
}

}  // namespace

bool FitsFreeSpace(const std::string& path, uint64_t bytes) {
  const std::string folder = FolderOf(path);
  const dev_t device = DeviceOf(folder);
  std::lock_guard<std::mutex> lock(claimsMutex);
  return FitsBesideClaims(folder, bytes, device);
}

TSpaceClaim::TSpaceClaim(const std::string& path, uint64_t bytes) {
  const std::string folder = FolderOf(path);
  device_ = DeviceOf(folder);
  std::lock_guard<std::mutex> lock(claimsMutex);
  held_ = FitsBesideClaims(folder, bytes, device_);
  if (!held_) return;
  remaining_ = bytes;
  claimed[device_] += bytes;
}

TSpaceClaim::~TSpaceClaim() { Wrote(remaining_); }

void TSpaceClaim::Wrote(uint64_t bytes) {
  if (!held_) return;
  bytes = std::min(bytes, remaining_);
  if (bytes == 0) return;
  std::lock_guard<std::mutex> lock(claimsMutex);
  remaining_ -= bytes;
  auto entry = claimed.find(device_);
  if (entry == claimed.end()) return;
  entry->second -= std::min(bytes, entry->second);
  if (entry->second == 0) claimed.erase(entry);
}
