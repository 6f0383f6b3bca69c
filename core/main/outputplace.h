// Where a finished output lands: the one place that decides how a complete file takes the
// output's name, for the window's job driver, for every partial file's commit and for
// orvik-convert. The output's folder may be shared with other users, who can put a link,
// a hard link or anything else at the output's name, so:
//  - a name is replaced, never written through: a symbolic link at the output's name is
//    replaced as a whole (its target is never opened for writing), and a hard link of
//    another file loses only that name;
//  - without replacing, anything at the name (a dangling link too) counts as existing;
//  - the file taken over keeps the permission bits of the regular file it replaces, never
//    those of a link's target.
#pragma once

#include <string>

enum class TLanding {
  KeepExisting,  // fails with errno EEXIST when anything is at the name
  Replace,       // the name is replaced in one step: readers see the old file or the new
};

// Moves the complete file `from` to the name `to`. Across file systems (Replace only) the
// copy is made beside `to` first. False with errno set when it is not there.
bool LandOutput(const std::string& from, const std::string& to, TLanding how);

// Gives the unnamed file reachable as `unnamedPath` ("/proc/self/fd/N", an O_TMPFILE) the
// name `to`, replacing what is there; `hiddenStem` is the path a hidden spare name begins
// with, in the folder of `to`.
bool LandUnnamed(const std::string& unnamedPath, const std::string& to, const std::string& hiddenStem);

// Copies the whole regular file `from` (a link at its name is not followed) into the partial
// file `to`; false on any failure, a full disk included.
class TPartialFile;
bool CopyInto(const std::string& from, TPartialFile& to);

// True when both paths name one existing file (same device and inode), links followed.
bool SameFile(const std::string& a, const std::string& b);
// True when both paths are one entry of one folder, whatever the texts ("a/../a/x", a bind
// mount of the folder): replacing one name replaces the other. The last names are not
// followed.
bool SameEntry(const std::string& a, const std::string& b);
