// Whether a file of a known size fits on the file system where it is to be written.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

// False when the file system holding `path`'s folder has fewer than `bytes` free for this
// user, beside what the space claims there (below) have still to write. True when that
// cannot be told: writing then finds out as before.
bool FitsFreeSpace(const std::string& path, uint64_t bytes);

// Room promised to a file while it is written, so that conversions writing side by side
// each count what the others have still to write. Given back when destroyed.
class TSpaceClaim {
 public:
  // Claims `bytes` on the file system of `path`'s folder if they fit (FitsFreeSpace).
  TSpaceClaim(const std::string& path, uint64_t bytes);
  ~TSpaceClaim();
  TSpaceClaim(const TSpaceClaim&) = delete;
  TSpaceClaim& operator=(const TSpaceClaim&) = delete;

  bool Held() const { return held_; }
  // `bytes` more of the file are on the disk now and need no promise any more.
  void Wrote(uint64_t bytes);

 private:
  dev_t device_ = 0;
  uint64_t remaining_ = 0;
  bool held_ = false;
};
