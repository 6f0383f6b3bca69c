// Whether a file of a known size fits on the file system where it is to be written.
#pragma once

#include <cstdint>
#include <string>

// False when the file system holding `path`'s folder has fewer than `bytes` free for this
// user. True when that cannot be told: writing then finds out as before.
bool FitsFreeSpace(const std::string& path, uint64_t bytes);
