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

namespace {

// The text as printable pieces: one character each, or the escape standing for one
// character or byte, so that a cut never splits an escape.
std::vector<std::string> EscapedPieces(const std::string& text) {
  std::vector<std::string> pieces;
  for (size_t at = 0; at < text.size();) {
    const TChar c = Decode(text, at);
    std::string piece;
    if (c.code == '\\') {
      piece = "\\\\";
    } else if (c.code >= 0x20 && c.code < 0x7F) {
      piece = char(c.code);
    } else if (c.code >= 0 && c.code < 0x20) {
      static const char* const named = "\a\b\t\n\v\f\r";
      static const char* const letters = "abtnvfr";
      const char* hit = c.code == 0 ? nullptr : std::strchr(named, int(c.code));
      if (hit) piece = std::string("\\") + letters[hit - named];
      else AppendOctal(piece, static_cast<unsigned char>(text[at]));
    } else if (c.code < 0 || c.code == 0x7F || !std::iswprint(static_cast<wint_t>(c.code))) {
      // Bytes of a non-printable character (DEL, C1 controls such as CSI, format marks)
      // are shown each by its octal value, as ls does.
      for (size_t i = 0; i < c.bytes; ++i) AppendOctal(piece, static_cast<unsigned char>(text[at + i]));
    } else {
      piece.assign(text, at, c.bytes);
    }
    pieces.push_back(std::move(piece));
    at += c.bytes;
  }
  return pieces;
}

}  // namespace

std::string Escaped(const std::string& text) {
  std::string out;
  for (const std::string& piece : EscapedPieces(text)) out += piece;
  return out;
}

std::string EscapedEnd(const std::string& text, size_t columns) {
  const std::vector<std::string> pieces = EscapedPieces(text);
  size_t total = 0;
  for (const std::string& piece : pieces) total += Columns(piece);
  if (total <= columns) return Escaped(text);
  if (columns == 0) return "";
  std::string end;
  size_t used = 0;
  for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
    const size_t width = Columns(*it);
    if (used + width > columns - 1) break;
    used += width;
    end.insert(0, *it);
  }
  return "…" + end;
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
