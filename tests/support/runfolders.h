// Scratch folders for tests that run whole conversions: a fresh program folder, taken as the
// converter's own, and a music folder for the sources, for each test function.
#pragma once

#include <QString>

#include <set>
#include <string>

struct TRunFolders {
  std::string program;  // the program's folder, with "/"
  std::string music;    // sources, with "/"
};

// Makes <root>/<index>/prog/ and <root>/<index>/music/ and makes the first the program's
// folder. False when either folder could not be made.
bool MakeRunFolders(const QString& root, int index, TRunFolders* out);

// Files of a folder, hidden ones (partial outputs) included.
std::set<std::string> FilesIn(const std::string& folder);
