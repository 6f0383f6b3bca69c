// orvik-convert: converts whole folders from the terminal, on every core, with the settings
// and the safety rules of the window.
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <thread>

#include "batch.h"
#include "cliopts.h"
#include "codecs/convfunc.h"
#include "errortext.h"
#include "main/econverterror.h"
#include "main/mainfunc.h"
#include "main/config.h"
#include "main/paths.h"
#include "main/privatefolder.h"
#include "codecs/partialfile.h"
#include "plan.h"
#include "report.h"
#include "screentext.h"
#include "sourcelist.h"

namespace {

int UsageError(const std::string& what) {
  std::fprintf(stderr, "orvik-convert: %s\nTry 'orvik-convert --help'.\n", what.c_str());
  return 2;
}

// The settings as the window has them: working values first, then config.cfg (or FILE) read
// the same way. A damaged file is said once and the values read before the damage are kept.
bool ReadSettings(const std::string& configFile, std::string& error) {
  ConvFunc.Options = FirstRunOptions();
  const std::string path = configFile.empty() ? ConfigPath() : configFile;
  if (!configFile.empty()) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
      error = "cannot read the settings " + path + ": " + ErrorText(errno);
      return false;
    }
    if (!S_ISREG(info.st_mode)) {
      error = "cannot read the settings " + path + ": not a regular file";
      return false;
    }
  }
  try {
    MainFunc.ReadConfigFrom(path);
  } catch (const EConvertError& e) {
    std::fprintf(stderr, "orvik-convert: %s: %s; the settings after it keep working values\n",
                 path.c_str(), e.what());
  }
  return true;
}

// A folder the batch writes into, looked at once before anything runs, so that a bad one
// gives one clear line instead of one failure per file. With `mayBeMade` it may be missing
// (the batch makes it): then the nearest folder above it that exists must be writable.
bool CheckFolder(const std::string& folder, bool mayBeMade, std::string& error) {
  struct stat info;
  std::string existing = folder;
  while (stat(existing.c_str(), &info) != 0) {
    if (errno != ENOENT) {
      error = "cannot write to " + folder + ": " + ErrorText(errno);
      return false;
    }
    if (!mayBeMade) {
      error = folder + ": no such folder";
      return false;
    }
    const auto slash = existing.find_last_of('/', existing.find_last_not_of('/'));
    existing = slash == std::string::npos ? "." : slash == 0 ? "/" : existing.substr(0, slash);
  }
  if (!S_ISDIR(info.st_mode)) {
    error = existing == folder ? folder + ": not a folder"
                               : "cannot make " + folder + ": " + existing + " is not a folder";
    return false;
  }
  if (access(existing.c_str(), W_OK | X_OK) != 0) {
    error = "cannot write to " + folder + ": " + ErrorText(errno);
    return false;
  }
  return true;
}

// The folder temporary WAVs go to: `chosen` when given, else temp/ beside the program when
// it is this user's own (made if missing), else this user's private scratch folder; empty
// when there is none.
std::string TemporaryFolder(const std::string& chosen) {
  if (!chosen.empty()) return chosen;
  const std::string programTemp = ProgramDir() + "temp";
  mkdir(programTemp.c_str(), 0700);
  struct stat info;
  if (lstat(programTemp.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
      access(programTemp.c_str(), W_OK | X_OK) == 0)
    return programTemp;
  return PerUserScratchFolder();
}

// The help, with the kinds a walk takes from the one list the walk uses, wrapped at 80.
std::string HelpText() {
  std::string text = kUsageText;
  const std::string mark = "%EXTENSIONS%";
  const size_t at = text.find(mark);
  if (at == std::string::npos) return text;
  std::string list;
  size_t column = at - (text.rfind('\n', at) + 1);
  for (const std::string& extension : SourceExtensions()) {
    const std::string word = (list.empty() ? "" : ", ") + extension;
    if (column + word.size() + 1 > 80) {
      list += ",\n" + extension;
      column = extension.size();
    } else {
      list += word;
      column += word.size();
    }
  }
  return text.replace(at, mark.size(), list);
}

// The cores this process may run on (taskset and cpusets included), not all of the machine's.
int DefaultJobs() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : int(cores);
}

}  // namespace

int main(int argc, char** argv) {
  UseUtf8Characters();
  TCliRequest request;
  std::string error;
  if (!ParseCommandLine(argc, argv, request, error)) return UsageError(error);
  if (request.action == TCliRequest::TAction::Help) {
    std::fputs(HelpText().c_str(), stdout);
    return 0;
  }
  if (request.action == TCliRequest::TAction::Version) {
    std::printf("orvik-convert (Orvik Converter) %s\n", ORVIK_VERSION);
    return 0;
  }
  if (!ReadSettings(request.configFile, error)) return UsageError(error);
  TOptions options = ConvFunc.Options;
  if (!ApplyOverrides(request, options, error)) return UsageError(error);
  if (options.OutputName < 0 || options.OutputName > 2)
    return UsageError("the settings name no output naming rule; choose one with -n");

  std::vector<std::string> paths = request.paths;
  for (const std::string& list : request.fromLists) {
    if (!ReadPathList(list, request.nulSeparated, paths, error)) return UsageError(error);
  }

  const bool skipSilently = request.existing == TCliRequest::TExisting::SkipSilently;
  const bool live = isatty(STDOUT_FILENO) == 1;
  TReport report(live, request.quiet, EffectiveFormat(options) != "wav", skipSilently);
  if (!options.OutputFolder.empty() &&
      !CheckFolder(options.OutputFolder, true, error)) {
    report.Error(error);
    return 1;
  }
  const std::string temp = TemporaryFolder(request.tempFolder);
  if (temp.empty()) {
    report.Error("no private temporary folder: $XDG_RUNTIME_DIR is not set or not private, and "
                 "orvik-converter-" + std::to_string(geteuid()) +
                 " in $TMPDIR is not a folder of yours alone; choose one with --temp");
    return 1;
  }
  if (!request.tempFolder.empty() && !CheckFolder(temp, false, error)) {
    report.Error("--temp: " + error);
    return 1;
  }

  TSourceList sources;
  struct stat outputInfo;
  if (!options.OutputFolder.empty() && stat(options.OutputFolder.c_str(), &outputInfo) == 0)
    sources.notEntered.insert({outputInfo.st_dev, outputInfo.st_ino});
  for (const std::string& path : paths) AddSourcePath(path, request.recurse, sources);
  for (const TSourceProblem& problem : sources.problems) report.Problem(problem.path, problem.reason);
  // Said once for the whole run; the files beside those subfolders are converted.
  if (sources.subfoldersNotWalked == 1) report.Error("1 subfolder not walked; use -r");
  if (sources.subfoldersNotWalked > 1)
    report.Error(std::to_string(sources.subfoldersNotWalked) + " subfolders not walked; use -r");

  TPlanInput input;
  input.sources = sources.files;
  input.subfolders = sources.subfolders;
  input.overwrite = request.existing == TCliRequest::TExisting::Overwrite;
  const std::vector<TPlannedJob> plan = PlanJobs(input, options);

  if (request.dryRun) {
    size_t skipped = 0, refused = 0;
    for (const TPlannedJob& job : plan) {
      report.Planned(job);
      skipped += job.skipped;
      refused += !job.refusal.empty() && !job.skipped;
    }
    report.DrySummary(plan.size() - skipped - refused, skipped, refused + sources.problems.size());
    const bool clean = refused + sources.problems.size() == 0 && (skipped == 0 || skipSilently);
    return clean ? 0 : 1;
  }

  // What this user's killed runs left beside the outputs and in the temporary folders (also
  // $TMPDIR itself, where older versions worked); the folders of runs still going stay, and
  // so do other users'.
  const char* tmp = std::getenv("TMPDIR");
  std::set<std::string> leftoverPlaces{temp, ProgramDir() + "temp", tmp && *tmp ? tmp : "/tmp"};
  std::set<std::string> outputPlaces;
  for (const TPlannedJob& job : plan) outputPlaces.insert(FolderOf(job.destination));
  for (const std::string& place : outputPlaces) RemoveStalePartialFiles(place);
  leftoverPlaces.insert(outputPlaces.begin(), outputPlaces.end());
  for (const std::string& place : leftoverPlaces) RemoveDeadPrivateFolders(place, kStagingPrefix);

  InstallCancelHandlers();
  TBatchSettings settings;
  settings.jobs = request.jobs > 0 ? request.jobs : DefaultJobs();
  settings.tempFolder = temp;
  settings.overwrite = input.overwrite;
  const TBatchResult result = RunBatch(plan, options, settings, report);
  TTotals totals = result.totals;
  totals.failed += sources.problems.size();
  report.Summary(totals, result.interruptedBy != 0, result.notStarted);

  if (result.interruptedBy != 0) {
    // Ends the way an interrupted program ends, so a calling script stops too.
    signal(result.interruptedBy, SIG_DFL);
    raise(result.interruptedBy);
  }
  const size_t skipsReported = skipSilently ? 0 : totals.skipped;
  return totals.failed + totals.cancelled + skipsReported == 0 ? 0 : 1;
}
