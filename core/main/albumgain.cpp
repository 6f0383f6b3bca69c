#include "main/albumgain.h"

#include <algorithm>

#include "codecs/gaintags.h"
#include "main/albumentries.h"
#include "main/paths.h"

std::optional<TLoudness> TagTrackLoudness(const std::string& output, const std::string& format,
                                          int32_t mode, bool* tagFailed) {
  if (tagFailed) *tagFailed = false;
  if ((mode != REPLAYGAIN_TRACK && mode != REPLAYGAIN_ALBUM) || !FormatTakesGainTags(format))
    return std::nullopt;
  TLoudness loudness;
  if (!MeasureOutput(output, loudness)) {
    if (tagFailed) *tagFailed = true;
    return std::nullopt;
  }
  // Too short or silent: no loudness to level by, so no track tags; the album may still
  // give it album tags.
  if (loudness.Measured() &&
      !WriteGainFields(output, format, GainFields(format, false, loudness.integrated, loudness.truePeak)) &&
      tagFailed)
    *tagFailed = true;
  return loudness;
}

TAlbumGain::TAlbumGain(int32_t mode, std::string format, const std::vector<std::string>& sources)
    : active_(mode == REPLAYGAIN_ALBUM && FormatTakesGainTags(format)),
      format_(std::move(format)),
      finished_(sources.size(), false) {
  if (!active_) return;
  for (const std::string& source : sources) {
    // A sheet's tracks are its album, whatever else lies in its folder.
    albumOf_.push_back(IsAlbumTrackEntry(source) ? SourcePlace(source) : FolderPart(source));
    ++albums_[albumOf_.back()].waiting;
  }
}

std::vector<std::string> TAlbumGain::Finished(size_t index, const std::string& output,
                                              const std::optional<TLoudness>& loudness) {
  TAlbum complete;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // An entry finishes once; the list may have grown past what the batch was planned with.
    if (!active_ || index >= finished_.size() || finished_[index]) return {};
    finished_[index] = true;
    TAlbum& album = albums_[albumOf_[index]];
    if (!output.empty()) album.done.push_back({output, loudness});
    if (--album.waiting > 0) return {};
    complete = std::move(album);
    albums_.erase(albumOf_[index]);
  }
  // Written outside the lock: other entries go on finishing meanwhile.
  return WriteAlbum(complete);
}

std::vector<std::string> TAlbumGain::WriteAlbum(const TAlbum& album) const {
  std::vector<const TLoudness*> measured;
  double peak = 0;
  for (const TTrack& track : album.done) {
    if (!track.loudness || !track.loudness->Measured()) continue;
    measured.push_back(&*track.loudness);
    peak = std::max(peak, track.loudness->truePeak);
  }
  if (measured.empty()) return {};
  const VorbisComments fields = GainFields(format_, true, GatedLoudness(measured), peak);
  std::vector<std::string> failed;
  for (const TTrack& track : album.done) {
    if (!WriteGainFields(track.output, format_, fields)) failed.push_back(track.output);
  }
  return failed;
}
