// The conversion list: adding, removing and clearing entries in both stores together, and
// what its painting draws.
#include "main/listops.h"

#include <algorithm>
#include <set>

#include "main/albumentries.h"
#include "main/mainfunc.h"
#include "main/uihooks.h"

namespace {

// Deletes row `index` from both stores; the selection follows its row.
void DeleteEntry(int index) {
  TListRows& rows = MainFunc.Rows;
  rows.Items.erase(rows.Items.begin() + index);
  MainFunc.FileList.erase(MainFunc.FileList.begin() + index);
  if (rows.ItemIndex == index) {
    rows.ItemIndex = -1;
  } else if (rows.ItemIndex > index) {
    --rows.ItemIndex;
  }
}

// Byte offsets where each character of a UTF-8 text begins. A byte that does not start a
// well-formed sequence counts as a character of its own, so any text can be cut safely.
std::vector<size_t> CharacterStarts(const std::string& text) {
  std::vector<size_t> starts;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    starts.push_back(i);
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4;
    bool whole = i + length <= n;
    for (size_t k = 1; whole && k < length; ++k) {
      whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    }
    i += whole ? length : 1;
  }
  return starts;
}

}  // namespace

void TMainFunc::AddFiles() {
  std::vector<std::string> paths;
  if (!UiHooks.RunOpenDialog || !UiHooks.RunOpenDialog(paths)) return;
  AppendSourcePaths(paths);
}

void AppendSourcePaths(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    if (UiHooks.ProcessEvents) UiHooks.ProcessEvents();
    // An album's sheet stands for its tracks.
    for (const TListedSource& entry : ListedSourcesOf(path)) {
      MainFunc.Rows.Items.push_back(entry.shown);
      MainFunc.FileList.push_back(entry.path);
    }
  }
  RemoveRepeatedPaths();
  MainFunc.Rows.Repaint();
}

void RemoveRepeatedPaths() {
  // Events processed while appending may have changed either store; only rows present in
  // both are compared, so the two stay the same length.
  TListRows& rows = MainFunc.Rows;
  std::set<std::string> later;
  for (int i = std::min(rows.Count(), static_cast<int>(MainFunc.FileList.size())) - 1; i >= 0;
       --i) {
    if (!later.insert(MainFunc.FileList[i]).second) DeleteEntry(i);
  }
  rows.TopIndex = std::clamp(rows.TopIndex, 0, std::max(0, rows.Count() - 1));
}

void TMainFunc::RemoveSelected() {
  const int t = Rows.TopIndex;
  const int s = Rows.ItemIndex;
  if (s >= 0 && s < Rows.Count()) {
    Rows.Items.erase(Rows.Items.begin() + s);
    if (s < static_cast<int>(FileList.size())) FileList.erase(FileList.begin() + s);
  }
  if (s != 0 && s != -1) Rows.ItemIndex = std::min(s - 1, Rows.Count() - 1);
  if (s == 0) Rows.ItemIndex = Rows.Count() > 0 ? 0 : -1;
  if (t != 0) Rows.TopIndex = t - 1;
  Rows.Repaint();
}

void KeepOnlyEntries(const std::vector<std::string>& paths) {
  const std::set<std::string> kept(paths.begin(), paths.end());
  TListRows& rows = MainFunc.Rows;
  for (int i = std::min(rows.Count(), static_cast<int>(MainFunc.FileList.size())) - 1; i >= 0;
       --i) {
    if (!kept.count(MainFunc.FileList[i])) DeleteEntry(i);
  }
  rows.TopIndex = std::clamp(rows.TopIndex, 0, std::max(0, rows.Count() - 1));
  rows.Repaint();
}

void TMainFunc::ClearList() {
  Rows.Items.clear();
  Rows.ItemIndex = -1;
  Rows.TopIndex = 0;
  FileList.clear();
  Rows.Repaint();
}

std::string ShortenToRoom(const std::string& text, const TTextWidth& width, int room) {
  if (width(text) < room) return text;
  const std::vector<size_t> starts = CharacterStarts(text);
  const size_t count = starts.size();
  const std::string tail =
      count < LIST_TAIL_KEPT ? text : text.substr(starts[count - LIST_TAIL_KEPT]);
  const auto marked = [&](size_t headChars) {
    return text.substr(0, headChars == 0 ? 0 : starts[headChars]) + ".. " + tail;
  };
  const auto fits = [&](size_t headChars) { return width(marked(headChars)) < room; };
  // Every pass drops one more character before the mark, starting with the three before
  // the tail, until the text fits; with nothing left before the mark it stays as it is.
  // The width grows with the head, so the head kept is the longest that fits, found by
  // halving rather than pass by pass: a path of thousands of characters would otherwise
  // measure thousands of texts for every painting.
  const size_t longest = count > LIST_TAIL_KEPT + 2 ? count - LIST_TAIL_KEPT - 3 : 0;
  if (fits(longest)) return marked(longest);
  size_t low = 0, high = longest;  // fits(high) is false; fits(low) is to be found out
  if (!fits(low)) return marked(0);
  while (high - low > 1) {
    const size_t middle = low + (high - low) / 2;
    if (fits(middle)) low = middle; else high = middle;
  }
  return marked(low);
}

std::vector<TDrawnRow> ComputeDrawList(const TListRows& rows, const TTextWidth& width,
                                       int room) {
  std::vector<TDrawnRow> drawn;
  const int t = std::max(0, rows.TopIndex);
  for (int i = t; i < t + LIST_ROWS_PAINTED && i < rows.Count(); ++i) {
    drawn.push_back(TDrawnRow{i, (i - t) * LIST_ROW_HEIGHT, i == rows.ItemIndex,
                              ShortenToRoom(rows.Items[i], width, room)});
  }
  return drawn;
}
