// A track of an album image as a decoding channel: the images decoded with FFmpeg, cut to
// the track's samples exactly.
#include <FLAC/metadata.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <tuple>

#include "album.h"
#include "audio.h"
#include "channel.h"
#include "tag_detail.h"

namespace audio_detail {
namespace {

constexpr uint32_t kCdFramesPerSecond = 75;

std::string NameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// An image's shape: what one decoding of it gives.
struct ImageShape {
  uint32_t rate = 0;
  uint32_t chans = 0;
  int64_t frames = 0;
};

// Every track opens its images again, for measuring and for converting. Counting an
// image's frames reads all of it, so a count is kept for as long as the file stays the
// same (same inode, size and change time).
using ImageKey = std::tuple<std::string, dev_t, ino_t, off_t, int64_t>;
std::mutex shapesMutex;
std::map<ImageKey, ImageShape> shapes;

bool KeyOf(const std::string& path, ImageKey& key) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  key = {path, info.st_dev, info.st_ino, info.st_size,
         int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec};
  return true;
}

// A FLAC image states its exact length in its STREAMINFO block; 0 there means unknown.
int64_t FlacStatedFrames(const std::string& path) {
  FLAC__StreamMetadata info;
  if (!FLAC__metadata_get_streaminfo(path.c_str(), &info)) return -1;
  const FLAC__uint64 total = info.data.stream_info.total_samples;
  return total > 0 ? static_cast<int64_t>(total) : -1;
}

// Opens `path` as a stream; `shape` is filled from the count kept or made now.
std::shared_ptr<Channel> OpenImage(const std::string& path, ImageShape& shape) {
  ImageKey key;
  if (!KeyOf(path, key)) return nullptr;
  int64_t known = -1;
  {
    std::lock_guard<std::mutex> lock(shapesMutex);
    const auto kept = shapes.find(key);
    if (kept != shapes.end()) known = kept->second.frames;
  }
  if (known < 0) known = FlacStatedFrames(path);
  std::shared_ptr<Channel> image =
      known >= 0 ? open_ffmpeg_channel_of_length(path, known) : open_ffmpeg_channel(path, false);
  if (!image || image->chans == 0) return nullptr;
  shape = {image->rate, image->chans, static_cast<int64_t>(image->length_bytes / image->frame_bytes())};
  std::lock_guard<std::mutex> lock(shapesMutex);
  shapes[key] = shape;
  return image;
}

// A stretch of one image, in sample frames.
struct Segment {
  std::string image;
  int64_t from = 0;
  int64_t to = 0;
};

class AlbumTrackChannel final : public Channel {
 public:
  AlbumTrackChannel(AlbumSheet sheet, size_t index, std::vector<Segment> segments)
      : sheet_(std::move(sheet)), index_(index), segments_(std::move(segments)) {}

  bool start() { return start_segment(0); }

  // The sheet's words first; the image's own tags and cover where the sheet says nothing.
  // The image's title and number describe the whole album, never one track.
  void read_tags(SongTags& tags) const override {
    const AlbumTrack& track = sheet_.tracks[index_];
    if (track.file < sheet_.images.size()) ReadFileTags(sheet_.images[track.file], tags);
    tags.title = track.title;
    if (!sheet_.performer.empty()) tags.album_artist = sheet_.performer;
    if (!track.performer.empty()) {
      tags.artist = track.performer;
    } else if (!sheet_.performer.empty()) {
      tags.artist = sheet_.performer;
    }
    if (!sheet_.title.empty()) tags.album = sheet_.title;
    if (!sheet_.date.empty()) tags.date = sheet_.date;
    if (!sheet_.genre.empty()) tags.genre = sheet_.genre;
    tags.isrc = track.isrc;
    tags.track = track.number;
    tags.track_total = static_cast<uint32_t>(sheet_.tracks.size());
  }

 protected:
  int64_t decode(uint8_t* buffer, uint32_t bytes) override {
    uint32_t done = 0;
    while (done < bytes) {
      if (left_ == 0) {
        if (segment_ + 1 >= segments_.size()) break;
        if (!start_segment(segment_ + 1)) return -1;
        continue;
      }
      const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(bytes - done, left_));
      const int32_t got = image_->pull(buffer + done, want);
      // The image delivers its full length by its own promise: less is a read failure.
      if (got <= 0) return -1;
      done += static_cast<uint32_t>(got);
      left_ -= static_cast<uint32_t>(got);
    }
    if (left_ == 0 && segment_ + 1 >= segments_.size()) mark_drained();
    return done;
  }

 private:
  bool start_segment(size_t k) {
    const Segment& s = segments_[k];
    ImageShape shape;
    image_ = OpenImage(s.image, shape);
    if (!image_ || shape.rate != rate || shape.chans != chans) return false;
    if (!image_->seek_frame(static_cast<uint64_t>(s.from))) {
      // No exact seek here: decode from the start and drop what comes before.
      image_ = OpenImage(s.image, shape);
      if (!image_) return false;
      std::vector<uint8_t> scratch(1 << 16);
      uint64_t skip = static_cast<uint64_t>(s.from) * frame_bytes();
      while (skip > 0) {
        const int32_t got = image_->pull(
            scratch.data(), static_cast<uint32_t>(std::min<uint64_t>(skip, scratch.size())));
        if (got <= 0 || !keep_going()) return false;
        skip -= static_cast<uint64_t>(got);
      }
    }
    segment_ = k;
    left_ = static_cast<uint64_t>(s.to - s.from) * frame_bytes();
    return true;
  }

  AlbumSheet sheet_;
  size_t index_;
  std::vector<Segment> segments_;
  size_t segment_ = 0;
  std::shared_ptr<Channel> image_;
  uint64_t left_ = 0;
};

int64_t SampleOf(const AlbumTrack& track, uint32_t rate) {
  return track.start_in_samples ? track.start
                                : track.start * int64_t{rate} / kCdFramesPerSecond;
}

bool Fail(const std::string& reason) {
  set_open_error(AUDIO_ERROR_BAD_SHEET, reason);
  return false;
}

// The stretches of the images that make track `index`, after every track of the sheet has
// been checked against the images' lengths.
bool TrackSegments(const AlbumSheet& sheet, size_t index, std::vector<Segment>& segments,
                   ImageShape& first) {
  const std::string shown = NameOf(sheet.path);
  std::vector<ImageShape> images;
  for (const std::string& image : sheet.images) {
    ImageShape shape;
    struct stat info {};
    if (stat(image.c_str(), &info) != 0)
      return Fail(shown + ": its image " + NameOf(image) + " is missing");
    if (!OpenImage(image, shape))
      return Fail(shown + ": its image " + NameOf(image) + " is not audio this program reads");
    if (!images.empty() && (shape.rate != images[0].rate || shape.chans != images[0].chans))
      return Fail(shown + ": its images differ in sample rate or channels");
    images.push_back(shape);
  }
  if (images.empty()) return Fail(shown + ": it names no image");
  for (const AlbumTrack& track : sheet.tracks) {
    if (track.file >= images.size() ||
        SampleOf(track, images[track.file].rate) >= images[track.file].frames)
      return Fail(shown + ": track " + std::to_string(track.number) +
                  " starts beyond the end of " + NameOf(sheet.images[std::min(track.file, sheet.images.size() - 1)]));
  }
  const AlbumTrack& track = sheet.tracks[index];
  const bool last = index + 1 >= sheet.tracks.size();
  const size_t endFile = last ? images.size() - 1 : sheet.tracks[index + 1].file;
  const int64_t endAt = last ? images.back().frames
                             : SampleOf(sheet.tracks[index + 1], images[endFile].rate);
  int64_t from = SampleOf(track, images[track.file].rate);
  for (size_t f = track.file; f <= endFile; ++f) {
    const int64_t to = f == endFile ? endAt : images[f].frames;
    if (to > from) segments.push_back({sheet.images[f], from, to});
    from = 0;
  }
  first = images[track.file];
  return !segments.empty() || Fail(shown + ": track " + std::to_string(track.number) + " is empty");
}

}  // namespace

std::shared_ptr<Channel> open_album_track_channel(const std::string& path) {
  std::string sheetPath;
  size_t position = 0;
  const bool entry = album_split_track_entry(path, &sheetPath, &position);
  if (!entry) sheetPath = path;
  AlbumSheet sheet;
  std::string reason;
  const int read = album_read_sheet(sheetPath, &sheet, &reason);
  if (read == ALBUM_BAD_SHEET) {
    Fail(reason);
    return nullptr;
  }
  if (read != ALBUM_SHEET) return nullptr;
  if (!entry) {
    // A sheet stands for its tracks; only a garbled one is ever listed itself.
    Fail(NameOf(sheetPath) + ": a cue sheet is converted track by track");
    return nullptr;
  }
  if (position > sheet.tracks.size()) {
    Fail(NameOf(sheetPath) + ": it has no track " + std::to_string(position));
    return nullptr;
  }
  std::vector<Segment> segments;
  ImageShape shape;
  if (!TrackSegments(sheet, position - 1, segments, shape)) return nullptr;
  int64_t frames = 0;
  for (const Segment& s : segments) frames += s.to - s.from;
  auto channel = std::make_shared<AlbumTrackChannel>(std::move(sheet), position - 1, std::move(segments));
  channel->rate = shape.rate;
  channel->chans = shape.chans;
  channel->ctype = AUDIO_CTYPE_ALBUM_TRACK;
  channel->length_bytes = static_cast<uint64_t>(frames) * channel->frame_bytes();
  if (!channel->start()) {
    Fail(NameOf(sheetPath) + ": its image could not be read");
    return nullptr;
  }
  return channel;
}

}  // namespace audio_detail
