// CPU time of rendering tracker modules to WAV through the converter's DecodeToWAV (module
// opening with its length count, mixer, pull loop, WAV writing), against libopenmpt's own
// command-line renderer, openmpt123, doing the same job (44100 Hz, 16-bit stereo) in one run.
//
// The modules are generated: FastTracker 2 songs of 8 channels playing looped waveforms with
// vibrato, slides and volume changes, a few minutes each, so the mixer has real work.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "codecs/convfunc.h"
#include "cputime.h"
#include "stdio_file.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kChannels = 8;
constexpr int kPatterns = 12;
constexpr int kInstruments = 4;
constexpr int kSampleFrames = 2048;

void Put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, v & 0xffff);
  Put16(b, v >> 16);
}
void PutText(Bytes& b, const std::string& text, size_t size) {
  for (size_t i = 0; i < size; ++i) b.push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
}

// One period of a waveform, 16-bit: sine, saw, square and a noisy pad.
std::vector<int16_t> Waveform(int kind, uint32_t& seed) {
  std::vector<int16_t> wave(kSampleFrames);
  for (int i = 0; i < kSampleFrames; ++i) {
    const double phase = static_cast<double>(i % 64) / 64.0;
    double v = 0;
    switch (kind) {
      case 0: v = std::sin(2 * M_PI * phase); break;
      case 1: v = 2 * phase - 1; break;
      case 2: v = phase < 0.5 ? 0.8 : -0.8; break;
      default:
        seed = seed * 1664525u + 1013904223u;
        v = 0.5 * std::sin(2 * M_PI * phase) + 0.3 * (static_cast<double>(seed >> 16) / 32768.0 - 1);
    }
    wave[i] = static_cast<int16_t>(std::lrint(v * 20000));
  }
  return wave;
}

// An xm module of `orders` patterns in order, each of 64 rows at speed 6, tempo 125
// (7.68 s), so it plays about orders * 7.7 s.
Bytes LongXm(uint32_t seed, int orders) {
  Bytes b;
  PutText(b, "Extended Module: ", 17);
  PutText(b, "bench song " + std::to_string(seed), 20);
  b.push_back(0x1a);
  PutText(b, "orvik bench", 20);
  Put16(b, 0x0104);
  Put32(b, 276);
  Put16(b, static_cast<uint32_t>(orders));
  Put16(b, 0);
  Put16(b, kChannels);
  Put16(b, kPatterns);
  Put16(b, kInstruments);
  Put16(b, 1);  // linear frequencies
  Put16(b, 6);
  Put16(b, 125);
  uint32_t rng = seed;
  const auto next = [&rng](uint32_t range) {
    rng = rng * 1664525u + 1013904223u;
    return (rng >> 8) % range;
  };
  for (int i = 0; i < 256; ++i) b.push_back(static_cast<uint8_t>(i < orders ? next(kPatterns) : 0));

  for (int p = 0; p < kPatterns; ++p) {
    Bytes cells;
    for (int row = 0; row < 64; ++row) {
      for (int ch = 0; ch < kChannels; ++ch) {
        const bool note = next(4) == 0;
        cells.push_back(static_cast<uint8_t>(note ? 25 + next(48) : 0));
        cells.push_back(static_cast<uint8_t>(note ? 1 + next(kInstruments) : 0));
        cells.push_back(static_cast<uint8_t>(next(3) == 0 ? 0x10 + next(0x41) : 0));  // volume
        const uint32_t effect = next(8);  // none, vibrato, slides up and down
        cells.push_back(static_cast<uint8_t>(effect == 1 ? 4 : effect == 2 ? 1 : effect == 3 ? 2 : 0));
        cells.push_back(static_cast<uint8_t>(effect >= 1 && effect <= 3 ? 0x14 + next(0x20) : 0));
      }
    }
    Put32(b, 9);
    b.push_back(0);
    Put16(b, 64);
    Put16(b, static_cast<uint32_t>(cells.size()));
    b.insert(b.end(), cells.begin(), cells.end());
  }

  for (int i = 0; i < kInstruments; ++i) {
    const size_t start = b.size();
    Put32(b, 263);
    PutText(b, "wave", 22);
    b.push_back(0);
    Put16(b, 1);
    Put32(b, 40);
    while (b.size() < start + 263) b.push_back(0);  // key map, envelopes off
    Put32(b, kSampleFrames * 2);  // lengths in bytes
    Put32(b, 0);
    Put32(b, kSampleFrames * 2);
    b.push_back(48);    // volume
    b.push_back(0);     // finetune
    b.push_back(0x11);  // 16-bit, forward loop
    b.push_back(static_cast<uint8_t>(48 + 40 * i));  // panning
    b.push_back(0);
    b.push_back(0);
    PutText(b, "wave", 22);
    int16_t previous = 0;
    for (const int16_t s : Waveform(i, rng)) {  // delta coded
      Put16(b, static_cast<uint16_t>(static_cast<int16_t>(s - previous)));
      previous = s;
    }
  }
  return b;
}

bool WriteBytes(const std::string& path, const Bytes& bytes) {
  FilePtr f(std::fopen(path.c_str(), "wb"));
  return f && std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size() &&
         std::fclose(f.release()) == 0;
}

double LoadAverage() {
  double load[1] = {0};
  return getloadavg(load, 1) == 1 ? load[0] : -1;
}

}  // namespace

int main(int argc, char** argv) {
  // Songs of 4 to 5 minutes: 5 of them unless told how many; in a folder of their own, or
  // in the one given, where they are kept for a later run (or for a profiler).
  const int songs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  char folder[] = "/tmp/orvik-bench-module-XXXXXX";
  const bool keep = argc > 2;
  if (!keep && mkdtemp(folder) == nullptr) return 1;
  const std::string dir = keep ? argv[2] : folder;
  std::vector<std::string> modules;
  for (int i = 0; i < songs; ++i) {
    modules.push_back(dir + "/song" + std::to_string(i) + ".xm");
    if (!WriteBytes(modules.back(), LongXm(1000 + i, 32 + 7 * (i % 3)))) return 1;
  }
  std::printf("Load average before: %.2f\n", LoadAverage());
  constexpr int kRounds = 3;
  double ours = 1e30, theirs = 1e30;
  long oursBytes = 0, theirsBytes = 0;
  for (int round = 0; round < kRounds; ++round) {
    double used = 0, cli = 0;
    oursBytes = theirsBytes = 0;
    for (const std::string& module : modules) {
      TOptions settings;
      settings.WAVFreq = 44100;
      settings.WAVNumChannels = 2;
      const std::string wav = dir + "/ours.wav";
      const double before = SelfCpu();
      const int32_t result = ConvFunc.DecodeToWAV(module, wav, settings, 0);
      used += SelfCpu() - before;
      if (result != 1) {
        std::printf("DecodeToWAV failed: %d\n", result);
        return 1;
      }
      oursBytes += FileSize(wav);
      const double their = ChildCpu({"openmpt123", "--quiet", "--render", "--force",
                                     "--no-float", "--samplerate", "44100", "--channels", "2",
                                     "--output-type", "wav", module});
      if (their < 0) {
        std::printf("openmpt123 failed or is missing\n");
        return 1;
      }
      cli += their;
      theirsBytes += FileSize(module + ".wav");
      std::remove(wav.c_str());
      std::remove((module + ".wav").c_str());
    }
    ours = std::min(ours, used);
    theirs = std::min(theirs, cli);
  }
  std::printf("%d modules, %.1f min of audio: converter %.3f s CPU (%ld bytes)  openmpt123 %.3f s "
              "CPU (%ld bytes)  ratio %.3f\n",
              songs, static_cast<double>(oursBytes) / (44100.0 * 4 * 60), ours, oursBytes, theirs,
              theirsBytes, ours / theirs);
  std::printf("Load average after: %.2f\n", LoadAverage());
  if (keep) return 0;
  for (const std::string& module : modules) std::remove(module.c_str());
  rmdir(dir.c_str());
  return 0;
}
