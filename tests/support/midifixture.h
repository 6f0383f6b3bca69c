// Test fixtures: Standard MIDI Files written byte by byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TMidiNote {
  uint32_t startTick = 0;
  uint32_t lengthTicks = 0;
  uint8_t channel = 0;   // 0..15; 9 is the percussion channel
  uint8_t key = 60;      // 60 = middle C
  uint8_t velocity = 100;
  bool noteOff = true;   // false: the note is never released (a broken file)
};

// A format-0 file at `ticksPerQuarter` and a tempo of `microsPerQuarter`. Every channel
// used gets a program change to `program` first. The track ends at `endTick` or at the
// last note-off, whichever is later.
bool WriteMidiFile(const std::string& path, const std::vector<TMidiNote>& notes,
                   uint16_t ticksPerQuarter = 480, uint32_t microsPerQuarter = 500000,
                   uint32_t endTick = 0, uint8_t program = 0);

// Notes of one quarter each, one after another, on channel 0 (120 bpm: half a second each).
std::vector<TMidiNote> MidiScale(int count, uint8_t firstKey = 60, uint8_t velocity = 100);

// A dense passage: `bars` bars of four-part chords with a bass line, at full velocity, the
// loudest a typical General MIDI song gets.
std::vector<TMidiNote> MidiLoudChords(int bars);
