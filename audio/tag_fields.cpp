// The named fields of a song in TagLib's common vocabulary, which every TagLib format maps
// to its own frames, atoms and attributes.
#include <cstdlib>

#include "tag_detail.h"

bool SongTags::empty() const {
  return title.empty() && artist.empty() && album.empty() && album_artist.empty() &&
         date.empty() && genre.empty() && comment.empty() && composer.empty() &&
         copyright.empty() && isrc.empty() && track == 0 &&
         track_total == 0 && disc == 0 && disc_total == 0 && cover.data.empty();
}

namespace audio_detail {
namespace {

// The texts of the named fields, by their common keys.
struct TextField {
  const char* key;
  std::string SongTags::*field;
};
constexpr TextField kTextFields[] = {
    {"TITLE", &SongTags::title},     {"ARTIST", &SongTags::artist},
    {"ALBUM", &SongTags::album},     {"ALBUMARTIST", &SongTags::album_artist},
    {"DATE", &SongTags::date},       {"GENRE", &SongTags::genre},
    {"COMMENT", &SongTags::comment}, {"COMPOSER", &SongTags::composer},
    {"COPYRIGHT", &SongTags::copyright}, {"ISRC", &SongTags::isrc},
};

uint32_t Number(const TagLib::String& text) {
  const std::string s = text.to8Bit(true);
  const unsigned long n = std::strtoul(s.c_str(), nullptr, 10);
  return n > 0 && n < 100000 ? static_cast<uint32_t>(n) : 0;
}

// "3/12", "3" or "" into number and total; a total given on its own key wins.
void TakeNumberPair(const TagLib::PropertyMap& p, const char* key, const char* totalKey,
                    const char* otherTotalKey, uint32_t& number, uint32_t& total) {
  if (p.contains(key) && !p[key].isEmpty()) {
    const TagLib::String text = p[key].front();
    const int slash = text.find("/");
    number = Number(slash < 0 ? text : text.substr(0, static_cast<unsigned>(slash)));
    if (slash >= 0) total = Number(text.substr(static_cast<unsigned>(slash) + 1));
  }
  for (const char* k : {totalKey, otherTotalKey}) {
    if (p.contains(k) && !p[k].isEmpty() && Number(p[k].front()) > 0) total = Number(p[k].front());
  }
}

TagLib::String NumberPair(uint32_t number, uint32_t total) {
  std::string text = std::to_string(number);
  if (total > 0) text += "/" + std::to_string(total);
  return TagLib::String(text, TagLib::String::UTF8);
}

}  // namespace

TagLib::PropertyMap PropertiesOf(const SongTags& tags) {
  TagLib::PropertyMap p;
  for (const TextField& f : kTextFields) {
    const std::string& value = tags.*f.field;
    if (!value.empty()) p.replace(f.key, TagLib::String(value, TagLib::String::UTF8));
  }
  if (tags.track > 0) p.replace("TRACKNUMBER", NumberPair(tags.track, tags.track_total));
  if (tags.disc > 0) p.replace("DISCNUMBER", NumberPair(tags.disc, tags.disc_total));
  return p;
}

void TakeProperties(const TagLib::PropertyMap& p, SongTags& tags) {
  for (const TextField& f : kTextFields) {
    if (!p.contains(f.key)) continue;
    // Several values (two artists, say) become one text, as players show them.
    const std::string value = p[f.key].toString(" / ").stripWhiteSpace().to8Bit(true);
    if (!value.empty()) tags.*f.field = value;
  }
  TakeNumberPair(p, "TRACKNUMBER", "TRACKTOTAL", "TOTALTRACKS", tags.track, tags.track_total);
  TakeNumberPair(p, "DISCNUMBER", "DISCTOTAL", "TOTALDISCS", tags.disc, tags.disc_total);
}

}  // namespace audio_detail
