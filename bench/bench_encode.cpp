// CPU time of the three encoders on a generated 10-minute 44100 Hz stereo WAV, against the
// ffmpeg command-line program driving the same encoder library with the same settings, in
// one run. Headless, so the routines' pauses between passes are left out (EngineHooks is
// empty). Usage: bench_encode [rounds]  (best of `rounds`, default 2).
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <lame/lame.h>
#include <ogg/ogg.h>
#include <vorbis/vorbisenc.h>

#include "codecs/convfunc.h"
#include "cputime.h"

namespace {

void Put(std::FILE* f, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) std::fputc(static_cast<int>((value >> (8 * i)) & 0xff), f);
}

// A 44-byte-header WAV of two tones per channel and a slow sweep, so the encoders have
// real work; written a second at a time.
bool WriteMixWav(const std::string& path, uint32_t seconds) {
  constexpr uint32_t rate = 44100;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const uint32_t dataBytes = rate * seconds * 4;
  std::fwrite("RIFF", 1, 4, f);
  Put(f, 36 + dataBytes, 4);
  std::fwrite("WAVEfmt ", 1, 8, f);
  Put(f, 16, 4);
  Put(f, 1, 2);
  Put(f, 2, 2);
  Put(f, rate, 4);
  Put(f, rate * 4, 4);
  Put(f, 4, 2);
  Put(f, 16, 2);
  std::fwrite("data", 1, 4, f);
  Put(f, dataBytes, 4);
  std::vector<int16_t> second(rate * 2);
  for (uint32_t s = 0; s < seconds; ++s) {
    for (uint32_t i = 0; i < rate; ++i) {
      const double t = s + static_cast<double>(i) / rate;
      const double sweep = 200.0 + 3000.0 * (t / seconds);
      const double left = 0.3 * std::sin(2 * M_PI * 440 * t) + 0.2 * std::sin(2 * M_PI * 1234 * t);
      const double right = 0.3 * std::sin(2 * M_PI * 660 * t) + 0.15 * std::sin(2 * M_PI * sweep * t);
      second[2 * i] = static_cast<int16_t>(std::lrint(left * 32767));
      second[2 * i + 1] = static_cast<int16_t>(std::lrint(right * 32767));
    }
    std::fwrite(second.data(), sizeof(int16_t), second.size(), f);
  }
  return std::fclose(f) == 0;
}

TOptions BaseSettings() {
  TOptions o = FirstRunOptions();
  o.MP3Freq = o.OGGFreq = 44100;
  o.MP3NumChannels = o.OGGNumChannels = 2;
  return o;
}

// The bare libraries, for the two modes ffmpeg cannot be told to use: the same calls as
// the converter makes, in the plainest loop, reading the whole WAV into memory first.
std::vector<int16_t> ReadPcm(const std::string& wav) {
  std::vector<int16_t> pcm;
  std::FILE* f = std::fopen(wav.c_str(), "rb");
  if (!f) return pcm;
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fseek(f, 44, SEEK_SET);
  pcm.resize(static_cast<size_t>(std::max(0L, size - 44)) / 2);
  pcm.resize(std::fread(pcm.data(), 2, pcm.size(), f));
  std::fclose(f);
  return pcm;
}

bool BareLameVbrRh(const std::vector<int16_t>& pcm, const std::string& out) {
  lame_global_flags* gf = lame_init();
  lame_set_num_channels(gf, 2);
  lame_set_in_samplerate(gf, 44100);
  lame_set_out_samplerate(gf, 44100);
  lame_set_quality(gf, 2);
  lame_set_VBR(gf, vbr_rh);
  lame_set_VBR_q(gf, 4);
  bool ok = lame_init_params(gf) >= 0;
  std::FILE* f = std::fopen(out.c_str(), "wb");
  ok = ok && f;
  std::vector<unsigned char> mp3(40000);
  const size_t frames = pcm.size() / 2;
  for (size_t at = 0; ok && at < frames; at += 4608) {
    const int n = static_cast<int>(std::min<size_t>(4608, frames - at));
    const int got = lame_encode_buffer_interleaved(gf, const_cast<short*>(pcm.data() + 2 * at), n,
                                                   mp3.data(), 40000);
    if (got > 0) std::fwrite(mp3.data(), 1, static_cast<size_t>(got), f);
  }
  if (ok) {
    const int got = lame_encode_flush(gf, mp3.data(), 40000);
    if (got > 0) std::fwrite(mp3.data(), 1, static_cast<size_t>(got), f);
  }
  if (f) std::fclose(f);
  lame_close(gf);
  return ok;
}

bool BareVorbisManaged(const std::vector<int16_t>& pcm, const std::string& out) {
  vorbis_info vi;
  vorbis_info_init(&vi);
  if (vorbis_encode_init(&vi, 2, 44100, -1, 192000, -1) != 0) return false;
  vorbis_comment vc;
  vorbis_comment_init(&vc);
  vorbis_dsp_state vd;
  vorbis_block vb;
  vorbis_analysis_init(&vd, &vi);
  vorbis_block_init(&vd, &vb);
  ogg_stream_state os;
  ogg_stream_init(&os, 1);
  ogg_packet h1, h2, h3, packet;
  vorbis_analysis_headerout(&vd, &vc, &h1, &h2, &h3);
  ogg_stream_packetin(&os, &h1);
  ogg_stream_packetin(&os, &h2);
  ogg_stream_packetin(&os, &h3);
  std::FILE* f = std::fopen(out.c_str(), "wb");
  ogg_page page;
  auto write = [&] {
    std::fwrite(page.header, 1, static_cast<size_t>(page.header_len), f);
    std::fwrite(page.body, 1, static_cast<size_t>(page.body_len), f);
  };
  while (f && ogg_stream_flush(&os, &page) != 0) write();
  const size_t frames = pcm.size() / 2;
  bool eos = f == nullptr;
  size_t at = 0;
  while (!eos) {
    const int n = static_cast<int>(std::min<size_t>(1024, frames - at));
    if (n == 0) {
      vorbis_analysis_wrote(&vd, 0);
    } else {
      float** buffer = vorbis_analysis_buffer(&vd, n);
      for (int i = 0; i < n; ++i) {
        buffer[0][i] = pcm[2 * (at + i)] * 0.000030517578125f;
        buffer[1][i] = pcm[2 * (at + i) + 1] * 0.000030517578125f;
      }
      vorbis_analysis_wrote(&vd, n);
      at += static_cast<size_t>(n);
    }
    while (vorbis_analysis_blockout(&vd, &vb) == 1) {
      vorbis_analysis(&vb, nullptr);
      vorbis_bitrate_addblock(&vb);
      while (vorbis_bitrate_flushpacket(&vd, &packet) == 1) {
        ogg_stream_packetin(&os, &packet);
        while (!eos && ogg_stream_pageout(&os, &page) != 0) {
          write();
          eos = ogg_page_eos(&page) != 0;
        }
      }
    }
  }
  if (f) std::fclose(f);
  ogg_stream_clear(&os);
  vorbis_block_clear(&vb);
  vorbis_dsp_clear(&vd);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  return f != nullptr;
}

struct Job {
  const char* name;
  const char* extension;
  std::function<int32_t(const std::string& wav, const std::string& out)> ours;
  int32_t success;
  std::vector<std::string> ffmpegCodecArgs;
  // For a mode ffmpeg cannot express: the same library calls in a bare loop.
  std::function<bool(const std::vector<int16_t>& pcm, const std::string& out)> bare;
};

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2;
  char folder[] = "/tmp/orvik-bench-encode-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  const std::string dir = folder;
  const std::string wav = dir + "/source.wav";
  std::printf("Generating a 10-minute 44100 Hz stereo WAV...\n");
  if (!WriteMixWav(wav, 600)) return 1;

  const Job jobs[] = {
      {"MP3 CBR 192", "mp3",
       [](const std::string& in, const std::string& out) {
         TOptions o = BaseSettings();
         o.MP3UseVBR = false;
         o.MP3Bitrate = 192;
         return ConvFunc.EncodeMP3(in, out, o);
       },
       0, {"-c:a", "libmp3lame", "-b:a", "192k", "-compression_level", "2"}, nullptr},
      // Step 5 is LAME's VBR quality 4 with the vbr_rh mode; ffmpeg's -q:a selects the
      // default VBR mode (vbr_mtrh), the only VBR mode it offers.
      {"MP3 VBR step 5", "mp3",
       [](const std::string& in, const std::string& out) {
         TOptions o = BaseSettings();
         o.MP3UseVBR = true;
         o.MP3Quality = 5;
         return ConvFunc.EncodeMP3(in, out, o);
       },
       0, {"-c:a", "libmp3lame", "-q:a", "4", "-compression_level", "2"}, BareLameVbrRh},
      {"Ogg 192 kbit/s", "ogg",
       [](const std::string& in, const std::string& out) {
         TOptions o = BaseSettings();
         o.OGGUseVBR = false;
         o.OGGBitrate = 192;
         return ConvFunc.EncodeOGG(in, out, o);
       },
       // ffmpeg switches libvorbis's rate management off when no minimum or maximum is
       // given; the converter's vorbis_encode_init keeps it on.
       1, {"-c:a", "libvorbis", "-b:a", "192k"}, BareVorbisManaged},
      {"Ogg quality 5", "ogg",
       [](const std::string& in, const std::string& out) {
         TOptions o = BaseSettings();
         o.OGGUseVBR = true;
         o.OGGQuality = 5;
         return ConvFunc.EncodeOGG(in, out, o);
       },
       1, {"-c:a", "libvorbis", "-q:a", "5"}, nullptr},
      {"WMA 128 kbit/s", "wma",
       [](const std::string& in, const std::string& out) {
         TOptions o = BaseSettings();
         o.WMAUseVBR = false;
         o.WMABitrate = 128;
         return ConvFunc.EncodeWMA(in, out, o);
       },
       0, {"-c:a", "wmav2", "-b:a", "128k"}, nullptr},
  };

  std::printf("%-16s %12s %12s %8s %12s %12s\n", "job", "converter", "ffmpeg", "ratio",
              "our bytes", "ffmpeg bytes");
  for (const Job& job : jobs) {
    double ours = 1e30, theirs = 1e30;
    long oursSize = 0, theirsSize = 0;
    const std::string ourFile = dir + "/ours." + job.extension;
    const std::string theirFile = dir + "/ffmpeg." + job.extension;
    for (int round = 0; round < rounds; ++round) {
      const double before = SelfCpu();
      const int32_t result = job.ours(wav, ourFile);
      const double used = SelfCpu() - before;
      if (result != job.success) {
        std::printf("%s: the converter failed with %d\n", job.name, result);
        return 1;
      }
      ours = std::min(ours, used);
      oursSize = FileSize(ourFile);

      std::vector<std::string> args = {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel",
                                       "error", "-y", "-threads", "1", "-i", wav};
      args.insert(args.end(), job.ffmpegCodecArgs.begin(), job.ffmpegCodecArgs.end());
      args.push_back(theirFile);
      const double cli = ChildCpu(args);
      if (cli < 0) {
        std::printf("ffmpeg failed or is missing\n");
        return 1;
      }
      theirs = std::min(theirs, cli);
      theirsSize = FileSize(theirFile);
    }
    std::printf("%-16s %10.3f s %10.3f s %8.3f %12ld %12ld\n", job.name, ours, theirs,
                ours / theirs, oursSize, theirsSize);
    if (job.bare) {
      const std::vector<int16_t> pcm = ReadPcm(wav);
      const std::string bareFile = dir + "/bare." + job.extension;
      double bare = 1e30;
      for (int round = 0; round < rounds; ++round) {
        const double before = SelfCpu();
        if (!job.bare(pcm, bareFile)) return 1;
        bare = std::min(bare, SelfCpu() - before);
      }
      std::printf("%-16s %10.3f s %10s   %8.3f %12ld   (converter against the bare library)\n",
                  "  bare library", bare, "", ours / bare, FileSize(bareFile));
      std::remove(bareFile.c_str());
    }
    std::fflush(stdout);
    std::remove(ourFile.c_str());
    std::remove(theirFile.c_str());
  }
  std::remove(wav.c_str());
  rmdir(dir.c_str());
  return 0;
}
