#include "main/jobdriver.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <set>
#include <vector>

#include "codecs/convfunc.h"
#include "codecs/partialfile.h"
#include "main/albumentries.h"
#include "main/albumgain.h"
#include "main/cddrives.h"
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

// True when both paths name the same entry of the same folder, whether it exists or not.
bool SamePlace(const std::string& a, const std::string& b) {
  return SameFile(a, b) || SameEntry(a, b);
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

// True when `destination` holds what this file's conversion put there: a file with the
// length its writer committed. A writer that commits otherwise is taken at the file's word.
bool OutputIsThere(const std::string& destination) {
  struct stat info;
  if (stat(destination.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  const TCommittedFile& last = LastCommittedFile();
  return last.destination != destination || last.length < 0 || info.st_size == last.length;
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

void TMainFunc::ConvertAll() {
  bool fallback = false;
  std::string destination;  // kept from one file to the next
  std::vector<std::string> written;  // the outputs this batch has made
  const TOptions batchOptions = ConvFunc.Options;
  TAlbumGain albums(batchOptions.ReplayGain, batchOptions.OutputFormat, FileList);
  std::set<std::string> albumTracksDone;
  BatchEnded = false;
  FailedSources.clear();
  // The count is read anew before every file: clearing the list ends the batch.
  for (size_t i = 0; i < FileList.size(); ++i) {
    const std::string source = FileList[i];
    MakeWritable(source);
    if (ConvFunc.Options.OutputFolder.empty()) {
      // The first entry decides for the whole batch; once on, the mark stays on.
      if (!fallback && LiesOnCDDrive(FileList[0], GetCDDrives())) fallback = true;
      if (fallback && ReadOnlyWarn && UiHooks.ShowReadOnlyWarning) {
        UiHooks.ShowReadOnlyWarning();
        if (i >= FileList.size()) break;
      }
      if (fallback) mkdir(FallbackFolder().c_str(), 0777);
    }
    destination = OutputPathFor(source, static_cast<int>(i), ConvFunc.Options, fallback, destination);
    // An output that would replace a source still waiting in the list is not written:
    // that source is kept, converted in its turn, and this file's source is kept too.
    // Nor is one that would replace an output made earlier in this batch.
    if (SourceStillWaiting(FileList, i, destination) || WrittenEarlier(written, destination) ||
        AlbumFileWaiting(FileList, i, destination)) {
      ConvFunc.CountAsDone(source);
      albums.Finished(i, {}, std::nullopt);
      continue;
    }
    const int32_t positionBefore = ConvFunc.TotalPosition;
    // A conversion counts only when its output is there as it was written.
    const bool converted = ConvertFile(source, destination) && OutputIsThere(destination);
    std::optional<TLoudness> loudness;
    if (converted) {
      written.push_back(destination);
      loudness = TagTrackLoudness(destination, batchOptions.OutputFormat, batchOptions.ReplayGain);
    } else {
      TakeBackCount(positionBefore);
      FailedSources.push_back(source);
    }
    albums.Finished(i, converted ? destination : std::string(), loudness);
    // Only a complete output that is a different file from the source lets the source go;
    // no later file of the batch replaces it.
    if (ConvFunc.Options.Delete && OutputLetsSourceGo(source, destination, converted)) {
      std::remove(source.c_str());
    }
    if (ConvFunc.Options.Delete && converted) DeleteAlbumOnceComplete(source, albumTracksDone);
  }
  BatchEnded = true;
}

bool TMainFunc::ConvertFile(std::string source, std::string destination) {
  mkdir((ProgramDir() + "temp").c_str(), 0700);
  if (source.empty() || destination.empty()) return false;

  // The temporary WAV must be neither the file read nor the file written: a list may name
  // it, and an output folder may be the temporary folder.
  std::string wavPath = TemporaryWavPath();
  if (SamePlace(source, wavPath) || SamePlace(destination, wavPath))
    wavPath = FolderPart(wavPath) + "tmp100001.wav";
  NoteCommittedFile({}, -1);

  const std::string format = ConvFunc.Options.OutputFormat;
  const bool wavSource = ExtensionOf(source) == "wav";
  bool ok = false;
  if (format == "wav") {
    ConvFunc.Stage = STAGE_DECODING;
    if (wavSource || SameFile(source, destination)) {
      // The source is read completely into the temporary WAV before it may be replaced.
      TTemporaryWav wav(wavPath);
      ok = ConvFunc.DecodeToWAV(source, wav.Path(), ConvFunc.Options, 0) == 1;
      ConvFunc.CheckCancel();
      ok = ok && LandOutput(wav.Path(), destination, TLanding::Replace);
    } else {
      ok = ConvFunc.DecodeToWAV(source, destination, ConvFunc.Options, 0) == 1;
    }
  } else {
    const int mode = format == "mp3" ? 1 : format == "wma" ? 3 : format == "flac" ? 4
                   : format == "opus" ? 5 : 2;
    ConvFunc.Stage = wavSource ? STAGE_REMIXING : STAGE_DECODING;
    // A stale temporary WAV from a cancelled batch must never be encoded as this file.
    TTemporaryWav wav(wavPath);
    if (ConvFunc.DecodeToWAV(source, wav.Path(), ConvFunc.Options, mode) == 1) {
      ConvFunc.CheckCancel();
      if (mode == 1) {
        ok = ConvFunc.EncodeMP3(wav.Path(), destination, ConvFunc.Options) == 0;
      } else if (mode == 3) {
        ok = ConvFunc.EncodeWMA(wav.Path(), destination, ConvFunc.Options) == 0;
      } else if (mode == 4) {
        ok = ConvFunc.EncodeFLAC(wav.Path(), destination, ConvFunc.Options) == 0;
      } else if (mode == 5) {
        ok = ConvFunc.EncodeOpus(wav.Path(), destination, ConvFunc.Options) == 0;
      } else {
        ok = ConvFunc.EncodeOGG(wav.Path(), destination, ConvFunc.Options) == 1;
      }
    }
  }
  // A cancel confirmed during the routine's last pass still ends the batch here.
  ConvFunc.CheckCancel();
  ConvFunc.Stage = STAGE_FINISHED;
  return ok;
}
