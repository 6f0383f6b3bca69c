// The temporary WAV of this running copy of the program. Two copies started from one
// folder share its temp/; were they to share the WAV too, one copy's decoding would replace
// or remove the file the other is encoding from.
#pragma once

#include <string>

// A claim on a temporary WAV in the folder `tempFolder` (ending with "/"): there the name
// "tmp100000.wav" when no other living claim holds the folder, otherwise the same name in a
// private folder "copy-XXXXXX/" of this claim's own. Either folder is held by an flock,
// which the kernel drops however the process ends; the private folders of ended copies are
// removed by the next claim. Another copy's files are never opened, replaced or removed.
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
  bool Private() const { return !private_.empty(); }
  // False once the folder held is no longer the one the path names (temp/ was deleted
  // and made anew): the claim must then be made again.
  bool StillHeld() const;
  // Removes the WAV and the other files this claim made in its folder (in the shared
  // folder only the WAVs of the batch's conversion slots and their spare names).
  void RemoveFiles() const;

 private:
  std::string temp_;
  std::string private_;  // the private folder with "/", or empty
  std::string path_;
  int lock_ = -1;        // the locked folder's descriptor
};

// This process's claim for P + "temp/", made on first use and made again when the program's
// folder changed or the claim no longer holds.
std::string ClaimedTemporaryWavPath();
// At close: removes this copy's temporary files and gives the claim up. Makes no folder.
void ReleaseTemporaryWav();
