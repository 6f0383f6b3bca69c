// How much of each link of an Ogg Vorbis file sounds, counted the way libvorbis trims it:
// the first audio page's granule position, when below what that page's packets decode to,
// trims the difference from the link's start, and the last page's trims its end (in both
// cases never more than the packet that carries the position, as libvorbis bounds it).
// Read from the pages themselves, since the demuxer's stamps cannot tell where a page ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace audio_detail {

struct VorbisLinkTrim {
  int64_t start = 0;   // decoded frames dropped before the link's first sounding one
  int64_t frames = 0;  // frames the link gives after that
};

enum class VorbisTrimResult {
  Counted,
  NotCounted,  // not Ogg Vorbis, or pages or packets the count cannot follow
  Stopped,     // the progress callback asked to stop
};

// Fills `links`, one entry per link of the first Vorbis stream and of the links chained
// after it.
VorbisTrimResult count_vorbis_link_trims(const std::string& path, std::vector<VorbisLinkTrim>& links);

}  // namespace audio_detail
