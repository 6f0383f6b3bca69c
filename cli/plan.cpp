#include "plan.h"

#include <filesystem>
#include <map>

#include "main/jobdriver.h"

namespace {

// One text per place on disk, links and ".." resolved as far as the path exists.
std::string PlaceKey(const std::string& path) {
  std::error_code error;
  const auto key = std::filesystem::weakly_canonical(std::filesystem::absolute(path, error), error);
  return error ? path : key.string();
}

}  // namespace

std::vector<TPlannedJob> PlanJobs(const std::vector<std::string>& sources, const TOptions& options) {
  std::vector<TPlannedJob> jobs(sources.size());
  std::map<std::string, size_t> sourceAt, outputOf;
  for (size_t i = 0; i < sources.size(); ++i) sourceAt.emplace(PlaceKey(sources[i]), i);

  std::string previous;
  for (size_t i = 0; i < sources.size(); ++i) {
    TPlannedJob& job = jobs[i];
    job.source = sources[i];
    job.destination = OutputPathFor(sources[i], static_cast<int>(i), options, false, previous);
    previous = job.destination;
    const std::string key = PlaceKey(job.destination);

    // Two sources with one output: the first keeps it, the later one is reported.
    const auto [earlier, isNew] = outputOf.emplace(key, i);
    if (!isNew) {
      job.refusal = "its output " + job.destination + " is also the output of " +
                    sources[earlier->second];
      continue;
    }
    if (SourceStillWaiting(sources, i, job.destination)) {
      job.refusal = "its output " + job.destination +
                    " would replace a source that waits to be converted";
      continue;
    }
    const auto replaced = sourceAt.find(key);
    if (replaced != sourceAt.end() && replaced->second < i) job.after.push_back(replaced->second);
  }
  return jobs;
}
