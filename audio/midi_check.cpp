#include "midi_check.h"

#include "midi_bytes.h"

namespace audio_detail {
namespace {

using Bytes = MidiBytes;
using Vlq = MidiBytes::Vlq;

std::string Hex(uint8_t b) {
  const char* digits = "0123456789ABCDEF";
  return std::string("0x") + digits[b >> 4] + digits[b & 15];
}

std::string Count(uint32_t n, const char* thing) {
  return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

// What is wrong with one track's events; empty when nothing is. Sets `notes` on a note-on.
std::string CheckTrack(Bytes track, bool& notes) {
  const std::string cut = "ends inside an event";
  uint8_t running = 0;
  while (track.Left() > 0) {
    uint32_t delta, length;
    const Vlq time = track.Quantity(delta);
    if (time == Vlq::TooLong) return "holds a delta time longer than four bytes";
    uint8_t status;
    if (time == Vlq::Cut || !track.Byte(status)) return cut;
    if (status == 0xFF) {
      uint8_t type;
      if (!track.Byte(type) || track.Quantity(length) != Vlq::Ok || !track.Skip(length)) return cut;
      if (type == 0x2F) return {};  // end of track
    } else if (status == 0xF0 || status == 0xF7) {
      if (track.Quantity(length) != Vlq::Ok || !track.Skip(length)) return cut;
    } else if (status >= 0xF0) {
      return "holds the undefined event " + Hex(status);
    } else {
      // A data byte here continues the running status of the last channel message.
      uint8_t first = status;
      if (status >= 0x80) {
        running = status;
        if (!track.Byte(first)) return cut;
      } else if (running == 0) {
        return "holds a data byte " + Hex(status) + " without a status before it";
      }
      const uint8_t kind = running & 0xF0;
      uint8_t second = 0;
      if (kind != 0xC0 && kind != 0xD0 && !track.Byte(second)) return cut;
      if ((first | second) & 0x80) return "holds the status byte " + Hex(first | second) + " inside a message";
      if (kind == 0x90 && second > 0) notes = true;
    }
  }
  return "has no end-of-track event";
}

}  // namespace

MidiCheck CheckMidiFile(const std::vector<uint8_t>& file) {
  MidiCheck check;
  Bytes in(file.data(), file.size());
  uint32_t id = 0, length = 0, format = 0, tracks = 0, division = 0;
  if (!in.Big(4, id) || id != 0x4D546864 || !in.Big(4, length) || length < 6 ||
      !in.Big(2, format) || !in.Big(2, tracks) || !in.Big(2, division) || !in.Skip(length - 6)) {
    check.damage = "the header is cut short";
    return check;
  }
  if (format > 2) check.damage = "unknown format " + std::to_string(format);
  if (tracks == 0) check.damage = "the header announces no tracks";
  if (division == 0) check.damage = "the header gives no time division";
  if (!check.damage.empty()) return check;
  // Chunks of other kinds between the tracks are skipped, as readers must.
  uint32_t found = 0;
  while (found < tracks) {
    if (!in.Big(4, id) || !in.Big(4, length)) {
      check.damage = "the header announces " + Count(tracks, "track") + ", the file holds " +
                     std::to_string(found);
      return check;
    }
    const bool track = id == 0x4D54726B;  // "MTrk"
    const size_t size = length <= in.Left() ? length : in.Left();
    if (track) {
      ++found;
      const std::string problem = CheckTrack(Bytes(in.Here(), size), check.notes);
      const std::string where = "track " + std::to_string(found);
      if (!problem.empty()) check.damage = where + " " + problem;
      else if (size < length) check.damage = where + " is cut short";
      if (!check.damage.empty()) return check;
    }
    in.Skip(size);
  }
  return check;
}

}  // namespace audio_detail
