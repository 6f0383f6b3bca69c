#include "main/albumentries.h"

#include <sys/stat.h>

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

#include "album.h"
#include "main/paths.h"

namespace {

using TFileId = std::pair<dev_t, ino_t>;

// A sheet as read once, with the identities of its files: the list's texts, the output
// names and the safety tests of a batch all ask for it, entry after entry.
struct TReadSheet {
  int status = ALBUM_NOT_A_SHEET;
  AlbumSheet sheet;
  std::vector<std::string> files;  // the sheet, then its images
  std::set<TFileId> ids;           // of those that exist
};

bool IdOf(const std::string& path, TFileId& id, struct stat* info = nullptr) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  id = {st.st_dev, st.st_ino};
  if (info) *info = st;
  return true;
}

// Kept while the sheet's file is the same (inode, size, change time).
std::shared_ptr<const TReadSheet> ReadSheet(const std::string& path) {
  using TKey = std::tuple<dev_t, ino_t, off_t, int64_t, int64_t>;
  static std::mutex mutex;
  static std::map<std::string, std::pair<TKey, std::shared_ptr<const TReadSheet>>> kept;
  struct stat info {};
  TFileId id;
  const bool exists = IdOf(path, id, &info);
  const TKey key{info.st_dev, info.st_ino, info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
  if (exists) {
    std::lock_guard<std::mutex> lock(mutex);
    const auto hit = kept.find(path);
    if (hit != kept.end() && hit->second.first == key) return hit->second.second;
  }
  auto read = std::make_shared<TReadSheet>();
  std::string reason;
  read->status = album_read_sheet(path, &read->sheet, &reason);
  read->files.push_back(path);
  if (read->status == ALBUM_SHEET)
    for (const std::string& image : read->sheet.images)
      if (image != path) read->files.push_back(image);
  for (const std::string& file : read->files)
    if (IdOf(file, id)) read->ids.insert(id);
  if (exists) {
    std::lock_guard<std::mutex> lock(mutex);
    kept[path] = {key, read};
  }
  return read;
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

std::vector<TListedSource> ListedSourcesOf(const std::string& path) {
  const auto read = ReadSheet(path);
  if (read->status != ALBUM_SHEET) return {{path, path}};
  const AlbumSheet& sheet = read->sheet;
  std::vector<TListedSource> entries;
  for (size_t i = 0; i < sheet.tracks.size(); ++i) {
    const AlbumTrack& track = sheet.tracks[i];
    std::string shown = NamePart(path) + ": " + TwoDigits(track.number);
    if (!track.title.empty()) shown += " - " + track.title;
    entries.push_back({album_track_entry(path, i + 1), shown});
  }
  return entries;
}

bool IsImageOfListedSheet(const std::vector<std::string>& files, size_t from, size_t index) {
  TFileId id;
  if (index >= files.size() || !SheetOf(files[index]).empty() || !IdOf(files[index], id))
    return false;
  std::string last;
  for (size_t j = from; j < files.size(); ++j) {
    const std::string sheet = SheetOf(files[j]);
    if (sheet.empty() || sheet == last) continue;
    last = sheet;
    const auto read = ReadSheet(sheet);
    if (read->status == ALBUM_SHEET && read->ids.count(id) > 0) return true;
  }
  return false;
}

void DropImagesOfListedSheets(std::vector<std::string>& files, size_t from) {
  for (size_t i = files.size(); i-- > from;)
    if (IsImageOfListedSheet(files, from, i)) files.erase(files.begin() + static_cast<std::ptrdiff_t>(i));
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
  if (!album_split_track_entry(path, &sheetPath, &position)) return {};
  const auto read = ReadSheet(sheetPath);
  if (read->status != ALBUM_SHEET || position > read->sheet.tracks.size()) return {};
  const AlbumTrack& track = read->sheet.tracks[position - 1];
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
  return sheetPath.empty() ? std::vector<std::string>() : ReadSheet(sheetPath)->files;
}

bool AlbumFileWaiting(const std::vector<std::string>& list, size_t index,
                      const std::string& destination) {
  TFileId id;
  const bool exists = IdOf(destination, id);
  std::string last;
  for (size_t j = index; j < list.size(); ++j) {
    const std::string sheet = SheetOf(list[j]);
    if (sheet.empty() || sheet == last) continue;
    last = sheet;
    const auto read = ReadSheet(sheet);
    if (exists && read->ids.count(id) > 0) return true;
    for (const std::string& file : read->files)
      if (file == destination) return true;
  }
  return false;
}

void DeleteAlbumOnceComplete(const std::string& path, std::set<std::string>& done) {
  std::string sheetPath;
  if (!album_split_track_entry(path, &sheetPath, nullptr)) return;
  done.insert(path);
  // Read afresh: what is deleted must be what the sheet names now.
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
