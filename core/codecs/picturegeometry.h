// The size and colour depth of a cover picture, read from its own header, for the picture
// blocks that record them (FLAC's PICTURE block).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

struct TPictureGeometry {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t depth = 0;   // bits per pixel
  uint32_t colors = 0;  // palette entries of an indexed picture, else 0
};

// The geometry of a PNG, JPEG or GIF picture; nothing for another kind or a header cut short.
std::optional<TPictureGeometry> PictureGeometry(const std::vector<uint8_t>& data);
