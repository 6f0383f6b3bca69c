// Writing a destination safely: the data goes into a file of its own in the destination's
// folder, and only a complete file takes the destination's place. A cancel or failure
// (destruction without Commit) removes the partial file and leaves an existing destination
// as it was.
//
// Where the file system allows, the partial file has no name at all until Commit (an
// O_TMPFILE inode), so a crash or a kill leaves nothing behind. Elsewhere it is a hidden
// file named ".NAME.part-XXXXXX", locked while its owner lives, so that
// RemoveStalePartialFiles can tell the ones a dead process left.
#pragma once

#include <cstdint>
#include <string>

class TPartialFile {
 public:
  // Creates the partial file for `destination`. A symbolic link at `destination` is
  // replaced by Commit as any file would be, its target left alone (main/outputplace.h).
  // With `allowUnnamed` false the hidden named file is used even where an unnamed one
  // could be. The first partial file of a process in a folder removes what dead runs left
  // there (RemoveStalePartialFiles).
  explicit TPartialFile(std::string destination, bool allowUnnamed = true);
  ~TPartialFile();
  TPartialFile(const TPartialFile&) = delete;
  TPartialFile& operator=(const TPartialFile&) = delete;

  bool Created() const { return fd_ >= 0; }
  // A path through which the partial file can be opened, written and read again until
  // Commit (a tag writer may reopen it): "/proc/self/fd/N" for an unnamed file, the hidden
  // file's own path otherwise. Empty when creation failed. It carries no extension of the
  // destination's: a reader that chooses the format by the name must be told the format.
  const std::string& Path() const { return path_; }
  // The descriptor of the partial file, open for reading and writing until Commit.
  int Descriptor() const { return fd_; }
  bool Unnamed() const { return unnamed_; }
  const std::string& Destination() const { return destination_; }

  // Puts the partial file in place of the destination's file in one step, with the
  // permission bits (and, where allowed, the owner) of the file it replaces; false (and
  // the partial file removed) when that fails.
  bool Commit();

 private:
  void Discard();

  std::string destination_;
  std::string path_;
  int fd_ = -1;
  bool unnamed_ = false;
};

// What the last Commit of this thread put in place: the destination as it was given and
// the file's length then (-1 when unknown). A job checks against it that its output is
// still there, whole, once the file is done.
struct TCommittedFile {
  std::string destination;
  int64_t length = -1;
};
const TCommittedFile& LastCommittedFile();
// Records a file put in place by other means than Commit (a rename); an empty destination
// forgets the last one.
void NoteCommittedFile(const std::string& destination, int64_t length);

// Gives the file open as `fd` the permission bits of the regular file at `replaced`, without
// set-user-ID and set-group-ID (as writing it in place would drop them), and its owner where
// allowed. Nothing when `replaced` does not exist or is not a regular file (a link is not
// followed).
void TakeOverAttributes(int fd, const std::string& replaced);

// Removes the hidden partial files in `folder` that are this user's and whose writer has
// ended (crashed or killed); files still locked by a running conversion, other users'
// files, links and anything but a regular file stay.
void RemoveStalePartialFiles(const std::string& folder);
