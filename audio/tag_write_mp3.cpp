// Tags of an MP3 output: an ID3v2.4 tag in UTF-8 in front of the audio, and an ID3v1 tag at
// the end only when the source had one (players that read nothing newer still list it).
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include "tag_detail.h"

namespace audio_detail {

bool WriteMp3Tags(const std::string& path, const SongTags& tags) {
  PrepareTagLib();
  TagLib::MPEG::File file(path.c_str(), false);
  if (!file.isValid()) return false;
  TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
  tag->setProperties(PropertiesOf(tags));
  if (!tags.cover.data.empty()) {
    auto* picture = new TagLib::ID3v2::AttachedPictureFrame;
    picture->setTextEncoding(TagLib::String::UTF8);
    picture->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    picture->setMimeType(TagLib::String(tags.cover.mime, TagLib::String::UTF8));
    picture->setDescription(TagLib::String(tags.cover.description, TagLib::String::UTF8));
    picture->setPicture(TagLib::ByteVector(reinterpret_cast<const char*>(tags.cover.data.data()),
                                           static_cast<unsigned>(tags.cover.data.size())));
    tag->addFrame(picture);  // the tag owns it
  }
  if (!tags.had_id3v1) {
    return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v4,
                     TagLib::File::DoNotDuplicate);
  }
  // Duplicate fills the ID3v1 tag from the ID3v2 one, truncated to its 30-byte fields.
  return file.save(TagLib::MPEG::File::ID3v2 | TagLib::MPEG::File::ID3v1,
                   TagLib::File::StripOthers, TagLib::ID3v2::v4, TagLib::File::Duplicate);
}

}  // namespace audio_detail
