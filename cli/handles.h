// Owners of the C handles the terminal front end opens itself.
#pragma once

#include <dirent.h>

#include <cstdio>
#include <memory>

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

// Standard input is borrowed, never closed.
struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file != stdin) std::fclose(file);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;
