#include "fuzzcheck.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

namespace {
struct TScratch {
  std::string path;
  TScratch() {
    char pattern[] = "/tmp/orvik-fuzz-XXXXXX";
    Require(mkdtemp(pattern) != nullptr, "no scratch folder");
    path = std::string(pattern) + "/";
  }
  ~TScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};
}  // namespace

const std::string& ScratchFolder() {
  static TScratch scratch;
  return scratch.path;
}

void WriteInput(const std::string& path, const uint8_t* bytes, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  Require(f != nullptr, "cannot write the input file");
  const bool written = size == 0 || std::fwrite(bytes, 1, size, f) == size;
  Require(std::fclose(f) == 0 && written, "cannot write the input file");
}

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}
