// Private working folders: the window's folder for its temporary WAV when another copy
// holds temp/, and orvik-convert's staging and temporary folders. Another user may share
// the folder they are made in (a music share, /tmp) and may rename, plant or swap entries
// there at any moment, so:
//  - a folder is made exclusively (mkdirat), mode 0700, and used through the descriptor
//    opened on it with O_DIRECTORY | O_NOFOLLOW; every file inside is made, locked, listed
//    and removed relative to that descriptor, never by a path another user could swap;
//  - it holds a file "lock" that its run keeps locked (flock) while it lives; the kernel
//    drops the lock however the run ends;
//  - a sweep of dead runs' folders takes only this user's own folders, opens each without
//    following links, checks the descriptor against what it decided on, opens the lock
//    with O_NONBLOCK | O_NOFOLLOW and takes only a regular file; anything else stays.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

class TPrivateFolder {
 public:
  // A new folder "PREFIX" + 6 random characters in `parent`, locked; null with errno set
  // when it cannot be made.
  static std::unique_ptr<TPrivateFolder> Make(const std::string& parent, const std::string& prefix);
  // Removes the files inside and the folder, if its name in the parent still is this folder.
  ~TPrivateFolder();
  TPrivateFolder(const TPrivateFolder&) = delete;
  TPrivateFolder& operator=(const TPrivateFolder&) = delete;

  // The folder as made: its parent's path and its name, without "/" at the end.
  const std::string& Named() const { return named_; }
  // A path that reaches this very folder whatever is renamed or swapped meanwhile:
  // "/proc/self/fd/N" (it holds in a forked child too), the named path without /proc.
  const std::string& Path() const { return path_; }
  int Descriptor() const { return fd_; }
  // Closes the descriptors in a forked child that must not hold them; nothing is removed.
  void Forget();

 private:
  TPrivateFolder() = default;

  std::string named_, path_;
  int parentFd_ = -1, fd_ = -1, lockFd_ = -1;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
};

// Removes the folders "PREFIX*" in `parent` that are this user's and whose run has ended:
// their lock is free, or they have none and are older than a minute (a run that died at
// once). Folders of live runs, of other users, links and anything that changes under the
// sweep stay.
void RemoveDeadPrivateFolders(const std::string& parent, const std::string& prefix);

// $XDG_RUNTIME_DIR when it is set and is a folder of this user's that nobody else can write
// into (not a link); empty otherwise.
std::string PrivateRuntimeFolder();

// Where this user's scratch folders go outside the program's folder: $XDG_RUNTIME_DIR when
// it is set and private, else "$TMPDIR/orvik-converter-UID" (or /tmp), made 0700 and
// checked (this user's, a folder, not a link, nobody else's to write) before each use.
// Empty when no such folder can be had.
std::string PerUserScratchFolder();

// Six random letters and digits for a name nobody can guess, as mkstemp's XXXXXX.
std::string RandomNameChars();

// Tests only: called by the sweep between deciding to remove a folder and removing it,
// with the parent's descriptor and the folder's name. Null in the programs.
extern void (*PrivateFolderSweepHook)(int parentFd, const char* name);
