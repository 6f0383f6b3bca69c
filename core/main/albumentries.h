// Album images in the conversion list: a cue sheet (or a FLAC image with its sheet inside)
// is listed as one entry per track, and what the job driver needs to know of such entries.
#pragma once

#include <set>
#include <string>
#include <vector>

struct TListedSource {
  std::string path;   // what FileList holds
  std::string shown;  // what the list shows
};

// The entries `path` stands for: a sheet's tracks (a .cue, or a FLAC image with its sheet
// inside), shown as "album.cue: 03 - Title"; any other path, a garbled sheet too (its
// conversion then tells what is wrong), as itself.
std::vector<TListedSource> ListedSourcesOf(const std::string& path);

// True when files[index], a file listed as itself, is the sheet or an image of a sheet or
// track entry among files[from...]: a folder walk converts an album by its tracks, not its
// images again as a whole. DropImagesOfListedSheets removes every such file from `from` on.
bool IsImageOfListedSheet(const std::vector<std::string>& files, size_t from, size_t index);
void DropImagesOfListedSheets(std::vector<std::string>& files, size_t from);

// True for a track entry, and for a .cue listed itself.
bool IsAlbumEntry(const std::string& path);
bool IsAlbumTrackEntry(const std::string& path);

// The file whose folder a source's outputs go to by default: the sheet for a track entry.
std::string SourcePlace(const std::string& path);

// The name (without extension) of a track entry's output by the source-name rule:
// "03 - Title", or "album 03" when the sheet gives the track no title. Empty for any other
// path, and when the sheet cannot be read.
std::string AlbumTrackOutputStem(const std::string& path);

// The sheet and the images of the album a track entry (or a sheet) belongs to; empty when
// it is none.
std::vector<std::string> AlbumFilesOf(const std::string& path);

// True when `destination` is the sheet or an image of a track entry from `index` on: the
// album is still to be read.
bool AlbumFileWaiting(const std::vector<std::string>& list, size_t index,
                      const std::string& destination);

// Counts the track entry `path` as converted, with its output verified. Once every track
// of its sheet is so counted, the images and the sheet are deleted. `done` keeps the
// count for one batch.
void DeleteAlbumOnceComplete(const std::string& path, std::set<std::string>& done);
