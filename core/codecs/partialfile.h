// Writing a destination safely: the data goes into a uniquely named file in the
// destination's folder, and only a complete file is renamed over the destination. A
// cancel or failure (destruction without Commit) removes the partial file and leaves an
// existing destination as it was.
#pragma once

#include <string>

class TPartialFile {
 public:
  // Creates the partial file beside `destination`; Path() is empty when that failed.
  explicit TPartialFile(std::string destination);
  ~TPartialFile();
  TPartialFile(const TPartialFile&) = delete;
  TPartialFile& operator=(const TPartialFile&) = delete;

  bool Created() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }
  const std::string& Destination() const { return destination_; }

  // Renames the partial file over the destination; false (and the partial file removed)
  // when that fails.
  bool Commit();

 private:
  std::string destination_;
  std::string path_;
};
