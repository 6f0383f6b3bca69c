#include "screentext.h"

#include <clocale>
#include <cstring>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <langinfo.h>
#include <string_view>
#include <vector>

namespace {

// One decoded character: its code and its length in bytes; code -1 for a byte that does
// not start a valid UTF-8 sequence (an overlong form, a surrogate, a stray continuation).
struct TChar {
  long code;
  size_t bytes;
};

TChar Decode(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return {lead, 1};
  size_t length = 0;
  long code = 0, least = 0;
  if ((lead & 0xE0) == 0xC0) length = 2, code = lead & 0x1F, least = 0x80;
  else if ((lead & 0xF0) == 0xE0) length = 3, code = lead & 0x0F, least = 0x800;
  else if ((lead & 0xF8) == 0xF0) length = 4, code = lead & 0x07, least = 0x10000;
  else return {-1, 1};
  if (at + length > text.size()) return {-1, 1};
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return {-1, 1};
    code = code << 6 | (byte(at + i) & 0x3F);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {-1, 1};
  return {code, length};
}

void AppendOctal(std::string& out, unsigned char byte) {
  char text[8];
  std::snprintf(text, sizeof text, "\\%03o", byte);
  out += text;
}

int WidthOf(long code) {
  if (code < 0x80) return code >= 0x20 && code < 0x7F ? 1 : 0;
  const int width = wcwidth(static_cast<wchar_t>(code));
  return width < 0 ? 0 : width;
}

}  // namespace

void UseUtf8Characters() {
  std::setlocale(LC_CTYPE, "");
  const std::string_view codeset = nl_langinfo(CODESET);
  if (codeset != "UTF-8") std::setlocale(LC_CTYPE, "C.UTF-8");
}

std::string Escaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const TChar c = Decode(text, at);
    const unsigned char byte = static_cast<unsigned char>(text[at]);
    if (c.code == '\\') {
      out += "\\\\";
    } else if (c.code >= 0x20 && c.code < 0x7F) {
      out += char(c.code);
    } else if (c.code >= 0 && c.code < 0x20) {
      static const char* const named = "\a\b\t\n\v\f\r";
      static const char* const letters = "abtnvfr";
      const char* hit = c.code == 0 ? nullptr : std::strchr(named, int(c.code));
      if (hit) out += std::string("\\") + letters[hit - named];
      else AppendOctal(out, byte);
    } else if (c.code < 0 || c.code == 0x7F || !std::iswprint(static_cast<wint_t>(c.code))) {
      // Bytes of a non-printable character (DEL, C1 controls such as CSI, format marks)
      // are shown each by its octal value, as ls does.
      for (size_t i = 0; i < c.bytes; ++i) AppendOctal(out, static_cast<unsigned char>(text[at + i]));
    } else {
      out.append(text, at, c.bytes);
    }
    at += c.bytes;
  }
  return out;
}

size_t Columns(const std::string& text) {
  size_t columns = 0;
  for (size_t at = 0; at < text.size();) {
    const TChar c = Decode(text, at);
    columns += size_t(WidthOf(c.code));
    at += c.bytes;
  }
  return columns;
}

std::string CutRight(const std::string& text, size_t columns) {
  size_t used = 0, at = 0;
  while (at < text.size()) {
    const TChar c = Decode(text, at);
    const size_t width = size_t(WidthOf(c.code));
    if (used + width > columns) break;
    used += width;
    at += c.bytes;
  }
  return text.substr(0, at);
}

std::string KeepEnd(const std::string& text, size_t columns) {
  if (Columns(text) <= columns) return text;
  if (columns == 0) return "";
  // The characters, back from the end, that fit beside the "…".
  std::vector<size_t> starts;
  for (size_t at = 0; at < text.size(); at += Decode(text, at).bytes) starts.push_back(at);
  size_t used = 0, from = text.size();
  for (auto it = starts.rbegin(); it != starts.rend(); ++it) {
    const size_t width = size_t(WidthOf(Decode(text, *it).code));
    if (used + width > columns - 1) break;
    used += width;
    from = *it;
  }
  return "…" + text.substr(from);
}
