// The main unit's object: the conversion list, the configuration file, the CD drive scan
// and the job driver.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "main/listrows.h"

// The roots of the CD drives, packed from slot 0; the slots after the last drive are empty.
struct TCDDrives {
  std::array<std::string, 23> Drives;
};

class TMainFunc {
 public:
  bool ReadOnlyWarn = false;
  std::vector<std::string> FileList;  // full path of every source, in list order

  // The visible rows of ConvertList (the list box's own store).
  TListRows Rows;
  // True while a batch runs, and while the CD command or adding files fills the list: no
  // command may then start a batch or change the list.
  bool BatchRunning = false;
  // True when the config.cfg read held the [FLACOptions] and [OpusOptions] sections: they are
  // then written back even at their working values. A file without them gets them only once
  // a value differs, so a file of the older layout is written back unchanged.
  bool ConfigHasFlacOpus = false;
  // The same for the [LoudnessOptions] section.
  bool ConfigHasLoudness = false;
  // Whether config.cfg had the [BatchOptions] section: it is then written back whatever
  // its value.
  bool ConfigHasBatchOptions = false;
  // The end of the last batch: true once ConvertAll has run to the end of the list (a
  // cancel leaves it false), with the sources whose conversion failed, in list order.
  bool BatchEnded = false;
  std::vector<std::string> FailedSources;

  void ReadConfig();
  // Reads the settings from `path` exactly as ReadConfig reads config.cfg.
  void ReadConfigFrom(const std::string& path);
  void WriteConfig();

  void AddFiles();
  void RemoveSelected();
  void ClearList();

  TCDDrives GetCDDrives();

  void ConvertAll();
  // True when every step succeeded and the output was written.
  bool ConvertFile(std::string source, std::string destination);
};

extern TMainFunc MainFunc;
