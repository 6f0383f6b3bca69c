// The pieces of the config.cfg reader and writer that are useful on their own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "codecs/options.h"

// The path of the settings file: beside the executable.
std::string ConfigPath();

// Reads the next line (at most 255 characters, the line feed included) and returns the text
// after its last "=", or the whole text when it holds no "=". With `dropLineEnd` a final
// line feed is removed first. A carriage return right before a line feed is part of the
// line end; a lone one, also at the end of the file, is part of the text. No value when the file has no more characters.
std::optional<std::string> ReadConfigValue(std::FILE* file, bool dropLineEnd);

// The longest text value that config.cfg gives back as written: "OutputFolder=" or
// "OutputFormat=", the value and its line end fill the 255 characters of one read.
inline constexpr size_t kMaxConfigTextBytes = 241;

// True when the line "Key=<text>" reads back as `text`: not longer than
// kMaxConfigTextBytes and not ending in a carriage return (which the line feed after it
// would make part of the line end). A text read from the file that fails this is refused.
bool ConfigCanHoldText(const std::string& text);

// Skips one section header line (at most 254 characters); false at the end of the file.
bool SkipConfigLine(std::FILE* file);

// "0" or "1".
std::string FlagToText(bool flag);

// Optional leading blanks, an optional sign, then decimal digits to the end of the text,
// within 32 bits. Throws EConvertError otherwise.
int32_t ConfigTextToInt(const std::string& text);
// A decimal number (blanks around it allowed; true when not 0) or "True"/"False" in any
// letter case. Throws EConvertError otherwise.
bool ConfigTextToBool(const std::string& text);

// The complete text that WriteConfig stores: the 27 lines, then the [FLACOptions] and
// [OpusOptions] sections when `withFlacOpus` or when a value of theirs differs from its
// working value; then [LoudnessOptions] when `withLoudness` or when ReplayGain is not off;
// then [BatchOptions] when `withBatchOptions` or when Jobs differs from its default.
std::string BuildConfigText(const TOptions& options, bool readOnlyWarn, bool withFlacOpus = false,
                            bool withLoudness = false, bool withBatchOptions = false);
