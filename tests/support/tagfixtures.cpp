#include "tagfixtures.h"

#include <taglib/asffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/flacfile.h>
#include <taglib/id3v1genres.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/textidentificationframe.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

TagLib::String Utf8(const std::string& s) { return TagLib::String(s, TagLib::String::UTF8); }

TagLib::ByteVector Bytes(const std::vector<uint8_t>& data) {
  return TagLib::ByteVector(reinterpret_cast<const char*>(data.data()),
                            static_cast<unsigned>(data.size()));
}

std::string Pair(uint32_t n, uint32_t total) {
  return std::to_string(n) + (total ? "/" + std::to_string(total) : std::string());
}

// The fields in TagLib's common vocabulary, written independently of the converter's own.
TagLib::PropertyMap Properties(const SongTags& t, bool totalsApart) {
  TagLib::PropertyMap p;
  const auto put = [&p](const char* key, const std::string& value) {
    if (!value.empty()) p.replace(key, Utf8(value));
  };
  put("TITLE", t.title);
  put("ARTIST", t.artist);
  put("ALBUM", t.album);
  put("ALBUMARTIST", t.album_artist);
  put("DATE", t.date);
  put("GENRE", t.genre);
  put("COMMENT", t.comment);
  put("COMPOSER", t.composer);
  put("COPYRIGHT", t.copyright);
  if (totalsApart) {
    if (t.track) put("TRACKNUMBER", std::to_string(t.track));
    if (t.track_total) put("TRACKTOTAL", std::to_string(t.track_total));
    if (t.disc) put("DISCNUMBER", std::to_string(t.disc));
    if (t.disc_total) put("DISCTOTAL", std::to_string(t.disc_total));
  } else {
    if (t.track) put("TRACKNUMBER", Pair(t.track, t.track_total));
    if (t.disc) put("DISCNUMBER", Pair(t.disc, t.disc_total));
  }
  return p;
}

TagLib::FLAC::Picture* FlacPicture(const SongPicture& cover) {
  auto* picture = new TagLib::FLAC::Picture;
  picture->setType(TagLib::FLAC::Picture::FrontCover);
  picture->setMimeType(Utf8(cover.mime));
  picture->setDescription(Utf8(cover.description));
  picture->setData(Bytes(cover.data));
  return picture;
}

bool ReadAll(const std::string& path, std::vector<uint8_t>& data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool WriteAll(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(out);
}

}  // namespace

std::string Cp1251Of(const std::string& utf8) {
  std::string out;
  const std::wstring wide = Utf8(utf8).toWString();
  for (const wchar_t c : wide) {
    if (c < 0x80) out += static_cast<char>(c);
    else if (c >= 0x410 && c <= 0x44F) out += static_cast<char>(0xC0 + (c - 0x410));
    else if (c == 0x401) out += '\xA8';
    else if (c == 0x451) out += '\xB8';
    else out += '?';
  }
  return out;
}

bool TagMp3Id3v23Utf16(const std::string& path, const SongTags& tags) {
  TagLib::MPEG::File file(path.c_str(), false);
  if (!file.isValid()) return false;
  TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
  tag->setProperties(Properties(tags, false));
  for (TagLib::ID3v2::Frame* frame : tag->frameList()) {
    if (auto* text = dynamic_cast<TagLib::ID3v2::TextIdentificationFrame*>(frame))
      text->setTextEncoding(TagLib::String::UTF16);
    if (auto* comment = dynamic_cast<TagLib::ID3v2::CommentsFrame*>(frame))
      comment->setTextEncoding(TagLib::String::UTF16);
  }
  if (!tags.cover.data.empty()) {
    auto* picture = new TagLib::ID3v2::AttachedPictureFrame;
    picture->setTextEncoding(TagLib::String::UTF16);
    picture->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    picture->setMimeType(Utf8(tags.cover.mime));
    picture->setDescription(Utf8(tags.cover.description));
    picture->setPicture(Bytes(tags.cover.data));
    tag->addFrame(picture);
  }
  return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v3,
                   TagLib::File::DoNotDuplicate);
}

bool AppendId3v1Cp1251(const std::string& path, const SongTags& tags) {
  std::vector<uint8_t> data;
  if (!ReadAll(path, data)) return false;
  uint8_t tag[128] = {'T', 'A', 'G'};
  const auto put = [&tag](size_t offset, size_t size, const std::string& utf8) {
    const std::string bytes = Cp1251Of(utf8);
    std::memcpy(tag + offset, bytes.data(), std::min(size, bytes.size()));
  };
  put(3, 30, tags.title);
  put(33, 30, tags.artist);
  put(63, 30, tags.album);
  put(93, 4, tags.date);
  put(97, 28, tags.comment);
  tag[126] = static_cast<uint8_t>(tags.track);
  const int genre = TagLib::ID3v1::genreIndex(Utf8(tags.genre));
  tag[127] = static_cast<uint8_t>(genre < 0 ? 255 : genre);
  data.insert(data.end(), tag, tag + 128);
  return WriteAll(path, data);
}

bool TagOggVorbis(const std::string& path, const SongTags& tags) {
  TagLib::Ogg::Vorbis::File file(path.c_str(), false);
  if (!file.isValid()) return false;
  file.tag()->setProperties(Properties(tags, true));
  if (!tags.cover.data.empty()) file.tag()->addPicture(FlacPicture(tags.cover));
  return file.save();
}

bool TagFlac(const std::string& path, const SongTags& tags) {
  TagLib::FLAC::File file(path.c_str(), false);
  if (!file.isValid()) return false;
  file.xiphComment(true)->setProperties(Properties(tags, true));
  if (!tags.cover.data.empty()) file.addPicture(FlacPicture(tags.cover));
  return file.save();
}

bool TagWma(const std::string& path, const SongTags& tags) {
  TagLib::ASF::File file(path.c_str(), false);
  if (!file.isValid()) return false;
  file.tag()->setProperties(Properties(tags, false));
  if (!tags.cover.data.empty()) {
    TagLib::ASF::Picture picture;
    picture.setType(TagLib::ASF::Picture::FrontCover);
    picture.setMimeType(Utf8(tags.cover.mime));
    picture.setPicture(Bytes(tags.cover.data));
    file.tag()->setAttribute("WM/Picture", TagLib::ASF::Attribute(picture));
  }
  return file.save();
}

bool TagWav(const std::string& path, const SongTags& tags) {
  TagLib::RIFF::WAV::File file(path.c_str(), false);
  if (!file.isValid()) return false;
  TagLib::RIFF::Info::Tag* info = file.InfoTag();
  const std::pair<const char*, std::string> fields[] = {
      {"INAM", tags.title}, {"IART", tags.artist}, {"IPRD", tags.album},
      {"ICRD", tags.date},  {"IGNR", tags.genre},  {"ICMT", tags.comment},
      {"ICOP", tags.copyright},
      {"ITRK", tags.track ? std::to_string(tags.track) : std::string()}};
  for (const auto& [id, value] : fields) {
    if (!value.empty()) info->setFieldText(id, Utf8(value));
  }
  return file.save(TagLib::RIFF::WAV::File::Info, TagLib::File::StripOthers);
}

bool SetXmTitle(const std::string& path, const std::string& title) {
  std::vector<uint8_t> data;
  if (!ReadAll(path, data) || data.size() < 37) return false;
  std::memset(data.data() + 17, 0, 20);
  std::memcpy(data.data() + 17, title.data(), std::min<size_t>(20, title.size()));
  return WriteAll(path, data);
}

bool AddMidiTexts(const std::string& path, const std::string& name, const std::string& copyright) {
  std::vector<uint8_t> data;
  if (!ReadAll(path, data) || data.size() < 22 || std::memcmp(data.data() + 14, "MTrk", 4) != 0)
    return false;
  std::vector<uint8_t> events;
  for (const auto& [type, text] : {std::pair<uint8_t, std::string>{0x03, name}, {0x02, copyright}}) {
    if (text.size() > 127) return false;  // one-byte length
    events.insert(events.end(), {0x00, 0xFF, type, static_cast<uint8_t>(text.size())});
    events.insert(events.end(), text.begin(), text.end());
  }
  data.insert(data.begin() + 22, events.begin(), events.end());
  uint32_t length = uint32_t{data[18]} << 24 | uint32_t{data[19]} << 16 | uint32_t{data[20]} << 8 | data[21];
  length += static_cast<uint32_t>(events.size());
  for (int i = 0; i < 4; ++i) data[18 + i] = static_cast<uint8_t>(length >> (24 - 8 * i));
  return WriteAll(path, data);
}

std::vector<uint8_t> Id3v2Picture(const std::string& path, std::string* mime) {
  TagLib::MPEG::File file(path.c_str(), false);
  if (!file.isValid() || !file.hasID3v2Tag()) return {};
  for (TagLib::ID3v2::Frame* frame : file.ID3v2Tag()->frameList("APIC")) {
    const auto* picture = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frame);
    if (picture == nullptr) continue;
    if (mime) *mime = picture->mimeType().to8Bit(true);
    const TagLib::ByteVector data = picture->picture();
    return std::vector<uint8_t>(data.begin(), data.end());
  }
  return {};
}
