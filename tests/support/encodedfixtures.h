// Test fixtures: tones encoded as MP3 (libmp3lame), Ogg Vorbis (libvorbis) and WMA (FFmpeg's
// wmav2 encoder in an ASF file). Each writer takes interleaved 16-bit samples and returns
// false when the file could not be written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// `kbps` is the constant bitrate; with `vbr` it is ignored and VBR quality 4 is used.
// Without `writeXingTag` the file carries no Xing/LAME frame, so a reader has to scan the
// frames to learn its length and knows nothing of the encoder delay and padding.
bool WriteMp3Fixture(const std::string& path, uint32_t rate, uint16_t chans,
                     const std::vector<int16_t>& samples, int kbps = 128, bool vbr = false,
                     bool writeXingTag = true);
// Links of a chained file need serial numbers of their own.
bool WriteOggFixture(const std::string& path, uint32_t rate, uint16_t chans,
                     const std::vector<int16_t>& samples, int serial = 12345);
bool WriteWmaFixture(const std::string& path, uint32_t rate, uint16_t chans,
                     const std::vector<int16_t>& samples, int bitrate = 128000);

// Any container and encoder of FFmpeg, by their names (for example "flac"/"flac",
// "ogg"/"libopus", "aiff"/"pcm_s16be", "matroska"/"flac"). `bitrate` 0 keeps the encoder's
// default; `extraSilentFrames` codec frames of silence follow the samples.
bool WriteFfmpegFixture(const std::string& path, const std::string& container,
                        const std::string& codecName, uint32_t rate, uint16_t chans,
                        const std::vector<int16_t>& samples, int bitrate = 0,
                        int extraSilentFrames = 0);
