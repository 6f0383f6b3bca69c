#include "staging.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "handles.h"
#include "main/paths.h"

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

bool MakeStaging(const std::string& folder, std::string& staging) {
  std::string pattern = (folder.empty() ? std::string(".") : folder) + "/.orvik-convert-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) return false;
  staging = buffer.data();
  return true;
}

bool MakeScratch(std::string& scratch) {
  const std::string programTemp = ProgramDir() + "temp";
  mkdir(programTemp.c_str(), 0777);
  if (MakeStaging(programTemp, scratch)) return true;
  const char* tmp = std::getenv("TMPDIR");
  return MakeStaging(tmp && *tmp ? tmp : "/tmp", scratch);
}

void RemoveStaging(const std::string& staging) {
  if (staging.empty()) return;
  if (DirPtr dir{opendir(staging.c_str())}) {
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir.get())) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    dir.reset();
    // Only files are ever made in it.
    for (const auto& name : names) std::remove((staging + "/" + name).c_str());
  }
  rmdir(staging.c_str());
}
