#include "codecs/picturegeometry.h"

#include <cstring>

namespace {

uint32_t BigEndian(const uint8_t* p, int bytes) {
  uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value = (value << 8) | p[i];
  return value;
}

std::optional<TPictureGeometry> Png(const std::vector<uint8_t>& d) {
  // The signature, then the IHDR chunk: its length, its name, width, height, bit depth and
  // colour type.
  if (d.size() < 33 || std::memcmp(d.data() + 12, "IHDR", 4) != 0) return std::nullopt;
  TPictureGeometry g{BigEndian(&d[16], 4), BigEndian(&d[20], 4), 0, 0};
  const uint32_t bits = d[24];
  switch (d[25]) {
    case 0: g.depth = bits; break;      // grey
    case 2: g.depth = 3 * bits; break;  // RGB
    case 4: g.depth = 2 * bits; break;  // grey and alpha
    case 6: g.depth = 4 * bits; break;  // RGBA
    case 3: {                           // indexed: the palette's entries are RGB
      g.depth = 24;
      for (size_t at = 33; at + 8 <= d.size();) {
        const uint32_t length = BigEndian(&d[at], 4);
        if (std::memcmp(&d[at + 4], "PLTE", 4) == 0) {
          g.colors = length / 3;
          break;
        }
        if (length > d.size() - at - 8) break;
        at += 12 + size_t{length};
      }
      break;
    }
    default: return std::nullopt;
  }
  return g;
}

std::optional<TPictureGeometry> Jpeg(const std::vector<uint8_t>& d) {
  // Segments follow the start marker; the first start-of-frame segment holds the size.
  for (size_t at = 2; at + 4 <= d.size();) {
    if (d[at] != 0xFF) return std::nullopt;
    const uint8_t marker = d[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {  // markers without a length
      at += 2;
      continue;
    }
    const size_t length = BigEndian(&d[at + 2], 2);
    const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                       marker != 0xCC;
    if (frame) {
      if (at + 10 > d.size()) return std::nullopt;
      return TPictureGeometry{BigEndian(&d[at + 7], 2), BigEndian(&d[at + 5], 2),
                              uint32_t{d[at + 4]} * d[at + 9], 0};
    }
    if (length < 2) return std::nullopt;
    at += 2 + length;
  }
  return std::nullopt;
}

std::optional<TPictureGeometry> Gif(const std::vector<uint8_t>& d) {
  if (d.size() < 13) return std::nullopt;
  TPictureGeometry g{uint32_t{d[6]} | uint32_t{d[7]} << 8, uint32_t{d[8]} | uint32_t{d[9]} << 8,
                     24, 0};
  if (d[10] & 0x80) g.colors = 1u << ((d[10] & 7) + 1);  // the global colour table
  return g;
}

}  // namespace

std::optional<TPictureGeometry> PictureGeometry(const std::vector<uint8_t>& data) {
  static const uint8_t kPng[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (data.size() >= 8 && std::memcmp(data.data(), kPng, 8) == 0) return Png(data);
  if (data.size() >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
    return Jpeg(data);
  if (data.size() >= 6 && (std::memcmp(data.data(), "GIF87a", 6) == 0 ||
                           std::memcmp(data.data(), "GIF89a", 6) == 0))
    return Gif(data);
  return std::nullopt;
}
