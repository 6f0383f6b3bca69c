// Audio-CD tracks read with libcdio and paranoia, and the list of optical drives.
#include <cdio/cdio.h>
#include <cdio/cdtext.h>
#include <cdio/logging.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio.h"
#include "channel.h"
#include "tag_detail.h"

namespace audio_detail {
namespace {

constexpr size_t kMaxDrives = 23;
constexpr uint32_t kSectorBytes = CDIO_CD_FRAMESIZE_RAW;  // 2352: 588 stereo frames

std::mutex drivesMutex;
std::vector<std::string> testDrives;

void SilenceCdioLogging() {
  static std::once_flag once;
  std::call_once(once, [] {
    cdio_log_set_handler([](cdio_log_level_t, const char*) {});
  });
}

struct CdioDeleter {
  void operator()(CdIo_t* c) const { cdio_destroy(c); }
};
struct DriveDeleter {
  // The CdIo_t is owned separately, so the drive must not destroy it.
  void operator()(cdrom_drive_t* d) const { cdio_cddap_close_no_free_cdio(d); }
};
struct ParanoiaDeleter {
  void operator()(cdrom_paranoia_t* p) const { cdio_paranoia_free(p); }
};
using CdioPtr = std::unique_ptr<CdIo_t, CdioDeleter>;
using DrivePtr = std::unique_ptr<cdrom_drive_t, DriveDeleter>;
using ParanoiaPtr = std::unique_ptr<cdrom_paranoia_t, ParanoiaDeleter>;

CdioPtr OpenDisc(const std::string& device) {
  // An empty name would make libcdio pick a default drive of its own. A drive is a block
  // device and a disc image a regular file; anything else is no disc (the image readers
  // would wait for ever on a FIFO).
  struct stat st {};
  if (device.empty() || ::stat(device.c_str(), &st) != 0 ||
      !(S_ISBLK(st.st_mode) || S_ISREG(st.st_mode)))
    return nullptr;
  SilenceCdioLogging();
  return CdioPtr(cdio_open(device.c_str(), DRIVER_UNKNOWN));
}

// Splits "<device>/TrackNN.cda" into the device and the track number (1 and up).
bool ParseTrackEntry(const std::string& path, std::string& device, int& number) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return false;
  const std::string name = path.substr(slash + 1);
  static const std::string prefix = "Track", suffix = ".cda";
  if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
    return false;
  const std::string digits =
      name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  if (digits.size() > 9 || !std::all_of(digits.begin(), digits.end(),
                                        [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  number = std::stoi(digits);
  if (number < 1) return false;
  device = path.substr(0, slash);
  return true;
}

void NoProgress(long, paranoia_cb_mode_t) {}

class CdTrackChannel : public Channel {
 public:
  CdTrackChannel(CdioPtr cdio, DrivePtr drive, ParanoiaPtr paranoia, lsn_t first, lsn_t last)
      : cdio_(std::move(cdio)),
        drive_(std::move(drive)),
        paranoia_(std::move(paranoia)),
        next_(first),
        last_(last) {}

  ~CdTrackChannel() override {
    paranoia_.reset();
    drive_.reset();
    cdio_.reset();
  }

  // The entry's number on the disc (from 1), the disc's own number of the track, the count.
  int entry = 0;
  track_t disc_track = 0;
  track_t track_count = 0;

  // The track number, and the disc's CD-Text where the drive reports it: the track's title
  // and performer, the disc's title (the album) and performer.
  void read_tags(SongTags& tags) const override {
    tags.track = static_cast<uint32_t>(entry);
    tags.track_total = track_count;
    cdtext_t* text = cdio_get_cdtext(cdio_.get());
    if (text == nullptr) return;
    const auto field = [text](cdtext_field_t key, track_t track) {
      const char* raw = cdtext_get_const(text, key, track);
      if (raw == nullptr) return std::string();
      return DecodeUnknownText(TagLib::ByteVector(raw)).stripWhiteSpace().to8Bit(true);
    };
    tags.title = field(CDTEXT_FIELD_TITLE, disc_track);
    tags.album = field(CDTEXT_FIELD_TITLE, 0);
    tags.album_artist = field(CDTEXT_FIELD_PERFORMER, 0);
    tags.artist = field(CDTEXT_FIELD_PERFORMER, disc_track);
    if (tags.artist.empty()) tags.artist = tags.album_artist;
    tags.composer = field(CDTEXT_FIELD_COMPOSER, disc_track);
    tags.genre = field(CDTEXT_FIELD_GENRE, 0);
  }

 protected:
  int64_t decode(uint8_t* buffer, uint32_t bytes) override {
    uint32_t done = 0;
    while (done < bytes) {
      if (held_ == taken_) {
        if (next_ > last_) break;
        const int16_t* sector = cdio_paranoia_read(paranoia_.get(), NoProgress);
        if (sector == nullptr) {
          // An unreadable disc ends the track here, with what was read so far.
          last_ = next_ - 1;
          break;
        }
        std::memcpy(sector_, sector, kSectorBytes);
        ++next_;
        held_ = kSectorBytes;
        taken_ = 0;
      }
      const uint32_t n = std::min(bytes - done, held_ - taken_);
      std::memcpy(buffer + done, sector_ + taken_, n);
      taken_ += n;
      done += n;
    }
    return done;
  }

 private:
  CdioPtr cdio_;
  DrivePtr drive_;
  ParanoiaPtr paranoia_;
  lsn_t next_;
  lsn_t last_;
  uint8_t sector_[kSectorBytes] = {};
  uint32_t held_ = 0;
  uint32_t taken_ = 0;
};

}  // namespace

std::shared_ptr<Channel> open_cd_track_channel(const std::string& path) {
  std::string device;
  int number = 0;
  if (!ParseTrackEntry(path, device, number)) return nullptr;

  CdioPtr cdio = OpenDisc(device);
  if (!cdio) return nullptr;
  const track_t first = cdio_get_first_track_num(cdio.get());
  const track_t count = cdio_get_num_tracks(cdio.get());
  if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0) return nullptr;
  // Entries count the disc's tracks from 1, whatever number its first track bears.
  if (number > count) return nullptr;
  const track_t track = static_cast<track_t>(first + number - 1);
  if (cdio_get_track_format(cdio.get(), track) != TRACK_FORMAT_AUDIO) return nullptr;
  const lsn_t firstLsn = cdio_get_track_lsn(cdio.get(), track);
  const lsn_t lastLsn = cdio_get_track_last_lsn(cdio.get(), track);
  if (firstLsn == CDIO_INVALID_LSN || lastLsn == CDIO_INVALID_LSN || lastLsn < firstLsn)
    return nullptr;

  DrivePtr drive(cdio_cddap_identify_cdio(cdio.get(), CDDA_MESSAGE_FORGETIT, nullptr));
  if (!drive) return nullptr;
  cdio_cddap_verbose_set(drive.get(), CDDA_MESSAGE_FORGETIT, CDDA_MESSAGE_FORGETIT);
  // libcdio delivers audio sectors little-endian from drives and images alike; left
  // undecided, paranoia would guess the order from the music and could swap the bytes.
  drive->bigendianp = 0;
  if (cdio_cddap_open(drive.get()) != 0) return nullptr;
  ParanoiaPtr paranoia(cdio_paranoia_init(drive.get()));
  if (!paranoia) return nullptr;
  cdio_paranoia_modeset(paranoia.get(), PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP);
  if (cdio_paranoia_seek(paranoia.get(), firstLsn, SEEK_SET) < 0) return nullptr;

  auto channel = std::make_shared<CdTrackChannel>(std::move(cdio), std::move(drive),
                                                  std::move(paranoia), firstLsn, lastLsn);
  channel->rate = 44100;
  channel->chans = 2;
  channel->ctype = AUDIO_CTYPE_CD;
  channel->length_bytes = static_cast<uint64_t>(lastLsn - firstLsn + 1) * kSectorBytes;
  channel->entry = number;
  channel->disc_track = track;
  channel->track_count = count;
  return channel;
}

}  // namespace audio_detail

std::vector<std::string> cd_list_drives() {
  {
    std::lock_guard<std::mutex> lock(audio_detail::drivesMutex);
    if (!audio_detail::testDrives.empty()) return audio_detail::testDrives;
  }
  audio_detail::SilenceCdioLogging();
  std::vector<std::string> drives;
  char** list = cdio_get_devices(DRIVER_DEVICE);
  if (list == nullptr) return drives;
  for (char** d = list; *d != nullptr && drives.size() < audio_detail::kMaxDrives; ++d)
    drives.emplace_back(*d);
  cdio_free_device_list(list);
  return drives;
}

void cd_set_drives_for_testing(const std::vector<std::string>& devices) {
  std::lock_guard<std::mutex> lock(audio_detail::drivesMutex);
  audio_detail::testDrives = devices;
  if (audio_detail::testDrives.size() > audio_detail::kMaxDrives)
    audio_detail::testDrives.resize(audio_detail::kMaxDrives);
}

int32_t cd_drive_query(int drive) {
  const std::vector<std::string> drives = cd_list_drives();
  if (drive < 0 || static_cast<size_t>(drive) >= drives.size()) return -1;
  audio_detail::CdioPtr cdio = audio_detail::OpenDisc(drives[drive]);
  if (!cdio) return -1;
  const track_t count = cdio_get_num_tracks(cdio.get());
  if (count == CDIO_INVALID_TRACK) return -1;
  return count;
}
