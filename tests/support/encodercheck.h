// Checks of encoded output: decoding a file back through the audio layer, asking ffprobe
// what it sees, and finding optional command-line validators.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TDecodedFile {
  bool ok = false;
  uint32_t rate = 0;
  uint16_t channels = 0;
  uint64_t lengthBytes = 0;       // what audio_get_length reported before the pulls
  std::vector<int16_t> samples;   // interleaved, every sample the channel delivered
  uint64_t frames() const { return channels ? samples.size() / channels : 0; }
};

// Opens `path` with audio_open_file (or wma_open_file with `wma`) on this thread and pulls
// it to the end. Initialises and frees the library itself.
TDecodedFile DecodeThroughAudioLayer(const std::string& path, bool wma = false);

struct TProbeResult {
  bool ran = false;         // ffprobe was found and answered
  std::string formatName;   // e.g. "mp3", "asf"
  std::string codecName;    // e.g. "mp3", "wmav2"
  int sampleRate = 0;
  int channels = 0;
  double duration = 0.0;    // seconds, of the container
  int64_t bitRate = 0;      // bit/s of the container
};

// Runs ffprobe on the first audio stream of `path`.
TProbeResult ProbeWithFfprobe(const std::string& path);

// True when an executable of this name is on the PATH.
bool HaveTool(const std::string& name);
// Runs a tool; returns its exit code (-1 when it could not run) and its standard output.
int RunTool(const std::string& name, const std::vector<std::string>& args, std::string* output);

// The names in a folder, "." and ".." left out, sorted.
std::vector<std::string> FolderEntries(const std::string& folder);
// The whole content of a file; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
// Writes `content` to `path`; false on failure.
bool WriteWholeFile(const std::string& path, const std::string& content);

// Percentage of frames whose channel holds a sample louder than `threshold` in [from, to).
double LoudShare(const std::vector<int16_t>& samples, uint16_t channels, uint16_t channel,
                 uint64_t from, uint64_t to, int threshold);
