// Tags of an Ogg Vorbis output, as Vorbis comments for the encoder's comment header: the
// common field names, the track and disc totals in fields of their own as Vorbis players
// expect, and the cover as a base64 FLAC picture block (METADATA_BLOCK_PICTURE).
#include <taglib/flacpicture.h>

#include "tag_detail.h"

namespace audio_detail {
namespace {

std::string PictureBlock(const SongPicture& cover) {
  TagLib::FLAC::Picture picture;
  picture.setType(TagLib::FLAC::Picture::FrontCover);
  picture.setMimeType(TagLib::String(cover.mime, TagLib::String::UTF8));
  picture.setDescription(TagLib::String(cover.description, TagLib::String::UTF8));
  picture.setData(TagLib::ByteVector(reinterpret_cast<const char*>(cover.data.data()),
                                     static_cast<unsigned>(cover.data.size())));
  const TagLib::ByteVector base64 = picture.render().toBase64();
  return std::string(base64.data(), base64.size());
}

}  // namespace

VorbisComments VorbisCommentsOf(const SongTags& tags) {
  TagLib::PropertyMap properties = PropertiesOf(tags);
  properties.erase("TRACKNUMBER");
  properties.erase("DISCNUMBER");
  VorbisComments comments;
  for (const auto& [key, values] : properties) {
    for (const TagLib::String& value : values)
      comments.emplace_back(key.to8Bit(true), value.to8Bit(true));
  }
  const auto number = [&comments](const char* key, uint32_t n) {
    if (n > 0) comments.emplace_back(key, std::to_string(n));
  };
  number("TRACKNUMBER", tags.track);
  number("TRACKTOTAL", tags.track_total);
  number("DISCNUMBER", tags.disc);
  number("DISCTOTAL", tags.disc_total);
  if (!tags.cover.data.empty()) comments.emplace_back("METADATA_BLOCK_PICTURE", PictureBlock(tags.cover));
  return comments;
}

}  // namespace audio_detail
