#include "main/cddrives.h"

#include <limits.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>

#include "audio.h"

namespace {
// The kernel writes space, tab, newline and backslash in mount fields as \ooo.
std::string UnescapeMountField(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const std::string digits = field.substr(i + 1, 3);
      if (digits.size() == 3 && digits.find_first_not_of("01234567") == std::string::npos) {
        out += static_cast<char>(std::stoi(digits, nullptr, 8));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

std::string Resolved(const std::string& path) {
  char buffer[PATH_MAX];
  if (realpath(path.c_str(), buffer) == nullptr) return path;
  return buffer;
}

bool Under(const std::string& path, const std::string& folder) {
  if (folder.empty()) return false;
  if (folder == "/") return !path.empty() && path[0] == '/';
  if (path.compare(0, folder.size(), folder) != 0) return false;
  return path.size() == folder.size() || path[folder.size()] == '/';
}
}  // namespace

TCDDrives TMainFunc::GetCDDrives() {
  TCDDrives result;
  size_t slot = 0;
  for (const std::string& device : cd_list_drives()) {
    if (slot == result.Drives.size()) break;
    if (device.empty()) continue;
    result.Drives[slot++] = device + "/";
  }
  return result;
}

std::vector<std::string> CDMountPoints(const TCDDrives& drives, const std::string& mountsFile) {
  std::vector<std::string> devices;
  for (const std::string& root : drives.Drives) {
    if (root.empty()) break;
    devices.push_back(Resolved(root.substr(0, root.size() - 1)));
  }
  std::vector<std::string> points;
  if (devices.empty()) return points;
  std::ifstream mounts(mountsFile);
  std::string line;
  while (std::getline(mounts, line)) {
    std::istringstream fields(line);
    std::string device, point;
    if (!(fields >> device >> point)) continue;
    const std::string resolved = Resolved(UnescapeMountField(device));
    for (const std::string& cd : devices) {
      if (resolved == cd) {
        points.push_back(UnescapeMountField(point));
        break;
      }
    }
  }
  return points;
}

bool LiesOnCDDrive(const std::string& path, const TCDDrives& drives, const std::string& mountsFile) {
  if (path.empty()) return false;
  for (const std::string& root : drives.Drives) {
    if (root.empty()) break;
    if (path.compare(0, root.size(), root) == 0) return true;
  }
  const std::string resolved = Resolved(path);
  for (const std::string& point : CDMountPoints(drives, mountsFile)) {
    if (Under(path, point) || Under(resolved, point)) return true;
  }
  return false;
}
