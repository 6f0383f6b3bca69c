// Whether output files can be written into a folder, found by creating one.
#pragma once

#include <cstddef>
#include <string>

#include "main/config.h"

// Creates a file of a fresh, unique name in `folder` (exclusively, so no existing file is
// opened, emptied or removed) and deletes it again at once. True when the file could be
// created. `folder` is a path in bytes, with or without a trailing "/".
bool CanCreateFileIn(const std::string& folder);

enum class TFolderProblem { None, TooLong, EqualsSign, LineEnd };

// Why config.cfg could not give the folder back as the output folder: the file holds one
// "key=value" line per setting, read through a 256-byte buffer and split at the last "=".
TFolderProblem FolderSettingProblem(const std::string& folder);

// The longest folder text that fits the line "OutputFolder=<folder>" with its line end.
inline constexpr size_t kMaxFolderBytes = kMaxConfigTextBytes;

// The folder path as the setting holds it: no trailing "/" unless it is the root itself.
std::string WithoutTrailingSeparator(std::string folder);
