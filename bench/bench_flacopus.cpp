// CPU time of the FLAC and Opus encoders on a generated 5-minute stereo WAV (44100 Hz for
// FLAC, 48000 Hz for Opus, the rate the temporary WAV has for each), against the reference
// command-line encoders on the same WAV: `flac -5` and `opusenc --bitrate 128`. Headless, so
// the window's pauses between passes are left out. Usage: bench_flacopus [rounds] (best of
// `rounds`, default 3).
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "codecs/convfunc.h"
#include "cputime.h"
#include "wavfixture.h"

namespace {

constexpr uint32_t kSeconds = 300;

// Two tones per channel, a slow sweep and quiet noise: FLAC gets a signal it cannot predict
// perfectly, as with music, and Opus one with something in every band.
std::vector<int16_t> MusicLike(uint32_t rate) {
  std::vector<int16_t> samples(size_t{rate} * kSeconds * 2);
  uint32_t noise = 12345;
  for (size_t i = 0; i < samples.size() / 2; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double sweep = 200.0 + 3000.0 * (t / kSeconds);
    noise = noise * 1664525u + 1013904223u;
    const double hiss = (static_cast<double>(noise >> 16) / 65536.0 - 0.5) * 0.02;
    const double left = 0.3 * std::sin(2 * M_PI * 440 * t) + 0.2 * std::sin(2 * M_PI * 1234 * t);
    const double right = 0.3 * std::sin(2 * M_PI * 660 * t) + 0.15 * std::sin(2 * M_PI * sweep * t);
    samples[2 * i] = static_cast<int16_t>(std::lrint((left + hiss) * 32767));
    samples[2 * i + 1] = static_cast<int16_t>(std::lrint((right - hiss) * 32767));
  }
  return samples;
}

struct TJob {
  const char* name;
  uint32_t rate;
  const char* extension;
  std::function<int32_t(const std::string& wav, const std::string& out)> ours;
  std::function<std::vector<std::string>(const std::string& wav, const std::string& out)> reference;
};

// Best CPU seconds of `rounds` runs; -1 when one failed.
double Best(int rounds, const std::function<double()>& run) {
  double best = -1;
  for (int r = 0; r < rounds; ++r) {
    const double cpu = run();
    if (cpu < 0) return -1;
    best = best < 0 ? cpu : std::min(best, cpu);
  }
  return best;
}

double LoadAverage() {
  double load[1] = {0};
  return getloadavg(load, 1) == 1 ? load[0] : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  char folder[] = "/tmp/orvik-bench-flacopus-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  const std::string dir = folder;

  const TJob jobs[] = {
      {"FLAC level 5 vs flac -5", 44100, "flac",
       [](const std::string& in, const std::string& out) {
         TOptions o = FirstRunOptions();
         o.FLACFreq = 44100, o.FLACNumChannels = 2, o.FLACLevel = 5;
         return ConvFunc.EncodeFLAC(in, out, o);
       },
       [](const std::string& in, const std::string& out) {
         return std::vector<std::string>{"flac", "-5", "-s", "-f", "-o", out, in};
       }},
      {"Opus 128 VBR vs opusenc --bitrate 128", 48000, "opus",
       [](const std::string& in, const std::string& out) {
         TOptions o = FirstRunOptions();
         o.OpusNumChannels = 2, o.OpusBitrate = 128, o.OpusUseVBR = true;
         return ConvFunc.EncodeOpus(in, out, o);
       },
       [](const std::string& in, const std::string& out) {
         return std::vector<std::string>{"opusenc", "--quiet", "--bitrate", "128", in, out};
       }},
  };

  std::printf("load average at start: %.2f; best of %d rounds; CPU = user + sys\n",
              LoadAverage(), rounds);
  std::printf("| job | ours CPU / audio min | reference CPU / audio min | ours / reference | "
              "sizes ours / reference |\n|---|---|---|---|---|\n");
  for (const TJob& job : jobs) {
    const std::string wav = dir + "/source-" + std::to_string(job.rate) + ".wav";
    if (!WriteWav(wav, job.rate, 2, MusicLike(job.rate))) return 1;
    const std::string ours = dir + "/ours." + job.extension;
    const std::string theirs = dir + "/reference." + job.extension;
    const double ourCpu = Best(rounds, [&] {
      const double before = SelfCpu();
      return job.ours(wav, ours) == 0 ? SelfCpu() - before : -1;
    });
    const double theirCpu = Best(rounds, [&] { return ChildCpu(job.reference(wav, theirs)); });
    const double minutes = kSeconds / 60.0;
    std::printf("| %s | %.3f s | %.3f s | %.2f | %ld / %ld |\n", job.name, ourCpu / minutes,
                theirCpu / minutes, ourCpu / theirCpu, FileSize(ours), FileSize(theirs));
    std::remove(wav.c_str());
    std::remove(ours.c_str());
    std::remove(theirs.c_str());
  }
  std::printf("load average at end: %.2f\n", LoadAverage());
  rmdir(dir.c_str());
  return 0;
}
