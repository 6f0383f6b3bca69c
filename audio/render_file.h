// A rendered song's PCM kept on disk between the rendering that counts its frames and the
// delivery that follows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "regular_file.h"

namespace audio_detail {

// Appended block by block, read back by offset. The file has no name, so it vanishes when
// the last owner closes it, however the process ends.
class RenderFile {
 public:
  // nullptr when neither the render folder nor the system's temporary folder takes one.
  static std::shared_ptr<RenderFile> create();

  // False once a write failed, or once keeping the song would leave the disk without room
  // for the WAV made from it; the file is then of no use.
  bool append(const void* data, size_t bytes);
  // Writes what is still buffered; false when that failed.
  bool finish();
  // Reads exactly `bytes` at `offset`.
  bool read(uint64_t offset, void* out, size_t bytes) const;
  uint64_t size() const { return size_; }

  explicit RenderFile(FileDescriptor fd) : fd_(std::move(fd)) {}
  ~RenderFile();
  RenderFile(const RenderFile&) = delete;
  RenderFile& operator=(const RenderFile&) = delete;

 private:
  bool flush();

  FileDescriptor fd_;
  std::vector<uint8_t> buffer_;
  uint64_t size_ = 0;  // bytes appended, buffered ones included
  bool failed_ = false;
};

void set_render_folder(const std::string& folder);

}  // namespace audio_detail
