#include "childjob.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "codecs/audioguards.h"
#include "codecs/convfunc.h"
#include "codecs/eabort.h"
#include "codecs/passhooks.h"
#include "errortext.h"
#include "main/mainfunc.h"
#include "main/paths.h"
#include "staging.h"

volatile int CancelRequested = 0;

namespace {

int ReportFd = -1;

void Send(const std::string& line) {
  const std::string text = line + "\n";
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
void AfterPass(int& sentStage, int& sentPercent, bool& sentLength) {
  const int stage = ConvFunc.Stage;
  if (!sentLength && (stage == STAGE_DECODING || stage == STAGE_REMIXING) &&
      ConvFunc.CurrentLength > 0) {
    Send("length " + std::to_string(ConvFunc.CurrentLength));
    sentLength = true;
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

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

bool OpensAsAudio(const std::string& source) {
  audio_set_config(1, 10);
  TAudioLibrary library(-1, 44100, 0x100);
  if (!library.Ready()) return true;  // cannot tell; do not blame the file
  TSourceHandle handle(OpenSource(source, AUDIO_FLAG_UNICODE, AUDIO_FLAG_UNICODE));
  return bool(handle);
}

// Why a conversion that returned no output failed, in words.
std::string Diagnose(const std::string& source, const std::string& destination, int writeError,
                     int lastStage, bool lengthKnown) {
  if (access(source.c_str(), R_OK) != 0) return "cannot read it: " + ErrorText(errno);
  if (writeError == ENOSPC || writeError == EDQUOT || writeError == EFBIG || writeError == EIO)
    return "cannot write to " + FolderOf(destination) + ": " + ErrorText(writeError);
  if (!lengthKnown && !OpensAsAudio(source)) return "not an audio file";
  if (lastStage >= STAGE_MP3 && lastStage <= STAGE_WMA) return "the encoder failed";
  return "cannot be decoded";
}

}  // namespace

void RunChildJob(const std::string& source, const std::string& destination,
                 const std::string& staging, const TOptions& options, int reportFd) {
  ReportFd = reportFd;
  const pid_t parent = getppid();
  // A parent that dies (killed, not cancelled) takes its running conversions with it.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) CancelRequested = 1;

  SetTemporaryWavPath(staging + "/decoded.wav");
  const std::string staged = staging + "/output." + options.OutputFormat;
  ConvFunc.Options = options;
  int sentStage = -1, sentPercent = -1;
  bool sentLength = false;
  EngineHooks.ProcessEvents = [&] { AfterPass(sentStage, sentPercent, sentLength); };
  EngineHooks.Sleep = nullptr;

  std::string result;
  try {
    errno = 0;
    const bool converted = MainFunc.ConvertFile(source, staged);
    const int writeError = errno;
    if (CancelRequested) {
      result = "cancelled";
    } else if (!converted) {
      result = "failed " + Diagnose(source, destination, writeError, sentStage, sentLength);
    } else if (std::rename(staged.c_str(), destination.c_str()) != 0) {
      result = "failed cannot write to " + FolderOf(destination) + ": " + ErrorText(errno);
    } else {
      result = "done";
    }
  } catch (const EAbort&) {
    result = "cancelled";
  } catch (const std::exception& e) {
    result = std::string("failed ") + e.what();
  }
  RemoveStaging(staging);
  Send(result);
  close(reportFd);
  // Not exit(): the parent's buffers and static objects are not this process's to flush.
  _exit(0);
}
