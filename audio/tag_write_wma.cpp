// Tags of a WMA output: ASF attributes (Title and Author in the content description,
// WM/AlbumTitle, WM/TrackNumber, WM/Year, WM/Genre, ... in the extended one) and the
// cover as WM/Picture, written by TagLib into the finished file's header object.
#include <taglib/asffile.h>
#include <taglib/asfpicture.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "tag_detail.h"
#include "stdio_file.h"

namespace audio_detail {
namespace {

// The ASF header object's GUID, 75B22630-668E-11CF-A6D9-00AA0062CE6C, as stored.
constexpr uint8_t kHeaderGuid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                     0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

// The File Properties object's GUID, 8CABDCA1-A947-11CF-8EE4-00C00C205365, as stored.
constexpr uint8_t kFilePropertiesGuid[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                             0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};

uint64_t GetLE64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// TagLib leaves the File Properties object's record of the file's size as it was; it is put
// right, so that the header describes the file it heads.
bool RecordFileSize(const std::string& path, uint64_t header, uint64_t size) {
  FilePtr f(std::fopen(path.c_str(), "rb+"));
  if (!f) return false;
  // The header object's own 30 bytes, then its objects, each a GUID and a 64-bit size.
  uint64_t at = 30;
  uint8_t object[24];
  while (at + sizeof object <= header) {
    if (std::fseek(f.get(), static_cast<long>(at), SEEK_SET) != 0 ||
        std::fread(object, 1, sizeof object, f.get()) != sizeof object)
      return false;
    const uint64_t length = GetLE64(object + 16);
    if (length < sizeof object) return false;
    if (std::memcmp(object, kFilePropertiesGuid, sizeof kFilePropertiesGuid) == 0) {
      uint8_t bytes[8];
      for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>((size >> (8 * i)) & 0xff);
      // The size follows the object's GUID, size and the 16-byte file id.
      return std::fseek(f.get(), static_cast<long>(at + 40), SEEK_SET) == 0 &&
             std::fwrite(bytes, 1, sizeof bytes, f.get()) == sizeof bytes &&
             std::fclose(f.release()) == 0;
    }
    at += length;
  }
  return true;  // no such object: nothing to put right
}

// The bytes of the header object (all that TagLib rewrites) from its own size field, and
// of the whole file; false when the file is not an ASF file.
bool Sizes(const std::string& path, uint64_t& header, uint64_t& file) {
  FilePtr f(std::fopen(path.c_str(), "rb"));
  uint8_t start[24];
  if (!f || std::fread(start, 1, sizeof start, f.get()) != sizeof start ||
      std::memcmp(start, kHeaderGuid, sizeof kHeaderGuid) != 0)
    return false;
  header = GetLE64(start + 16);
  struct stat info;
  if (fstat(fileno(f.get()), &info) != 0) return false;
  file = static_cast<uint64_t>(info.st_size);
  return header >= sizeof start && header <= file;
}

}  // namespace

namespace {

// Saves what `change` does to the file's attributes. TagLib rewrites the header object only.
template <typename Change>
bool SaveAsfChange(const std::string& path, Change change) {
  uint64_t headerBefore = 0, sizeBefore = 0;
  if (!Sizes(path, headerBefore, sizeBefore)) return false;
  PrepareTagLib();
  {
    TagLib::ASF::File file(path.c_str(), false);
    if (!file.isValid()) return false;
    change(*file.tag());
    if (!file.save()) return false;
  }  // closed: what TagLib wrote has reached the file, or failed to
  // TagLib does not report a failed write. It moves the packets behind the grown header, so
  // a write that failed (a full disk) leaves the file shorter than the new header and the
  // unchanged packets.
  uint64_t headerAfter = 0, sizeAfter = 0;
  return Sizes(path, headerAfter, sizeAfter) &&
         sizeAfter == sizeBefore - headerBefore + headerAfter &&
         RecordFileSize(path, headerAfter, sizeAfter);
}

}  // namespace

bool WriteWmaTags(const std::string& path, const SongTags& tags) {
  return SaveAsfChange(path, [&tags](TagLib::ASF::Tag& tag) {
    TagLib::PropertyMap properties = PropertiesOf(tags);
    // WM/TrackNumber is a plain number; ASF has no field for the total.
    if (tags.track > 0)
      properties.replace("TRACKNUMBER", TagLib::String(std::to_string(tags.track)));
    tag.setProperties(properties);
    if (!tags.cover.data.empty()) {
      TagLib::ASF::Picture picture;
      picture.setType(TagLib::ASF::Picture::FrontCover);
      picture.setMimeType(TagLib::String(tags.cover.mime, TagLib::String::UTF8));
      picture.setDescription(TagLib::String(tags.cover.description, TagLib::String::UTF8));
      picture.setPicture(TagLib::ByteVector(reinterpret_cast<const char*>(tags.cover.data.data()),
                                            static_cast<unsigned>(tags.cover.data.size())));
      tag.setAttribute("WM/Picture", TagLib::ASF::Attribute(picture));
    }
  });
}

bool WriteWmaFields(const std::string& path, const VorbisComments& fields) {
  return SaveAsfChange(path, [&fields](TagLib::ASF::Tag& tag) {
    for (const auto& [name, value] : fields)
      tag.setAttribute(TagLib::String(name, TagLib::String::UTF8),
                       TagLib::ASF::Attribute(TagLib::String(value, TagLib::String::UTF8)));
  });
}

}  // namespace audio_detail
