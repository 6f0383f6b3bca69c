// The few places where the logic behind the windows must reach a window. The application
// fills these in; tests put their own answers in.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Message box flags.
enum : int { MB_ERROR = 16, MB_QUESTION_OKCANCEL = 33, MB_WARNING = 48 };
// Message box answers.
enum : int { ID_OK = 1, ID_CANCEL = 2 };

struct TUiHooks {
  // The file-open dialog: false when cancelled, otherwise the chosen paths in order.
  std::function<bool(std::vector<std::string>& paths)> RunOpenDialog;
  // A modal message box; returns the button pressed.
  std::function<int(const std::string& text, const std::string& caption, int flags)> MessageBox;
  // Shows the read-only warning box modally and returns when it has closed.
  std::function<void()> ShowReadOnlyWarning;
  // Lets the windows process their pending events.
  std::function<void()> ProcessEvents;
  // Sleeps; headless it may do nothing.
  std::function<void(int milliseconds)> Sleep;
};

extern TUiHooks UiHooks;
