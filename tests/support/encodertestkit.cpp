#include "encodertestkit.h"

#include "codecs/convfunc.h"
#include "codecs/eabort.h"
#include "codecs/passhooks.h"
#include "encodercheck.h"
#include "filesizelimit.h"
#include "signalfixture.h"
#include "wavfixture.h"

void ResetEngine() {
  ConvFunc.CurrentProgress = ConvFunc.TotalProgress = 0;
  ConvFunc.CurrentLength = ConvFunc.CurrentPosition = ConvFunc.TotalPosition = 0;
  ConvFunc.TotalLength = 0;
  ConvFunc.Stage = STAGE_REMIXING;
  EngineHooks = TEngineHooks{};
}

std::vector<int16_t> TestSignal(uint32_t rate, uint16_t chans, uint64_t frames) {
  if (chans == 1) return MakeChirp(rate, frames, 200.0, 4000.0);
  return InterleaveStereo(MakeTone(rate, 1, frames, 440.0), MakeChirp(rate, frames, 200.0, 4000.0));
}

namespace {

bool MakeBadWav(const std::string& wav, const QString& kind) {
  if (kind == "missing") return true;
  if (kind == "good") return WriteWav(wav, 44100, 2, TestSignal(44100, 2, 10000));
  if (kind == "empty") return WriteWholeFile(wav, "");
  if (kind == "headerOnly") return WriteWav(wav, 44100, 2, {});
  if (kind == "halfFrame") {
    return WriteWav(wav, 44100, 2, {}) &&
           WriteWholeFile(wav, ReadWholeFile(wav) + std::string("\x01\x02", 2));
  }
  if (kind == "garbage") return WriteWholeFile(wav, std::string(5000, '\x33'));
  return false;
}

}  // namespace

bool MakeBadInputCase(const std::string& folder, const QString& wavKind,
                      const QString& destKind, const std::string& extension, std::string* wav,
                      std::string* destination) {
  *wav = folder + "/in.wav";
  if (!MakeBadWav(*wav, wavKind)) return false;
  const std::string name = "out." + extension;
  if (destKind == "plain") {
    *destination = folder + "/" + name;
  } else if (destKind == "noFolder") {
    *destination = folder + "/none/" + name;
  } else if (destKind == "underFile") {
    if (!WriteWholeFile(folder + "/plain", "x")) return false;
    *destination = folder + "/plain/" + name;
  } else {
    return false;
  }
  return true;
}

TCancelRun RunWithCancelAt(int cancelAt, const std::function<void()>& encode) {
  TCancelRun run;
  EngineHooks.ProcessEvents = [&run, cancelAt] {
    if (++run.passes == cancelAt) ConvFunc.Stage = STAGE_CANCEL;
  };
  // The hook refers to this frame: it must not outlive it on any way out.
  struct THookReset {
    ~THookReset() { EngineHooks.ProcessEvents = nullptr; }
  } hookReset;
  try {
    encode();
  } catch (const EAbort&) {
    run.aborted = true;
  }
  return run;
}

TLimitedRun RunWithFileSizeLimit(uint64_t bytes, const std::function<int32_t()>& encode) {
  TLimitedRun run;
  TFileSizeLimit full(bytes);
  run.limited = full.Active();
  if (run.limited) run.result = encode();
  return run;
}
