#include "midifixture.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

namespace {
struct TEvent {
  uint32_t tick;
  int order;  // note-offs before note-ons at the same tick
  std::vector<uint8_t> bytes;
};

void PutVarLen(std::vector<uint8_t>& out, uint32_t v) {
  uint8_t stack[5];
  int n = 0;
  stack[n++] = v & 0x7f;
  while ((v >>= 7) != 0) stack[n++] = static_cast<uint8_t>(0x80 | (v & 0x7f));
  while (n > 0) out.push_back(stack[--n]);
}

void PutBE32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>((v >> (8 * i)) & 0xff));
}
}  // namespace

bool WriteMidiFile(const std::string& path, const std::vector<TMidiNote>& notes,
                   uint16_t ticksPerQuarter, uint32_t microsPerQuarter, uint32_t endTick,
                   uint8_t program) {
  std::vector<TEvent> events;
  events.push_back({0, 0, {0xff, 0x51, 0x03, static_cast<uint8_t>(microsPerQuarter >> 16),
                           static_cast<uint8_t>(microsPerQuarter >> 8),
                           static_cast<uint8_t>(microsPerQuarter)}});
  std::vector<bool> used(16, false);
  for (const TMidiNote& n : notes) used[n.channel & 15] = true;
  for (uint8_t c = 0; c < 16; ++c)
    if (used[c] && c != 9) events.push_back({0, 1, {static_cast<uint8_t>(0xc0 | c), program}});
  uint32_t last = endTick;
  for (const TMidiNote& n : notes) {
    const uint8_t c = n.channel & 15;
    events.push_back({n.startTick, 3, {static_cast<uint8_t>(0x90 | c), n.key, n.velocity}});
    if (n.noteOff)
      events.push_back({n.startTick + n.lengthTicks, 2, {static_cast<uint8_t>(0x80 | c), n.key, 0}});
    last = std::max(last, n.startTick + n.lengthTicks);
  }
  std::stable_sort(events.begin(), events.end(), [](const TEvent& a, const TEvent& b) {
    return std::tie(a.tick, a.order) < std::tie(b.tick, b.order);
  });

  std::vector<uint8_t> track;
  uint32_t now = 0;
  for (const TEvent& e : events) {
    PutVarLen(track, e.tick - now);
    now = e.tick;
    track.insert(track.end(), e.bytes.begin(), e.bytes.end());
  }
  PutVarLen(track, last - now);
  track.insert(track.end(), {0xff, 0x2f, 0x00});

  std::vector<uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1};
  file.push_back(static_cast<uint8_t>(ticksPerQuarter >> 8));
  file.push_back(static_cast<uint8_t>(ticksPerQuarter & 0xff));
  file.insert(file.end(), {'M', 'T', 'r', 'k'});
  PutBE32(file, static_cast<uint32_t>(track.size()));
  file.insert(file.end(), track.begin(), track.end());

  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
  return std::fclose(f) == 0 && ok;
}

std::vector<TMidiNote> MidiScale(int count, uint8_t firstKey, uint8_t velocity) {
  static const int steps[] = {0, 2, 4, 5, 7, 9, 11};
  std::vector<TMidiNote> notes;
  for (int i = 0; i < count; ++i) {
    TMidiNote n;
    n.startTick = static_cast<uint32_t>(i) * 480;
    n.lengthTicks = 480;
    n.key = static_cast<uint8_t>(firstKey + 12 * (i / 7) + steps[i % 7]);
    n.velocity = velocity;
    notes.push_back(n);
  }
  return notes;
}

std::vector<TMidiNote> MidiLoudChords(int bars) {
  static const uint8_t chords[4][4] = {
      {60, 64, 67, 72}, {57, 60, 64, 69}, {53, 57, 60, 65}, {55, 59, 62, 67}};
  std::vector<TMidiNote> notes;
  for (int bar = 0; bar < bars; ++bar) {
    const uint32_t start = static_cast<uint32_t>(bar) * 4 * 480;
    for (uint8_t key : chords[bar % 4]) {
      for (uint8_t c = 0; c < 3; ++c)  // three instruments doubling the chord
        notes.push_back({start, 4 * 480, c, key, 127});
    }
    for (int beat = 0; beat < 4; ++beat) {
      notes.push_back({start + static_cast<uint32_t>(beat) * 480, 440, 3,
                       static_cast<uint8_t>(chords[bar % 4][0] - 24), 127});
      notes.push_back({start + static_cast<uint32_t>(beat) * 480, 240, 9, 36, 127});  // kick
      notes.push_back({start + static_cast<uint32_t>(beat) * 480 + 240, 240, 9, 42, 110});
    }
  }
  return notes;
}
