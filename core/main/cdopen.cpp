#include "main/cdopen.h"

#include "audio.h"
#include "main/mainfunc.h"
#include "main/uihooks.h"

std::string CDTrackEntry(const std::string& root, int track) {
  return root + (track < 10 ? "Track0" : "Track") + std::to_string(track) + ".cda";
}

void OpenCDTracks() {
  const TCDDrives drives = MainFunc.GetCDDrives();
  if (drives.Drives[0].empty()) {
    if (UiHooks.MessageBox)
      UiHooks.MessageBox("CD/DVD дисковод в вашей системе не обнаружен!", "Ошибка", MB_ERROR);
    return;
  }
  // Only the first drive is asked; a disc in a later drive is not looked for.
  const int32_t tracks = cd_drive_query(0);
  if (tracks <= 1) {
    if (UiHooks.MessageBox)
      UiHooks.MessageBox("Некорректный CD в дисководе или CD отсутствует!", "Ошибка чтения CD", MB_ERROR);
    return;
  }
  const std::string root = drives.Drives[0];
  MainFunc.ClearList();
  for (int track = 1; track <= tracks; ++track) {
    // Keeps the window painted and responsive while a long disc is listed.
    if (UiHooks.Sleep) UiHooks.Sleep(5);
    if (UiHooks.ProcessEvents) UiHooks.ProcessEvents();
    const std::string entry = CDTrackEntry(root, track);
    MainFunc.FileList.push_back(entry);
    MainFunc.Rows.Items.push_back(entry);
  }
  MainFunc.Rows.Repaint();
}
