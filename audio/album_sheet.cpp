// Reading an album's sheet: a .cue parsed by libcue, or the sheet inside a FLAC image read
// through libFLAC's metadata interface.
#include <FLAC/metadata.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <mutex>

extern "C" {
#include <libcue.h>
}

#include "album.h"
#include "regular_file.h"
#include "tag_detail.h"

namespace {

// A sheet is a page of text; anything larger is not one.
constexpr size_t kMaxSheetBytes = 1u << 20;

struct CdDeleter {
  void operator()(Cd* cd) const { cd_delete(cd); }
};
using CdPtr = std::unique_ptr<Cd, CdDeleter>;
struct MetadataDeleter {
  void operator()(FLAC__StreamMetadata* m) const { FLAC__metadata_object_delete(m); }
};
using MetadataPtr = std::unique_ptr<FLAC__StreamMetadata, MetadataDeleter>;

// libcdio, linked into the same program for CD reading, exports a cdtext_get of its own
// with another signature, and a plain call binds to whichever the linker met first. The
// sheet's texts are read through libcue's own, looked up in libcue itself.
using CueTextGetter = const char* (*)(enum Pti, const Cdtext*);
CueTextGetter CueTextGet() {
  static const CueTextGetter getter = [] {
    // libcue is loaded already (it is linked in); this only finds it.
    void* library = dlopen("libcue.so.2", RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) library = dlopen("libcue.so", RTLD_NOW | RTLD_NOLOAD);
    return library == nullptr ? nullptr
                              : reinterpret_cast<CueTextGetter>(dlsym(library, "cdtext_get"));
  }();
  return getter;
}

const char* CueText(enum Pti pti, const Cdtext* text) {
  const CueTextGetter get = CueTextGet();
  return get == nullptr || text == nullptr ? nullptr : get(pti, text);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string NameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool Exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Sheet text has no declared encoding: UTF-8 where it is valid UTF-8, else Windows-1251
// where it is plainly Cyrillic, as the tag reader guesses.
std::string Text(const char* raw) {
  if (raw == nullptr) return {};
  return audio_detail::DecodeUnknownText(TagLib::ByteVector(raw)).stripWhiteSpace().to8Bit(true);
}

bool ReadSheetText(const std::string& path, std::string& text) {
  struct stat info {};
  audio_detail::FileDescriptor fd = audio_detail::open_regular_file_nonblocking(path, &info);
  if (!fd || info.st_size < 0 || static_cast<size_t>(info.st_size) > kMaxSheetBytes) return false;
  text.resize(static_cast<size_t>(info.st_size));
  const long got = audio_detail::read_fully(fd.get(), text.data(), text.size());
  if (got < 0) return false;
  text.resize(static_cast<size_t>(got));
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  return text.find('\0') == std::string::npos;
}

// Where a FILE line's image lies: the name as written, as decoded text, or (a sheet made
// for a WAV image that was compressed later) the same name with another audio extension.
std::string ImagePath(const std::string& folder, const char* raw) {
  const std::string written = raw == nullptr ? std::string() : raw;
  std::string name = written;
  std::replace(name.begin(), name.end(), '\\', '/');
  const std::string decoded = Text(name.c_str());
  const std::string base = name.empty() || name[0] != '/' ? folder : std::string();
  for (const std::string& candidate : {name, decoded}) {
    if (!candidate.empty() && Exists(base + candidate)) return base + candidate;
  }
  const std::string stem = decoded.substr(0, decoded.rfind('.'));
  for (const char* ext : {".flac", ".wav", ".ape", ".wv", ".FLAC", ".WAV", ".APE", ".WV"}) {
    if (!stem.empty() && Exists(base + stem + ext)) return base + stem + ext;
  }
  return base + decoded;
}

// REM GENRE is no statement libcue keeps; it is one line, read as such.
std::string RemGenre(const std::string& text) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line.compare(first, 10, "REM GENRE ") != 0) continue;
    line = line.substr(first + 10);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.size() >= 2 && line.front() == '"' && line.back() == '"')
      line = line.substr(1, line.size() - 2);
    return Text(line.c_str());
  }
  return {};
}

// Tracks within one image must follow one another: each INDEX 01 after the one before.
bool IndexesInOrder(const AlbumSheet& sheet, std::string& problem) {
  for (size_t i = 1; i < sheet.tracks.size(); ++i) {
    const AlbumTrack& before = sheet.tracks[i - 1];
    const AlbumTrack& track = sheet.tracks[i];
    if (track.file < before.file || (track.file == before.file && track.start <= before.start)) {
      problem = "track " + std::to_string(track.number) + " does not start after track " +
                std::to_string(before.number);
      return false;
    }
  }
  return true;
}

// libcue reports what it cannot read on the standard error, character by character; a
// text that is no sheet is told apart first by its lines, each of which must begin with a
// statement of a sheet and close the quotes it opens.
bool LooksLikeSheet(const std::string& text) {
  static const char* const kStatements[] = {
      "REM",   "FILE",      "TRACK",    "INDEX",    "TITLE",   "PERFORMER", "SONGWRITER",
      "ISRC",  "CATALOG",   "CDTEXTFILE", "FLAGS",  "PREGAP",  "POSTGAP",   "COMPOSER",
      "ARRANGER", "MESSAGE", "DISC_ID", "GENRE",    "TOC_INFO1", "TOC_INFO2", "UPC_EAN",
      "SIZE_INFO"};
  bool track = false;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) continue;
    const std::string word = line.substr(first, line.find_first_of(" \t\r", first) - first);
    if (std::none_of(std::begin(kStatements), std::end(kStatements),
                     [&](const char* s) { return word == s; }) ||
        std::count(line.begin(), line.end(), '"') % 2 != 0)
      return false;
    for (const char c : line)
      if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\r') return false;
    track = track || word == "TRACK";
  }
  return track;
}

int ParseCueText(const std::string& text, const std::string& sheetPath, bool embedded,
                 AlbumSheet& sheet, std::string& reason) {
  const std::string shown = NameOf(sheetPath);
  // libcue's parser keeps its state in globals: one sheet at a time, whatever the thread.
  static std::mutex parserMutex;
  std::lock_guard<std::mutex> parsing(parserMutex);
  CdPtr cd(LooksLikeSheet(text) ? cue_parse_string(text.c_str()) : nullptr);
  const int count = cd ? cd_get_ntrack(cd.get()) : 0;
  if (!cd || count <= 0) {
    reason = shown + ": not a readable cue sheet";
    return ALBUM_BAD_SHEET;
  }
  const std::string folder = FolderOf(sheetPath);
  Cdtext* albumText = cd_get_cdtext(cd.get());
  sheet.title = Text(CueText(PTI_TITLE, albumText));
  sheet.performer = Text(CueText(PTI_PERFORMER, albumText));
  sheet.date = Text(rem_get(REM_DATE, cd_get_rem(cd.get())));
  sheet.genre = RemGenre(text);
  std::vector<std::string> written;  // the FILE names as libcue gives them, in order
  for (int i = 1; i <= count; ++i) {
    const Track* t = cd_get_track(cd.get(), i);
    if (t == nullptr || track_get_filename(t) == nullptr) {
      reason = shown + ": not a readable cue sheet";
      return ALBUM_BAD_SHEET;
    }
    AlbumTrack track;
    track.number = static_cast<uint32_t>(i);
    Cdtext* trackText = track_get_cdtext(t);
    track.title = Text(CueText(PTI_TITLE, trackText));
    track.performer = Text(CueText(PTI_PERFORMER, trackText));
    track.isrc = Text(track_get_isrc(t));
    const long index1 = track_get_index(t, 1);
    const long index0 = track_get_index(t, 0);
    if (index1 < 0) {
      reason = shown + ": track " + std::to_string(i) + " has no INDEX 01";
      return ALBUM_BAD_SHEET;
    }
    track.start = index1;
    const std::string name = track_get_filename(t);
    // libcue gives a track that follows one whose INDEX 01 came after a FILE line of its
    // own the name of an earlier FILE line; a sheet never goes back to an earlier image, so
    // such a track lies in the image of the track before.
    const auto seen = std::find(written.begin(), written.end(), name);
    if (embedded) {
      track.file = 0;
    } else if (seen == written.end()) {
      written.push_back(name);
      sheet.images.push_back(ImagePath(folder, name.c_str()));
      track.file = sheet.images.size() - 1;
    } else {
      track.file = sheet.tracks.empty() ? 0 : sheet.tracks.back().file;
    }
    if (index0 > index1 && (sheet.tracks.empty() || sheet.tracks.back().file == track.file)) {
      reason = shown + ": track " + std::to_string(i) + " has INDEX 00 after INDEX 01";
      return ALBUM_BAD_SHEET;
    }
    sheet.tracks.push_back(std::move(track));
  }
  if (!IndexesInOrder(sheet, reason)) {
    reason = shown + ": " + reason;
    return ALBUM_BAD_SHEET;
  }
  return ALBUM_SHEET;
}

// The sheet a ripper stored as a CUESHEET Vorbis comment; empty when there is none.
std::string CommentSheet(const std::string& path) {
  FLAC__StreamMetadata* raw = nullptr;
  if (!FLAC__metadata_get_tags(path.c_str(), &raw) || raw == nullptr) return {};
  const MetadataPtr tags(raw);
  const int at = FLAC__metadata_object_vorbiscomment_find_entry_from(tags.get(), 0, "CUESHEET");
  if (at < 0) return {};
  const FLAC__StreamMetadata_VorbisComment_Entry& entry =
      tags->data.vorbis_comment.comments[at];
  const std::string text(reinterpret_cast<const char*>(entry.entry), entry.length);
  const auto equals = text.find('=');
  return equals == std::string::npos ? std::string() : text.substr(equals + 1);
}

int ReadEmbeddedSheet(const std::string& path, AlbumSheet& sheet, std::string& reason) {
  const std::string commented = CommentSheet(path);
  if (!commented.empty()) {
    AlbumSheet fromComment;
    fromComment.path = path;
    fromComment.images = {path};
    std::string why;
    if (ParseCueText(commented, path, true, fromComment, why) == ALBUM_SHEET) {
      sheet = std::move(fromComment);
      return ALBUM_SHEET;
    }
  }
  FLAC__StreamMetadata* raw = nullptr;
  if (!FLAC__metadata_get_cuesheet(path.c_str(), &raw) || raw == nullptr) return ALBUM_NOT_A_SHEET;
  const MetadataPtr block(raw);
  const FLAC__StreamMetadata_CueSheet& cue = block->data.cue_sheet;
  sheet.path = path;
  sheet.images = {path};
  // The last track of the block is the lead-out, which only marks the end.
  for (uint32_t i = 0; i + 1 < cue.num_tracks; ++i) {
    const FLAC__StreamMetadata_CueSheet_Track& t = cue.tracks[i];
    AlbumTrack track;
    track.number = t.number;
    track.start_in_samples = true;
    bool found = false;
    for (uint32_t k = 0; k < t.num_indices; ++k) {
      if (t.indices[k].number == 1) {
        track.start = static_cast<int64_t>(t.offset + t.indices[k].offset);
        found = true;
      }
    }
    if (!found) {
      reason = NameOf(path) + ": track " + std::to_string(t.number) + " has no INDEX 01";
      return ALBUM_BAD_SHEET;
    }
    track.isrc = std::string(t.isrc, strnlen(t.isrc, sizeof t.isrc));
    sheet.tracks.push_back(std::move(track));
  }
  if (sheet.tracks.empty()) return ALBUM_NOT_A_SHEET;
  if (!IndexesInOrder(sheet, reason)) {
    reason = NameOf(path) + ": " + reason;
    return ALBUM_BAD_SHEET;
  }
  return ALBUM_SHEET;
}

bool LooksLikeFlac(const std::string& path) {
  audio_detail::FileDescriptor fd = audio_detail::open_regular_file_nonblocking(path);
  char magic[4] = {};
  return fd && audio_detail::read_fully(fd.get(), magic, 4) == 4 && std::memcmp(magic, "fLaC", 4) == 0;
}

}  // namespace

bool album_is_cue_name(const std::string& path) {
  return path.size() > 4 && Lower(path.substr(path.size() - 4)) == ".cue";
}

int album_read_sheet(const std::string& path, AlbumSheet* sheet, std::string* reason) {
  if (sheet == nullptr || reason == nullptr) return ALBUM_NOT_A_SHEET;
  try {
    *sheet = AlbumSheet{};
    reason->clear();
    if (album_is_cue_name(path)) {
      std::string text;
      if (!ReadSheetText(path, text)) {
        *reason = NameOf(path) + ": not a readable cue sheet";
        return ALBUM_BAD_SHEET;
      }
      sheet->path = path;
      return ParseCueText(text, path, false, *sheet, *reason);
    }
    if (!LooksLikeFlac(path)) return ALBUM_NOT_A_SHEET;
    return ReadEmbeddedSheet(path, *sheet, *reason);
  } catch (...) {
    *reason = NameOf(path) + ": not a readable cue sheet";
    return ALBUM_BAD_SHEET;
  }
}

std::string album_track_entry(const std::string& sheet, size_t position) {
  std::string number = std::to_string(position);
  if (number.size() < 2) number = "0" + number;
  return sheet + "/Track" + number + ".cuetrack";
}

bool album_split_track_entry(const std::string& entry, std::string* sheet, size_t* position) {
  static const std::string prefix = "/Track", suffix = ".cuetrack";
  if (entry.size() <= suffix.size() ||
      entry.compare(entry.size() - suffix.size(), suffix.size(), suffix) != 0)
    return false;
  const auto slash = entry.rfind(prefix);
  if (slash == std::string::npos || slash == 0) return false;
  const std::string digits =
      entry.substr(slash + prefix.size(), entry.size() - suffix.size() - slash - prefix.size());
  if (digits.empty() || digits.size() > 6 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  const size_t number = std::stoul(digits);
  if (number == 0) return false;
  if (sheet) *sheet = entry.substr(0, slash);
  if (position) *position = number;
  return true;
}
