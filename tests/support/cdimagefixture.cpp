#include "cdimagefixture.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {
constexpr size_t kSamplesPerSector = 2352 / 2;
constexpr uint32_t kSectorsPerSecond = 75;

std::string Msf(uint64_t sector) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u",
                static_cast<unsigned>(sector / (60 * kSectorsPerSecond)),
                static_cast<unsigned>(sector / kSectorsPerSecond % 60),
                static_cast<unsigned>(sector % kSectorsPerSecond));
  return text;
}
}  // namespace

std::vector<int16_t> PadToSectors(const std::vector<int16_t>& track) {
  std::vector<int16_t> padded = track;
  const size_t sectors = (track.size() + kSamplesPerSector - 1) / kSamplesPerSector;
  padded.resize(std::max<size_t>(sectors, 1) * kSamplesPerSector, 0);
  return padded;
}

bool WriteCdImage(const std::string& cuePath,
                  const std::vector<std::vector<int16_t>>& tracks) {
  if (tracks.empty() || tracks.size() > 99) return false;
  const auto dot = cuePath.rfind('.');
  const auto slash = cuePath.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  const std::string binPath = cuePath.substr(0, dot) + ".bin";
  const std::string binName = slash == std::string::npos ? binPath : binPath.substr(slash + 1);

  FILE* bin = std::fopen(binPath.c_str(), "wb");
  if (!bin) return false;
  std::string cue = "FILE \"" + binName + "\" BINARY\n";
  uint64_t sector = 0;
  bool ok = true;
  for (size_t t = 0; t < tracks.size(); ++t) {
    char head[64];
    std::snprintf(head, sizeof head, "  TRACK %02zu AUDIO\n    INDEX 01 ", t + 1);
    cue += head + Msf(sector) + "\n";
    const std::vector<int16_t> padded = PadToSectors(tracks[t]);
    std::vector<uint8_t> bytes(padded.size() * 2);
    for (size_t i = 0; i < padded.size(); ++i) {
      const uint16_t v = static_cast<uint16_t>(padded[i]);
      bytes[2 * i] = static_cast<uint8_t>(v & 0xff);  // CD audio is little-endian
      bytes[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
    ok = ok && std::fwrite(bytes.data(), 1, bytes.size(), bin) == bytes.size();
    sector += padded.size() / kSamplesPerSector;
  }
  ok = std::fclose(bin) == 0 && ok;
  FILE* f = std::fopen(cuePath.c_str(), "wb");
  if (!f) return false;
  ok = std::fwrite(cue.data(), 1, cue.size(), f) == cue.size() && ok;
  return std::fclose(f) == 0 && ok;
}
