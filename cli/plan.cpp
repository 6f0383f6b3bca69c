#include "plan.h"

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <unordered_map>

#include "main/jobdriver.h"

namespace {

// One text per place on disk, links and ".." resolved as far as the path exists.
std::string PlaceKey(const std::string& path) {
  std::error_code error;
  const auto key = std::filesystem::weakly_canonical(std::filesystem::absolute(path, error), error);
  return error ? path : key.string();
}

using TFileId = std::pair<dev_t, ino_t>;

}  // namespace

std::vector<TPlannedJob> PlanJobs(const std::vector<std::string>& sources, const TOptions& options) {
  std::vector<TPlannedJob> jobs(sources.size());
  // Every source exists, so an output can only replace one when it names an existing file.
  std::map<TFileId, size_t> sourceAt;
  for (size_t i = 0; i < sources.size(); ++i) {
    struct stat info;
    if (stat(sources[i].c_str(), &info) == 0) sourceAt.emplace(TFileId{info.st_dev, info.st_ino}, i);
  }
  std::unordered_map<std::string, size_t> outputOf;

  std::string previous;
  for (size_t i = 0; i < sources.size(); ++i) {
    TPlannedJob& job = jobs[i];
    job.source = sources[i];
    job.destination = OutputPathFor(sources[i], static_cast<int>(i), options, false, previous);
    previous = job.destination;

    // Two sources with one output: the first keeps it, the later one is reported, and
    // neither source is deleted (the window's rule).
    const auto [first, isNew] = outputOf.emplace(PlaceKey(job.destination), i);
    if (!isNew) {
      jobs[first->second].sharesOutput = job.sharesOutput = true;
      job.refusal = "its output " + job.destination + " is also the output of " +
                    sources[first->second];
      continue;
    }
    struct stat info;
    if (stat(job.destination.c_str(), &info) != 0) continue;
    const auto replaced = sourceAt.find(TFileId{info.st_dev, info.st_ino});
    if (replaced == sourceAt.end() || replaced->second == i) continue;
    if (replaced->second > i) {
      job.refusal = "its output " + job.destination +
                    " would replace a source that waits to be converted";
    } else {
      job.after.push_back(replaced->second);
    }
  }
  return jobs;
}
