// Decodes an output file of any kind the program writes (WAV, MP3, Ogg Vorbis, WMA) back to
// 16-bit samples through the audio layer, so tests can check what a conversion produced.
#pragma once

#include <string>

#include "wavfixture.h"

// ok is false when no opener accepts the file; rate and channels are the file's own.
TWavData DecodeBack(const std::string& path);
