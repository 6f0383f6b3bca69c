#include "errortext.h"

#include <cerrno>
#include <cstring>

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
