#include "decodeback.h"

#include <algorithm>
#include <cstdlib>

#include "audio.h"
#include "codecs/audioguards.h"
#include "codecs/convfunc.h"

TWavData DecodeBack(const std::string& path) {
  TWavData result;
  TAudioLibrary library(0, 44100, 0);
  if (!library.Ready()) return result;
  TSourceHandle source(OpenSource(path, AUDIO_FLAG_DECODE, AUDIO_FLAG_DECODE));
  if (!source) return result;
  AUDIO_CHANNELINFO info;
  if (!audio_get_info(source.Get(), &info)) return result;
  result.rate = info.freq;
  result.channels = static_cast<uint16_t>(info.chans);
  result.bits = 16;
  std::vector<int16_t> buffer(32768);
  for (;;) {
    const int32_t got = audio_get_data(source.Get(), buffer.data(),
                                       static_cast<uint32_t>(buffer.size() * sizeof(int16_t)));
    if (got <= 0) break;
    result.samples.insert(result.samples.end(), buffer.begin(),
                          buffer.begin() + got / static_cast<int32_t>(sizeof(int16_t)));
  }
  result.ok = true;
  return result;
}

double ToneFrequency(const TWavData& data, uint16_t channel) {
  if (data.channels == 0 || channel >= data.channels || data.rate == 0) return 0.0;
  const size_t frames = data.samples.size() / data.channels;
  int peak = 0;
  for (size_t i = 0; i < frames; ++i) peak = std::max(peak, std::abs(int(data.samples[i * data.channels + channel])));
  const int threshold = peak / 10;
  if (threshold == 0) return 0.0;
  bool low = false;
  size_t crossings = 0, first = 0, last = 0;
  for (size_t i = 0; i < frames; ++i) {
    const int v = data.samples[i * data.channels + channel];
    if (v < -threshold) {
      low = true;
    } else if (low && v > threshold) {
      low = false;
      if (crossings++ == 0) first = i;
      last = i;
    }
  }
  if (crossings < 2) return 0.0;
  return static_cast<double>(crossings - 1) * data.rate / static_cast<double>(last - first);
}
