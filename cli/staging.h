// The private folder of one running conversion, beside its destination.
#pragma once

#include <string>

// The folder part of a path, without its last "/"; "." for a bare name.
std::string FolderOf(const std::string& path);

// Makes a new hidden folder in `folder`; false with errno set when it cannot.
bool MakeStaging(const std::string& folder, std::string& staging);
// Makes a new folder for one conversion's temporary WAV on a local disk: in the program's
// temp/ like the window's, or, where that cannot be written (an installed program), in
// $TMPDIR or /tmp. False with errno set when none can be made.
bool MakeScratch(std::string& scratch);
// Removes the folder with whatever the conversion left in it.
void RemoveStaging(const std::string& staging);
