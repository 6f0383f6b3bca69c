// Removing a large file without waiting for it.
#pragma once

#include <string>

// Removes the file `path`: its name goes at once, but the file system frees its blocks (a
// tenth of a second and more for a WAV of an hour) only when the last descriptor closes,
// and that descriptor is closed on a thread of its own. False when the name stays.
bool RemoveAside(const std::string& path);
