// File names are data, not text for the terminal: they are printed escaped, as `ls -b`
// prints them, and measured in screen columns.
#pragma once

#include <cstddef>
#include <string>

// Makes the character functions read UTF-8 whatever the locale says, so that widths are
// right under LANG=C too (Linux file names are UTF-8 in practice).
void UseUtf8Characters();

// The text with every control character, every character the terminal cannot print and
// every byte that is not UTF-8 written as an escape (\n, \t, \033, ...), and "\" as "\\".
// Printable characters, spaces and letters of every script included, stay as they are.
std::string Escaped(const std::string& text);

// Screen columns of an escaped text: 2 for wide (CJK, emoji) characters, 0 for combining
// ones.
size_t Columns(const std::string& text);

// An escaped text cut to at most `columns` screen columns, its start kept. Never splits a
// character.
std::string CutRight(const std::string& text, size_t columns);
// Escaped(text) within `columns` screen columns, its end kept behind a "…" (for paths,
// whose names are at the end). Never splits a character or an escape.
std::string EscapedEnd(const std::string& text, size_t columns);
