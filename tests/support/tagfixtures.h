// Test fixtures: songs tagged the way other programs tag them, written with TagLib or byte
// by byte, so that what the converter reads is not what it wrote itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "songtags.h"

// ID3v2.3 with every text frame in UTF-16 (what most Windows taggers write), the cover as
// an APIC front cover. Replaces any tag the MP3 has.
bool TagMp3Id3v23Utf16(const std::string& path, const SongTags& tags);
// A bare ID3v1.1 tag appended with its text in Windows-1251, as old Russian taggers wrote
// it: title, artist, album, year, comment, track and genre (by name, from ID3v1's list).
bool AppendId3v1Cp1251(const std::string& path, const SongTags& tags);
// Vorbis comments of an Ogg Vorbis file or of a FLAC file, the cover as
// METADATA_BLOCK_PICTURE (Ogg) or a PICTURE block (FLAC).
bool TagOggVorbis(const std::string& path, const SongTags& tags);
bool TagFlac(const std::string& path, const SongTags& tags);
// ASF attributes of a WMA file, the cover as WM/Picture.
bool TagWma(const std::string& path, const SongTags& tags);
// A LIST/INFO chunk of a WAV file, UTF-8 text: INAM, IART, IPRD, ICRD, IGNR, ICMT, ICOP, ITRK.
bool TagWav(const std::string& path, const SongTags& tags);
// The 20-byte song name of an xm module, in place.
bool SetXmTitle(const std::string& path, const std::string& title);
// A track name (meta 0x03) and a copyright notice (meta 0x02) at the start of the first
// track of a Standard MIDI File, in place; the song itself is unchanged.
bool AddMidiTexts(const std::string& path, const std::string& name, const std::string& copyright);

// The Windows-1251 bytes of UTF-8 text that only holds ASCII and Russian letters.
std::string Cp1251Of(const std::string& utf8);

// The picture data of the first APIC frame of an MP3's ID3v2 tag; empty when there is none.
std::vector<uint8_t> Id3v2Picture(const std::string& path, std::string* mime = nullptr);
