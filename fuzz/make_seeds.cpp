// Writes the seed corpora of the fuzz targets with the tests' fixture makers:
//   make_seeds <folder>  ->  <folder>/source, <folder>/config, <folder>/encoders
// A seed of the source target is a byte choosing the extension followed by a small file
// of that kind; one of the encoders target a byte choosing encoder and settings followed by
// a WAV file.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "codecs/options.h"
#include "encodedfixtures.h"
#include "main/config.h"
#include "midifixture.h"
#include "modulefixture.h"
#include "wavfixture.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

// Makes a fixture at a scratch path with `make`, then stores `prefix` + its bytes.
bool Seed(const std::string& scratch, const std::string& seed, char prefix,
          const std::function<bool(const std::string&)>& make) {
  const bool made = make(scratch);
  const std::string bytes = ReadAll(scratch);
  std::remove(scratch.c_str());
  if (made && !bytes.empty() && WriteAll(seed, std::string(1, prefix) + bytes)) return true;
  std::fprintf(stderr, "make_seeds: %s not written\n", seed.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds <folder>\n");
    return 2;
  }
  const std::string root = std::string(argv[1]) + "/";
  for (const char* sub : {"", "source", "config", "encoders"})
    mkdir((root + sub).c_str(), 0777);
  const std::string scratch = root + "scratch";
  bool ok = true;

  // Source seeds; the prefix is the index of the extension in the source target's list.
  const auto tone = MakeTone(8000, 1, 2400, 440.0);
  const auto stereo = MakeTone(22050, 2, 4410, 440.0, 0.5, true);
  const std::string s = root + "source/";
  ok &= Seed(scratch + ".wav", s + "wav", 1, [&](auto& p) { return WriteWav(p, 8000, 1, tone); });
  ok &= Seed(scratch + ".mp3", s + "mp3", 0,
             [&](auto& p) { return WriteMp3Fixture(p, 22050, 2, stereo, 64); });
  ok &= Seed(scratch + ".ogg", s + "ogg", 2,
             [&](auto& p) { return WriteOggFixture(p, 22050, 2, stereo); });
  ok &= Seed(scratch + ".wma", s + "wma", 3,
             [&](auto& p) { return WriteWmaFixture(p, 22050, 2, stereo, 64000); });
  ok &= Seed(scratch + ".flac", s + "flac", 11, [&](auto& p) {
    return WriteFfmpegFixture(p, "flac", "flac", 8000, 1, tone);
  });
  ok &= Seed(scratch + ".aiff", s + "aiff", 12, [&](auto& p) {
    return WriteFfmpegFixture(p, "aiff", "pcm_s16be", 8000, 1, tone);
  });
  ok &= Seed(scratch + ".mid", s + "mid", 4,
             [&](auto& p) { return WriteMidiFile(p, MidiScale(3), 96); });
  const struct {
    TModuleKind kind;
    const char* name;
    char prefix;
  } modules[] = {{TModuleKind::Xm, "xm", 5},
                 {TModuleKind::Mod, "mod", 6},
                 {TModuleKind::S3m, "s3m", 8},
                 {TModuleKind::UmxXm, "umx", 10}};
  for (const auto& m : modules) {
    ok &= Seed(scratch + "." + m.name, s + m.name, m.prefix, [&](auto& p) {
      return WriteModule(p, m.kind, 4, {{0, 0}, {2, 1}});
    });
  }

  // Config seeds: the file as written for first-run settings and for changed ones.
  ok &= WriteAll(root + "config/first-run", BuildConfigText(FirstRunOptions(), true));
  TOptions changed = FirstRunOptions();
  changed.OutputFormat = "ogg";
  changed.OutputFolder = "/home/user/Музыка";
  changed.OutputName = 2;
  changed.Delete = true;
  changed.OGGUseVBR = true;
  ok &= WriteAll(root + "config/changed", BuildConfigText(changed, false));
  changed.FLACLevel = 8;
  changed.OpusUseVBR = false;
  ok &= WriteAll(root + "config/flacopus", BuildConfigText(changed, false));

  // Encoder seeds: every encoder, mono and stereo WAVs at usual rates.
  const struct {
    uint32_t rate;
    uint16_t chans;
  } shapes[] = {{8000, 1}, {22050, 2}, {44100, 2}, {48000, 2}};
  for (char encoder = 0; encoder < 5; ++encoder) {
    for (const auto& shape : shapes) {
      const std::string name = root + "encoders/" + std::to_string(encoder) + "-" +
                               std::to_string(shape.rate) + "-" + std::to_string(shape.chans);
      ok &= Seed(scratch + ".wav", name, encoder, [&](auto& p) {
        return WriteWav(p, shape.rate, shape.chans,
                        MakeTone(shape.rate, shape.chans, shape.rate / 10, 440.0));
      });
    }
  }
  if (!ok) std::fprintf(stderr, "make_seeds: some seeds could not be written\n");
  return ok ? 0 : 1;
}
