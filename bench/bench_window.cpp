// The window converting a batch, headless (offscreen platform): the Convert button pressed
// on a list, timed to the end of the batch, with every event processing of the batch
// recorded. Prints wall and CPU time and the longest time between two event processings,
// from the press to "Конвертация завершена.", measuring of the list included.
//
//   bench_window CONFIG PROGRAM_DIR FILE...
//
// CONFIG is read as the window reads config.cfg; PROGRAM_DIR stands for the program's
// folder (temp/ goes there). With --make-songs DIR MINUTES it writes instead a long MIDI
// song (song.mid) and a long tracker module (tracker.xm) of about MINUTES each into DIR.
#include <QApplication>
#include <QPushButton>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "codecs/convfunc.h"
#include "codecs/passhooks.h"
#include "cputime.h"
#include "main/listops.h"
#include "main/mainfunc.h"
#include "main/paths.h"
#include "main/uihooks.h"
#include "mainform.h"
#include "midifixture.h"
#include "modulefixture.h"
#include "startup.h"

namespace {
using Clock = std::chrono::steady_clock;

// Processor time of this thread: what the work between two event processings cost, without
// the time the machine gave to other processes.
double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

struct TGaps {
  Clock::time_point last;
  double lastCpu = 0;
  int lastStage = 0;
  double longest = 0, longestCpu = 0;  // ms
  int stageBefore = 0, stageAfter = 0;
  long calls = 0, longestAt = 0, longestCpuAt = 0;  // the calls that ended the longest gaps
  long over50 = 0, over100 = 0;

  void Mark(Clock::time_point now) {
    const double gap = std::chrono::duration<double, std::milli>(now - last).count();
    const double cpu = ThreadCpuMs();
    if (cpu - lastCpu > longestCpu) {
      longestCpu = cpu - lastCpu;
      longestCpuAt = calls;
    }
    over50 += gap > 50;
    over100 += gap > 100;
    if (gap > longest) {
      longest = gap;
      stageBefore = lastStage;
      stageAfter = ConvFunc.Stage;
      longestAt = calls;
    }
    last = now;
    lastCpu = cpu;
    lastStage = ConvFunc.Stage;
  }
};

int MakeSongs(const std::string& folder, int minutes) {
  // A scale of chords over a bass, half a second a note: dense enough to cost the
  // synthesiser what a real song does.
  std::vector<TMidiNote> notes;
  const int beats = minutes * 120;
  for (int beat = 0; beat < beats; ++beat) {
    const uint32_t tick = static_cast<uint32_t>(beat) * 480;
    const uint8_t root = static_cast<uint8_t>(48 + beat % 12);
    for (const uint8_t step : {0, 4, 7, 12})
      notes.push_back({tick, 440, 0, static_cast<uint8_t>(root + step), 90, true});
    notes.push_back({tick, 440, 1, static_cast<uint8_t>(36 + beat % 5), 100, true});
    notes.push_back({tick, 120, 9, static_cast<uint8_t>(beat % 2 ? 38 : 36), 100, true});
  }
  if (!WriteMidiFile(folder + "/song.mid", notes)) return 1;
  // 7.68 s a pass of the pattern.
  const int orders = std::min(256, std::max(1, minutes * 60 * 100 / 768));
  std::vector<TModuleNote> beatNotes;
  for (int row = 0; row < 64; row += 2) beatNotes.push_back({row, (row / 2) % 4});
  return WriteRepeatedXm(folder + "/tracker.xm", orders, beatNotes) ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--make-songs") return MakeSongs(argv[2], std::atoi(argv[3]));
  if (argc < 4) {
    std::fprintf(stderr, "usage: bench_window CONFIG PROGRAM_DIR FILE...\n");
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  SetProgramDirForTesting(std::string(argv[2]) + "/");
  StartUp();
  MainFunc.ReadConfigFrom(argv[1]);
  std::vector<std::string> files(argv + 3, argv + argc);
  AppendSourcePaths(files);
  // A message box would wait for a user.
  UiHooks.MessageBox = [](const std::string& text, const std::string&, int) {
    std::fprintf(stderr, "message: %s\n", text.c_str());
    return ID_OK;
  };

  TGaps gaps;
  const auto engine = EngineHooks.ProcessEvents;
  const auto ui = UiHooks.ProcessEvents;
  EngineHooks.ProcessEvents = [&] {
    gaps.Mark(Clock::now());
    ++gaps.calls;
    engine();
  };
  UiHooks.ProcessEvents = [&] {
    gaps.Mark(Clock::now());
    ++gaps.calls;
    ui();
  };

  const double cpuBefore = SelfCpu();
  const Clock::time_point start = Clock::now();
  gaps.last = start;
  gaps.lastCpu = ThreadCpuMs();
  gaps.lastStage = ConvFunc.Stage;
  Form1->Convert->click();
  gaps.Mark(Clock::now());
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = SelfCpu() - cpuBefore;
  std::printf("files %zu  audio %d s  stage %d  wall %.2f s  cpu %.2f s  event processings %ld  "
              "longest gap %.1f ms (stage %d to %d, before event processing %ld), "
              "gaps over 50 ms %ld, over 100 ms %ld, longest processor time between two %.1f ms "
              "(before event processing %ld)\n",
              files.size(), ConvFunc.TotalLength, ConvFunc.Stage, wall, cpu, gaps.calls,
              gaps.longest, gaps.stageBefore, gaps.stageAfter, gaps.longestAt, gaps.over50,
              gaps.over100, gaps.longestCpu, gaps.longestCpuAt);
  return ConvFunc.Stage == STAGE_FINISHED ? 0 : 1;
}
