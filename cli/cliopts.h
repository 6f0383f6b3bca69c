// The command line of orvik-convert: what the user asked for, before config.cfg is read.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "codecs/options.h"

struct TCliRequest {
  enum class TAction { Convert, Help, Version };
  TAction action = TAction::Convert;

  std::vector<std::string> paths;        // files and folders, in the order given
  std::vector<std::string> fromLists;    // --from files; "-" is standard input
  bool recurse = false;
  bool quiet = false;
  int jobs = 0;                          // 0: one per core
  std::string configFile;                // empty: config.cfg beside the executable

  // Each set value overrides the settings file.
  std::optional<std::string> format;
  std::optional<std::string> outputFolder;
  std::optional<int> naming;             // OutputName 0, 1, 2
  std::optional<int> rate;
  std::optional<int> channels;
  std::optional<int> bitrate;
  std::optional<int> vbrQuality;
  std::optional<int> level;             // FLAC compression level
  std::optional<int> replayGain;        // ReplayGain 0 off, 1 track, 2 album
  bool deleteSources = false;

  // What happens to an output that exists and was not written by this run.
  enum class TExisting { Report, Overwrite, SkipSilently };
  TExisting existing = TExisting::Report;
  bool dryRun = false;
  bool nulSeparated = false;             // --from lists are separated by NUL bytes
  std::string tempFolder;                // empty: the program's temp/, then $TMPDIR
};

// Parses argv. On a usage error returns false with `error` saying what is wrong, in one line
// without the program's name.
bool ParseCommandLine(int argc, char** argv, TCliRequest& request, std::string& error);

// Applies the request's overrides to settings read from the settings file. False with
// `error` when a value does not fit the output format (a rate WMA does not take, ...).
bool ApplyOverrides(const TCliRequest& request, TOptions& options, std::string& error);

// The format the job driver will write for these settings: anything not wav, mp3, wma, flac
// or opus is Ogg Vorbis.
std::string EffectiveFormat(const TOptions& options);

extern const char* const kUsageText;
