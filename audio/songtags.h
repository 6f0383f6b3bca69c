// A song's tags: the fields players list a song by, read from a source once when it is
// opened for decoding and written into the output made from it.
//
// Text is UTF-8 whatever the source format stored. Numbers are 0 when unknown. Nothing here
// throws; the operations report through their results.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct SongPicture {
  std::string mime;           // "image/jpeg", "image/png", ...
  std::string description;
  std::vector<uint8_t> data;  // empty: no picture
};

struct SongTags {
  std::string title;
  std::string artist;
  std::string album;
  std::string album_artist;
  std::string date;  // as stored: a year, or a date such as "1987-05-01"
  std::string genre;
  std::string comment;
  std::string composer;
  std::string copyright;
  std::string isrc;  // the recording's ISRC code
  uint32_t track = 0;
  uint32_t track_total = 0;
  uint32_t disc = 0;
  uint32_t disc_total = 0;
  SongPicture cover;       // the front cover, else the first picture the source holds
  bool had_id3v1 = false;  // the source carried an ID3v1 tag: an MP3 output gets one too

  // True when there is nothing to write.
  bool empty() const;
};

// A picture larger than this is left behind: covers are a few hundred kilobytes, and a
// tag of many megabytes makes players slow to list the song.
constexpr size_t kMaxCoverBytes = 16u * 1024 * 1024;

// The output kinds whose files get their tags once written; MP3 and Ogg Vorbis outputs get
// them as they are encoded (audio_mp3_tag_blocks, audio_vorbis_comments).
enum class SongTagFormat { Wma, Wav };

// Fills `tags` from an open decoding channel: a file's own tags, a module's title and
// artist, a MIDI song's first track name and copyright, a CD track's number and CD-Text.
// 1 when the channel exists (its tags may still be empty), 0 for an unknown handle.
int audio_get_tags(uint32_t handle, SongTags* tags);

// Writes `tags` into the finished file at `path`, a file of `format` made by this program,
// without touching its audio data. Empty tags leave the file as it is. 1 on success, 0 when
// the file could not be read or written completely (a full disk, say).
//
// Wav: a LIST/INFO chunk after the data chunk, so the 44-byte header stays where readers
// expect it. Never for a WAV that is read raw to its end, such as the temporary WAV.
int audio_write_tags(const char* path, SongTagFormat format, const SongTags& tags);

// An MP3 output's tags as its encoder writes them: `front` (an ID3v2.4 tag, UTF-8 text)
// before the first frame, `back` (an ID3v1 tag, only when the source had one) after the
// last. Both empty for empty tags.
struct Mp3TagBlocks {
  std::vector<uint8_t> front;
  std::vector<uint8_t> back;
};
// 1 on success, 0 when the tags could not be rendered.
int audio_mp3_tag_blocks(const SongTags& tags, Mp3TagBlocks* blocks);

// The Vorbis comments (name, value) that carry `tags` in an Ogg Vorbis stream: TITLE,
// ARTIST, ..., TRACKNUMBER and TRACKTOTAL, and the cover as METADATA_BLOCK_PICTURE. For an
// encoder to add to its comment header beside its own. 1 on success, 0 when the comments
// could not be rendered.
using VorbisComments = std::vector<std::pair<std::string, std::string>>;
int audio_vorbis_comments(const SongTags& tags, VorbisComments* comments);

// Fields by name (the loudness tags REPLAYGAIN_*, R128_*) put into a finished file of this
// kind, replacing fields of the same names and keeping every other tag: MP3 as ID3v2 TXXX
// frames, Ogg Vorbis, Opus and FLAC as Vorbis comments, WMA as attributes. The file is
// changed in place; 1 on success, 0 when it could not be read or written completely.
enum class NamedFieldFormat { Mp3, OggVorbis, Opus, Flac, Wma };
int audio_write_named_fields(const char* path, NamedFieldFormat format, const VorbisComments& fields);
