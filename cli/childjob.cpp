#include "childjob.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "codecs/audioguards.h"
#include "codecs/convfunc.h"
#include "codecs/eabort.h"
#include "codecs/passhooks.h"
#include "errortext.h"
#include "handles.h"
#include "main/jobdriver.h"
#include "main/mainfunc.h"
#include "main/paths.h"
#include "staging.h"

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

// Called by the engine between two passes; headless it is the only pass hook, so nothing
// sleeps.
void AfterPass(int& sentStage, int& sentPercent, int& sentLength) {
  const int stage = ConvFunc.Stage;
  if (sentLength == 0 && (stage == STAGE_DECODING || stage == STAGE_REMIXING) &&
      ConvFunc.CurrentLength > 0) {
    sentLength = ConvFunc.CurrentLength;
    Send("length " + std::to_string(sentLength));
  }
  const int percent = ConvFunc.CurrentProgress < 0 ? 0 : ConvFunc.CurrentProgress > 100 ? 100
                                                                  : ConvFunc.CurrentProgress;
  if (stage != sentStage || percent != sentPercent) {
    Send("stage " + std::to_string(stage) + " " + std::to_string(percent));
    sentStage = stage;
    sentPercent = percent;
  }
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

// Why no opener takes the file, in words; empty when one does.
std::string WhyNotAudio(const std::string& source) {
  audio_set_config(1, 10);
  TAudioLibrary library(-1, 44100, 0x100);
  if (!library.Ready()) return {};  // cannot tell; do not blame the file
  TSourceHandle handle(OpenSource(source, AUDIO_FLAG_UNICODE, AUDIO_FLAG_UNICODE));
  return handle ? std::string() : OpenErrorText(audio_error_get(), audio_error_detail());
}

// Why a conversion that returned no output failed, in words. Both folders still exist.
std::string Diagnose(const std::string& source, const std::string& destination,
                     const std::string& scratch, const std::string& staging,
                     const std::string& format, int lastStage, int lengthSeconds) {
  if (access(source.c_str(), R_OK) != 0) return "cannot read it: " + ErrorText(errno);
  if (ConvFunc.DecodeResult == DECODE_NO_AUDIO) return "plays for no time";
  // The temporary WAV is the largest file of a conversion: at most 48000 Hz stereo. An
  // encoded output takes far less.
  const off_t wavBytes = off_t(std::max(lengthSeconds, 5)) * 48000 * 4;
  if (LacksRoom(scratch, wavBytes)) return "cannot write to " + FolderOf(scratch) + ": " + ErrorText(ENOSPC);
  // Lossless output (WAV, FLAC) may take about as much room as the temporary WAV.
  if (LacksRoom(staging, format == "wav" || format == "flac" ? wavBytes : wavBytes / 4))
    return "cannot write to " + FolderOf(destination) + ": " + ErrorText(ENOSPC);
  const bool lengthKnown = lengthSeconds > 0;
  const std::string notAudio = lengthKnown ? std::string() : WhyNotAudio(source);
  if (!notAudio.empty()) return notAudio;
  if (IsEncodingStage(lastStage)) return "the encoder failed";
  return "cannot be decoded";
}

}  // namespace

void RunChildJob(const std::string& source, const std::string& destination,
                 const std::string& scratch, const std::string& staging, const TOptions& options,
                 int reportFd) {
  ReportFd = reportFd;
  const pid_t parent = getppid();
  // A parent that dies (killed, not cancelled) takes its running conversions with it.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) CancelRequested = 1;

  SetTemporaryWavPath(scratch + "/decoded.wav");
  const std::string staged = staging + "/output." + options.OutputFormat;
  ConvFunc.Options = options;
  int sentStage = -1, sentPercent = -1;
  int sentLength = 0;  // seconds
  EngineHooks.ProcessEvents = [&] { AfterPass(sentStage, sentPercent, sentLength); };
  EngineHooks.Sleep = nullptr;

  std::string result;
  try {
    const bool converted = MainFunc.ConvertFile(source, staged);
    if (CancelRequested) {
      result = "cancelled";
    } else if (!converted) {
      result = "failed " + Diagnose(source, destination, scratch, staging, options.OutputFormat,
                                    sentStage, sentLength);
    } else if (!MoveReplacing(staged, destination)) {
      result = "failed cannot write to " + FolderOf(destination) + ": " + ErrorText(errno);
    } else {
      result = "done";
    }
  } catch (const EAbort&) {
    result = "cancelled";
  } catch (const std::exception& e) {
    result = std::string("failed ") + e.what();
  }
  RemoveStaging(scratch);
  RemoveStaging(staging);
  Send(result);
  close(reportFd);
  // Not exit(): the parent's buffers and static objects are not this process's to flush.
  _exit(0);
}
