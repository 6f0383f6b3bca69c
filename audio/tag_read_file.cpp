// A file's tags read with TagLib: ID3v1 and ID3v2 (2.2 to 2.4), APE, Vorbis comments (Ogg
// Vorbis, Opus, FLAC), ASF attributes, MP4 atoms and RIFF INFO, and the front cover from
// whichever of them holds pictures.
#include <taglib/asffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "tag_detail.h"
#include "stdio_file.h"

namespace audio_detail {
namespace {

// Keeps `data` as the cover unless one is already kept and this is not the front cover.
void OfferPicture(SongPicture& cover, bool& haveFront, bool front, const TagLib::String& mime,
                  const TagLib::String& description, const TagLib::ByteVector& data) {
  if (data.isEmpty() || data.size() > kMaxCoverBytes) return;
  if (haveFront || (!cover.data.empty() && !front)) return;
  cover.mime = mime.to8Bit(true);
  cover.description = description.to8Bit(true);
  cover.data.assign(data.begin(), data.end());
  haveFront = front;
}

void TakeId3v2Pictures(TagLib::ID3v2::Tag* tag, SongPicture& cover, bool& haveFront) {
  if (tag == nullptr) return;
  for (TagLib::ID3v2::Frame* frame : tag->frameList("APIC")) {
    const auto* pic = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frame);
    if (pic == nullptr) continue;
    OfferPicture(cover, haveFront, pic->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover,
                 pic->mimeType(), pic->description(), pic->picture());
  }
}

void TakeFlacPictures(const TagLib::List<TagLib::FLAC::Picture*>& pictures, SongPicture& cover,
                      bool& haveFront) {
  for (const TagLib::FLAC::Picture* pic : pictures) {
    OfferPicture(cover, haveFront, pic->type() == TagLib::FLAC::Picture::FrontCover,
                 pic->mimeType(), pic->description(), pic->data());
  }
}

void TakeXiphPictures(TagLib::Ogg::XiphComment* comment, SongPicture& cover, bool& haveFront) {
  if (comment != nullptr) TakeFlacPictures(comment->pictureList(), cover, haveFront);
}

void TakeAsfPictures(TagLib::ASF::Tag* tag, SongPicture& cover, bool& haveFront) {
  if (tag == nullptr) return;
  for (const TagLib::ASF::Attribute& attribute : tag->attribute("WM/Picture")) {
    const TagLib::ASF::Picture pic = attribute.toPicture();
    if (!pic.isValid()) continue;
    OfferPicture(cover, haveFront, pic.type() == TagLib::ASF::Picture::FrontCover,
                 pic.mimeType(), pic.description(), pic.picture());
  }
}

void TakeMp4Pictures(TagLib::MP4::Tag* tag, SongPicture& cover, bool& haveFront) {
  if (tag == nullptr || !tag->contains("covr")) return;
  for (const TagLib::MP4::CoverArt& art : tag->item("covr").toCoverArtList()) {
    const char* mime = art.format() == TagLib::MP4::CoverArt::PNG ? "image/png"
                       : art.format() == TagLib::MP4::CoverArt::JPEG ? "image/jpeg"
                       : art.format() == TagLib::MP4::CoverArt::BMP ? "image/bmp"
                       : art.format() == TagLib::MP4::CoverArt::GIF ? "image/gif"
                                                                      : "";
    // MP4 keeps no picture types: the first is taken as the front.
    OfferPicture(cover, haveFront, true, mime, "", art.data());
  }
}

// RIFF INFO by its own field names: TagLib's common view of it knows neither ITRK nor ICOP
// and shortens the date to a year.
void TakeRiffInfo(TagLib::RIFF::Info::Tag* info, SongTags& tags) {
  const auto take = [info](const char* id, std::string& field) {
    const std::string text = info->fieldText(id).stripWhiteSpace().to8Bit(true);
    if (!text.empty()) field = text;
  };
  take("INAM", tags.title);
  take("IART", tags.artist);
  take("IPRD", tags.album);
  take("ICRD", tags.date);
  take("IGNR", tags.genre);
  take("ICMT", tags.comment);
  take("ICOP", tags.copyright);
  for (const char* id : {"ITRK", "IPRT"}) {
    const int track = info->fieldText(id).toInt();
    if (tags.track == 0 && track > 0) tags.track = static_cast<uint32_t>(track);
  }
}

// FFmpeg's ASF muxer stores the year as a plain "date" attribute, not as WM/Year, which is
// all TagLib's common view knows; other writers use "year".
void TakeAsfYear(TagLib::ASF::Tag* tag, SongTags& tags) {
  if (tag == nullptr || !tags.date.empty()) return;
  for (const auto& [name, attributes] : tag->attributeListMap()) {
    const TagLib::String key = name.upper();
    if ((key != "DATE" && key != "YEAR") || attributes.isEmpty()) continue;
    const std::string text = attributes.front().toString().stripWhiteSpace().to8Bit(true);
    if (!text.empty()) tags.date = text;
    if (key == "DATE" && !tags.date.empty()) return;  // a date says more than a year
  }
}

// The file opened as the kind its first bytes show, for the kinds that say so plainly; null
// for the others (MPEG audio, which has no fixed signature), which TagLib then judges by
// name and content. A renamed file is thus read as what it is.
std::unique_ptr<TagLib::File> OpenBySignature(const std::string& path) {
  uint8_t head[64] = {};
  {
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f || std::fread(head, 1, sizeof head, f.get()) < 16) return nullptr;
  }
  static constexpr uint8_t kAsfGuid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                           0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  const char* p = path.c_str();
  const auto at = [&head](size_t offset, const char* text) {
    const size_t n = std::strlen(text);
    return offset + n <= sizeof head && std::memcmp(head + offset, text, n) == 0;
  };
  if (std::memcmp(head, kAsfGuid, sizeof kAsfGuid) == 0)
    return std::make_unique<TagLib::ASF::File>(p, false);
  if (at(0, "fLaC")) return std::make_unique<TagLib::FLAC::File>(p, false);
  if (at(0, "RIFF") && at(8, "WAVE")) return std::make_unique<TagLib::RIFF::WAV::File>(p, false);
  if (at(4, "ftyp")) return std::make_unique<TagLib::MP4::File>(p, false);
  if (at(0, "OggS")) {
    // The first packet follows the page header and its segment table.
    const size_t packet = 27 + head[26];
    if (at(packet, "\x01vorbis")) return std::make_unique<TagLib::Ogg::Vorbis::File>(p, false);
    if (at(packet, "OpusHead")) return std::make_unique<TagLib::Ogg::Opus::File>(p, false);
    if (at(packet, "\x7F" "FLAC")) return std::make_unique<TagLib::Ogg::FLAC::File>(p, false);
  }
  return nullptr;
}

void TakeCover(TagLib::File* file, SongTags& tags) {
  SongPicture& cover = tags.cover;
  bool front = false;
  if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file)) {
    TakeId3v2Pictures(mpeg->ID3v2Tag(), cover, front);
  } else if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(file)) {
    TakeFlacPictures(flac->pictureList(), cover, front);
    TakeXiphPictures(flac->xiphComment(), cover, front);
    TakeId3v2Pictures(flac->ID3v2Tag(), cover, front);
  } else if (auto* vorbis = dynamic_cast<TagLib::Ogg::Vorbis::File*>(file)) {
    TakeXiphPictures(vorbis->tag(), cover, front);
  } else if (auto* opus = dynamic_cast<TagLib::Ogg::Opus::File*>(file)) {
    TakeXiphPictures(opus->tag(), cover, front);
  } else if (auto* oggFlac = dynamic_cast<TagLib::Ogg::FLAC::File*>(file)) {
    TakeXiphPictures(oggFlac->tag(), cover, front);
  } else if (auto* asf = dynamic_cast<TagLib::ASF::File*>(file)) {
    TakeAsfPictures(asf->tag(), cover, front);
  } else if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file)) {
    TakeMp4Pictures(mp4->tag(), cover, front);
  } else if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(file)) {
    if (wav->hasID3v2Tag()) TakeId3v2Pictures(wav->ID3v2Tag(), cover, front);
  }
}

}  // namespace

bool ReadFileTags(const std::string& path, SongTags& tags) {
  PrepareTagLib();
  // The audio properties are the decoder's business; only the tags are read here.
  std::unique_ptr<TagLib::File> known = OpenBySignature(path);
  TagLib::FileRef ref;
  if (!known) ref = TagLib::FileRef(path.c_str(), false);
  TagLib::File* file = known ? known.get() : ref.file();
  if (file == nullptr || !file->isValid()) return false;
  auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(file);
  if (wav != nullptr && !wav->hasID3v2Tag() && wav->hasInfoTag())
    TakeRiffInfo(wav->InfoTag(), tags);
  else
    TakeProperties(file->properties(), tags);
  TakeCover(file, tags);
  if (auto* asf = dynamic_cast<TagLib::ASF::File*>(file)) TakeAsfYear(asf->tag(), tags);
  if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file)) tags.had_id3v1 = mpeg->hasID3v1Tag();
  return true;
}

}  // namespace audio_detail
