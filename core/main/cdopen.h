// The CD command: replaces the conversion list with the track entries of the disc in the
// first CD drive.
#pragma once

#include <string>

// "<root>Track01.cda" ... "<root>Track09.cda", "<root>Track10.cda" ...
std::string CDTrackEntry(const std::string& root, int track);

// Lists the disc's tracks, or tells the user through UiHooks.MessageBox why it cannot; the
// list is left as it was in that case.
void OpenCDTracks();
