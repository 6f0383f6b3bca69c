#include "main/albumentries.h"

#include <sys/stat.h>

#include <cstdio>
#include <map>

#include "album.h"
#include "main/paths.h"

namespace {

bool SameFileAs(const std::string& a, const std::string& b) {
  struct stat first {}, second {};
  if (stat(a.c_str(), &first) != 0 || stat(b.c_str(), &second) != 0) return false;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::string SheetOf(const std::string& path) {
  std::string sheet;
  if (album_split_track_entry(path, &sheet, nullptr)) return sheet;
  return album_is_cue_name(path) ? path : std::string();
}

std::string TwoDigits(uint32_t number) {
  const std::string text = std::to_string(number);
  return text.size() < 2 ? "0" + text : text;
}

// A title as part of a file name: no separator and no control character in it.
std::string FileNameSafe(std::string text) {
  for (char& c : text)
    if (c == '/' || (static_cast<unsigned char>(c) < 0x20)) c = '_';
  return text;
}

}  // namespace

std::vector<TListedSource> ListedSourcesOf(const std::string& path, bool embeddedToo) {
  AlbumSheet sheet;
  std::string reason;
  if ((!embeddedToo && !album_is_cue_name(path)) ||
      album_read_sheet(path, &sheet, &reason) != ALBUM_SHEET)
    return {{path, path}};
  std::vector<TListedSource> entries;
  for (size_t i = 0; i < sheet.tracks.size(); ++i) {
    const AlbumTrack& track = sheet.tracks[i];
    std::string shown = NamePart(path) + ": " + TwoDigits(track.number);
    if (!track.title.empty()) shown += " - " + track.title;
    entries.push_back({album_track_entry(path, i + 1), shown});
  }
  return entries;
}

bool IsAlbumTrackEntry(const std::string& path) {
  return album_split_track_entry(path, nullptr, nullptr);
}

bool IsAlbumEntry(const std::string& path) {
  return IsAlbumTrackEntry(path) || album_is_cue_name(path);
}

std::string SourcePlace(const std::string& path) {
  std::string sheet;
  return album_split_track_entry(path, &sheet, nullptr) ? sheet : path;
}

std::string AlbumTrackOutputStem(const std::string& path) {
  std::string sheetPath;
  size_t position = 0;
  AlbumSheet sheet;
  std::string reason;
  if (!album_split_track_entry(path, &sheetPath, &position) ||
      album_read_sheet(sheetPath, &sheet, &reason) != ALBUM_SHEET ||
      position > sheet.tracks.size())
    return {};
  const AlbumTrack& track = sheet.tracks[position - 1];
  const std::string number = TwoDigits(track.number);
  if (track.title.empty()) {
    std::string name = NamePart(sheetPath);
    const auto dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name + " " + number;
  }
  return number + " - " + FileNameSafe(track.title);
}

std::vector<std::string> AlbumFilesOf(const std::string& path) {
  const std::string sheetPath = SheetOf(path);
  AlbumSheet sheet;
  std::string reason;
  if (sheetPath.empty() || album_read_sheet(sheetPath, &sheet, &reason) != ALBUM_SHEET) {
    if (!sheetPath.empty()) return {sheetPath};
    return {};
  }
  std::vector<std::string> files{sheetPath};
  for (const std::string& image : sheet.images)
    if (image != sheetPath) files.push_back(image);
  return files;
}

bool AlbumFileWaiting(const std::vector<std::string>& list, size_t index,
                      const std::string& destination) {
  std::map<std::string, bool> sheetsSeen;
  for (size_t j = index; j < list.size(); ++j) {
    const std::string sheet = SheetOf(list[j]);
    if (sheet.empty() || !sheetsSeen.emplace(sheet, true).second) continue;
    for (const std::string& file : AlbumFilesOf(sheet))
      if (file == destination || SameFileAs(file, destination)) return true;
  }
  return false;
}

void DeleteAlbumOnceComplete(const std::string& path, std::set<std::string>& done) {
  std::string sheetPath;
  if (!album_split_track_entry(path, &sheetPath, nullptr)) return;
  done.insert(path);
  AlbumSheet sheet;
  std::string reason;
  if (album_read_sheet(sheetPath, &sheet, &reason) != ALBUM_SHEET) return;
  for (size_t i = 1; i <= sheet.tracks.size(); ++i)
    if (done.count(album_track_entry(sheetPath, i)) == 0) return;
  // The sheet goes last: while it stays, what is left of the album can still be found.
  for (const std::string& image : sheet.images)
    if (image != sheetPath) std::remove(image.c_str());
  std::remove(sheetPath.c_str());
}
