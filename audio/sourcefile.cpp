#include "sourcefile.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace audio_detail {
namespace {
struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Directories and devices open fine with fopen but are no source files.
FilePtr OpenRegular(const std::string& path) {
  FilePtr f(std::fopen(path.c_str(), "rb"));
  if (!f) return nullptr;
  struct stat st {};
  if (fstat(fileno(f.get()), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  return f;
}
}  // namespace

bool ReadWholeFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>& data) {
  data.clear();
  FilePtr f = OpenRegular(path);
  if (!f) return false;
  struct stat st {};
  if (fstat(fileno(f.get()), &st) != 0 || st.st_size < 0 ||
      static_cast<uint64_t>(st.st_size) > maxBytes)
    return false;
  data.resize(static_cast<size_t>(st.st_size));
  if (!data.empty() && std::fread(data.data(), 1, data.size(), f.get()) != data.size()) {
    data.clear();
    return false;
  }
  return true;
}

bool FileStartsWith(const std::string& path, const char* magic, size_t length) {
  FilePtr f = OpenRegular(path);
  if (!f) return false;
  std::vector<char> head(length);
  return std::fread(head.data(), 1, length, f.get()) == length &&
         std::memcmp(head.data(), magic, length) == 0;
}

}  // namespace audio_detail
