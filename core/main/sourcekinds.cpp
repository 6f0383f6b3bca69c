#include "main/sourcekinds.h"

#include <set>

namespace {
std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return text;
}
}  // namespace

const std::vector<std::string>& SourceExtensions() {
  // Every kind the openers read; a walk takes nothing else, so notes, covers and playlists
  // beside the music are never listed or reported as failures.
  static const std::vector<std::string> extensions = {
      "mp3", "wav", "ogg", "wma", "flac", "opus", "oga", "m4a", "aac", "aif", "aiff",
      "wv",  "mka", "mid", "midi", "xm", "umx", "mod", "it",  "s3m", "mtm", "cue"};
  return extensions;
}

bool HasSourceExtension(const std::string& name) {
  static const std::set<std::string> extensions(SourceExtensions().begin(),
                                                SourceExtensions().end());
  const auto dot = name.rfind('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return false;
  return extensions.count(Lower(name.substr(dot + 1))) > 0;
}
