// The private folders of one running conversion: one beside its destination for the
// output, one in the temporary folder for the decoded WAV. Each holds a file "lock" that
// the run which made the folder keeps locked (flock) while it lives, so that the next start
// of any run can tell the folders a killed run left from those of a run still going.
#pragma once

#include <string>

// The folder part of a path, without its last "/"; "." for a bare name.
std::string FolderOf(const std::string& path);

// Makes a new hidden folder in `folder` with its lock taken; `lockFd` holds the lock
// (close it after RemoveStaging). False with errno set when it cannot.
bool MakeStaging(const std::string& folder, std::string& staging, int& lockFd);
// The folder temporary WAVs go to: `chosen` when given, else temp/ beside the program
// where it can be written (made if missing), else $TMPDIR or /tmp.
std::string TemporaryFolder(const std::string& chosen);
// Removes the folder with whatever the conversion left in it.
void RemoveStaging(const std::string& staging);
// Removes the private folders in `folder` that no living run holds. Folders without a lock
// (made by a run that died at once, or by an older version) go once a minute old.
void RemoveStaleStaging(const std::string& folder);

// Puts the complete file `from` at `to` only if nothing is there yet (not even a link):
// false with errno EEXIST when something is, so a run never replaces what another run or
// the user put there meanwhile.
bool MoveWithoutReplacing(const std::string& from, const std::string& to);
