// Decodes an output file of any kind the program writes (WAV, MP3, Ogg Vorbis, WMA) back to
// 16-bit samples through the audio layer, so tests can check what a conversion produced.
#pragma once

#include <string>

#include "wavfixture.h"

// ok is false when no opener accepts the file; rate and channels are the file's own.
TWavData DecodeBack(const std::string& path);

// The dominant frequency of one channel, from rising crossings with hysteresis at a tenth
// of the peak, so the faint noise of a lossy coding around zero does not count.
double ToneFrequency(const TWavData& data, uint16_t channel = 0);
