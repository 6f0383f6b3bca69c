// Encodes a fuzzed temporary WAV with one of the five encoders. The first byte picks the
// encoder (modulo 5) and the settings (VBR, quality, bitrate); the rest is the WAV.
// Checks: a failed encoding leaves no file behind, a successful one leaves its output.
#include <unistd.h>

#include <filesystem>
#include <iterator>

#include "codecs/convfunc.h"
#include "codecs/options.h"
#include "fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string folder = ScratchFolder();
  const std::string wav = folder + "tmp100000.wav";
  const uint8_t choice = data[0];
  WriteInput(wav, data + 1, size - 1);

  TOptions settings = FirstRunOptions();
  const bool vbr = (choice & 4) != 0;
  const int quality = 1 + (choice >> 3) % 9;
  const int bitrates[] = {32, 64, 128, 192, 320};
  const int bitrate = bitrates[(choice >> 3) % std::size(bitrates)];
  settings.MP3UseVBR = settings.OGGUseVBR = settings.WMAUseVBR = vbr;
  settings.MP3Quality = settings.OGGQuality = quality;
  settings.WMAQuality = 1 + quality % 5;
  settings.MP3Bitrate = settings.OGGBitrate = settings.WMABitrate = bitrate;
  settings.FLACLevel = quality - 1;
  settings.OpusUseVBR = vbr;
  settings.OpusBitrate = bitrate;

  bool ok = false;
  std::string output;
  switch (choice % 5) {
    case 0:
      output = folder + "out.mp3";
      ok = ConvFunc.EncodeMP3(wav, output, settings) == 0;
      break;
    case 1:
      output = folder + "out.ogg";
      ok = ConvFunc.EncodeOGG(wav, output, settings) == 1;
      break;
    case 2:
      output = folder + "out.wma";
      ok = ConvFunc.EncodeWMA(wav, output, settings) == 0;
      break;
    case 3:
      output = folder + "out.flac";
      ok = ConvFunc.EncodeFLAC(wav, output, settings) == 0;
      break;
    default:
      output = folder + "out.opus";
      ok = ConvFunc.EncodeOpus(wav, output, settings) == 0;
      break;
  }
  size_t others = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path() != wav && entry.path() != output) ++others;
  }
  Require(others == 0, "a partial file was left behind");
  Require(access(output.c_str(), F_OK) == (ok ? 0 : -1),
          ok ? "encoder succeeded without an output" : "failed encoder left an output");
  unlink(output.c_str());
  unlink(wav.c_str());
  return 0;
}
