// System errors in words, as a sentence part: "no such file or directory".
#pragma once

#include <string>

std::string ErrorText(int error);

// Why the audio layer refused to open a file (audio_error_get, audio_error_detail), as a
// sentence part: "not an audio file", "damaged MIDI file: track 2 ends inside an event".
std::string OpenErrorText(int code, const std::string& detail);
