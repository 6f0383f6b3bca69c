#include "decodeback.h"

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
