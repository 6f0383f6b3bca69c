#include "main/paths.h"

#include <unistd.h>

#include <vector>

#include "main/temporarywav.h"

namespace {
std::string& Override() {
  static std::string folder;
  return folder;
}

std::string ExecutableFolder() {
  std::vector<char> buffer(4096);
  const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return "./";
  const std::string folder = FolderPart(std::string(buffer.data(), static_cast<size_t>(n)));
  return folder.empty() ? std::string("./") : folder;
}
}  // namespace

std::string ProgramDir() {
  if (!Override().empty()) return Override();
  static const std::string folder = ExecutableFolder();
  return folder;
}

void SetProgramDirForTesting(const std::string& folder) {
  Override() = folder.empty() || folder.back() == '/' ? folder : folder + "/";
}

namespace {
std::string& TemporaryWavOverride() {
  static std::string path;
  return path;
}
}  // namespace

static thread_local std::string threadTemporaryWav;

std::string TemporaryWavPath() {
  // A worker never touches the process's claim, which the user-interface thread keeps.
  if (!threadTemporaryWav.empty()) return threadTemporaryWav;
  if (!TemporaryWavOverride().empty()) return TemporaryWavOverride();
  return ClaimedTemporaryWavPath();
}

void SetTemporaryWavPath(const std::string& path) { TemporaryWavOverride() = path; }

std::string TemporaryWavPathForSlot(int slot) {
  const std::string first = TemporaryWavPath();
  if (slot == 0) return first;
  return FolderPart(first) + "tmp" + std::to_string(100000 + slot) + ".wav";
}

void SetThreadTemporaryWavPath(const std::string& path) { threadTemporaryWav = path; }

std::string FolderPart(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

std::string NamePart(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
