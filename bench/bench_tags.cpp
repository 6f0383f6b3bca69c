// What song tags cost a conversion: a generated 3-minute 44100 Hz stereo MP3 with an ID3v2.3
// tag (UTF-16 text, a 300 KB cover) is converted to each output format, and the tag work of
// that conversion (reading the source's tags when it is opened, writing them into the
// output) is timed on its own, repeated to rise above the clock's resolution.
// Usage: bench_tags [repeats]  (default 20).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "audio.h"
#include "codecs/convfunc.h"
#include "cputime.h"
#include "encodedfixtures.h"
#include "main/mainfunc.h"
#include "main/paths.h"
#include "songtags.h"
#include "tagfixtures.h"
#include "wavfixture.h"

namespace {

SongTags Song() {
  SongTags t;
  t.title = "Группа крови";
  t.artist = "Кино";
  t.album = "Группа крови";
  t.album_artist = "Кино";
  t.date = "1988";
  t.genre = "Rock";
  t.comment = "Тест скорости";
  t.composer = "Виктор Цой";
  t.track = 1;
  t.track_total = 11;
  t.cover.mime = "image/jpeg";
  t.cover.data.resize(300 * 1024);
  for (size_t i = 0; i < t.cover.data.size(); ++i) t.cover.data[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
  return t;
}

// CPU seconds of `repeats` readings of the source's tags through an open channel.
double ReadCost(const std::string& source, int repeats) {
  if (!audio_init(0, 44100, 0, nullptr, nullptr)) return -1;
  const uint32_t h = audio_open_file(0, source.c_str(), 0, 0, AUDIO_FLAG_DECODE);
  const double start = SelfCpu();
  for (int i = 0; i < repeats && h != 0; ++i) {
    SongTags tags;
    audio_get_tags(h, &tags);
  }
  const double spent = SelfCpu() - start;
  audio_free();
  return h ? spent : -1;
}

// CPU seconds of `repeats` tag writings: into fresh copies of an untagged output, or, where
// the encoder writes the tags, their rendering.
double WriteCost(const std::string& bare, const std::string& format, const SongTags& tags,
                 int repeats) {
  const std::string copy = bare + ".copy";
  double spent = 0;
  for (int i = 0; i < repeats; ++i) {
    std::filesystem::copy_file(bare, copy, std::filesystem::copy_options::overwrite_existing);
    const double start = SelfCpu();
    // MP3 and Ogg outputs get their tags from their encoders, which write what is rendered
    // here along with the audio; WMA and WAV outputs are changed once finished.
    bool ok = true;
    Mp3TagBlocks blocks;
    VorbisComments comments;
    if (format == "mp3") ok = audio_mp3_tag_blocks(tags, &blocks) && !blocks.front.empty();
    else if (format == "ogg") ok = audio_vorbis_comments(tags, &comments) && !comments.empty();
    else if (format == "wma") ok = audio_write_tags(copy.c_str(), SongTagFormat::Wma, tags);
    else ok = audio_write_tags(copy.c_str(), SongTagFormat::Wav, tags);
    spent += SelfCpu() - start;
    if (!ok) return -1;
  }
  std::remove(copy.c_str());
  return spent;
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  char folderTemplate[] = "/tmp/bench_tags_XXXXXX";
  if (mkdtemp(folderTemplate) == nullptr) return 1;
  const std::string folder = std::string(folderTemplate) + "/";
  SetProgramDirForTesting(folder);
  ConvFunc.Options = FirstRunOptions();

  std::printf("Generating a 3-minute 44100 Hz stereo MP3 with tags and a cover...\n");
  const std::string tagged = folder + "tagged.mp3", bare = folder + "bare.mp3";
  const auto tone = MakeTone(44100, 2, 44100ull * 180, 440.0);
  const SongTags song = Song();
  if (!WriteMp3Fixture(bare, 44100, 2, tone) || !WriteMp3Fixture(tagged, 44100, 2, tone) ||
      !TagMp3Id3v23Utf16(tagged, song))
    return 1;

  const double read = ReadCost(tagged, repeats) / repeats;
  std::printf("%-6s %12s %12s %12s %8s\n", "output", "conversion", "tag read", "tag write", "share");
  for (const std::string format : {"mp3", "ogg", "wma", "wav"}) {
    ConvFunc.Options.OutputFormat = format;
    const std::string out = folder + "out." + format, bareOut = folder + "bare." + format;
    const double start = SelfCpu();
    if (!MainFunc.ConvertFile(tagged, out)) return 1;
    const double conversion = SelfCpu() - start;
    const SongTags carried = ConvFunc.SourceTags;
    if (carried.cover.data.size() != song.cover.data.size()) return 1;
    if (!MainFunc.ConvertFile(bare, bareOut)) return 1;
    const double write = WriteCost(bareOut, format, carried, repeats) / repeats;
    if (read < 0 || write < 0) return 1;
    std::printf("%-6s %10.3f s %10.5f s %10.5f s %7.3f %%\n", format.c_str(), conversion, read,
                write, 100.0 * (read + write) / conversion);
  }
  std::filesystem::remove_all(folder);
  return 0;
}
