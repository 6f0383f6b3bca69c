// Tags of a WAV output: a LIST/INFO chunk, rendered by TagLib, appended after the data chunk
// so that the 44-byte header and the samples stay where they are; only the RIFF size grows.
// INFO text is written in UTF-8, as FFmpeg and current players read it. INFO holds no
// picture. Every write is checked, so a full disk fails the conversion.
#include <taglib/infotag.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "tag_detail.h"
#include "stdio_file.h"

namespace audio_detail {
namespace {

void PutLE32(uint8_t* out, uint64_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>((value >> (8 * i)) & 0xff);
}

}  // namespace

bool WriteWavTags(const std::string& path, const SongTags& tags) {
  PrepareTagLib();
  TagLib::RIFF::Info::Tag info;
  const auto put = [&info](const char* id, const std::string& value) {
    if (!value.empty()) info.setFieldText(id, TagLib::String(value, TagLib::String::UTF8));
  };
  put("INAM", tags.title);
  put("IART", tags.artist);
  put("IPRD", tags.album);
  put("ICRD", tags.date);
  put("IGNR", tags.genre);
  put("ICMT", tags.comment);
  put("ICOP", tags.copyright);
  if (tags.track > 0) put("ITRK", std::to_string(tags.track));
  const TagLib::ByteVector list = info.render();  // "INFO" and the fields, each even-sized
  if (list.isEmpty()) return true;

  FilePtr file(std::fopen(path.c_str(), "rb+"));
  if (!file) return false;
  uint8_t riff[12];
  if (std::fread(riff, 1, sizeof riff, file.get()) != sizeof riff ||
      std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0)
    return false;
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return false;
  const long end = std::ftell(file.get());
  const uint64_t total = static_cast<uint64_t>(end) + 8 + list.size();
  // RIFF sizes are 32-bit: a WAV that long already has no room for a chunk after its data,
  // and chunks start at even offsets.
  if (end < 12 || total - 8 > 0xFFFFFFFFull || end % 2 != 0) return end >= 12;
  uint8_t header[8] = {'L', 'I', 'S', 'T'};
  PutLE32(header + 4, list.size());
  uint8_t riffSize[4];
  PutLE32(riffSize, total - 8);
  if (std::fwrite(header, 1, sizeof header, file.get()) != sizeof header ||
      std::fwrite(list.data(), 1, list.size(), file.get()) != list.size() ||
      std::fseek(file.get(), 4, SEEK_SET) != 0 ||
      std::fwrite(riffSize, 1, sizeof riffSize, file.get()) != sizeof riffSize)
    return false;
  return std::fclose(file.release()) == 0;
}

}  // namespace audio_detail
