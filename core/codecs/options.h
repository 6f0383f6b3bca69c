// The settings record and the tables through which the options dialog shows its values.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// Conversions a batch runs at once unless the settings say otherwise: one per core.
int32_t DefaultBatchJobs();
// The most the settings offer: two per core.
int32_t MaxBatchJobs();

// The live settings are ConvFunc.Options; each conversion routine gets its own copy.
// Texts are UTF-8 byte strings (kept as bytes, valid UTF-8 or not).
struct TOptions {
  std::string OutputFormat;   // "mp3", "ogg", "wma", "wav", "flac", "opus"
  std::string OutputFolder;   // empty: beside the sources
  int32_t OutputName = 0;     // 0 source name, 1 "Track"n, 2 n
  bool Delete = false;
  int32_t WAVFreq = 0;
  int32_t WAVNumChannels = 0;
  int32_t OGGFreq = 0;
  int32_t OGGNumChannels = 0;
  bool OGGUseVBR = false;
  int32_t OGGBitrate = 0;     // kbit/s
  int32_t OGGQuality = 0;     // 1..9
  int32_t MP3Freq = 0;
  int32_t MP3NumChannels = 0;
  int32_t MP3Bitrate = 0;     // kbit/s
  bool MP3UseVBR = false;
  int32_t MP3Quality = 0;     // 1..9
  int32_t WMABitrate = 0;     // kbit/s
  bool WMAUseVBR = false;
  int32_t WMAQuality = 0;     // 1..5
  // FLAC and Opus came later than the fields above: a config.cfg without their sections
  // leaves them at these working values, which is why they do not start at 0.
  int32_t FLACFreq = 44100;
  int32_t FLACNumChannels = 2;
  int32_t FLACLevel = 5;      // 0 fastest .. 8 smallest
  int32_t OpusNumChannels = 2;
  int32_t OpusBitrate = 128;  // kbit/s
  bool OpusUseVBR = true;
  // Loudness tags on every output: 0 none, 1 by track, 2 by track and album.
  int32_t ReplayGain = 0;
  // Conversions of a batch run at the same time; a value outside 1..MaxBatchJobs() (a hand
  // edit of config.cfg) is kept as read and taken as its nearest bound.
  int32_t Jobs = DefaultBatchJobs();

  bool operator==(const TOptions&) const = default;
};

// True when the FLAC and Opus settings hold their working values, so config.cfg need not
// store them.
bool FlacOpusAtDefaults(const TOptions& options);

// The number of conversions a batch runs at once under `options`: Jobs within its bounds.
int32_t BatchJobsFor(const TOptions& options);

// Working values for a first run without config.cfg; an all-zero record would convert
// nothing.
TOptions FirstRunOptions();

extern const std::array<std::string, 9> QualityNames;
extern const std::array<std::string, 5> WMAQualityNames;
extern const std::array<std::string, 11> BitrateTexts;
