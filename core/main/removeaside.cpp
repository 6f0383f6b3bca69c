#include "main/removeaside.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

bool RemoveAside(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  const bool removed = std::remove(path.c_str()) == 0;
  if (fd < 0) return removed;
  try {
    std::thread([fd] { close(fd); }).detach();
  } catch (...) {
    close(fd);
  }
  return removed;
}
