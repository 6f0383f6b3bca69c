// Album images: one audio file (or several) holding a whole CD, cut into tracks by a cue
// sheet beside it or by the sheet a FLAC image carries inside. Each track is a source of
// its own, named by a track entry "<sheet>/TrackNN.cuetrack": a path below a regular file,
// so it can never name a real file.
//
// A track starts at its INDEX 01 and runs to the next track's INDEX 01 (a pregap belongs
// to the end of the track before), the last one to the end of the last image; positions
// are taken to samples exactly at the image's rate. Nothing here throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct AlbumTrack {
  uint32_t number = 0;  // the sheet's TRACK number
  std::string title;    // UTF-8, empty when the sheet gives none
  std::string performer;
  std::string isrc;
  size_t file = 0;      // which of the sheet's images INDEX 01 lies in
  // Where INDEX 01 lies in that image: CD frames of 1/75 s from a cue sheet, samples from a
  // FLAC's CUESHEET block.
  int64_t start = 0;
  bool start_in_samples = false;
};

struct AlbumSheet {
  std::string path;                 // the .cue, or the FLAC image that holds its sheet
  std::vector<std::string> images;  // the audio files, in the sheet's order
  std::string title;                // the album
  std::string performer;
  std::string date;
  std::string genre;
  std::vector<AlbumTrack> tracks;
};

constexpr int ALBUM_NOT_A_SHEET = 0;  // neither a .cue nor a FLAC with a sheet inside
constexpr int ALBUM_SHEET = 1;
constexpr int ALBUM_BAD_SHEET = -1;   // `reason` says what is wrong, naming the sheet

// Reads the sheet of `path`: a .cue (any letter case; UTF-8 with or without a byte-order
// mark, or Windows-1251), or a FLAC image with a CUESHEET Vorbis comment or metadata block.
// The images are checked for order of the indexes only; whether they exist and are long
// enough is found when a track is opened.
int album_read_sheet(const std::string& path, AlbumSheet* sheet, std::string* reason);

// True for a name ending in ".cue", any letter case.
bool album_is_cue_name(const std::string& path);

// "<sheet>/Track03.cuetrack" for the third track of the sheet (positions count from 1).
std::string album_track_entry(const std::string& sheet, size_t position);
// The sheet and position of a track entry; false for any other path.
bool album_split_track_entry(const std::string& entry, std::string* sheet, size_t* position);

// Opens a track entry as a decoding channel (the audio layer's handle, freed as a stream).
// A .cue itself, or an entry whose sheet is bad, fails with AUDIO_ERROR_BAD_SHEET and the
// reason in audio_error_detail.
uint32_t album_open_track_file(const char* path, uint32_t flags);
