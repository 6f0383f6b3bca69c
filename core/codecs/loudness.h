// Loudness of a finished output as a player will hear it: the file is decoded back through
// the audio layer and measured as EBU R128 (ITU-R BS.1770 integrated loudness with gating,
// by libebur128, and true peak by codecs/truepeak.h, libebur128's interpolator made fast);
// codecs/gaintags.h turns a measurement into tags.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the ReplayGain setting asks for (TOptions::ReplayGain).
enum : int32_t { REPLAYGAIN_OFF = 0, REPLAYGAIN_TRACK = 1, REPLAYGAIN_ALBUM = 2 };

struct TLoudness {
  double integrated = 0;  // LUFS; meaningful only when Measured()
  double truePeak = 0;    // linear, 1.0 = full scale, the largest of the channels
  // The energies of the gating blocks (400 ms, every 100 ms) above the absolute gate, as
  // libebur128 keeps them: an album's loudness is the gated loudness of all its tracks'
  // blocks together, which also holds when the tracks were measured in other processes.
  std::vector<double> blocks;

  // False for an output too short or too quiet to have a gated loudness.
  bool Measured() const { return !blocks.empty(); }
};

// Decodes `path` back and measures it. False when the file cannot be opened or decoded.
// Between stretches of audio it lets the windows process their events and throws EAbort on
// a confirmed cancel.
bool MeasureOutput(const std::string& path, TLoudness& result);

// The gated loudness of several measurements taken as one programme (an album), in LUFS.
// Only measured ones may be given; at least one.
double GatedLoudness(const std::vector<const TLoudness*>& tracks);

// The line a child process sends with a measurement, and back; false for a malformed line.
std::string LoudnessToText(const TLoudness& loudness);
bool LoudnessFromText(const std::string& text, TLoudness& loudness);
