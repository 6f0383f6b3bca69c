#include "errortext.h"

#include <cerrno>
#include <cstring>

#include "audio.h"

std::string ErrorText(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT: return "no space left";
    default: break;
  }
  std::string text = std::strerror(error);
  // strerror begins with a capital, but the text goes after a colon.
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z' &&
      !(text.size() > 1 && text[1] >= 'A' && text[1] <= 'Z'))
    text[0] = char(text[0] - 'A' + 'a');
  return text;
}

std::string OpenErrorText(int code, const std::string& detail) {
  const std::string more = detail.empty() ? std::string() : ": " + detail;
  switch (code) {
    case AUDIO_ERROR_MIDI_NO_NOTES: return "the MIDI file plays no notes";
    case AUDIO_ERROR_MIDI_DAMAGED: return "damaged MIDI file" + more;
    case AUDIO_ERROR_BAD_SHEET: return detail.empty() ? "bad cue sheet" : detail;
    case AUDIO_ERROR_NO_SOUNDFONT: return "no General MIDI soundfont to play it" + more;
    default: return "not an audio file";
  }
}
