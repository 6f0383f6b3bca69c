#include "main/jobdriver.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <set>
#include <vector>

#include "codecs/convfunc.h"
#include "codecs/partialfile.h"
#include "codecs/passhooks.h"
#include "main/albumentries.h"
#include "main/albumgain.h"
#include "main/cddrives.h"
#include "main/paralleljobs.h"
#include "main/paths.h"
#include "main/removeaside.h"
#include "main/uihooks.h"

namespace {
bool IsRegularFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Lets the owner delete or replace the source later; a failure changes nothing.
void MakeWritable(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  if ((info.st_mode & S_IWUSR) == 0) chmod(path.c_str(), (info.st_mode & 07777) | S_IWUSR);
}

// True when `destination` is the source of an entry after `index`, still waiting to be
// read: writing there would destroy that source before it is converted.
bool SourceStillWaiting(const std::vector<std::string>& list, size_t index,
                        const std::string& destination) {
  for (size_t j = index + 1; j < list.size(); ++j) {
    if (list[j] == destination || SameFile(list[j], destination)) return true;
  }
  return false;
}

// True when an earlier entry of this batch wrote its output where `destination` lies:
// writing there would destroy that output, the only copy of its song in this format.
bool WrittenEarlier(const std::vector<std::string>& written, const std::string& destination) {
  for (const std::string& earlier : written)
    if (earlier == destination || SamePlace(earlier, destination)) return true;
  return false;
}

// A failed entry counts for nothing, so a batch with a failure ends below 100 percent.
void TakeBackCount(int32_t positionBefore) { ConvFunc.UpdateCounters(positionBefore, 0); }

// The temporary WAV does not outlive the file it was made for, however ConvertFile ends.
class TTemporaryWav {
 public:
  explicit TTemporaryWav(std::string path) : path_(std::move(path)) { std::remove(path_.c_str()); }
  ~TTemporaryWav() { RemoveAside(path_); }
  TTemporaryWav(const TTemporaryWav&) = delete;
  TTemporaryWav& operator=(const TTemporaryWav&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};
}  // namespace

bool SamePlace(const std::string& a, const std::string& b) {
  return SameFile(a, b) || SameEntry(a, b);
}

// A writer that commits otherwise is taken at the file's word.
bool OutputIsThere(const std::string& destination) {
  struct stat info;
  if (stat(destination.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  const TCommittedFile& last = LastCommittedFile();
  return last.destination != destination || last.length < 0 || info.st_size == last.length;
}

std::string StripExtension(const std::string& text) {
  const auto dot = text.rfind('.');
  if (dot == std::string::npos || text.find('/', dot) != std::string::npos) return text;
  return text.substr(0, dot);
}

std::string ExtensionOf(const std::string& text) {
  const std::string stem = StripExtension(text);
  return stem.size() == text.size() ? std::string() : text.substr(stem.size() + 1);
}

std::string FallbackFolder() { return ProgramDir() + "output"; }

std::string OutputPathFor(const std::string& source, int index, const TOptions& options,
                          bool fallback, const std::string& previous) {
  if (options.OutputName < 0 || options.OutputName > 2) return previous;
  std::string folder;  // ends with a separator
  if (!options.OutputFolder.empty()) {
    folder = options.OutputFolder + "/";
  } else if (fallback) {
    folder = FallbackFolder() + "/";
  } else {
    folder = FolderPart(SourcePlace(source));
  }
  const std::string name = NamePart(source);
  const std::string albumTrack = AlbumTrackOutputStem(source);
  const std::string number = std::to_string(index + 1);
  const std::string& format = options.OutputFormat;
  switch (options.OutputName) {
    case 0: return folder + (albumTrack.empty() ? StripExtension(name) : albumTrack) + "." + format;
    case 1: return folder + "Track" + number + "." + format;
    default: return folder + number + "." + format;
  }
}

bool OutputLetsSourceGo(const std::string& source, const std::string& destination,
                        bool converted) {
  return converted && IsRegularFile(destination) && !SameFile(source, destination);
}

TBatchPlan::TBatchPlan()
    : albums_(ConvFunc.Options.ReplayGain, ConvFunc.Options.OutputFormat, MainFunc.FileList) {}

bool TBatchPlan::Prepare(size_t index, TBatchEntry& entry) {
  const std::vector<std::string>& list = MainFunc.FileList;
  if (index >= list.size()) return false;
  entry.index = index;
  entry.source = list[index];
  MakeWritable(entry.source);
  if (ConvFunc.Options.OutputFolder.empty()) {
    // The first entry decides for the whole batch; once on, the mark stays on.
    if (!fallback_ && LiesOnCDDrive(list[0], MainFunc.GetCDDrives())) fallback_ = true;
    if (fallback_ && MainFunc.ReadOnlyWarn && UiHooks.ShowReadOnlyWarning) {
      UiHooks.ShowReadOnlyWarning();
      if (index >= list.size()) return false;
    }
    if (fallback_) mkdir(FallbackFolder().c_str(), 0777);
  }
  destination_ = OutputPathFor(entry.source, static_cast<int>(index), ConvFunc.Options,
                               fallback_, destination_);
  entry.destination = destination_;
  return true;
}

bool TBatchPlan::WarnsBeforeNext() const {
  return ConvFunc.Options.OutputFolder.empty() && fallback_ && MainFunc.ReadOnlyWarn &&
         UiHooks.ShowReadOnlyWarning;
}

bool TBatchPlan::HoldsBack(const TBatchEntry& entry) {
  // An output that would replace a source still waiting in the list is not written:
  // that source is kept, converted in its turn, and this file's source is kept too.
  // Nor is one that would replace an output made earlier in this batch.
  // Nor one that would replace the sheet or an image of an album whose tracks are still
  // to be read.
  if (!SourceStillWaiting(MainFunc.FileList, entry.index, entry.destination) &&
      !WrittenEarlier(written_, entry.destination) &&
      !AlbumFileWaiting(MainFunc.FileList, entry.index, entry.destination))
    return false;
  ConvFunc.CountAsDone(entry.source);
  TellAlbum(entry.index, {}, std::nullopt);
  return true;
}

void TBatchPlan::TellAlbum(size_t index, const std::string& output,
                           const std::optional<TLoudness>& loudness) {
  if (!albums_.Active()) return;
  // The rewrite is whole-or-nothing for each output, so it is always let finish, a cancel
  // included; events keep coming meanwhile, as between two passes of a conversion.
  auto rewrite = std::async(std::launch::async,
                            [&] { return albums_.Finished(index, output, loudness); });
  while (rewrite.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
    if (!OnWorkerThread() && EngineHooks.ProcessEvents) EngineHooks.ProcessEvents();
  rewrite.get();
}

void TBatchPlan::Finish(const TBatchEntry& entry, const TEntryResult& result) {
  const bool converted = result.converted;
  if (converted) {
    written_.push_back(entry.destination);
  } else {
    // Kept in list order, in whatever order the entries end.
    auto& failed = MainFunc.FailedSources;
    const auto at = std::upper_bound(failedIndexes_.begin(), failedIndexes_.end(), entry.index);
    failed.insert(failed.begin() + (at - failedIndexes_.begin()), entry.source);
    failedIndexes_.insert(at, entry.index);
  }
  TellAlbum(entry.index, converted ? entry.destination : std::string(), result.loudness);
  // Only a complete output that is a different file from the source lets the source go;
  // no later file of the batch replaces it.
  if (ConvFunc.Options.Delete && OutputLetsSourceGo(entry.source, entry.destination, converted))
    std::remove(entry.source.c_str());
  // An album's sheet and images go once every one of its tracks has its output.
  if (ConvFunc.Options.Delete && converted) DeleteAlbumOnceComplete(entry.source, albumTracksDone_);
}

void TMainFunc::ConvertAll() {
  BatchEnded = false;
  FailedSources.clear();
  const int32_t jobs = BatchJobsFor(ConvFunc.Options);
  if (jobs > 1) {
    ConvertAllAtOnce(jobs);
    BatchEnded = true;
    return;
  }
  TBatchPlan plan;
  TBatchEntry entry;
  // The count is read anew before every file: clearing the list ends the batch.
  for (size_t i = 0; plan.Prepare(i, entry); ++i) {
    if (plan.HoldsBack(entry)) continue;
    const int32_t positionBefore = ConvFunc.TotalPosition;
    const TEntryResult result =
        RunEntry(ConvFunc, entry, TemporaryWavPath(), TemporaryWavPathForSlot(1));
    if (!result.converted) TakeBackCount(positionBefore);
    plan.Finish(entry, result);
  }
  BatchEnded = true;
}

TEntryResult RunEntry(TConvFunc& engine, const TBatchEntry& entry, const std::string& slotWav,
                      const std::string& spareWav) {
  TEntryResult result;
  // A conversion counts only when its output is there as it was written.
  result.converted =
      ConvertFileWith(engine, entry.source, entry.destination, slotWav, spareWav) &&
      OutputIsThere(entry.destination);
  // Measured where it was made, beside the other conversions of the batch.
  if (result.converted)
    result.loudness = TagTrackLoudness(entry.destination, engine.Options.OutputFormat,
                                       engine.Options.ReplayGain);
  return result;
}

bool TMainFunc::ConvertFile(std::string source, std::string destination) {
  return ConvertFileWith(ConvFunc, source, destination, TemporaryWavPath(),
                         TemporaryWavPathForSlot(1));
}

bool ConvertFileWith(TConvFunc& engine, const std::string& source,
                     const std::string& destination, const std::string& slotWav,
                     const std::string& spareWav) {
  mkdir((ProgramDir() + "temp").c_str(), 0700);
  if (source.empty() || destination.empty()) return false;

  // The temporary WAV must be neither the file read nor the file written: a list may name
  // it, and an output folder may be the temporary folder.
  std::string wavPath = slotWav;
  if (SamePlace(source, wavPath) || SamePlace(destination, wavPath)) wavPath = spareWav;
  NoteCommittedFile({}, -1);

  const std::string format = engine.Options.OutputFormat;
  const bool wavSource = ExtensionOf(source) == "wav";
  bool ok = false;
  if (format == "wav") {
    engine.Stage = STAGE_DECODING;
    if (wavSource || SameFile(source, destination)) {
      // The source is read completely into the temporary WAV before it may be replaced.
      TTemporaryWav wav(wavPath);
      ok = engine.DecodeToWAV(source, wav.Path(), engine.Options, 0) == 1;
      engine.CheckCancel();
      ok = ok && LandOutput(wav.Path(), destination, TLanding::Replace);
    } else {
      ok = engine.DecodeToWAV(source, destination, engine.Options, 0) == 1;
    }
  } else {
    const int mode = format == "mp3" ? 1 : format == "wma" ? 3 : format == "flac" ? 4
                   : format == "opus" ? 5 : 2;
    engine.Stage = wavSource ? STAGE_REMIXING : STAGE_DECODING;
    // A stale temporary WAV from a cancelled batch must never be encoded as this file.
    TTemporaryWav wav(wavPath);
    if (engine.DecodeToWAV(source, wav.Path(), engine.Options, mode) == 1) {
      engine.CheckCancel();
      if (mode == 1) {
        ok = engine.EncodeMP3(wav.Path(), destination, engine.Options) == 0;
      } else if (mode == 3) {
        ok = engine.EncodeWMA(wav.Path(), destination, engine.Options) == 0;
      } else if (mode == 4) {
        ok = engine.EncodeFLAC(wav.Path(), destination, engine.Options) == 0;
      } else if (mode == 5) {
        ok = engine.EncodeOpus(wav.Path(), destination, engine.Options) == 0;
      } else {
        ok = engine.EncodeOGG(wav.Path(), destination, engine.Options) == 1;
      }
    }
  }
  // A cancel confirmed during the routine's last pass still ends the batch here.
  engine.CheckCancel();
  engine.Stage = STAGE_FINISHED;
  return ok;
}
