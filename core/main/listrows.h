// The visible rows of the conversion list box, with its selected row and top row. The
// main window's list widget shows and edits this model; the list operations keep it and
// MainFunc.FileList equal in length, entry by entry.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct TListRows {
  std::vector<std::string> Items;
  int ItemIndex = -1;  // selected row, -1 for none
  int TopIndex = 0;    // first row shown
  std::function<void()> OnRepaint;  // set by the window that shows the rows

  int Count() const { return static_cast<int>(Items.size()); }
  void Repaint() const {
    if (OnRepaint) OnRepaint();
  }
};
