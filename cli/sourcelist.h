// The sources of a batch: paths from the command line and from --from lists, folders walked
// in name order.
#pragma once

#include <sys/types.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "main/sourcekinds.h"

struct TSourceProblem {
  std::string path;
  std::string reason;  // in words, e.g. "no such file or directory"
};

struct TSourceList {
  std::vector<std::string> files;          // in batch order, each file once
  // For each file, the folder between the folder named on the command line and the file
  // ("" for a file named itself or lying directly in the named folder), with a final "/".
  std::vector<std::string> subfolders;
  std::vector<TSourceProblem> problems;    // paths that gave no file
  std::set<std::pair<dev_t, ino_t>> seen;  // the same file named twice is converted once
  // A folder a walk does not enter: the output folder, when it lies inside a walked one,
  // holds outputs (of earlier runs too), never sources.
  std::set<std::pair<dev_t, ino_t>> notEntered;
  // Subfolders that walks without `recurse` passed over in folders that gave files.
  size_t subfoldersNotWalked = 0;
};

// Adds `path`: a file as it is (the openers decide whether it is audio), a folder by its
// files with a source extension, sorted by name, hidden entries left out; with `recurse`
// its subfolders too (symbolic links to folders are not followed, so no walk loops). A
// folder walked without `recurse` that holds no source but subfolders is a problem: the
// user most likely forgot -r; one that gave files counts the subfolders it passed over.
void AddSourcePath(const std::string& path, bool recurse, TSourceList& list);

// Reads one path per line from `file` ("-": standard input), or with `nulSeparated` one path
// per NUL-ended entry. Empty entries are skipped and a carriage return before a line feed
// is dropped. False with `error` when it cannot be read.
bool ReadPathList(const std::string& file, bool nulSeparated, std::vector<std::string>& paths,
                  std::string& error);
