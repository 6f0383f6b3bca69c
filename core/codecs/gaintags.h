// The loudness tags of an output: ReplayGain 2.0 values (reference -18 LUFS) and, for Opus,
// the R128 gains of RFC 7845 (Q7.8 dB against -23 LUFS).
#pragma once

#include <string>

#include "songtags.h"

// The tags of a measurement for an output of `format` ("mp3", "wma", "flac", "opus", anything
// else Ogg Vorbis; none for "wav"): REPLAYGAIN_TRACK_GAIN "-6.48 dB" and REPLAYGAIN_TRACK_PEAK "0.988553"
// against -18 LUFS, or for Opus R128_TRACK_GAIN in Q7.8 dB against -23 LUFS. With `album`
// the ALBUM fields of the album's loudness and peak instead.
VorbisComments GainFields(const std::string& format, bool album, double loudness, double peak);

// True when outputs of `format` carry loudness tags.
bool FormatTakesGainTags(const std::string& format);

// Puts `fields` into the finished output at `path` (of `format`), replacing fields of the
// same names, whole or not at all: a complete tagged copy is made beside the file and takes
// its place in one step, so a reader never sees the output half tagged. False when that
// failed; the output is then as it was.
bool WriteGainFields(const std::string& path, const std::string& format, const VorbisComments& fields);
