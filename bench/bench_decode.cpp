// CPU time of decoding a 10-minute 44100 Hz stereo MP3 to WAV through the converter's
// DecodeToWAV (audio layer: opening, mixer, pull loop, WAV writing), against the ffmpeg
// command-line program doing the same job, in one run: once at the source's own format and
// once resampled to 22050 Hz mono.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "codecs/convfunc.h"
#include "cputime.h"
#include "encodedfixtures.h"

namespace {

// A 10-minute mix of two tones per channel, so the encoder has real work.
std::vector<int16_t> MakeMix(uint32_t rate, uint32_t seconds) {
  const size_t frames = size_t{rate} * seconds;
  std::vector<int16_t> out(frames * 2);
  for (size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double left = 0.3 * std::sin(2 * M_PI * 440 * t) + 0.2 * std::sin(2 * M_PI * 1234 * t);
    const double right = 0.3 * std::sin(2 * M_PI * 660 * t) + 0.2 * std::sin(2 * M_PI * 97 * t);
    out[2 * i] = static_cast<int16_t>(std::lrint(left * 32767));
    out[2 * i + 1] = static_cast<int16_t>(std::lrint(right * 32767));
  }
  return out;
}

}  // namespace

int main() {
  char folder[] = "/tmp/orvik-bench-decode-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  const std::string dir = folder;
  const std::string mp3 = dir + "/source.mp3";
  std::printf("Generating a 10-minute 44100 Hz stereo MP3 (128 kbit/s)...\n");
  if (!WriteMp3Fixture(mp3, 44100, 2, MakeMix(44100, 600), 128)) return 1;

  struct Job {
    const char* name;
    int rate;
    int chans;
  };
  const Job jobs[] = {{"44100 Hz stereo", 44100, 2}, {"22050 Hz mono", 22050, 1}};
  constexpr int kRounds = 3;
  for (const Job& job : jobs) {
    double ours = 1e30;
    double theirs = 1e30;
    long oursSize = 0;
    long theirsSize = 0;
    for (int round = 0; round < kRounds; ++round) {
      TOptions settings;
      settings.WAVFreq = job.rate;
      settings.WAVNumChannels = job.chans;
      const std::string wav = dir + "/ours.wav";
      const double before = SelfCpu();
      const int32_t result = ConvFunc.DecodeToWAV(mp3, wav, settings, 0);
      const double used = SelfCpu() - before;
      if (result != 1) {
        std::printf("DecodeToWAV failed: %d\n", result);
        return 1;
      }
      ours = std::min(ours, used);
      oursSize = FileSize(wav);

      const std::string theirWav = dir + "/ffmpeg.wav";
      const double cli = ChildCpu({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error",
                                   "-y", "-threads", "1", "-i", mp3, "-ar",
                                   std::to_string(job.rate), "-ac", std::to_string(job.chans),
                                   "-c:a", "pcm_s16le", theirWav});
      if (cli < 0) {
        std::printf("ffmpeg failed or is missing\n");
        return 1;
      }
      theirs = std::min(theirs, cli);
      theirsSize = FileSize(theirWav);
    }
    std::printf("%-16s  converter %.3f s CPU (%ld bytes)  ffmpeg %.3f s CPU (%ld bytes)  "
                "ratio %.3f\n",
                job.name, ours, oursSize, theirs, theirsSize, ours / theirs);
  }
  std::remove((dir + "/ours.wav").c_str());
  std::remove((dir + "/ffmpeg.wav").c_str());
  std::remove(mp3.c_str());
  rmdir(dir.c_str());
  return 0;
}
