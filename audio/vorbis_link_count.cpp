#include "vorbis_link_count.h"

#include <cstddef>

extern "C" {
#include <libavcodec/vorbis_parser.h>
}

namespace audio_detail {

VorbisLinkCount::~VorbisLinkCount() { av_vorbis_parse_free(&parser_); }

void VorbisLinkCount::reset() {
  av_vorbis_parse_free(&parser_);
  valid_ = true;
  first_ = true;
  frames_ = last_ = 0;
}

void VorbisLinkCount::start(const uint8_t* extradata, int size) {
  reset();
  if (extradata != nullptr && size > 0) parser_ = av_vorbis_parse_init(extradata, size);
}

void VorbisLinkCount::add_header(const uint8_t* data, int size) {
  if (size < 1) return;
  if (data[0] == 1) {
    av_vorbis_parse_free(&parser_);  // a new link: nothing counts until its setup is read
    headers_[0].assign(data, data + size);
  }
  if (data[0] == 3) headers_[1].assign(data, data + size);
  if (data[0] != 5) return;
  // The parser reads the headers in Xiph lacing: a count less one, the sizes of all but
  // the last in runs of 255, then the packets.
  std::vector<uint8_t> laced{2};
  for (const auto& header : headers_) {
    std::size_t left = header.size();
    for (; left >= 255; left -= 255) laced.push_back(255);
    laced.push_back(static_cast<uint8_t>(left));
  }
  for (const auto& header : headers_) laced.insert(laced.end(), header.begin(), header.end());
  laced.insert(laced.end(), data, data + size);
  start(laced.data(), static_cast<int>(laced.size()));
  headers_[0].clear();
  headers_[1].clear();
}

void VorbisLinkCount::add_audio(const uint8_t* data, int size) {
  if (!valid()) return;
  const int duration = av_vorbis_parse_frame(parser_, data, size);
  if (duration < 0) {
    valid_ = false;
    return;
  }
  // The first packet only primes the overlap of the next.
  last_ = first_ ? 0 : duration;
  first_ = false;
  frames_ += last_;
}

}  // namespace audio_detail
