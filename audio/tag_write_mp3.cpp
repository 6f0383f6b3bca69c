// Tags of an MP3 output: an ID3v2.4 tag in UTF-8 in front of the first frame, and an ID3v1
// tag after the last one only when the source had one (players that read nothing newer
// still list it). TagLib renders both; the encoder writes them with the frames, so the file
// is written once and a full disk shows as a failed write like any other.
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>

#include "tag_detail.h"

namespace audio_detail {
namespace {

std::vector<uint8_t> BytesOf(const TagLib::ByteVector& data) {
  return std::vector<uint8_t>(data.begin(), data.end());
}

}  // namespace

Mp3TagBlocks RenderMp3Tags(const SongTags& tags) {
  Mp3TagBlocks blocks;
  if (tags.empty()) return blocks;
  PrepareTagLib();
  TagLib::ID3v2::Tag tag;
  tag.setProperties(PropertiesOf(tags));
  if (!tags.cover.data.empty()) {
    auto* picture = new TagLib::ID3v2::AttachedPictureFrame;
    picture->setTextEncoding(TagLib::String::UTF8);
    picture->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    picture->setMimeType(TagLib::String(tags.cover.mime, TagLib::String::UTF8));
    picture->setDescription(TagLib::String(tags.cover.description, TagLib::String::UTF8));
    picture->setPicture(TagLib::ByteVector(reinterpret_cast<const char*>(tags.cover.data.data()),
                                           static_cast<unsigned>(tags.cover.data.size())));
    tag.addFrame(picture);  // the tag owns it
  }
  blocks.front = BytesOf(tag.render(TagLib::ID3v2::v4));
  if (tags.had_id3v1) {
    // Filled from the ID3v2 tag and cut to its 30-byte fields; text as tag_text.cpp says.
    TagLib::ID3v1::Tag old;
    TagLib::Tag::duplicate(&tag, &old, true);
    blocks.back = BytesOf(old.render());
  }
  return blocks;
}

}  // namespace audio_detail
