#include "sourcelist.h"

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
#include "main/folderwalk.h"

namespace {

// An album's sheet is added as its tracks.
void AddFile(const std::string& path, const std::string& subfolder, TSourceList& list) {
  struct stat info;
  if (stat(path.c_str(), &info) == 0 && !list.seen.insert({info.st_dev, info.st_ino}).second)
    return;
  for (const TListedSource& entry : ListedSourcesOf(path)) {
    list.files.push_back(entry.path);
    list.subfolders.push_back(subfolder);
  }
}

// Walks a folder named on the command line.
void WalkFolder(const std::string& folder, bool recurse, TSourceList& list) {
  TFolderWalk walk;
  walk.recurse = recurse;
  walk.file = [&list](const std::string& path, const std::string& subfolder) {
    AddFile(path, subfolder, list);
  };
  walk.unreadable = [&list](const std::string& unread, int error) {
    list.problems.push_back({unread, ErrorText(error)});
  };
  walk.enters = [&list](dev_t device, ino_t inode) {
    return list.notEntered.count({device, inode}) == 0;
  };
  const size_t before = list.files.size();
  WalkSourceFolder(folder, walk);
  // The images a walked sheet names are converted by its tracks, not again as a whole.
  for (size_t i = list.files.size(); i-- > before;) {
    if (!IsImageOfListedSheet(list.files, before, i)) continue;
    list.files.erase(list.files.begin() + static_cast<std::ptrdiff_t>(i));
    list.subfolders.erase(list.subfolders.begin() + static_cast<std::ptrdiff_t>(i));
  }
  if (walk.subfoldersLeftOut == 0) return;
  if (list.files.size() == before) {
    list.problems.push_back({folder, "holds only subfolders; use -r"});
  } else {
    list.subfoldersNotWalked += walk.subfoldersLeftOut;
  }
}

}  // namespace

void AddSourcePath(const std::string& path, bool recurse, TSourceList& list) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    list.problems.push_back({path, ErrorText(errno)});
  } else if (S_ISDIR(info.st_mode)) {
    WalkFolder(path, recurse, list);
  } else if (!S_ISREG(info.st_mode)) {
    // A pipe or a device would block or never end.
    list.problems.push_back({path, "not a regular file"});
  } else {
    AddFile(path, "", list);
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
