// The conversion list beyond the operations of MainFunc: appending paths as the file-open
// dialog does, and the computation behind the list's painting, free of any drawing library.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "main/listrows.h"

// Painting constants of the conversion list.
enum : int {
  LIST_ROWS_PAINTED = 16,
  LIST_ROW_HEIGHT = 16,
  LIST_TEXT_LEFT = 2,
  LIST_TEXT_ROOM = 484,  // the list's width less 30 pixels
  LIST_TAIL_KEPT = 7,
};

// Appends every path to both stores (events processed before each one), removes repeated
// paths keeping their last occurrence, and repaints. Files dropped onto the list come in
// here, as do the paths chosen in the file-open dialog.
void AppendSourcePaths(const std::vector<std::string>& paths);

// Where a path occurs more than once, keeps only its last occurrence, in both stores at the
// same index; the selection stays on its row, or goes when its row goes.
void RemoveRepeatedPaths();

// Keeps only the entries whose paths are in `paths`, in both stores, in their order; the
// selection and the top row stay within the rows left.
void KeepOnlyEntries(const std::vector<std::string>& paths);

using TTextWidth = std::function<int(const std::string& text)>;

// Shortens `text` with ".. " before its last 7 characters until its drawn width is below
// `room`. Works on whole characters (UTF-8 code points), never on bytes.
std::string ShortenToRoom(const std::string& text, const TTextWidth& width,
                          int room = LIST_TEXT_ROOM);

struct TDrawnRow {
  int Index;      // row of the list
  int Y;          // top edge in the list's bitmap
  bool Selected;  // filled with the selection colour across the whole width
  std::string Text;  // the shortened text drawn at (LIST_TEXT_LEFT, Y)
};

// The rows painted, from the top row on, at most LIST_ROWS_PAINTED of them.
std::vector<TDrawnRow> ComputeDrawList(const TListRows& rows, const TTextWidth& width,
                                       int room = LIST_TEXT_ROOM);
