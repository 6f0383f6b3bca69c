#include "main/folderwalk.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "main/albumentries.h"
#include "main/sourcekinds.h"
#include "main/uihooks.h"

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

std::string Joined(const std::string& folder, const std::string& name) {
  return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

void Walk(const std::string& folder, const std::string& subfolder, TFolderWalk& walk) {
  std::vector<std::string> names;
  {
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
    if (!dir) {
      if (walk.unreadable) walk.unreadable(folder, errno);
      return;
    }
    while (const dirent* entry = readdir(dir.get())) {
      if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
      if (walk.betweenEntries && names.size() % 64 == 0) walk.betweenEntries();
    }
  }
  std::sort(names.begin(), names.end());  // byte order, the same on every machine
  for (size_t i = 0; i < names.size(); ++i) {
    if (walk.betweenEntries && i % 64 == 63) walk.betweenEntries();
    const std::string& name = names[i];
    const std::string path = Joined(folder, name);
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      if (walk.enters && !walk.enters(info.st_dev, info.st_ino)) continue;
      if (walk.recurse) {
        Walk(path, subfolder + name + "/", walk);
      } else {
        ++walk.subfoldersLeftOut;
      }
      continue;
    }
    if (S_ISLNK(info.st_mode) && (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)))
      continue;
    if (S_ISREG(info.st_mode) && HasSourceExtension(name) && walk.file) walk.file(path, subfolder);
  }
}

}  // namespace

void WalkSourceFolder(const std::string& folder, TFolderWalk& walk) { Walk(folder, "", walk); }

std::vector<std::string> ExpandSourceFolders(const std::vector<std::string>& paths) {
  std::vector<std::string> expanded;
  for (const std::string& path : paths) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
      expanded.push_back(path);
      continue;
    }
    TFolderWalk walk;
    walk.file = [&expanded](const std::string& file, const std::string&) {
      expanded.push_back(file);
    };
    walk.betweenEntries = [] {
      if (UiHooks.ProcessEvents) UiHooks.ProcessEvents();
    };
    const size_t before = expanded.size();
    WalkSourceFolder(path, walk);
    DropImagesOfListedSheets(expanded, before);
  }
  return expanded;
}
