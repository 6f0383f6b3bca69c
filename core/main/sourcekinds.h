// The kinds of source the converter reads, by file-name extension: the one list that the
// window's folders and orvik-convert's walks both take.
#pragma once

#include <string>
#include <vector>

// The extensions, in lower case, in the order the help names them.
const std::vector<std::string>& SourceExtensions();
// True when `name` ends in one of them (any letter case).
bool HasSourceExtension(const std::string& name);
