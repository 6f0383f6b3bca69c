#include "sourcelist.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

#include "errortext.h"
#include "handles.h"
#include "main/albumentries.h"

namespace {

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return text;
}

std::string Joined(const std::string& folder, const std::string& name) {
  return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

// A sheet is added as its tracks; a FLAC image only when named itself (`embeddedToo`), so a
// walk reads no FLAC's metadata.
void AddFile(const std::string& path, const std::string& subfolder, TSourceList& list,
             bool embeddedToo) {
  struct stat info;
  if (stat(path.c_str(), &info) == 0 && !list.seen.insert({info.st_dev, info.st_ino}).second)
    return;
  for (const TListedSource& entry : ListedSourcesOf(path, embeddedToo)) {
    list.files.push_back(entry.path);
    list.subfolders.push_back(subfolder);
  }
}

// A walk converts an album by its sheet's tracks, not its images a second time as a whole.
void DropAlbumImages(size_t from, TSourceList& list) {
  std::set<std::pair<dev_t, ino_t>> images;
  std::string lastSheet;
  for (size_t i = from; i < list.files.size(); ++i) {
    if (!IsAlbumTrackEntry(list.files[i]) || SourcePlace(list.files[i]) == lastSheet) continue;
    lastSheet = SourcePlace(list.files[i]);
    for (const std::string& file : AlbumFilesOf(list.files[i])) {
      struct stat info;
      if (stat(file.c_str(), &info) == 0) images.insert({info.st_dev, info.st_ino});
    }
  }
  for (size_t i = list.files.size(); i-- > from;) {
    struct stat info;
    if (IsAlbumTrackEntry(list.files[i]) || stat(list.files[i].c_str(), &info) != 0 ||
        images.count({info.st_dev, info.st_ino}) == 0)
      continue;
    list.files.erase(list.files.begin() + static_cast<std::ptrdiff_t>(i));
    list.subfolders.erase(list.subfolders.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

// `subfolder` is the way from the named folder down to `folder`.
void WalkFolder(const std::string& folder, const std::string& subfolder, bool recurse,
                TSourceList& list) {
  DirPtr dir(opendir(folder.c_str()));
  if (!dir) {
    list.problems.push_back({folder, ErrorText(errno)});
    return;
  }
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir.get())) {
    if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
  }
  dir.reset();
  std::sort(names.begin(), names.end());  // byte order, the same on every machine
  const size_t before = list.files.size();
  bool subfoldersSeen = false;
  for (const std::string& name : names) {
    const std::string path = Joined(folder, name);
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      if (list.notEntered.count({info.st_dev, info.st_ino}) > 0) continue;
      subfoldersSeen = true;
      if (recurse) WalkFolder(path, subfolder + name + "/", recurse, list);
      continue;
    }
    // A link to a file counts as the file.
    if (S_ISLNK(info.st_mode) && (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)))
      continue;
    if (S_ISREG(info.st_mode) && HasSourceExtension(name)) AddFile(path, subfolder, list, false);
  }
  if (!recurse && subfoldersSeen && list.files.size() == before)
    list.problems.push_back({folder, "holds only subfolders; use -r"});
}

}  // namespace

const std::vector<std::string>& SourceExtensions() {
  // Every kind the openers read; a walk takes nothing else, so notes, covers and playlists
  // beside the music are never reported as failures.
  static const std::vector<std::string> extensions = {
      "mp3", "wav", "ogg", "wma", "flac", "opus", "oga", "m4a", "aac", "aif", "aiff",
      "wv",  "mka", "mid", "midi", "xm", "umx", "mod", "it",  "s3m", "mtm", "cue"};
  return extensions;
}

bool HasSourceExtension(const std::string& name) {
  static const std::set<std::string> extensions(SourceExtensions().begin(),
                                                SourceExtensions().end());
  const auto dot = name.rfind('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return false;
  return extensions.count(Lower(name.substr(dot + 1))) > 0;
}

void AddSourcePath(const std::string& path, bool recurse, TSourceList& list) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    list.problems.push_back({path, ErrorText(errno)});
  } else if (S_ISDIR(info.st_mode)) {
    const size_t before = list.files.size();
    WalkFolder(path, "", recurse, list);
    DropAlbumImages(before, list);
  } else if (!S_ISREG(info.st_mode)) {
    // A pipe or a device would block or never end.
    list.problems.push_back({path, "not a regular file"});
  } else {
    AddFile(path, "", list, true);
  }
}

bool ReadPathList(const std::string& file, bool nulSeparated, std::vector<std::string>& paths,
                  std::string& error) {
  InputPtr in(file == "-" ? stdin : std::fopen(file.c_str(), "rb"));
  if (!in) {
    error = "cannot read the list " + file + ": " + ErrorText(errno);
    return false;
  }
  std::string line;
  int c;
  const int separator = nulSeparated ? '\0' : '\n';
  auto take = [&] {
    if (!nulSeparated && !line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) paths.push_back(line);
    line.clear();
  };
  while ((c = std::fgetc(in.get())) != EOF) {
    if (c == separator) take();
    else line.push_back(char(c));
  }
  take();
  if (std::ferror(in.get())) {
    error = "cannot read the list " + file + ": " + ErrorText(errno);
    return false;
  }
  return true;
}
