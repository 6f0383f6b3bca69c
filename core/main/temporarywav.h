// The temporary WAV of this running copy of the program. Two copies started from one
// folder share its temp/; were they to share the WAV too, one copy's decoding would replace
// or remove the file the other is encoding from.
#pragma once

#include <memory>
#include <string>

#include "main/privatefolder.h"

// A claim on a temporary WAV in the folder `tempFolder` (ending with "/"): there the name
// "tmp100000.wav" when no other living claim holds the folder, otherwise the same name in a
// private folder "copy-XXXXXX/" of this claim's own (main/privatefolder.h). temp/ is held by
// an flock on the folder, a private folder by its lock file; the kernel drops either however
// the process ends, and the private folders of ended copies are removed by the next claim.
// Another copy's files are never opened, replaced or removed. A temp/ that is not this
// user's, or that is a link, is not used: the private folder then goes to the per-user
// scratch folder.
class TTemporaryWavClaim {
 public:
  explicit TTemporaryWavClaim(std::string tempFolder);
  // Gives the claim up; a private folder goes with its files.
  ~TTemporaryWavClaim();
  TTemporaryWavClaim(const TTemporaryWavClaim&) = delete;
  TTemporaryWavClaim& operator=(const TTemporaryWavClaim&) = delete;

  // The WAV; when the folder cannot be made or opened, the usual name, unlocked.
  const std::string& Path() const { return path_; }
  const std::string& TempFolder() const { return temp_; }
  bool Private() const { return private_ != nullptr; }
  // False once the folder held is no longer the one the path names (temp/ was deleted
  // and made anew): the claim must then be made again.
  bool StillHeld() const;
  // Removes the WAV and the other files this claim made in its folder (in the shared
  // folder only the WAVs of the batch's conversion slots and their spare names).
  void RemoveFiles() const;

 private:
  // The folder the WAV is in, open: temp/ itself or the private folder's descriptor.
  int FolderFd() const;

  std::string temp_;
  std::unique_ptr<TPrivateFolder> private_;
  std::string path_;
  int lock_ = -1;  // temp/ open and locked, when this claim holds it
};

// This process's claim for P + "temp/", made on first use and made again when the program's
// folder changed or the claim no longer holds.
std::string ClaimedTemporaryWavPath();
// At close: removes this copy's temporary files and gives the claim up. Makes no folder.
void ReleaseTemporaryWav();
