#include "codecs/gaintags.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "codecs/partialfile.h"
#include "main/outputplace.h"

namespace {

constexpr double kReplayGainReference = -18.0;  // LUFS
constexpr double kOpusReference = -23.0;        // LUFS

bool NamedFormatOf(const std::string& format, NamedFieldFormat& named) {
  // As the job driver reads the format: anything it does not name is Ogg Vorbis.
  if (format == "wav") return false;
  named = format == "mp3"    ? NamedFieldFormat::Mp3
          : format == "opus" ? NamedFieldFormat::Opus
          : format == "flac" ? NamedFieldFormat::Flac
          : format == "wma"  ? NamedFieldFormat::Wma
                             : NamedFieldFormat::OggVorbis;
  return true;
}

std::string Printed(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

// TagLib does not report a failed write; room for the tags to grow is made sure of first.
bool RoomFor(int fd, off_t bytes) {
  struct statvfs room;
  return fstatvfs(fd, &room) != 0 || off_t(room.f_bavail * room.f_frsize) > bytes;
}

}  // namespace

bool FormatTakesGainTags(const std::string& format) {
  NamedFieldFormat named;
  return NamedFormatOf(format, named);
}

VorbisComments GainFields(const std::string& format, bool album, double loudness, double peak) {
  VorbisComments fields;
  if (!FormatTakesGainTags(format) || !std::isfinite(loudness)) return fields;
  if (format == "opus") {
    // RFC 7845: a Q7.8 fixed-point gain, on top of the header's output gain (0 here).
    const double q78 = std::round((kOpusReference - loudness) * 256.0);
    fields.emplace_back(album ? "R128_ALBUM_GAIN" : "R128_TRACK_GAIN",
                        std::to_string(long(std::clamp(q78, -32768.0, 32767.0))));
    return fields;
  }
  const std::string scope = album ? "ALBUM" : "TRACK";
  fields.emplace_back("REPLAYGAIN_" + scope + "_GAIN",
                      Printed("%.2f", kReplayGainReference - loudness) + " dB");
  fields.emplace_back("REPLAYGAIN_" + scope + "_PEAK", Printed("%.6f", peak));
  return fields;
}

bool WriteGainFields(const std::string& path, const std::string& format, const VorbisComments& fields) {
  NamedFieldFormat named;
  if (!NamedFormatOf(format, named)) return false;
  if (fields.empty()) return true;
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  TPartialFile partial(path);
  if (!partial.Created()) return false;
  if (!RoomFor(partial.Descriptor(), info.st_size + 1024 * 1024)) return false;
  if (!CopyInto(path, partial)) return false;
  if (!audio_write_named_fields(partial.Path().c_str(), named, fields)) return false;
  if (::fsync(partial.Descriptor()) != 0) return false;
  return partial.Commit();
}
