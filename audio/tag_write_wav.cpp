// Tags of a WAV output: a LIST/INFO chunk. TagLib appends it after the data chunk, so the
// 44-byte header and the samples stay where they are; only the RIFF size grows. INFO text is
// written in UTF-8, as FFmpeg and current players read it. INFO holds no picture.
#include <taglib/infotag.h>
#include <taglib/wavfile.h>

#include <sys/stat.h>

#include "tag_detail.h"

namespace audio_detail {
namespace {

// RIFF sizes are 32-bit: a WAV near that size has no room for a chunk after its data.
constexpr uint64_t kLargestTaggedWav = 0xFFFFFFFFull - 0x100000;

}  // namespace

bool WriteWavTags(const std::string& path, const SongTags& tags) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return false;
  if (static_cast<uint64_t>(info.st_size) > kLargestTaggedWav) return true;
  PrepareTagLib();
  TagLib::RIFF::WAV::File file(path.c_str(), false);
  if (!file.isValid()) return false;
  TagLib::RIFF::Info::Tag* tag = file.InfoTag();
  const auto put = [tag](const char* id, const std::string& value) {
    if (!value.empty()) tag->setFieldText(id, TagLib::String(value, TagLib::String::UTF8));
  };
  put("INAM", tags.title);
  put("IART", tags.artist);
  put("IPRD", tags.album);
  put("ICRD", tags.date);
  put("IGNR", tags.genre);
  put("ICMT", tags.comment);
  put("ICOP", tags.copyright);
  if (tags.track > 0) put("ITRK", std::to_string(tags.track));
  return file.save(TagLib::RIFF::WAV::File::Info, TagLib::File::StripOthers);
}

}  // namespace audio_detail
