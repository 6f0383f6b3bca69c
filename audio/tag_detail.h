// Inside the audio layer: the pieces of tag reading and writing, one file each.
#pragma once

#include <taglib/tpropertymap.h>

#include <cstdint>
#include <string>
#include <vector>

#include "songtags.h"

namespace audio_detail {

// Makes TagLib read and write text the way this program wants: ID3v2 text frames in UTF-8,
// RIFF INFO in UTF-8, and 8-bit ID3 and INFO text taken as Windows-1251 where it is plainly
// Cyrillic (see tag_text.cpp).
// Safe to call from any thread, any number of times.
void PrepareTagLib();

// Text of an 8-bit field: Windows-1251 when it is plainly Cyrillic, else ISO-8859-1.
TagLib::String DecodeEightBitText(const TagLib::ByteVector& bytes);
// Text of unknown encoding (MIDI meta text): UTF-8 when it is valid UTF-8, else as above.
TagLib::String DecodeUnknownText(const TagLib::ByteVector& bytes);
// The reverse for writing an 8-bit field: Windows-1251 when the text holds Cyrillic that it
// can hold, else ISO-8859-1 ("?" for what neither holds).
TagLib::ByteVector EncodeEightBitText(const TagLib::String& text);

// The named fields in TagLib's common vocabulary (TITLE, ARTIST, TRACKNUMBER "3/12", ...),
// and back. Pictures are not part of it.
TagLib::PropertyMap PropertiesOf(const SongTags& tags);
void TakeProperties(const TagLib::PropertyMap& properties, SongTags& tags);

// A file's tags by TagLib, whatever kind of file it is. False when TagLib cannot read it.
bool ReadFileTags(const std::string& path, SongTags& tags);
// A Standard MIDI File's first track name (title) and copyright notice.
void ReadMidiTags(const std::vector<uint8_t>& file, SongTags& tags);

// One writer per output kind. MP3 and Ogg Vorbis: what the encoder writes with the audio.
// WMA and WAV: the finished file at `path` changed in place; false when that failed.
Mp3TagBlocks RenderMp3Tags(const SongTags& tags);
VorbisComments VorbisCommentsOf(const SongTags& tags);
bool WriteWmaTags(const std::string& path, const SongTags& tags);
bool WriteWavTags(const std::string& path, const SongTags& tags);
// Fields by name into a finished file (audio_write_named_fields); WMA's by its own writer.
bool WriteWmaFields(const std::string& path, const VorbisComments& fields);
bool WriteNamedFields(const std::string& path, NamedFieldFormat format, const VorbisComments& fields);

}  // namespace audio_detail
