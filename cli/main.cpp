// orvik-convert: converts whole folders from the terminal, on every core, with the settings
// and the safety rules of the window.
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <thread>

#include "batch.h"
#include "cliopts.h"
#include "codecs/convfunc.h"
#include "errortext.h"
#include "main/econverterror.h"
#include "main/mainfunc.h"
#include "main/config.h"
#include "plan.h"
#include "report.h"
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

// The cores this process may run on (taskset and cpusets included), not all of the machine's.
int DefaultJobs() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : int(cores);
}

}  // namespace

int main(int argc, char** argv) {
  TCliRequest request;
  std::string error;
  if (!ParseCommandLine(argc, argv, request, error)) return UsageError(error);
  if (request.action == TCliRequest::TAction::Help) {
    std::fputs(kUsageText, stdout);
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
    if (!ReadPathList(list, paths, error)) return UsageError(error);
  }
  TSourceList sources;
  for (const std::string& path : paths) AddSourcePath(path, request.recurse, sources);

  const bool live = isatty(STDOUT_FILENO) == 1;
  TReport report(live, request.quiet, EffectiveFormat(options) != "wav");
  for (const TSourceProblem& problem : sources.problems) report.Problem(problem.path, problem.reason);

  InstallCancelHandlers();
  const std::vector<TPlannedJob> plan = PlanJobs(sources.files, options);
  const TBatchResult result = RunBatch(plan, sources.files, options,
                                       request.jobs > 0 ? request.jobs : DefaultJobs(), report);
  TTotals totals = result.totals;
  totals.failed += sources.problems.size();
  report.Summary(totals, result.interruptedBy != 0, result.notStarted);

  if (result.interruptedBy != 0) {
    // Ends the way an interrupted program ends, so a calling script stops too.
    signal(result.interruptedBy, SIG_DFL);
    raise(result.interruptedBy);
  }
  return totals.failed + totals.cancelled == 0 ? 0 : 1;
}
