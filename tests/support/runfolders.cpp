#include "runfolders.h"

#include <QDir>
#include <QFile>

#include "main/paths.h"

bool MakeRunFolders(const QString& root, int index, TRunFolders* out) {
  const std::string base =
      QFile::encodeName(root).toStdString() + "/" + std::to_string(index) + "/";
  out->program = base + "prog/";
  out->music = base + "music/";
  if (!QDir().mkpath(QFile::decodeName(out->program.c_str())) ||
      !QDir().mkpath(QFile::decodeName(out->music.c_str())))
    return false;
  SetProgramDirForTesting(out->program);
  return true;
}

std::set<std::string> FilesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const QString& name : QDir(QFile::decodeName(folder.c_str()))
                                 .entryList(QDir::Files | QDir::Hidden | QDir::System))
    names.insert(QFile::encodeName(name).toStdString());
  return names;
}
