#include "codecs/wavpasses.h"

#include <algorithm>
#include <bit>
#include <cstring>

// The samples are read straight into 16-bit integers: the WAV stores them little-endian.
static_assert(std::endian::native == std::endian::little);

namespace {

constexpr long kWavHeaderBytes = 44;

uint32_t LittleEndian(const unsigned char* bytes, int count) {
  uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

// The header DecodeToWAV writes: RIFF, WAVE, a 16-byte PCM fmt chunk, then the data chunk.
bool HeaderFits(FILE* file, int channels, int rate) {
  unsigned char h[kWavHeaderBytes];
  if (std::fread(h, 1, sizeof h, file) != sizeof h) return false;
  return std::memcmp(h, "RIFF", 4) == 0 && std::memcmp(h + 8, "WAVEfmt ", 8) == 0 &&
         LittleEndian(h + 20, 2) == 1 &&
         LittleEndian(h + 22, 2) == static_cast<uint32_t>(channels) &&
         LittleEndian(h + 24, 4) == static_cast<uint32_t>(rate) &&
         LittleEndian(h + 34, 2) == 16 && std::memcmp(h + 36, "data", 4) == 0;
}

}  // namespace

TWavPasses::TWavPasses(const std::string& path, int channels, int rate)
    : file_(std::fopen(path.c_str(), "rb")),
      frameBytes_(2 * static_cast<size_t>(std::max(channels, 1))) {
  if (!file_ || channels < 1 || !HeaderFits(file_.get(), channels, rate)) return;
  if (std::fseek(file_.get(), 0, SEEK_END) != 0) return;
  const long size = std::ftell(file_.get());
  if (size < kWavHeaderBytes || std::fseek(file_.get(), kWavHeaderBytes, SEEK_SET) != 0) return;
  size_ = static_cast<uint64_t>(size);
  frames_ = framesLeft_ = (size_ - kWavHeaderBytes) / frameBytes_;
}

size_t TWavPasses::Read(int16_t* samples, size_t maxFrames) {
  if (!file_ || failed_ || framesLeft_ == 0) return 0;
  const size_t wanted = static_cast<size_t>(std::min<uint64_t>(maxFrames, framesLeft_));
  const size_t got = std::fread(samples, frameBytes_, wanted, file_.get());
  if (got < wanted) failed_ = true;  // the size said there was more
  framesLeft_ -= got;
  done_ += got * frameBytes_;
  return got;
}
