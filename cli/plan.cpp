#include "plan.h"

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <unordered_map>

#include "main/albumentries.h"
#include "main/jobdriver.h"

namespace {

// One text per place on disk, links and ".." resolved as far as the path exists.
std::string PlaceKey(const std::string& path) {
  std::error_code error;
  const auto key = std::filesystem::weakly_canonical(std::filesystem::absolute(path, error), error);
  return error ? path : key.string();
}

using TFileId = std::pair<dev_t, ino_t>;

bool IdOf(const std::string& path, TFileId& id) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return false;
  id = {info.st_dev, info.st_ino};
  return true;
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return text;
}

// The output folder for a file found `subfolder` below a named folder.
std::string MirroredFolder(const std::string& output, const std::string& subfolder) {
  if (subfolder.empty()) return output;
  const std::string below = subfolder.substr(0, subfolder.size() - 1);  // without its "/"
  return !output.empty() && output.back() == '/' ? output + below : output + "/" + below;
}

std::vector<std::string> Destinations(const TPlanInput& input, const std::vector<size_t>& taken,
                                      const TOptions& options) {
  std::vector<std::string> destinations;
  TOptions mirrored = options;
  std::string previous;
  for (size_t k = 0; k < taken.size(); ++k) {
    const size_t i = taken[k];
    if (!options.OutputFolder.empty())
      mirrored.OutputFolder = MirroredFolder(options.OutputFolder, input.subfolders[i]);
    previous = OutputPathFor(input.sources[i], static_cast<int>(k), mirrored, false, previous);
    destinations.push_back(previous);
  }
  return destinations;
}

// Leaves out every source in the output format that lies where another source's output
// goes: an output of an earlier run, or a file this run would replace. Numbered names
// depend on the places in the list, so the outputs are worked out again until no more
// sources drop out.
std::vector<size_t> SourcesTaken(const TPlanInput& input, const TOptions& options,
                                 std::vector<std::string>& destinations) {
  std::vector<size_t> taken(input.sources.size());
  for (size_t i = 0; i < taken.size(); ++i) taken[i] = i;
  const std::string format = Lower(options.OutputFormat);
  for (;;) {
    destinations = Destinations(input, taken, options);
    std::map<TFileId, size_t> outputsAt;  // how many outputs name each existing file
    std::vector<TFileId> outputIds(taken.size());
    std::vector<bool> outputExists(taken.size());
    for (size_t k = 0; k < taken.size(); ++k) {
      outputExists[k] = IdOf(destinations[k], outputIds[k]);
      if (outputExists[k]) ++outputsAt[outputIds[k]];
    }
    std::vector<size_t> kept;
    for (size_t k = 0; k < taken.size(); ++k) {
      const std::string& source = input.sources[taken[k]];
      TFileId id;
      bool dropped = false;
      if (Lower(ExtensionOf(source)) == format && IdOf(source, id)) {
        const auto hit = outputsAt.find(id);
        const size_t own = outputExists[k] && outputIds[k] == id ? 1 : 0;
        dropped = hit != outputsAt.end() && hit->second > own;
      }
      if (!dropped) kept.push_back(taken[k]);
    }
    if (kept.size() == taken.size()) return taken;
    taken.swap(kept);
  }
}

}  // namespace

std::vector<TPlannedJob> PlanJobs(const TPlanInput& input, const TOptions& options) {
  std::vector<std::string> destinations;
  const std::vector<size_t> taken = SourcesTaken(input, options, destinations);
  std::vector<TPlannedJob> jobs(taken.size());
  // Every source exists, so an output can only replace one when it names an existing file.
  std::map<TFileId, size_t> sourceAt;
  for (size_t k = 0; k < taken.size(); ++k) {
    TFileId id;
    if (IdOf(input.sources[taken[k]], id)) sourceAt.emplace(id, k);
  }
  std::unordered_map<std::string, size_t> outputOf;

  for (size_t i = 0; i < jobs.size(); ++i) {
    TPlannedJob& job = jobs[i];
    job.source = input.sources[taken[i]];
    job.destination = destinations[i];

    // Two sources with one output: the first keeps it, the later one is reported, and
    // neither source is deleted (the window's rule).
    const auto [first, isNew] = outputOf.emplace(PlaceKey(job.destination), i);
    if (!isNew) {
      jobs[first->second].sharesOutput = job.sharesOutput = true;
      job.refusal = "its output " + job.destination + " is also the output of " +
                    jobs[first->second].source;
      continue;
    }
    // An album's image or sheet is read by every one of its tracks.
    if (AlbumFileWaiting(input.sources, 0, job.destination)) {
      job.refusal = "its output " + job.destination + " would replace an album image or sheet";
      continue;
    }
    struct stat info;
    // A link that leads nowhere is something there all the same.
    if (lstat(job.destination.c_str(), &info) != 0) continue;
    TFileId id;
    const bool replacesSource = IdOf(job.destination, id) && sourceAt.count(id) > 0;
    if (!input.overwrite) {
      job.skipped = true;
      job.refusal = replacesSource && sourceAt.at(id) == i
                        ? "skipped: it is its own output"
                        : "skipped: " + job.destination + " exists";
      continue;
    }
    if (!replacesSource) continue;
    const size_t replaced = sourceAt.at(id);
    if (replaced == i) {
      // Its own path is re-encoded in place, read whole first; its own entry under another
      // path (a bind mount of its folder) is not: that name is the source.
      if (job.destination != job.source && SameEntry(job.source, job.destination))
        job.refusal = "its output " + job.destination + " is its source under another path";
      continue;
    }
    if (replaced > i) {
      job.refusal = "its output " + job.destination +
                    " would replace a source that waits to be converted";
    } else {
      job.after.push_back(replaced);
    }
  }
  return jobs;
}
