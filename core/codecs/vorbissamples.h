// How the Ogg Vorbis encoder turns the temporary WAV's bytes into analysis samples.
#pragma once

// Frame i of `chunk` (interleaved 16-bit little-endian samples) goes to position i of each
// channel's buffer as sample / 32768: the high byte taken as signed, the low as unsigned.
inline void WavChunkToVorbis(const unsigned char* chunk, int frames, int channels,
                             float** buffer) {
  constexpr float kScale = 0.000030517578125f;  // 2^-15
  for (int i = 0; i < frames; ++i) {
    const unsigned char* frame = chunk + static_cast<long>(i) * 2 * channels;
    for (int c = 0; c < channels; ++c) {
      const int sample = static_cast<signed char>(frame[2 * c + 1]) * 256 + frame[2 * c];
      buffer[c][i] = static_cast<float>(sample) * kScale;
    }
  }
}
