// How 8-bit tag text is read and written.
//
// ID3v1, and ID3v2 frames marked ISO-8859-1, have no way to say which 8-bit code page they
// use, and Russian collections were tagged for years in Windows-1251 under that mark. Read
// as ISO-8859-1 such a title turns into "Êèíî" for good. A field is therefore taken as
// Windows-1251 when it is plainly Cyrillic: it has a run of three or more bytes of the
// Cyrillic letter range (0xC0..0xFF, Ё and ё), or such letters and no Latin letters at all.
// Western text does not look like that (its accented letters stand alone among Latin ones),
// so "Café" and "Müller" stay ISO-8859-1, while "ДДТ" and "Алиса feat. DJ" read as meant.
// Fewer than three such bytes are too few to judge by and stay ISO-8859-1. A byte-order mark
// says the writer stored Unicode under the 8-bit mark: the text after it is read as such.
// A field left with no letter or digit (a stray mark, a lone dash) is no text at all.
// RIFF INFO text read from a WAV source is taken the same way unless it is valid UTF-8.
// An ID3v1 tag written for an output is encoded the same way back, so the next reader
// finds the same text.
#include <taglib/id3v1tag.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>

#include <cstring>
#include <mutex>

#include "tag_detail.h"

namespace audio_detail {
namespace {

// Windows-1251, 0x80..0xBF; 0xC0..0xFF are А..я in order. 0x98 is unassigned.
constexpr char16_t kCp1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

bool ValidUtf8(const TagLib::ByteVector& bytes);

bool CyrillicLetterByte(unsigned char c) { return c >= 0xC0 || c == 0xA8 || c == 0xB8; }
bool LatinLetterByte(unsigned char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

bool PlainlyCyrillic(const TagLib::ByteVector& bytes) {
  int cyrillic = 0, latin = 0, run = 0, longestRun = 0;  // counts of letter bytes
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (CyrillicLetterByte(c)) {
      ++cyrillic;
      longestRun = std::max(longestRun, ++run);
    } else {
      run = 0;
      if (LatinLetterByte(c)) ++latin;
    }
  }
  return longestRun >= 3 || (cyrillic >= 3 && latin == 0);
}

// Letters and digits of every script; marks, dashes, spaces and symbols are not.
bool HasLetterOrDigit(const TagLib::String& text) {
  for (const wchar_t u : text.toWString()) {
    if ((u >= '0' && u <= '9') || ((u | 0x20) >= 'a' && (u | 0x20) <= 'z')) return true;
    if (u >= 0xC0 && u <= 0x24F && u != 0xD7 && u != 0xF7) return true;  // Latin letters
    if (u >= 0x370 && u <= 0x1FFF) return true;  // Greek, Cyrillic and the other alphabets
    if (u >= 0x3040 && u < 0xD800) return true;  // kana and ideographs
  }
  return false;
}

bool StartsWith(const TagLib::ByteVector& bytes, const char* mark, unsigned size) {
  return bytes.size() >= size && std::memcmp(bytes.data(), mark, size) == 0;
}

// The text after a byte-order mark, as the mark says; false when there is no mark.
bool AfterByteOrderMark(const TagLib::ByteVector& bytes, TagLib::String& text) {
  if (StartsWith(bytes, "\xEF\xBB\xBF", 3)) {
    const TagLib::ByteVector rest = bytes.mid(3);
    text = ValidUtf8(rest) ? TagLib::String(rest, TagLib::String::UTF8) : TagLib::String();
    return true;
  }
  const bool big = StartsWith(bytes, "\xFE\xFF", 2), little = StartsWith(bytes, "\xFF\xFE", 2);
  if (!big && !little) return false;
  const TagLib::ByteVector rest = bytes.mid(2);
  text = rest.size() % 2 == 0
             ? TagLib::String(rest, big ? TagLib::String::UTF16BE : TagLib::String::UTF16LE)
             : TagLib::String();
  return true;
}

wchar_t FromCp1251(unsigned char c) {
  if (c < 0x80) return c;
  if (c >= 0xC0) return static_cast<wchar_t>(0x0410 + (c - 0xC0));
  return static_cast<wchar_t>(kCp1251High[c - 0x80]);
}

// The Windows-1251 byte of `u`, or 0 when it has none.
unsigned char ToCp1251(wchar_t u) {
  if (u < 0x80) return static_cast<unsigned char>(u);
  if (u >= 0x0410 && u <= 0x044F) return static_cast<unsigned char>(0xC0 + (u - 0x0410));
  for (int i = 0; i < 64; ++i) {
    if (static_cast<wchar_t>(kCp1251High[i]) == u && u != 0xFFFD)
      return static_cast<unsigned char>(0x80 + i);
  }
  return 0;
}

bool ValidUtf8(const TagLib::ByteVector& bytes) {
  const size_t n = bytes.size();
  for (size_t i = 0; i < n;) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    size_t follow;
    if (c < 0x80) follow = 0;
    else if (c >= 0xC2 && c <= 0xDF) follow = 1;
    else if (c >= 0xE0 && c <= 0xEF) follow = 2;
    else if (c >= 0xF0 && c <= 0xF4) follow = 3;
    else return false;
    if (follow > n - i - 1) return false;
    for (size_t k = 1; k <= follow; ++k) {
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    }
    i += follow + 1;
  }
  return true;
}

class Id3v1Text final : public TagLib::ID3v1::StringHandler {
 public:
  TagLib::String parse(const TagLib::ByteVector& data) const override {
    // ID3v1 fields are padded with zeros (or spaces), which are no part of the text.
    TagLib::ByteVector text = data;
    const int end = text.find('\0');
    if (end >= 0) text.resize(static_cast<unsigned>(end));
    return DecodeEightBitText(text).stripWhiteSpace();
  }
  TagLib::ByteVector render(const TagLib::String& s) const override {
    return EncodeEightBitText(s);
  }
};

class Id3v2Latin1Text final : public TagLib::ID3v2::Latin1StringHandler {
 public:
  TagLib::String parse(const TagLib::ByteVector& data) const override {
    return DecodeEightBitText(data);
  }
};

// RIFF INFO text has no declared encoding either: UTF-8 where it is valid UTF-8 (what current
// programs, this one included, write), else as 8-bit text above.
class RiffInfoText final : public TagLib::RIFF::Info::StringHandler {
 public:
  TagLib::String parse(const TagLib::ByteVector& data) const override {
    TagLib::ByteVector text = data;
    const int end = text.find('\0');
    if (end >= 0) text.resize(static_cast<unsigned>(end));
    return DecodeUnknownText(text);
  }
  TagLib::ByteVector render(const TagLib::String& s) const override {
    return s.data(TagLib::String::UTF8);
  }
};

}  // namespace

TagLib::String DecodeEightBitText(const TagLib::ByteVector& bytes) {
  TagLib::String text;
  if (!AfterByteOrderMark(bytes, text)) {
    std::wstring wide;
    wide.reserve(bytes.size());
    for (const char c : bytes) wide.push_back(FromCp1251(static_cast<unsigned char>(c)));
    text = PlainlyCyrillic(bytes) ? TagLib::String(wide) : TagLib::String(bytes, TagLib::String::Latin1);
  }
  return HasLetterOrDigit(text) ? text : TagLib::String();
}

TagLib::String DecodeUnknownText(const TagLib::ByteVector& bytes) {
  return ValidUtf8(bytes) ? TagLib::String(bytes, TagLib::String::UTF8)
                          : DecodeEightBitText(bytes);
}

TagLib::ByteVector EncodeEightBitText(const TagLib::String& text) {
  const std::wstring wide = text.toWString();
  bool latin1 = true, cp1251 = true;
  for (const wchar_t u : wide) {
    latin1 = latin1 && u <= 0xFF;
    cp1251 = cp1251 && (u == 0 || ToCp1251(u) != 0);
  }
  if (latin1 || !cp1251) return text.data(TagLib::String::Latin1);
  TagLib::ByteVector bytes;
  for (const wchar_t u : wide) bytes.append(static_cast<char>(ToCp1251(u)));
  return bytes;
}

void PrepareTagLib() {
  static std::once_flag once;
  std::call_once(once, [] {
    // TagLib keeps the handlers for the life of the process.
    static const Id3v1Text id3v1;
    static const Id3v2Latin1Text id3v2;
    static const RiffInfoText riffInfo;
    TagLib::ID3v1::Tag::setStringHandler(&id3v1);
    TagLib::RIFF::Info::Tag::setStringHandler(&riffInfo);
    TagLib::ID3v2::Tag::setLatin1StringHandler(&id3v2);
    TagLib::ID3v2::FrameFactory::instance()->setDefaultTextEncoding(TagLib::String::UTF8);
  });
}

}  // namespace audio_detail
