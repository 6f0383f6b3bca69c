// A batch run several entries at a time.
#pragma once

#include <cstdint>

// Converts MainFunc.FileList as ConvertAll does, with up to `jobs` conversions running at
// the same time, each on a thread of its own. The user-interface thread keeps everything
// that must follow the list's order (output names, the warning box, holding entries back,
// deleting sources) and processes events while the conversions run; entries whose files
// meet never run at the same time, and CD tracks are read one at a time. The progress
// counters of ConvFunc show the whole batch and the running entry that started first.
// Throws EAbort when the user cancels; every running conversion is then stopped and leaves
// no partial output and no temporary WAV.
void ConvertAllAtOnce(int32_t jobs);
