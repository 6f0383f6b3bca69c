#include "childjob.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>

#include "codecs/audioguards.h"
#include "codecs/convfunc.h"
#include "codecs/eabort.h"
#include "codecs/passhooks.h"
#include "errortext.h"
#include "main/albumentries.h"
#include "handles.h"
#include "main/albumgain.h"
#include "main/jobdriver.h"
#include "main/mainfunc.h"
#include "main/paths.h"
#include "main/outputplace.h"

volatile int CancelRequested = 0;

namespace {

int ReportFd = -1;

void Send(const std::string& line) {
  std::string text = line;
  // One message, one line, whatever a library's text holds.
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  text += '\n';
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = write(ReportFd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    // Nobody listens any more: stop converting rather than work for nothing.
    if (n <= 0) {
      CancelRequested = 1;
      return;
    }
    written += size_t(n);
  }
}

// What the parent has been told last.
struct TSent {
  int stage = -1, percent = -1;
  int length = 0;    // whole seconds
  int position = 0;  // the engine's position in the source, whole seconds
  std::chrono::steady_clock::time_point at{};
};

// Called by the engine between two passes; headless it is the only pass hook, so nothing
// sleeps.
void AfterPass(TSent& sent) {
  const int stage = ConvFunc.Stage;
  if (sent.length == 0 && (stage == STAGE_DECODING || stage == STAGE_REMIXING) &&
      ConvFunc.CurrentLength > 0) {
    sent.length = ConvFunc.CurrentLength;
    Send("length " + std::to_string(sent.length));
  }
  const int percent = std::clamp(int(ConvFunc.CurrentProgress), 0, 100);
  const auto now = std::chrono::steady_clock::now();
  if (stage != sent.stage || percent != sent.percent) {
    Send("stage " + std::to_string(stage) + " " + std::to_string(percent));
    sent.stage = stage;
    sent.percent = percent;
    sent.at = now;
  } else if (ConvFunc.CurrentPosition != sent.position && now - sent.at > std::chrono::seconds(2)) {
    // A long file moves through one percent slowly; the parent must still see it move.
    Send("alive");
    sent.at = now;
  }
  sent.position = ConvFunc.CurrentPosition;
  if (CancelRequested) ConvFunc.Stage = STAGE_CANCEL;
}

// True when the folder's file system has no room for `bytes` more. The conversion's own
// files are gone by now, so the room it lacked is asked for again; the error of its failed
// write is lost in the libraries' clean-up.
bool LacksRoom(const std::string& folder, off_t bytes) {
  const std::string probe = folder + "/room";
  const TFd fd(open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!fd) return errno == ENOSPC || errno == EDQUOT;
  int error = fallocate(fd.Get(), 0, 0, bytes) == 0 ? 0 : errno;
  if (error == EOPNOTSUPP) {
    struct statvfs room;
    error = fstatvfs(fd.Get(), &room) == 0 && off_t(room.f_bavail * room.f_frsize) < bytes ? ENOSPC : 0;
  }
  unlink(probe.c_str());
  return error == ENOSPC || error == EDQUOT || error == EFBIG;
}

// The length of a file the audio layer opens, exact to the sample; -1 when none opens it
// (`whyNot` then says why, in words), 0 when the layer cannot be started (nothing is then
// blamed on the file).
double SecondsOf(const std::string& path, std::string* whyNot = nullptr) {
  audio_set_config(1, 10);
  TAudioLibrary library(-1, 44100, 0x100);
  if (!library.Ready()) return 0;
  TSourceHandle handle(OpenSource(path, AUDIO_FLAG_UNICODE, AUDIO_FLAG_UNICODE));
  if (!handle) {
    if (whyNot) *whyNot = OpenErrorText(audio_error_get(), audio_error_detail());
    return -1;
  }
  return audio_bytes_to_seconds(handle.Get(), audio_get_length(handle.Get()));
}

// The rate and channel count of the temporary WAV for this output format.
off_t WavBytesPerSecond(const TOptions& o) {
  const std::string& f = o.OutputFormat;
  const auto rate = f == "wav"    ? o.WAVFreq
                    : f == "mp3"  ? o.MP3Freq
                    : f == "wma"  ? 44100
                    : f == "flac" ? o.FLACFreq
                    : f == "opus" ? 48000
                                  : o.OGGFreq;
  const auto channels = f == "wav"    ? o.WAVNumChannels
                        : f == "mp3"  ? o.MP3NumChannels
                        : f == "wma"  ? 2
                        : f == "flac" ? o.FLACNumChannels
                        : f == "opus" ? o.OpusNumChannels
                                      : o.OGGNumChannels;
  return off_t(std::clamp(int(rate), 8000, 48000)) * std::clamp(int(channels), 1, 2) * 2;
}

// Why a conversion that returned no output failed, in words. Both folders still exist.
std::string Diagnose(const std::string& source, const std::string& destination,
                     const std::string& scratch, const std::string& staging,
                     const TOptions& options, int lastStage) {
  if (access(SourcePlace(source).c_str(), R_OK) != 0) return "cannot read it: " + ErrorText(errno);
  if (ConvFunc.DecodeResult == DECODE_NO_AUDIO) return "plays for no time";
  // The engine looks for room before it writes anything, so the length may never have been
  // told: it is measured here, the way the engine measures it.
  std::string whyNot;
  const double seconds = SecondsOf(source, &whyNot);
  if (seconds < 0) return whyNot.empty() ? std::string("not an audio file") : whyNot;
  // The temporary WAV is the largest file of a conversion; an encoded output takes far less,
  // but a lossless one (WAV, FLAC) about as much.
  const off_t wavBytes = off_t(std::max(seconds, 1.0) * double(WavBytesPerSecond(options))) + 4096;
  if (LacksRoom(scratch, wavBytes)) return "cannot write to temp: " + ErrorText(ENOSPC);
  const bool lossless = options.OutputFormat == "wav" || options.OutputFormat == "flac";
  if (LacksRoom(staging, lossless ? wavBytes : wavBytes / 4))
    return "cannot write to " + FolderOf(destination) + ": " + ErrorText(ENOSPC);
  if (IsEncodingStage(lastStage)) return "the encoder failed";
  return "cannot be decoded";
}

}  // namespace

void RunChildJob(const std::string& source, const std::string& destination,
                 const std::string& scratch, const std::string& staging, const TOptions& options,
                 bool overwrite, int reportFd) {
  ReportFd = reportFd;
  const pid_t parent = getppid();
  // A parent that dies (killed, not cancelled) takes its running conversions with it.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) CancelRequested = 1;

  SetTemporaryWavPath(scratch + "/decoded.wav");
  const std::string staged = staging + "/output." + options.OutputFormat;
  ConvFunc.Options = options;
  TSent sent;
  EngineHooks.ProcessEvents = [&] { AfterPass(sent); };
  EngineHooks.Sleep = nullptr;

  std::string result;
  try {
    const bool converted = MainFunc.ConvertFile(source, staged);
    if (CancelRequested) {
      result = "cancelled";
    } else if (!converted) {
      result = "failed " + Diagnose(source, destination, scratch, staging, options, sent.stage);
    } else {
      // Measured before it leaves the private folder: the summary counts exact lengths.
      const double seconds = SecondsOf(staged);
      if (seconds >= 0) Send("seconds " + std::to_string(seconds));
      // Track tags go in while the output is still private; the parent finishes albums.
      // Measuring a long output moves no counter, so the parent is told it goes on.
      EngineHooks.ProcessEvents = [&sent] {
        const auto now = std::chrono::steady_clock::now();
        if (now - sent.at > std::chrono::seconds(2)) {
          Send("alive");
          sent.at = now;
        }
        if (CancelRequested) ConvFunc.Stage = STAGE_CANCEL;
      };
      bool tagFailed = false;
      const auto loudness = TagTrackLoudness(staged, options.OutputFormat, options.ReplayGain, &tagFailed);
      if (loudness) Send("loudness " + LoudnessToText(*loudness));
      if (tagFailed) Send("note converted, but its loudness tags could not be written");
      if (LandOutput(staged, destination, overwrite ? TLanding::Replace : TLanding::KeepExisting))
        result = "done";
      else if (errno == EEXIST)
        result = "skipped";
      else
        result = "failed cannot write to " + FolderOf(destination) + ": " + ErrorText(errno);
    }
  } catch (const EAbort&) {
    result = "cancelled";
  } catch (const std::exception& e) {
    result = std::string("failed ") + e.what();
  }
  // What is left in the folders goes with them, removed by the parent.
  Send(result);
  close(reportFd);
  // Not exit(): the parent's buffers and static objects are not this process's to flush.
  _exit(0);
}
