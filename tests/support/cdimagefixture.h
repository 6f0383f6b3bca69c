// Test fixtures: audio-disc images (a CUE sheet with its BIN) that the CD code reads as a
// drive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes `cuePath` and "<name>.bin" beside it (the CD library reads the BIN of the same
// name whatever the FILE line says). Each track is 44100 Hz stereo interleaved PCM; a
// track is padded with silence to a whole number of 2352-byte sectors. At least one track.
bool WriteCdImage(const std::string& cuePath,
                  const std::vector<std::vector<int16_t>>& tracksStereo44100);

// The track as the disc holds it: padded with silence to whole sectors.
std::vector<int16_t> PadToSectors(const std::vector<int16_t>& trackStereo44100);
