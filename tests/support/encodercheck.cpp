#include "encodercheck.h"

#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "audio.h"

TDecodedFile DecodeThroughAudioLayer(const std::string& path, bool wma) {
  TDecodedFile out;
  if (!audio_init(0, 44100, 0, nullptr, nullptr)) return out;
  const uint32_t h = wma ? wma_open_file(0, path.c_str(), 0, 0, 0x200000)
                         : audio_open_file(0, path.c_str(), 0, 0, 0x200000);
  AUDIO_CHANNELINFO info;
  if (h != 0 && audio_get_info(h, &info)) {
    out.rate = info.freq;
    out.channels = static_cast<uint16_t>(info.chans);
    out.lengthBytes = audio_get_length(h);
    std::vector<int16_t> buffer(8192);
    for (;;) {
      const int32_t got = audio_get_data(h, buffer.data(), buffer.size() * 2);
      if (got <= 0) {
        out.ok = got == 0;
        break;
      }
      out.samples.insert(out.samples.end(), buffer.begin(), buffer.begin() + got / 2);
    }
  }
  audio_free();
  return out;
}

bool HaveTool(const std::string& name) {
  return !QStandardPaths::findExecutable(QString::fromStdString(name)).isEmpty();
}

int RunTool(const std::string& name, const std::vector<std::string>& args, std::string* output) {
  QStringList list;
  for (const auto& a : args) list << QString::fromStdString(a);
  QProcess p;
  p.start(QString::fromStdString(name), list);
  if (!p.waitForStarted(10000) || !p.waitForFinished(60000)) return -1;
  if (output) *output = p.readAllStandardOutput().toStdString();
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

TProbeResult ProbeWithFfprobe(const std::string& path) {
  TProbeResult r;
  if (!HaveTool("ffprobe")) return r;
  std::string text;
  if (RunTool("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries",
                          "format=format_name,duration,bit_rate:stream=codec_name,sample_rate,"
                          "channels",
                          "-of", "default=noprint_wrappers=1", path},
              &text) != 0)
    return r;
  r.ran = true;
  for (const QString& line : QString::fromStdString(text).split('\n')) {
    const int eq = line.indexOf('=');
    if (eq < 0) continue;
    const QString key = line.left(eq).trimmed();
    const QString value = line.mid(eq + 1).trimmed();
    if (key == "format_name") r.formatName = value.toStdString();
    else if (key == "codec_name") r.codecName = value.toStdString();
    else if (key == "sample_rate") r.sampleRate = value.toInt();
    else if (key == "channels") r.channels = value.toInt();
    else if (key == "duration") r.duration = value.toDouble();
    else if (key == "bit_rate") r.bitRate = value.toLongLong();
  }
  return r;
}

double LoudShare(const std::vector<int16_t>& samples, uint16_t channels, uint16_t channel,
                 uint64_t from, uint64_t to, int threshold) {
  if (channels == 0 || to <= from) return 0.0;
  uint64_t loud = 0;
  for (uint64_t i = from; i < to; ++i) {
    const uint64_t k = i * channels + channel;
    if (k >= samples.size()) break;
    if (std::abs(samples[k]) > threshold) ++loud;
  }
  return 100.0 * static_cast<double>(loud) / static_cast<double>(to - from);
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool WriteWholeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out.flush());
}
