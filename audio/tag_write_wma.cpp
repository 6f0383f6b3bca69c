// Tags of a WMA output: ASF attributes (Title and Author in the content description,
// WM/AlbumTitle, WM/TrackNumber, WM/Year, WM/Genre, ... in the extended one) and the
// cover as WM/Picture.
#include <taglib/asffile.h>
#include <taglib/asfpicture.h>

#include "tag_detail.h"

namespace audio_detail {

bool WriteWmaTags(const std::string& path, const SongTags& tags) {
  PrepareTagLib();
  TagLib::ASF::File file(path.c_str(), false);
  if (!file.isValid()) return false;
  TagLib::ASF::Tag* tag = file.tag();
  TagLib::PropertyMap properties = PropertiesOf(tags);
  // WM/TrackNumber is a plain number; ASF has no field for the total.
  if (tags.track > 0)
    properties.replace("TRACKNUMBER", TagLib::String(std::to_string(tags.track)));
  tag->setProperties(properties);
  if (!tags.cover.data.empty()) {
    TagLib::ASF::Picture picture;
    picture.setType(TagLib::ASF::Picture::FrontCover);
    picture.setMimeType(TagLib::String(tags.cover.mime, TagLib::String::UTF8));
    picture.setDescription(TagLib::String(tags.cover.description, TagLib::String::UTF8));
    picture.setPicture(TagLib::ByteVector(reinterpret_cast<const char*>(tags.cover.data.data()),
                                          static_cast<unsigned>(tags.cover.data.size())));
    tag->setAttribute("WM/Picture", TagLib::ASF::Attribute(picture));
  }
  return file.save();
}

}  // namespace audio_detail
