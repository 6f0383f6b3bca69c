// Rate conversion quality and CPU time: the converter's DecodeToWAV against the ffmpeg
// command-line program with its default resampler, on the same generated WAV in one run.
// For each route: the residual of a 1 kHz tone (THD+N, tone removed by a least-squares
// fit), the rejection of a tone whose alias (downsampling) or image (upsampling) lands at
// 1.05 times the lower Nyquist frequency, and the CPU time of the 1 kHz job.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "codecs/convfunc.h"
#include "cputime.h"
#include "wavfixture.h"

namespace {

constexpr double kAmplitude = 0.5;  // -6 dBFS
constexpr uint32_t kSeconds = 300;

std::vector<int16_t> StereoTone(uint32_t rate, double hz) {
  const size_t frames = size_t{rate} * kSeconds;
  std::vector<int16_t> out(frames * 2);
  for (size_t i = 0; i < frames; ++i) {
    const auto v = static_cast<int16_t>(std::lrint(kAmplitude * 32767 * std::sin(2 * M_PI * hz * double(i) / rate)));
    out[2 * i] = out[2 * i + 1] = v;
  }
  return out;
}

// What is left of the left channel's middle half once a sine of `hz` (none for 0) is fitted
// and taken away, in dB against the tone put in.
double ResidualDb(const TWavData& wav, double hz) {
  const size_t frames = wav.frames(), from = frames / 4, to = frames * 3 / 4;
  const double w = 2 * M_PI * hz / wav.rate;
  double ss = 0, cc = 0, sc = 0, ys = 0, yc = 0;
  for (size_t i = from; i < to; ++i) {
    const double s = std::sin(w * double(i)), c = std::cos(w * double(i)), y = wav.samples[i * wav.channels];
    ss += s * s, cc += c * c, sc += s * c, ys += y * s, yc += y * c;
  }
  const double det = ss * cc - sc * sc;
  const double a = hz > 0 ? (ys * cc - yc * sc) / det : 0, b = hz > 0 ? (yc * ss - ys * sc) / det : 0;
  double error = 0;
  for (size_t i = from; i < to; ++i) {
    const double r = wav.samples[i * wav.channels] - a * std::sin(w * double(i)) - b * std::cos(w * double(i));
    error += r * r;
  }
  const double rms = std::sqrt(error / double(to - from));
  if (rms == 0) return -INFINITY;  // nothing left at all: every sample 0
  return 20 * std::log10(rms / (kAmplitude * 32767 / std::sqrt(2.0)));
}

// ffmpeg's output as raw 16-bit stereo (its WAV carries a LIST chunk).
TWavData ReadRaw(const std::string& path, uint32_t rate) {
  TWavData wav;
  wav.rate = rate;
  wav.channels = 2;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    int16_t block[8192];
    size_t got = 0;
    while ((got = std::fread(block, 2, 8192, f)) > 0) wav.samples.insert(wav.samples.end(), block, block + got);
    std::fclose(f);
    wav.ok = true;
  }
  return wav;
}

struct Result {
  double cpu = 1e30;
  double thdn = 0;
  double rejection = 0;
  bool ok = true;
};

}  // namespace

int main() {
  char folder[] = "/tmp/orvik-bench-resample-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  const std::string dir = folder;
  const std::pair<uint32_t, uint32_t> routes[] = {{44100, 48000}, {48000, 44100}, {44100, 22050}};
  constexpr int kRounds = 3;
  for (const auto& [in, out] : routes) {
    const double lowerNyquist = std::min(in, out) / 2.0;
    // Downsampling: a tone above the new Nyquist frequency, which must vanish. Upsampling:
    // a tone near the old one, whose image must not appear beside it.
    const double spurious = in > out ? 1.05 * lowerNyquist : 0.95 * lowerNyquist;
    const std::string tone = dir + "/tone.wav", high = dir + "/high.wav";
    if (!WriteWav(tone, in, 2, StereoTone(in, 1000.0)) || !WriteWav(high, in, 2, StereoTone(in, spurious))) return 1;
    Result ours, theirs;
    for (const std::string& source : {tone, high}) {
      const bool timed = source == tone;
      for (int round = 0; round < (timed ? kRounds : 1); ++round) {
        TOptions settings;
        settings.WAVFreq = static_cast<int32_t>(out);
        settings.WAVNumChannels = 2;
        const std::string mine = dir + "/ours.wav", other = dir + "/ffmpeg.raw";
        const double before = SelfCpu();
        ours.ok = ConvFunc.DecodeToWAV(source, mine, settings, 0) == 1 && ours.ok;
        const double used = SelfCpu() - before;
        const double cli = ChildCpu({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
                                     "-threads", "1", "-i", source, "-ar", std::to_string(out), "-f",
                                     "s16le", other});
        theirs.ok = cli >= 0 && theirs.ok;
        if (!ours.ok || !theirs.ok) {
          std::printf("conversion failed (converter %d, ffmpeg %d)\n", ours.ok, theirs.ok);
          return 1;
        }
        const TWavData a = ReadWav(mine), b = ReadRaw(other, out);
        if (timed) {
          ours.cpu = std::min(ours.cpu, used), theirs.cpu = std::min(theirs.cpu, cli);
          ours.thdn = ResidualDb(a, 1000.0), theirs.thdn = ResidualDb(b, 1000.0);
        } else {
          const double kept = in > out ? 0.0 : spurious;
          ours.rejection = -ResidualDb(a, kept), theirs.rejection = -ResidualDb(b, kept);
        }
      }
    }
    std::printf("%u -> %u Hz stereo, %u s: THD+N converter %.1f dB, ffmpeg %.1f dB; "
                "rejection at %.0f Hz converter %.1f dB, ffmpeg %.1f dB; "
                "CPU converter %.3f s, ffmpeg %.3f s, ratio %.2f\n",
                in, out, kSeconds, ours.thdn, theirs.thdn, spurious, ours.rejection,
                theirs.rejection, ours.cpu, theirs.cpu, ours.cpu / theirs.cpu);
  }
  for (const char* name : {"/tone.wav", "/high.wav", "/ours.wav", "/ffmpeg.raw"})
    std::remove((dir + name).c_str());
  rmdir(folder);
  return 0;
}
