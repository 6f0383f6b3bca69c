// The tag operations of the audio layer's interface. TagLib reports failures through its
// results; an allocation failure inside it is the only exception, and none leaves here.
#include "channel.h"
#include "tag_detail.h"

int audio_get_tags(uint32_t handle, SongTags* tags) {
  if (tags == nullptr) return 0;
  const std::shared_ptr<audio_detail::Channel> channel = audio_detail::find_channel(handle);
  if (!channel) return 0;
  try {
    channel->read_tags(*tags);
  } catch (...) {
    *tags = SongTags();  // a source whose tags cannot be read converts without them
  }
  return 1;
}

int audio_write_tags(const char* path, SongTagFormat format, const SongTags& tags) {
  if (path == nullptr) return 0;
  if (tags.empty()) return 1;
  try {
    switch (format) {
      case SongTagFormat::Wma: return audio_detail::WriteWmaTags(path, tags) ? 1 : 0;
      case SongTagFormat::Wav: return audio_detail::WriteWavTags(path, tags) ? 1 : 0;
    }
  } catch (...) {
  }
  return 0;
}

int audio_mp3_tag_blocks(const SongTags& tags, Mp3TagBlocks* blocks) {
  if (blocks == nullptr) return 0;
  try {
    *blocks = audio_detail::RenderMp3Tags(tags);
    return 1;
  } catch (...) {
    return 0;
  }
}

int audio_vorbis_comments(const SongTags& tags, VorbisComments* comments) {
  if (comments == nullptr) return 0;
  try {
    *comments = audio_detail::VorbisCommentsOf(tags);
    return 1;
  } catch (...) {
    return 0;
  }
}

int audio_write_named_fields(const char* path, NamedFieldFormat format, const VorbisComments& fields) {
  if (path == nullptr) return 0;
  try {
    return audio_detail::WriteNamedFields(path, format, fields) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
