#include "cliopts.h"

#include <getopt.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>

const char* const kUsageText =
    "Usage: orvik-convert [OPTION]... PATH...\n"
    "Convert audio files (MP3, WAV, Ogg Vorbis, WMA, FLAC, Opus, M4A/AAC, AIFF, MIDI, tracker\n"
    "modules) to mp3, ogg, wma, wav, flac or opus, several at once. A folder PATH is\n"
    "converted file by file, in name order, taking only the extensions the converter reads.\n"
    "A .cue sheet (or a FLAC image with its sheet inside) is converted track by track, to\n"
    "\"NN - TITLE\" beside the sheet; a folder's images named by its sheets are not taken again.\n"
    "\n"
    "Settings come from config.cfg beside the executable, as the window keeps them; the\n"
    "options below override them for this run and are never written back.\n"
    "\n"
    "  -f, --format=FORMAT      output format: mp3, ogg, wma, wav, flac or opus\n"
    "  -o, --output=DIR         write the outputs into DIR (made if missing), a walked\n"
    "                             folder's subfolders mirrored below it;\n"
    "                             default: beside each source\n"
    "  -n, --naming=RULE        output names: source (the source's name), track\n"
    "                             (Track1, Track2, ...) or number (1, 2, ...)\n"
    "      --rate=HZ            sample rate: 32000, 44100 or 48000;\n"
    "                             for wav and flac also 11025 and 22050\n"
    "      --channels=1|2       mono or stereo output\n"
    "      --bitrate=KBPS       constant bitrate, one of\n"
    "                             mp3: 32 64 96 128 192 224 256 320\n"
    "                             ogg: 64 96 128 192 224 256 320 498\n"
    "                             wma: 32 64 96 128 192\n"
    "                             opus: 32 64 96 128 192 224 256\n"
    "      --vbr=QUALITY        variable bitrate at QUALITY (mp3, ogg: 1-9; wma: 1-5;\n"
    "                             opus: the average bitrate in kbps, of the list above)\n"
    "      --level=N            flac compression level, 0 (fastest) to 8 (smallest)\n"
    "      --replaygain=MODE    loudness tags, measured on each output as written: track\n"
    "                             (ReplayGain track gain and peak; Opus: R128 gain),\n"
    "                             album (also the album's, an album being the files of\n"
    "                             one source folder) or off; wav output takes none\n"
    "      --delete             delete each source once its complete output exists and\n"
    "                             is a different file\n"
    "      --overwrite          replace outputs that exist already\n"
    "      --skip-existing      leave outputs that exist already, without a word\n"
    "                             (default: leave them, report each, exit status 1)\n"
    "  -r, --recursive          walk folders into their subfolders\n"
    "      --from=FILE          read more paths from FILE, one per line ('-': standard\n"
    "                             input)\n"
    "  -0, --from0              the --from lists are separated by NUL bytes\n"
    "                             (find -print0)\n"
    "      --dry-run            say what would be converted to where, and what would\n"
    "                             be skipped or refused, and write nothing\n"
    "      --temp=DIR           decode into DIR (default: temp/ beside the program,\n"
    "                             else $XDG_RUNTIME_DIR, else a private folder\n"
    "                             in $TMPDIR)\n"
    "  -j, --jobs=N             convert N files at once (default: one per core)\n"
    "      --config=FILE        read the settings from FILE instead of config.cfg\n"
    "  -q, --quiet              report failures only\n"
    "  -h, --help               show this help and exit\n"
    "      --version            show the version and exit\n"
    "\n"
    "A folder is walked for: %EXTENSIONS%.\n"
    "\n"
    "WMA output is always 44100 Hz stereo, Opus output 48000 Hz. Outputs appear whole or\n"
    "not at all; a file that cannot be converted is reported with the reason and the batch\n"
    "goes on. A file at the output path of another source is never taken as a source.\n"
    "Exit status: 0 every file converted (or skipped with --skip-existing), 1 some failed\n"
    "or were skipped, 2 wrong usage; interrupted by\n"
    "Ctrl+C it stops the running conversions, removes their partial outputs and ends as\n"
    "interrupted.\n";

namespace {

enum LongOnly { kRate = 1000, kChannels, kBitrate, kVbr, kLevel, kDelete, kFrom, kConfig,
                kVersion, kOverwrite, kSkipExisting, kDryRun, kTemp, kReplayGain };

const option kLongOptions[] = {
    {"format", required_argument, nullptr, 'f'},
    {"output", required_argument, nullptr, 'o'},
    {"naming", required_argument, nullptr, 'n'},
    {"rate", required_argument, nullptr, kRate},
    {"channels", required_argument, nullptr, kChannels},
    {"bitrate", required_argument, nullptr, kBitrate},
    {"vbr", required_argument, nullptr, kVbr},
    {"level", required_argument, nullptr, kLevel},
    {"delete", no_argument, nullptr, kDelete},
    {"replaygain", required_argument, nullptr, kReplayGain},
    {"recursive", no_argument, nullptr, 'r'},
    {"from", required_argument, nullptr, kFrom},
    {"jobs", required_argument, nullptr, 'j'},
    {"config", required_argument, nullptr, kConfig},
    {"quiet", no_argument, nullptr, 'q'},
    {"overwrite", no_argument, nullptr, kOverwrite},
    {"skip-existing", no_argument, nullptr, kSkipExisting},
    {"dry-run", no_argument, nullptr, kDryRun},
    {"from0", no_argument, nullptr, '0'},
    {"temp", required_argument, nullptr, kTemp},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

std::optional<int> WholeNumber(const char* text) {
  const char* end = text + std::char_traits<char>::length(text);
  int value = 0;
  const auto [rest, ec] = std::from_chars(text, end, value);
  if (ec != std::errc() || rest != end || text == end) return std::nullopt;
  return value;
}

// What each output format accepts; the lists are the ones the settings dialog offers.
struct TFormatLimits {
  const char* name;
  std::vector<int> rates;      // empty: the format has a fixed rate and channel count
  std::vector<int> bitrates;
  int maxQuality;              // 0: --vbr takes a bitrate of the list (opus)
};

const TFormatLimits& LimitsOf(const std::string& format) {
  static const std::array<TFormatLimits, 6> limits = {{
      {"wav", {11025, 22050, 32000, 44100, 48000}, {}, 0},
      {"mp3", {32000, 44100, 48000}, {32, 64, 96, 128, 192, 224, 256, 320}, 9},
      {"wma", {}, {32, 64, 96, 128, 192}, 5},
      {"flac", {11025, 22050, 32000, 44100, 48000}, {}, 0},
      {"opus", {48000}, {32, 64, 96, 128, 192, 224, 256}, 0},
      {"ogg", {32000, 44100, 48000}, {64, 96, 128, 192, 224, 256, 320, 498}, 9},
  }};
  for (const auto& entry : limits)
    if (format == entry.name) return entry;
  return limits.back();
}

std::string JoinNumbers(const std::vector<int>& numbers) {
  std::string text;
  for (int n : numbers) text += (text.empty() ? "" : ", ") + std::to_string(n);
  return text;
}

bool Contains(const std::vector<int>& list, int value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace

std::string EffectiveFormat(const TOptions& options) {
  const std::string& f = options.OutputFormat;
  return f == "wav" || f == "mp3" || f == "wma" || f == "flac" || f == "opus" ? f
                                                                               : std::string("ogg");
}

bool ParseCommandLine(int argc, char** argv, TCliRequest& request, std::string& error) {
  optind = 0;  // a fresh scan, also when called twice in one process
  opterr = 0;  // the messages are ours
  for (;;) {
    const int c = getopt_long(argc, argv, ":f:o:n:rj:q0h", kLongOptions, nullptr);
    if (c == -1) break;
    const char* value = optarg;
    // The option as written: a long one up to its "=", a short one by its letter.
    const std::string word = optind > 0 && optind <= argc ? argv[optind - 1] : "";
    const bool isLong = word.rfind("--", 0) == 0;
    const std::string given = isLong ? word.substr(0, word.find('='))
                                     : "-" + std::string(1, char(optopt));
    switch (c) {
      case 'f': {
        const std::string f = value;
        if (f != "mp3" && f != "ogg" && f != "wma" && f != "wav" && f != "flac" && f != "opus") {
          error = "unknown format '" + f + "' (mp3, ogg, wma, wav, flac or opus)";
          return false;
        }
        request.format = f;
        break;
      }
      case 'o':
        if (*value == '\0') {
          error = "the output folder is empty";
          return false;
        }
        request.outputFolder = value;
        break;
      case 'n': {
        const std::string n = value;
        if (n == "source") request.naming = 0;
        else if (n == "track") request.naming = 1;
        else if (n == "number") request.naming = 2;
        else {
          error = "unknown naming rule '" + n + "' (source, track or number)";
          return false;
        }
        break;
      }
      case 'r': request.recurse = true; break;
      case 'q': request.quiet = true; break;
      case 'j': {
        const auto n = WholeNumber(value);
        if (!n || *n < 1 || *n > 256) {
          error = "invalid number of jobs '" + std::string(value) + "' (1 to 256)";
          return false;
        }
        request.jobs = *n;
        break;
      }
      case kLevel: {
        const auto n = WholeNumber(value);
        if (!n || *n < 0 || *n > 8) {
          error = "invalid compression level '" + std::string(value) + "' (0 to 8)";
          return false;
        }
        request.level = *n;
        break;
      }
      case kRate: case kChannels: case kBitrate: case kVbr: {
        const auto n = WholeNumber(value);
        const char* what = c == kRate ? "rate" : c == kChannels ? "channel count"
                         : c == kBitrate ? "bitrate" : "quality";
        if (!n || *n <= 0) {
          error = std::string("invalid ") + what + " '" + value + "'";
          return false;
        }
        (c == kRate ? request.rate : c == kChannels ? request.channels
         : c == kBitrate ? request.bitrate : request.vbrQuality) = *n;
        break;
      }
      case kDelete: request.deleteSources = true; break;
      case kReplayGain: {
        const std::string mode = value;
        if (mode == "off") request.replayGain = 0;
        else if (mode == "track") request.replayGain = 1;
        else if (mode == "album") request.replayGain = 2;
        else {
          error = "unknown replaygain mode '" + mode + "' (track, album or off)";
          return false;
        }
        break;
      }
      case kFrom: request.fromLists.emplace_back(value); break;
      case kConfig: request.configFile = value; break;
      case 'h': request.action = TCliRequest::TAction::Help; return true;
      case kOverwrite: case kSkipExisting: {
        const auto wanted = c == kOverwrite ? TCliRequest::TExisting::Overwrite
                                            : TCliRequest::TExisting::SkipSilently;
        if (request.existing != TCliRequest::TExisting::Report && request.existing != wanted) {
          error = "--overwrite and --skip-existing exclude each other";
          return false;
        }
        request.existing = wanted;
        break;
      }
      case kDryRun: request.dryRun = true; break;
      case '0': request.nulSeparated = true; break;
      case kTemp:
        if (*value == '\0') {
          error = "the temporary folder is empty";
          return false;
        }
        request.tempFolder = value;
        break;
      case kVersion: request.action = TCliRequest::TAction::Version; return true;
      case ':':
        error = "option '" + given + "' needs a value";
        return false;
      default:
        // getopt names a known long option given a value it does not take by its code.
        error = isLong && optopt != 0 ? "option '" + given + "' takes no value"
                                      : "unknown option '" + given + "'";
        return false;
    }
  }
  for (int i = optind; i < argc; ++i) request.paths.emplace_back(argv[i]);
  if (request.paths.empty() && request.fromLists.empty()) {
    error = "no files given";
    return false;
  }
  if (request.bitrate && request.vbrQuality) {
    error = "--bitrate and --vbr exclude each other";
    return false;
  }
  return true;
}

bool ApplyOverrides(const TCliRequest& request, TOptions& o, std::string& error) {
  if (request.format) o.OutputFormat = *request.format;
  if (request.outputFolder) o.OutputFolder = *request.outputFolder;
  if (request.naming) o.OutputName = *request.naming;
  if (request.deleteSources) o.Delete = true;
  if (request.replayGain) o.ReplayGain = *request.replayGain;

  const std::string format = EffectiveFormat(o);
  const TFormatLimits& limits = LimitsOf(format);
  if ((request.rate || request.channels) && limits.rates.empty()) {
    error = format + " output is always 44100 Hz stereo: --rate and --channels do not apply";
    return false;
  }
  if (request.rate && !Contains(limits.rates, *request.rate)) {
    error = "rate " + std::to_string(*request.rate) + " Hz is not offered for " + format + " (" +
            JoinNumbers(limits.rates) + ")";
    return false;
  }
  if (request.channels && *request.channels != 1 && *request.channels != 2) {
    error = "invalid channel count '" + std::to_string(*request.channels) + "' (1 or 2)";
    return false;
  }
  if ((request.bitrate || request.vbrQuality) && limits.bitrates.empty()) {
    error = format + " output has no bitrate: --bitrate and --vbr do not apply";
    return false;
  }
  if (request.replayGain.value_or(0) != 0 && format == "wav") {
    error = "wav output carries no loudness tags: --replaygain does not apply";
    return false;
  }
  if (request.level && format != "flac") {
    error = format + " output has no compression level: --level applies to flac";
    return false;
  }
  if (request.bitrate && !Contains(limits.bitrates, *request.bitrate)) {
    error = "bitrate " + std::to_string(*request.bitrate) + " kbps is not offered for " + format +
            " (" + JoinNumbers(limits.bitrates) + ")";
    return false;
  }
  if (request.vbrQuality && limits.maxQuality == 0 &&
      !Contains(limits.bitrates, *request.vbrQuality)) {
    error = "bitrate " + std::to_string(*request.vbrQuality) + " kbps is not offered for " +
            format + " (" + JoinNumbers(limits.bitrates) + ")";
    return false;
  }
  if (request.vbrQuality && limits.maxQuality > 0 && *request.vbrQuality > limits.maxQuality) {
    error = "quality " + std::to_string(*request.vbrQuality) + " is out of range for " + format +
            " (1 to " + std::to_string(limits.maxQuality) + ")";
    return false;
  }

  const int32_t rate = request.rate.value_or(0), channels = request.channels.value_or(0);
  const bool cbr = request.bitrate.has_value(), vbr = request.vbrQuality.has_value();
  const int32_t bitrate = request.bitrate.value_or(0), quality = request.vbrQuality.value_or(0);
  if (format == "wav") {
    if (rate) o.WAVFreq = rate;
    if (channels) o.WAVNumChannels = channels;
  } else if (format == "mp3") {
    if (rate) o.MP3Freq = rate;
    if (channels) o.MP3NumChannels = channels;
    if (cbr) o.MP3UseVBR = false, o.MP3Bitrate = bitrate;
    if (vbr) o.MP3UseVBR = true, o.MP3Quality = quality;
  } else if (format == "flac") {
    if (rate) o.FLACFreq = rate;
    if (channels) o.FLACNumChannels = channels;
    if (request.level) o.FLACLevel = *request.level;
  } else if (format == "opus") {
    if (channels) o.OpusNumChannels = channels;
    if (cbr) o.OpusUseVBR = false, o.OpusBitrate = bitrate;
    if (vbr) o.OpusUseVBR = true, o.OpusBitrate = quality;
  } else if (format == "wma") {
    if (cbr) o.WMAUseVBR = false, o.WMABitrate = bitrate;
    if (vbr) o.WMAUseVBR = true, o.WMAQuality = quality;
  } else {
    if (rate) o.OGGFreq = rate;
    if (channels) o.OGGNumChannels = channels;
    if (cbr) o.OGGUseVBR = false, o.OGGBitrate = bitrate;
    if (vbr) o.OGGUseVBR = true, o.OGGQuality = quality;
  }
  return true;
}
