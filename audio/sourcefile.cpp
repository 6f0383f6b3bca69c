#include "sourcefile.h"

#include <cstring>

#include "regular_file.h"

namespace audio_detail {

bool ReadWholeFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>& data) {
  data.clear();
  struct stat st {};
  // Directories, FIFOs and devices are no source files (and a FIFO would block).
  const FileDescriptor fd = open_regular_file_nonblocking(path, &st);
  if (!fd || st.st_size < 0 || static_cast<uint64_t>(st.st_size) > maxBytes) return false;
  data.resize(static_cast<size_t>(st.st_size));
  if (read_fully(fd.get(), data.data(), data.size()) != static_cast<long>(data.size())) {
    data.clear();
    return false;
  }
  return true;
}

bool FileStartsWith(const std::string& path, const char* magic, size_t length) {
  const FileDescriptor fd = open_regular_file_nonblocking(path);
  if (!fd) return false;
  std::vector<char> head(length);
  return read_fully(fd.get(), head.data(), length) == static_cast<long>(length) &&
         std::memcmp(head.data(), magic, length) == 0;
}

}  // namespace audio_detail
