#include "codecs/options.h"

const std::array<std::string, 9> QualityNames = {
    "Наихудшее", "Очень низкое", "Низкое", "Ниже среднего)", "Среднее",
    "Выше среднего", "Высокое", "Очень высокое", "Наилучшее"};

const std::array<std::string, 5> WMAQualityNames = {"Наихудшее", "Низкое", "Среднее", "Высокое",
                                                     "Наилучшее"};

const std::array<std::string, 11> BitrateTexts = {"8",   "16",  "32",  "64",  "96", "128",
                                                  "192", "224", "256", "320", "498"};

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
