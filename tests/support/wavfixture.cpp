#include "wavfixture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {
void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v & 0xff));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>((v >> (8 * i)) & 0xff));
}
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
}  // namespace

std::vector<int16_t> MakeTone(uint32_t rate, uint16_t channels, uint64_t frames,
                              double frequency, double amplitude, bool distinctChannels) {
  std::vector<int16_t> out(frames * channels);
  for (uint64_t i = 0; i < frames; ++i) {
    for (uint16_t c = 0; c < channels; ++c) {
      const double f = distinctChannels ? frequency * (c + 1) : frequency;
      const double v = amplitude * std::sin(2.0 * M_PI * f * static_cast<double>(i) / rate);
      out[i * channels + c] = static_cast<int16_t>(std::lrint(v * 32767.0));
    }
  }
  return out;
}

bool WriteWav(const std::string& path, uint32_t rate, uint16_t channels,
              const std::vector<int16_t>& samples) {
  const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 2);
  std::vector<uint8_t> out;
  out.insert(out.end(), {'R', 'I', 'F', 'F'});
  Put32(out, 36 + dataBytes);
  out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put32(out, 16);
  Put16(out, 1);
  Put16(out, channels);
  Put32(out, rate);
  Put32(out, rate * channels * 2);
  Put16(out, static_cast<uint16_t>(channels * 2));
  Put16(out, 16);
  out.insert(out.end(), {'d', 'a', 't', 'a'});
  Put32(out, dataBytes);
  for (int16_t s : samples) Put16(out, static_cast<uint16_t>(s));
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  return std::fclose(f) == 0 && ok;
}

TWavData ReadWav(const std::string& path) {
  TWavData w;
  std::ifstream in(path, std::ios::binary);
  if (!in) return w;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  w.fileSize = bytes.size();
  if (bytes.size() < 44 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      std::memcmp(bytes.data() + 8, "WAVEfmt ", 8) != 0 ||
      std::memcmp(bytes.data() + 36, "data", 4) != 0)
    return w;
  const uint8_t* p = bytes.data();
  w.riffSize = Get32(p + 4);
  w.format = Get16(p + 20);
  w.channels = Get16(p + 22);
  w.rate = Get32(p + 24);
  w.byteRate = Get32(p + 28);
  w.blockAlign = Get16(p + 32);
  w.bits = Get16(p + 34);
  w.dataSize = Get32(p + 40);
  // A WAV output may carry chunks (its tags) after the data.
  const size_t n = std::min<size_t>(w.dataSize, bytes.size() - 44) / 2;
  w.samples.resize(n);
  for (size_t i = 0; i < n; ++i) w.samples[i] = static_cast<int16_t>(Get16(p + 44 + 2 * i));
  w.ok = true;
  return w;
}

double EstimateFrequency(const std::vector<int16_t>& samples, uint16_t channels,
                         uint16_t channel, uint32_t rate) {
  if (channels == 0 || samples.size() < channels * 2u) return 0.0;
  const size_t frames = samples.size() / channels;
  size_t crossings = 0;
  size_t first = 0, last = 0;
  for (size_t i = 1; i < frames; ++i) {
    const int a = samples[(i - 1) * channels + channel];
    const int b = samples[i * channels + channel];
    if (a < 0 && b >= 0) {
      if (crossings == 0) first = i;
      last = i;
      ++crossings;
    }
  }
  if (crossings < 2) return 0.0;
  return static_cast<double>(crossings - 1) * rate / static_cast<double>(last - first);
}
