// A full disk, as far as this process can tell: while a TFileSizeLimit lives, no file can
// grow past `bytes` (writes beyond fail with EFBIG instead of raising SIGXFSZ).
#pragma once

#include <sys/resource.h>

#include <cstdint>

class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(uint64_t bytes);
  ~TFileSizeLimit();
  TFileSizeLimit(const TFileSizeLimit&) = delete;
  TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;
  bool Active() const { return active_; }

 private:
  rlimit previous_{};
  void (*previousHandler_)(int) = nullptr;
  bool active_ = false;
};
