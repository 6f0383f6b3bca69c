// A C-library file that closes itself on every way out. Where the last write's fate matters
// (a full disk shows only there), the caller closes it through release() and checks.
#pragma once

#include <cstdio>
#include <memory>

struct FileClose {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileClose>;
