// Walking a folder for its sources: the files with a source extension, in name order,
// hidden entries left out, subfolders after their turn in the order when walked
// recursively. Symbolic links to folders are not followed, so no walk loops; a link to a
// file counts as the file.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

struct TFolderWalk {
  bool recurse = true;
  // Each source found, with the way from the walked folder down to it ("" or ending in "/").
  std::function<void(const std::string& path, const std::string& subfolder)> file;
  // A folder that could not be read, with the errno value.
  std::function<void(const std::string& folder, int error)> unreadable;
  // False for a folder the walk must not enter (nor count); every folder when empty.
  std::function<bool(dev_t device, ino_t inode)> enters;
  // Called between entries, so a window can answer during a long walk.
  std::function<void()> betweenEntries;
  // Subfolders a walk without `recurse` passed over.
  size_t subfoldersLeftOut = 0;
};

void WalkSourceFolder(const std::string& folder, TFolderWalk& walk);

// The paths in order, each folder among them replaced by the sources below it (walked
// recursively); the other paths stay as they are. Pending window events are processed
// while a folder is walked.
std::vector<std::string> ExpandSourceFolders(const std::vector<std::string>& paths);
