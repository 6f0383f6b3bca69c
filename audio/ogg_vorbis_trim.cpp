#include "ogg_vorbis_trim.h"

#include <ogg/ogg.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "channel.h"
#include "regular_file.h"
#include "vorbis_link_count.h"

namespace audio_detail {

namespace {

constexpr long kReadBytes = 65536;
constexpr int kPagesPerReport = 256;

class SyncState {
 public:
  SyncState() { ogg_sync_init(&state_); }
  ~SyncState() { ogg_sync_clear(&state_); }
  SyncState(const SyncState&) = delete;
  SyncState& operator=(const SyncState&) = delete;
  ogg_sync_state* get() { return &state_; }

 private:
  ogg_sync_state state_{};
};

class StreamState {
 public:
  StreamState() = default;
  ~StreamState() { clear(); }
  StreamState(const StreamState&) = delete;
  StreamState& operator=(const StreamState&) = delete;
  bool start(int serial) {
    clear();
    started_ = ogg_stream_init(&state_, serial) == 0;
    return started_;
  }
  bool started() const { return started_; }
  ogg_stream_state* get() { return &state_; }

 private:
  void clear() {
    if (started_) ogg_stream_clear(&state_);
    started_ = false;
  }
  ogg_stream_state state_{};
  bool started_ = false;
};

bool is_vorbis_header(const ogg_packet& packet, int type) {
  return packet.bytes >= 7 && packet.packet[0] == type &&
         std::memcmp(packet.packet + 1, "vorbis", 6) == 0;
}

// One link as libvorbis decodes it when every packet's output is read before the next
// packet comes (as vorbisfile reads): the output of that packet is all a position can trim.
class LinkTrimmer {
 public:
  // False when the packet cannot be counted.
  bool add(const ogg_packet& packet) {
    if (headers_ < 3) {
      count_.add_header(packet.packet, static_cast<int>(packet.bytes));
      ++headers_;
      return true;
    }
    count_.add_audio(packet.packet, static_cast<int>(packet.bytes));
    if (!count_.valid()) return false;
    const int64_t made = count_.last_packet();
    int64_t kept = made;
    const int64_t position = packet.granulepos;
    if (granule_ < 0) {
      if (position >= 0) {
        granule_ = position;
        const int64_t extra = std::max<int64_t>(0, count_.frames() - position);
        const int64_t cut = std::min(extra, made);
        // A short first page: its end when it is also the last, its start otherwise.
        if (packet.e_o_s == 0) trim_.start += cut;
        kept -= cut;
      }
    } else {
      granule_ += made;
      if (position >= 0 && granule_ != position) {
        // A position below the count trims the stream's last packet; any other mismatch
        // (a damaged or cut stream) is taken as the stream says, without trimming.
        if (granule_ > position && packet.e_o_s != 0) kept -= std::min(granule_ - position, made);
        granule_ = position;
      }
    }
    trim_.frames += kept;
    has_audio_ = true;
    return true;
  }
  bool has_audio() const { return has_audio_; }
  VorbisLinkTrim trim() const { return trim_; }

 private:
  VorbisLinkCount count_;
  int headers_ = 0;
  int64_t granule_ = -1;
  bool has_audio_ = false;
  VorbisLinkTrim trim_;
};

}  // namespace

VorbisTrimResult count_vorbis_link_trims(const std::string& path,
                                         std::vector<VorbisLinkTrim>& links) {
  links.clear();
  FileDescriptor fd = open_regular_file_nonblocking(path);
  if (!fd) return VorbisTrimResult::NotCounted;
  SyncState sync;
  StreamState stream;
  auto link = std::make_unique<LinkTrimmer>();
  ogg_page page;
  bool at_end = false;
  for (int pages = 1;; ++pages) {
    const int got = ogg_sync_pageout(sync.get(), &page);
    if (got < 0) continue;  // bytes skipped before a page: the demuxer resyncs there too
    if (got == 0) {
      if (at_end) break;
      char* buffer = ogg_sync_buffer(sync.get(), kReadBytes);
      if (buffer == nullptr) return VorbisTrimResult::NotCounted;
      const long read = read_fully(fd.get(), buffer, kReadBytes);
      if (read < 0) return VorbisTrimResult::NotCounted;
      at_end = read == 0;
      ogg_sync_wrote(sync.get(), read);
      continue;
    }
    if (pages % kPagesPerReport == 0 && !keep_going()) return VorbisTrimResult::Stopped;
    const int serial = ogg_page_serialno(&page);
    if (ogg_page_bos(&page) != 0) {
      // A stream that begins: the first Vorbis one, or the next link of a chain once the
      // current link has sounded. Other streams beside it are passed over.
      ogg_stream_state probe;
      if (ogg_stream_init(&probe, serial) != 0) return VorbisTrimResult::NotCounted;
      ogg_packet first;
      const bool vorbis = ogg_stream_pagein(&probe, &page) == 0 &&
                          ogg_stream_packetpeek(&probe, &first) == 1 && is_vorbis_header(first, 1);
      ogg_stream_clear(&probe);
      if (!vorbis || (stream.started() && !link->has_audio())) continue;
      if (stream.started()) links.push_back(link->trim());
      link = std::make_unique<LinkTrimmer>();
      if (!stream.start(serial)) return VorbisTrimResult::NotCounted;
    }
    if (!stream.started() || serial != stream.get()->serialno) continue;
    if (ogg_stream_pagein(stream.get(), &page) != 0) return VorbisTrimResult::NotCounted;
    ogg_packet packet;
    for (int out; (out = ogg_stream_packetout(stream.get(), &packet)) != 0;) {
      if (out < 0) return VorbisTrimResult::NotCounted;  // a hole: packets lost
      if (!link->add(packet)) return VorbisTrimResult::NotCounted;
    }
  }
  if (!stream.started()) return VorbisTrimResult::NotCounted;
  links.push_back(link->trim());
  return VorbisTrimResult::Counted;
}

}  // namespace audio_detail
