// config.cfg: 27 lines read by position, whatever their section headers and key names say;
// after them, the appended sections whose header lines are there. Each read takes the next
// line and keeps the text after its last "=".
#include "main/config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "codecs/convfunc.h"
#include "codecs/loudness.h"
#include "codecs/partialfile.h"
#include "main/econverterror.h"
#include "main/mainfunc.h"
#include "main/paths.h"
#include "stdio_file.h"

namespace {

// Reads like fgets into a buffer of `bufferSize` bytes: at most bufferSize - 1 characters,
// up to and including a line feed. A carriage return followed by a line feed reads as the
// line feed alone, as a file written on Windows reads in text mode. The text ends at a NUL
// byte, as the buffer would be taken as a C string.
std::optional<std::string> ReadLine(std::FILE* file, int bufferSize) {
  std::string line;
  bool any = false;
  while (static_cast<int>(line.size()) < bufferSize - 1) {
    int c = std::fgetc(file);
    if (c == EOF) break;
    any = true;
    if (c == '\r') {
      const int next = std::fgetc(file);
      if (next == '\n') {
        c = '\n';
      } else if (next != EOF) {
        std::ungetc(next, file);
      }
    }
    line.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  if (!any) return std::nullopt;
  const auto nul = line.find('\0');
  if (nul != std::string::npos) line.resize(nul);
  return line;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

[[noreturn]] void ThrowInvalid(const std::string& text, const char* kind) {
  throw EConvertError("'" + text + "' is not a valid " + kind + " value");
}

// True when the text is a decimal number, blanks around it allowed; its value goes to
// `isZero`.
bool ParseDecimal(const std::string& text, bool& isZero) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && IsBlank(text[i])) ++i;
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  bool digits = false;
  isZero = true;
  while (i < n && IsDigit(text[i])) {
    digits = true;
    if (text[i] != '0') isZero = false;
    ++i;
  }
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && IsDigit(text[i])) {
      digits = true;
      if (text[i] != '0') isZero = false;
      ++i;
    }
  }
  if (!digits) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    if (i >= n || !IsDigit(text[i])) return false;
    while (i < n && IsDigit(text[i])) ++i;
  }
  while (i < n && IsBlank(text[i])) ++i;
  return i == n;
}

bool EqualsIgnoringCase(const std::string& text, const char* word) {
  size_t i = 0;
  for (; word[i] != '\0'; ++i) {
    if (i >= text.size()) return false;
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    char w = word[i];
    if (w >= 'A' && w <= 'Z') w = static_cast<char>(w - 'A' + 'a');
    if (c != w) return false;
  }
  return i == text.size();
}

// Fills one setting per call from the next line; false once the file has ended, so the
// settings not reached keep their values.
class ConfigReader {
 public:
  explicit ConfigReader(std::FILE* file) : file_(file) {}

  bool Header() { return SkipConfigLine(file_); }
  // A text the file could not give back as read is not taken: the setting keeps its
  // value, so the next WriteConfig never stores a line that the next start cannot read.
  bool Text(std::string& field) {
    auto v = ReadConfigValue(file_, true);
    if (!v) return false;
    if (ConfigCanHoldText(*v)) field = *v;
    return true;
  }
  bool Int(int32_t& field) {
    auto v = ReadConfigValue(file_, true);
    if (!v) return false;
    field = ConfigTextToInt(*v);
    return true;
  }
  bool IntFlag(bool& field) {
    auto v = ReadConfigValue(file_, true);
    if (!v) return false;
    field = ConfigTextToInt(*v) != 0;
    return true;
  }
  bool Flag(bool& field) {
    auto v = ReadConfigValue(file_, true);
    if (!v) return false;
    field = ConfigTextToBool(*v);
    return true;
  }

 private:
  std::FILE* file_;
};

// The sections appended after the described 27 lines, each recognised by its header line
// and read by position after it. A section that is not there keeps the working values of
// its settings; a new section is one more row here and one more piece of BuildConfigText.
struct TAppendedSection {
  const char* header;
  bool (*read)(ConfigReader& reader, TOptions& options, TMainFunc& main);
};

const TAppendedSection kAppendedSections[] = {
    {"[FLACOptions]",
     [](ConfigReader& r, TOptions& o, TMainFunc& m) {
       m.ConfigHasFlacOpus = true;
       return r.Int(o.FLACFreq) && r.Int(o.FLACNumChannels) && r.Int(o.FLACLevel);
     }},
    {"[OpusOptions]",
     [](ConfigReader& r, TOptions& o, TMainFunc& m) {
       m.ConfigHasFlacOpus = true;
       return r.Int(o.OpusNumChannels) && r.Int(o.OpusBitrate) && r.IntFlag(o.OpusUseVBR);
     }},
    {"[LoudnessOptions]",
     [](ConfigReader& r, TOptions& o, TMainFunc& m) {
       m.ConfigHasLoudness = true;
       return r.Int(o.ReplayGain);
     }},
    {"[BatchOptions]",
     [](ConfigReader& r, TOptions& o, TMainFunc& m) {
       m.ConfigHasBatchOptions = true;
       return r.Int(o.Jobs);
     }},
};

// Reads appended sections while the next line is one of their headers; any other line,
// or the end of the file, ends the reading.
void ReadAppendedSections(std::FILE* file, ConfigReader& reader, TOptions& options,
                          TMainFunc& main) {
  for (;;) {
    auto line = ReadLine(file, 255);
    if (!line) return;
    if (!line->empty() && line->back() == '\n') line->pop_back();
    const TAppendedSection* section = nullptr;
    for (const auto& s : kAppendedSections) {
      if (*line == s.header) section = &s;
    }
    if (!section || !section->read(reader, options, main)) return;
  }
}

// Writes `text` to `path` in one call; false on any failure.
bool WriteWhole(const std::string& path, const std::string& text) {
  FilePtr f(std::fopen(path.c_str(), "wb"));
  if (!f) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), f.get()) == text.size();
  return std::fclose(f.release()) == 0 && written;
}

enum class TReplaceResult { Replaced, NotWritten, NotReplaced };

// Writes `text` to a new file beside `path` (one without a name until it is complete, where
// the file system allows, so an interrupted save leaves nothing) and puts it in place of
// `path` with the old file's mode and owner. NotWritten when the new file could not be
// written whole (the old file is then better kept than overwritten); NotReplaced when no
// new file could be made or the rename was refused.
TReplaceResult ReplaceByRename(const std::string& path, const std::string& text) {
  TPartialFile partial(path);
  if (!partial.Created()) return TReplaceResult::NotReplaced;
  const int fd = partial.Descriptor();
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return TReplaceResult::NotWritten;
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) return TReplaceResult::NotWritten;
  return partial.Commit() ? TReplaceResult::Replaced : TReplaceResult::NotReplaced;
}

}  // namespace

std::string ConfigPath() { return ProgramDir() + "config.cfg"; }

std::optional<std::string> ReadConfigValue(std::FILE* file, bool dropLineEnd) {
  auto line = ReadLine(file, 256);
  if (!line) return std::nullopt;
  std::string text = *line;
  if (dropLineEnd && !text.empty() && text.back() == '\n') text.pop_back();
  const auto eq = text.rfind('=');
  if (eq == std::string::npos) return text;
  return text.substr(eq + 1);
}

bool SkipConfigLine(std::FILE* file) { return ReadLine(file, 255).has_value(); }

bool ConfigCanHoldText(const std::string& text) {
  // A carriage return at the end would be read back as part of the line end.
  return text.size() <= kMaxConfigTextBytes && (text.empty() || text.back() != '\r');
}

std::string FlagToText(bool flag) { return std::to_string(static_cast<unsigned char>(flag)); }

int32_t ConfigTextToInt(const std::string& text) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == n) ThrowInvalid(text, "integer");
  int64_t value = 0;
  for (; i < n; ++i) {
    if (!IsDigit(text[i])) ThrowInvalid(text, "integer");
    value = value * 10 + (text[i] - '0');
    if (value > 2147483648LL) ThrowInvalid(text, "integer");
  }
  if (negative) value = -value;
  if (value > 2147483647LL) ThrowInvalid(text, "integer");
  return static_cast<int32_t>(value);
}

bool ConfigTextToBool(const std::string& text) {
  bool isZero = true;
  if (ParseDecimal(text, isZero)) return !isZero;
  if (EqualsIgnoringCase(text, "true")) return true;
  if (EqualsIgnoringCase(text, "false")) return false;
  ThrowInvalid(text, "boolean");
}

std::string BuildConfigText(const TOptions& o, bool readOnlyWarn, bool withFlacOpus,
                            bool withLoudness, bool withBatchOptions) {
  withLoudness = withLoudness || o.ReplayGain != REPLAYGAIN_OFF;
  const auto num = [](int32_t v) { return std::to_string(v); };
  std::string s;
  s += "[Main]\nOutputFormat=" + o.OutputFormat;
  s += "\n[WAVOptions]\nFreq=" + num(o.WAVFreq);
  s += "\nNumChannels=" + num(o.WAVNumChannels);
  s += "\n[OGGOptions]\nFreq=" + num(o.OGGFreq);
  s += "\nNumChannels=" + num(o.OGGNumChannels);
  s += "\nBitrate=" + num(o.OGGBitrate);
  s += "\nUseVBR=" + FlagToText(o.OGGUseVBR);
  s += "\nQuality=" + num(o.OGGQuality);
  s += "\n[MP3Options]\nFreq=" + num(o.MP3Freq);
  s += "\nNumChannels=" + num(o.MP3NumChannels);
  s += "\nBitrate=" + num(o.MP3Bitrate);
  s += "\nUseVBR=" + FlagToText(o.MP3UseVBR);
  s += "\nQuality=" + num(o.MP3Quality);
  s += "\n[WMAOptions]\nBitrate=" + num(o.WMABitrate);
  s += "\nUseVBR=" + FlagToText(o.WMAUseVBR);
  s += "\nQuality=" + num(o.WMAQuality);
  s += "\n[Files]\nOutputFolder=" + o.OutputFolder;
  s += "\nOutputName=" + num(o.OutputName);
  s += "\nDelete=" + FlagToText(o.Delete);
  s += "\n[Messages]\nReadOnlyWarn=" + FlagToText(readOnlyWarn);
  if (withFlacOpus || !FlacOpusAtDefaults(o)) {
    s += "\n[FLACOptions]\nFreq=" + num(o.FLACFreq);
    s += "\nNumChannels=" + num(o.FLACNumChannels);
    s += "\nLevel=" + num(o.FLACLevel);
    s += "\n[OpusOptions]\nNumChannels=" + num(o.OpusNumChannels);
    s += "\nBitrate=" + num(o.OpusBitrate);
    s += "\nUseVBR=" + FlagToText(o.OpusUseVBR);
  }
  if (withLoudness) s += "\n[LoudnessOptions]\nReplayGain=" + num(o.ReplayGain);
  if (withBatchOptions || o.Jobs != DefaultBatchJobs()) s += "\n[BatchOptions]\nJobs=" + num(o.Jobs);
  return s;
}

void TMainFunc::ReadConfig() { ReadConfigFrom(ConfigPath()); }

void TMainFunc::ReadConfigFrom(const std::string& path) {
  // Opened without blocking and taken only when it is a regular file: a pipe or a device
  // put in its place must not hang the start-up.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    // A first run has no file yet: start from working values rather than zeros that
    // would convert nothing.
    if (errno == ENOENT) {
      ConvFunc.Options = FirstRunOptions();
      ReadOnlyWarn = true;
    }
    return;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return;
  }
  FilePtr f(::fdopen(fd, "rb"));
  if (!f) {
    ::close(fd);
    return;
  }
  TOptions& o = ConvFunc.Options;
  // Sections the file does not have leave their settings at the working values.
  const TOptions defaults;
  o.FLACFreq = defaults.FLACFreq;
  o.FLACNumChannels = defaults.FLACNumChannels;
  o.FLACLevel = defaults.FLACLevel;
  o.OpusNumChannels = defaults.OpusNumChannels;
  o.OpusBitrate = defaults.OpusBitrate;
  o.OpusUseVBR = defaults.OpusUseVBR;
  o.ReplayGain = defaults.ReplayGain;
  ConfigHasFlacOpus = false;
  ConfigHasLoudness = false;
  o.Jobs = defaults.Jobs;
  ConfigHasBatchOptions = false;
  ConfigReader r(f.get());
  // Each step stores its value at once, so a conversion error leaves the keys before it
  // read and the rest untouched; the end of the file stops reading the same way.
  const bool describedLinesRead = r.Header() && r.Text(o.OutputFormat) &&
      r.Header() && r.Int(o.WAVFreq) && r.Int(o.WAVNumChannels) &&
      r.Header() && r.Int(o.OGGFreq) && r.Int(o.OGGNumChannels) && r.Int(o.OGGBitrate) &&
      r.IntFlag(o.OGGUseVBR) && r.Int(o.OGGQuality) &&
      r.Header() && r.Int(o.MP3Freq) && r.Int(o.MP3NumChannels) && r.Int(o.MP3Bitrate) &&
      r.IntFlag(o.MP3UseVBR) && r.Int(o.MP3Quality) &&
      r.Header() && r.Int(o.WMABitrate) && r.IntFlag(o.WMAUseVBR) && r.Int(o.WMAQuality) &&
      r.Header() && r.Text(o.OutputFolder) && r.Int(o.OutputName) && r.Flag(o.Delete) &&
      // A line end after the last value (every Linux editor ends a file with one) is that
      // line's end, not part of the value.
      r.Header() && r.Flag(ReadOnlyWarn);
  if (!describedLinesRead) return;
  // Past the described lines only a known section header continues the reading: blank
  // lines an editor left or a note of the user's end it, as they would end the described
  // reader, which never looks past line 27.
  ReadAppendedSections(f.get(), r, o, *this);
}

void TMainFunc::WriteConfig() {
  const std::string path = ConfigPath();
  const std::string text = BuildConfigText(ConvFunc.Options, ReadOnlyWarn, ConfigHasFlacOpus,
                                           ConfigHasLoudness, ConfigHasBatchOptions);

  // The new text goes to a temporary file beside the old one and replaces it by rename,
  // so a full disk or a failed write leaves the previous settings whole. A symbolic link
  // is written through, in place.
  struct stat st {};
  const bool exists = ::lstat(path.c_str(), &st) == 0;
  if (exists && S_ISLNK(st.st_mode)) {
    WriteWhole(path, text);
    return;
  }
  if (exists && S_ISREG(st.st_mode)) {
    // A file this user may not write (made read-only to keep fixed settings, or owned by
    // someone else) keeps its contents, as writing it in place would have.
    const int probe = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (probe < 0) return;
    ::close(probe);
    // A file with other names (hard links) stays the one file they all name.
    if (st.st_nlink > 1) {
      WriteWhole(path, text);
      return;
    }
  }
  switch (ReplaceByRename(path, text)) {
    case TReplaceResult::Replaced:
    case TReplaceResult::NotWritten:
      return;
    case TReplaceResult::NotReplaced:
      // No temporary file can be made here, or the file cannot be renamed over (a file
      // bind-mounted into place, a folder where only the owner may replace it): written in
      // place, the settings are still kept.
      WriteWhole(path, text);
      return;
  }
}
