// Reading a whole source file into memory, for the openers that parse from memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace audio_detail {

// False when the file cannot be opened or read, is not a regular file, or is larger than
// `maxBytes`.
bool ReadWholeFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>& data);

// True when the file begins with `magic` (false when it cannot be read).
bool FileStartsWith(const std::string& path, const char* magic, size_t length);

}  // namespace audio_detail
