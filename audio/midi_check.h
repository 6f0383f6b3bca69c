// A Standard MIDI File's structure checked event by event, to say why a song the synthesiser
// refused cannot be played.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace audio_detail {

struct MidiCheck {
  std::string damage;  // what is wrong, in words; empty when the structure is sound
  bool notes = false;  // some track strikes a note (before any damage)
};

MidiCheck CheckMidiFile(const std::vector<uint8_t>& file);

}  // namespace audio_detail
