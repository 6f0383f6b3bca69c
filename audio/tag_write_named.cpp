// Fields by name into a finished file, every other tag kept: the loudness values computed
// once the output exists. MP3 carries them as ID3v2 TXXX frames (the ID3v1 tag at the end,
// if any, stays as it is), the Ogg kinds and FLAC as Vorbis comments, WMA as attributes.
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include "tag_detail.h"

namespace audio_detail {
namespace {

TagLib::String Utf8(const std::string& text) { return TagLib::String(text, TagLib::String::UTF8); }

bool WriteMp3Fields(const std::string& path, const VorbisComments& fields) {
  TagLib::MPEG::File file(path.c_str(), false);
  if (!file.isValid()) return false;
  TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
  for (const auto& [name, value] : fields) {
    while (auto* old = TagLib::ID3v2::UserTextIdentificationFrame::find(tag, Utf8(name)))
      tag->removeFrame(old);
    auto* frame = new TagLib::ID3v2::UserTextIdentificationFrame(TagLib::String::UTF8);
    frame->setDescription(Utf8(name));
    frame->setText(Utf8(value));
    tag->addFrame(frame);  // the tag owns it
  }
  return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4,
                   TagLib::File::DoNotDuplicate);
}

void PutComments(TagLib::Ogg::XiphComment& comment, const VorbisComments& fields) {
  for (const auto& [name, value] : fields) comment.addField(Utf8(name), Utf8(value), true);
}

template <typename OggFile>
bool WriteOggFields(const std::string& path, const VorbisComments& fields) {
  OggFile file(path.c_str(), false);
  if (!file.isValid() || file.tag() == nullptr) return false;
  PutComments(*file.tag(), fields);
  return file.save();
}

bool WriteFlacFields(const std::string& path, const VorbisComments& fields) {
  TagLib::FLAC::File file(path.c_str(), false);
  if (!file.isValid()) return false;
  PutComments(*file.xiphComment(true), fields);
  return file.save();
}

}  // namespace

bool WriteNamedFields(const std::string& path, NamedFieldFormat format, const VorbisComments& fields) {
  if (fields.empty()) return true;
  PrepareTagLib();
  switch (format) {
    case NamedFieldFormat::Mp3: return WriteMp3Fields(path, fields);
    case NamedFieldFormat::OggVorbis: return WriteOggFields<TagLib::Ogg::Vorbis::File>(path, fields);
    case NamedFieldFormat::Opus: return WriteOggFields<TagLib::Ogg::Opus::File>(path, fields);
    case NamedFieldFormat::Flac: return WriteFlacFields(path, fields);
    case NamedFieldFormat::Wma: return WriteWmaFields(path, fields);
  }
  return false;
}

}  // namespace audio_detail
