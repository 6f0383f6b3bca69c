#include "startfiles.h"

#include <filesystem>
#include <system_error>

#include "application.h"
#include "main/folderwalk.h"
#include "main/jobdriver.h"
#include "main/listops.h"
#include "mainform.h"

std::vector<std::string> StartFilePaths(const std::vector<std::string>& arguments) {
  std::vector<std::string> files;
  for (const std::string& argument : arguments) {
    if (argument.empty()) continue;
    std::error_code error;
    // The dialog hands over clean absolute paths; "./a.mp3" and "a.mp3" name one entry.
    const std::filesystem::path path =
        std::filesystem::absolute(argument, error).lexically_normal();
    if (error) continue;
    // Regular files (links followed): a FIFO or a device would block the batch. A folder
    // gives the sources below it.
    if (std::filesystem::is_directory(path, error)) {
      const auto below = ExpandSourceFolders({path.native()});
      files.insert(files.end(), below.begin(), below.end());
      continue;
    }
    if (!std::filesystem::is_regular_file(path, error)) continue;
    files.push_back(path.native());
  }
  return files;
}

void AddStartFiles(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  RunGuarded([&arguments] {
    // Events are processed while folders are walked and between the appends; as during an
    // add, no command may change the list or start a batch meanwhile.
    TBatchGuard busy;
    const std::vector<std::string> files = StartFilePaths(arguments);
    if (files.empty()) return;
    AppendSourcePaths(files);
  });
  if (Form1) Form1->UpdateCommandState();
}
