#include "codecs/options.h"

#include <algorithm>
#include <thread>

const std::array<std::string, 9> QualityNames = {
    "Наихудшее", "Очень низкое", "Низкое", "Ниже среднего)", "Среднее",
    "Выше среднего", "Высокое", "Очень высокое", "Наилучшее"};

const std::array<std::string, 5> WMAQualityNames = {"Наихудшее", "Низкое", "Среднее", "Высокое",
                                                     "Наилучшее"};

const std::array<std::string, 11> BitrateTexts = {"8",   "16",  "32",  "64",  "96", "128",
                                                  "192", "224", "256", "320", "498"};

int32_t DefaultBatchJobs() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int32_t>(std::min(cores, 1024u));
}

int32_t MaxBatchJobs() { return 2 * DefaultBatchJobs(); }

int32_t BatchJobsFor(const TOptions& options) {
  return std::clamp(options.Jobs, int32_t{1}, MaxBatchJobs());
}

TOptions FirstRunOptions() {
  TOptions o;
  o.OutputFormat = "mp3";
  o.OutputFolder = "";
  o.OutputName = 0;
  o.Delete = false;
  o.WAVFreq = 44100;
  o.WAVNumChannels = 2;
  o.OGGFreq = 44100;
  o.OGGNumChannels = 2;
  o.OGGUseVBR = false;
  o.OGGBitrate = 192;
  o.OGGQuality = 5;
  o.MP3Freq = 44100;
  o.MP3NumChannels = 2;
  o.MP3Bitrate = 192;
  o.MP3UseVBR = false;
  o.MP3Quality = 5;
  o.WMABitrate = 128;
  o.WMAUseVBR = false;
  o.WMAQuality = 4;
  return o;
}

bool FlacOpusAtDefaults(const TOptions& o) {
  const TOptions d;
  return o.FLACFreq == d.FLACFreq && o.FLACNumChannels == d.FLACNumChannels &&
         o.FLACLevel == d.FLACLevel && o.OpusNumChannels == d.OpusNumChannels &&
         o.OpusBitrate == d.OpusBitrate && o.OpusUseVBR == d.OpusUseVBR;
}
