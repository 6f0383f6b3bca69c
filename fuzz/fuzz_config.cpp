// Reads a fuzzed config.cfg, writes the settings read and reads them back: what config.cfg
// was read to hold must come back unchanged, without an error.
#include "codecs/convfunc.h"
#include "fuzzcheck.h"
#include "main/config.h"
#include "main/econverterror.h"
#include "main/mainfunc.h"
#include "main/paths.h"

namespace {
void ReadFromScratch() {
  ConvFunc.Options = FirstRunOptions();
  MainFunc.ReadOnlyWarn = true;
  MainFunc.ReadConfig();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SetProgramDirForTesting(ScratchFolder());
  WriteInput(ConfigPath(), data, size);
  try {
    ReadFromScratch();
  } catch (const EConvertError&) {
    // A garbled value stops the reading; the settings read before it stay.
  }
  const TOptions read = ConvFunc.Options;
  const bool warn = MainFunc.ReadOnlyWarn;
  MainFunc.WriteConfig();
  try {
    ReadFromScratch();
  } catch (const EConvertError&) {
    Require(false, "config.cfg as written cannot be read back");
  }
  Require(ConvFunc.Options == read, "settings changed on the way through config.cfg");
  Require(MainFunc.ReadOnlyWarn == warn, "ReadOnlyWarn changed on the way through config.cfg");
  return 0;
}
