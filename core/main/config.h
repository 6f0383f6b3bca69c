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
// line end. No value when the file has no more characters.
std::optional<std::string> ReadConfigValue(std::FILE* file, bool dropLineEnd);

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

// The complete 27-line text that WriteConfig stores.
std::string BuildConfigText(const TOptions& options, bool readOnlyWarn);
