// Test fixtures: tones written as 16-bit PCM WAV files, and a reader for WAV files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TWavData {
  bool ok = false;
  uint32_t riffSize = 0;    // header field at offset 4
  uint16_t format = 0;
  uint16_t channels = 0;
  uint32_t rate = 0;
  uint32_t byteRate = 0;
  uint16_t blockAlign = 0;
  uint16_t bits = 0;
  uint32_t dataSize = 0;    // header field at offset 40
  uint64_t fileSize = 0;
  std::vector<int16_t> samples;  // interleaved
  uint64_t frames() const { return channels ? samples.size() / channels : 0; }
};

// A sine tone of `frequency` Hz at `amplitude` (0..1) in every channel; with
// `distinctChannels` channel c carries frequency * (c + 1).
std::vector<int16_t> MakeTone(uint32_t rate, uint16_t channels, uint64_t frames,
                              double frequency, double amplitude = 0.5,
                              bool distinctChannels = false);
// Writes a canonical 44-byte-header WAV; false on failure.
bool WriteWav(const std::string& path, uint32_t rate, uint16_t channels,
              const std::vector<int16_t>& samples);
// Reads a 44-byte-header WAV as this program writes it (fields taken by position); the
// samples are those of the data chunk, without the chunks that may follow it.
TWavData ReadWav(const std::string& path);

// The dominant frequency of one channel, found by counting zero crossings.
double EstimateFrequency(const std::vector<int16_t>& samples, uint16_t channels,
                         uint16_t channel, uint32_t rate);
