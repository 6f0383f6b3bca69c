// The tags a Standard MIDI File carries: the name of its first track, which sequencers use
// as the song's title, and its copyright notice.
#include "midi_bytes.h"
#include "tag_detail.h"

namespace audio_detail {
namespace {

constexpr uint8_t kMetaCopyright = 0x02;
constexpr uint8_t kMetaTrackName = 0x03;

// The walk stops at the first thing it cannot read, so a quantity is only whole or not.
class Reader : public MidiBytes {
 public:
  using MidiBytes::MidiBytes;
  bool Big32(uint32_t& v) { return Big(4, v); }
  bool Quantity(uint32_t& v) { return MidiBytes::Quantity(v) == Vlq::Ok; }
};

std::string MetaText(const uint8_t* data, uint32_t length) {
  const TagLib::ByteVector bytes(reinterpret_cast<const char*>(data), length);
  return DecodeUnknownText(bytes).stripWhiteSpace().to8Bit(true);
}

// Walks the events of one track for its first name and copyright texts.
void ReadTrack(Reader track, SongTags& tags) {
  uint8_t running = 0;
  while (!track.AtEnd()) {
    uint32_t delta;
    uint8_t status;
    if (!track.Quantity(delta) || !track.Byte(status)) return;
    if (status == 0xFF) {
      uint8_t type;
      uint32_t length;
      if (!track.Byte(type) || !track.Quantity(length) || length > track.Left()) return;
      if (type == kMetaTrackName && tags.title.empty()) tags.title = MetaText(track.Here(), length);
      if (type == kMetaCopyright && tags.copyright.empty())
        tags.copyright = MetaText(track.Here(), length);
      if (type == 0x2F) return;  // end of track
      track.Skip(length);
    } else if (status == 0xF0 || status == 0xF7) {
      uint32_t length;
      if (!track.Quantity(length) || !track.Skip(length)) return;
    } else {
      // A data byte here continues the running status of the last channel message.
      size_t dataBytes = 0;
      if (status < 0x80) {
        if (running == 0) return;
        const uint8_t kind = running & 0xF0;
        dataBytes = (kind == 0xC0 || kind == 0xD0) ? 0 : 1;
      } else {
        running = status;
        const uint8_t kind = status & 0xF0;
        dataBytes = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
      }
      if (!track.Skip(dataBytes)) return;
    }
  }
}

}  // namespace

void ReadMidiTags(const std::vector<uint8_t>& file, SongTags& tags) {
  Reader reader(file.data(), file.size());
  uint32_t id, length;
  // The header chunk, then the chunks up to the first track; unknown chunks are skipped.
  if (!reader.Big32(id) || id != 0x4D546864 || !reader.Big32(length) || !reader.Skip(length))
    return;
  while (reader.Big32(id) && reader.Big32(length)) {
    if (id == 0x4D54726B) {  // "MTrk"
      const size_t size = std::min<size_t>(length, reader.Left());
      ReadTrack(Reader(reader.Here(), size), tags);
      return;
    }
    if (!reader.Skip(length)) return;
  }
}

}  // namespace audio_detail
