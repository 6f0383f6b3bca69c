// Files named on the command line: what a file manager's "Open with" or a drop on the
// program's launcher hands over. They join the list as if chosen in the file-open dialog.
#pragma once

#include <string>
#include <vector>

// The arguments that name existing files, as absolute paths in their given order, each
// folder replaced by the sources below it (recursively, in name order); missing paths and
// anything else that is neither file nor folder are left out. Relative paths are taken
// from the current folder. Paths stay bytes.
std::vector<std::string> StartFilePaths(const std::vector<std::string>& arguments);

// Appends the files among argv[1..argc-1] to the conversion list the way the file-open
// dialog does. Called once the main window has read config.cfg, with the arguments that
// Qt left after taking its own (-platform and the like).
void AddStartFiles(int argc, char** argv);
