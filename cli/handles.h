// Owners of the C handles the terminal front end opens itself.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

// Standard input is borrowed, never closed.
struct InputCloser {
  void operator()(std::FILE* file) const {
    if (file != stdin) std::fclose(file);
  }
};
using InputPtr = std::unique_ptr<std::FILE, InputCloser>;

// A file descriptor, closed with its owner; false when the open failed.
class TFd {
 public:
  explicit TFd(int fd) : fd_(fd) {}
  ~TFd() {
    if (fd_ >= 0) close(fd_);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_;
};
