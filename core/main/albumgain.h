// The ReplayGain work of a batch. Each finished output is measured and gets its track tags
// where it was made (TagTrackLoudness); the batch tells TAlbumGain whenever an entry has
// finished, in whatever order entries finish, and once every entry of an album has, the
// album's outputs get the album tags. An album is the track entries of one cue sheet, or
// else the entries of one source folder (the tracks of one CD, the songs of one folder).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "codecs/loudness.h"

// Measures the finished output `output` of `format` and writes its track tags, when `mode`
// asks for them and the format carries them. The measurement, when there is one (also when
// the tags could not be written: the album still counts the track). `tagFailed`, when given,
// tells whether tags were due and could not be written. EAbort on a cancel.
std::optional<TLoudness> TagTrackLoudness(const std::string& output, const std::string& format,
                                          int32_t mode, bool* tagFailed = nullptr);

class TAlbumGain {
 public:
  // `sources` are the batch's entries in list order.
  TAlbumGain(int32_t mode, std::string format, const std::vector<std::string>& sources);

  // Entry `index` has finished: converted into `output` with `loudness` (nullopt when it was
  // not measured), or not converted (`output` empty). A failed entry still lets its album
  // finish: the album's values come from the tracks that were converted. When this was the
  // last entry of its album, the album tags go into the album's outputs; the outputs whose
  // tags could not be written are returned. Safe to call from several threads.
  std::vector<std::string> Finished(size_t index, const std::string& output,
                                    const std::optional<TLoudness>& loudness);
  // False when the batch writes no album tags: Finished then does nothing.
  bool Active() const { return active_; }

 private:
  struct TTrack {
    std::string output;
    std::optional<TLoudness> loudness;
  };
  struct TAlbum {
    size_t waiting = 0;  // entries not finished yet
    std::vector<TTrack> done;
  };
  std::vector<std::string> WriteAlbum(const TAlbum& album) const;

  bool active_;
  std::string format_;
  std::vector<std::string> albumOf_;  // entry index -> album key
  std::vector<bool> finished_;
  std::map<std::string, TAlbum> albums_;
  std::mutex mutex_;
};
