#include "report.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>

#include "codecs/convfunc.h"
#include "plan.h"
#include "screentext.h"

namespace {

const char* StageText(int stage) {
  switch (stage) {
    case STAGE_DECODING: return "decoding";
    case STAGE_REMIXING: return "resampling";
    case STAGE_MP3: return "encoding MP3";
    case STAGE_OGG: return "encoding Ogg Vorbis";
    case STAGE_WMA: return "encoding WMA";
    case STAGE_FLAC: return "encoding FLAC";
    case STAGE_OPUS: return "encoding Opus";
    case STAGE_FINISHED: return "finishing";
    default: return "starting";
  }
}

struct TScreenSize {
  size_t columns = 80, rows = 24;
};

TScreenSize ScreenSize() {
  winsize size{};
  TScreenSize screen;
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0) {
    if (size.ws_col > 0) screen.columns = size.ws_col;
    if (size.ws_row > 0) screen.rows = size.ws_row;
  }
  return screen;
}

// One message line, escaped; the line feed is the only control character printed.
void Say(std::FILE* stream, const std::string& text) {
  std::fputs((Escaped(text) + "\n").c_str(), stream);
}

// A running file's line within `width` columns: as much of the head as fits, then the end of
// the name, which tells the files apart.
std::string RunningLine(const TJobState& job, size_t width) {
  char percent[16], stage[64];
  std::snprintf(percent, sizeof percent, "%3d%%  ", job.percent);
  std::snprintf(stage, sizeof stage, "%-19s  ", StageText(job.stage));
  std::string head = std::string(percent) + stage;
  if (Columns(head) + 12 > width) head = percent;  // narrow: the stage goes first
  if (Columns(head) + 4 > width) return CutRight(head + Escaped(job.plan->source), width);
  return head + EscapedEnd(job.plan->source, width - Columns(head));
}

}  // namespace

double JobFraction(const TJobState& job, bool encodes) {
  const double share = job.percent / 100.0;
  if (!encodes) return job.stage == STAGE_FINISHED ? 1.0 : share;
  if (job.stage == STAGE_DECODING || job.stage == STAGE_REMIXING) return share / 2;
  if (IsEncodingStage(job.stage)) return 0.5 + share / 2;
  return job.stage == STAGE_FINISHED ? 1.0 : 0.0;
}

std::string ClockText(double seconds) {
  const long total = std::lround(std::max(0.0, seconds));
  char text[32];
  if (total >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  return text;
}

TReport::TReport(bool live, bool quiet, bool encodes, bool skipSilently)
    : live_(live && !quiet), quiet_(quiet), encodes_(encodes), skipSilently_(skipSilently) {}

TReport::~TReport() { EraseLive(); }

namespace {

// Rows taken by lines of these columns, drawn within `drawnWidth` and now shown `width`
// wide: a terminal that narrows rewraps each line over as many rows as it needs.
size_t RowsTaken(const std::vector<size_t>& columns, size_t drawnWidth, size_t width) {
  size_t rows = 0;
  for (const size_t c : columns)
    rows += width >= drawnWidth || c <= width ? 1 : (c + width - 1) / width;
  return rows;
}

// Moves up to the first live line and clears to the end of the screen.
std::string EraseText(size_t rows) {
  return rows == 0 ? std::string() : "\r\033[" + std::to_string(rows) + "A\033[J";
}

}  // namespace

void TReport::EraseLive() {
  if (liveColumns_.empty()) return;
  std::fputs(EraseText(RowsTaken(liveColumns_, liveWidth_, ScreenSize().columns)).c_str(), stdout);
  liveColumns_.clear();
  std::fflush(stdout);
}

void TReport::Finished(const TJobState& job) {
  EraseLive();
  const TPlannedJob& plan = *job.plan;
  if (job.phase == TPhase::Converted) {
    if (!quiet_) Say(stdout, "converted " + plan.source + " -> " + plan.destination);
    if (!job.note.empty()) Say(stderr, "orvik-convert: " + plan.source + ": " + job.note);
  } else if (job.phase != TPhase::Skipped || !skipSilently_) {
    const std::string reason = job.phase == TPhase::Cancelled ? "cancelled" : job.reason;
    std::fflush(stdout);
    Say(stderr, "orvik-convert: " + plan.source + ": " + reason);
  }
  std::fflush(stdout);
  lastDraw_ = {};  // the live lines come back at once
}

void TReport::Problem(const std::string& path, const std::string& reason) {
  EraseLive();
  std::fflush(stdout);
  Say(stderr, "orvik-convert: " + path + ": " + reason);
}

void TReport::Error(const std::string& text) {
  EraseLive();
  std::fflush(stdout);
  Say(stderr, "orvik-convert: " + text);
}

void TReport::Planned(const TPlannedJob& job) {
  if (job.refusal.empty()) {
    if (!quiet_) Say(stdout, "would convert " + job.source + " -> " + job.destination);
  } else if (!job.skipped || !skipSilently_) {
    std::fflush(stdout);
    Say(stderr, "orvik-convert: " + job.source + ": " + job.refusal);
  }
}

bool TReport::DrawDue(bool force) const {
  return live_ && (force || std::chrono::steady_clock::now() - lastDraw_ >=
                                std::chrono::milliseconds(250));
}

void TReport::Draw(const std::vector<const TJobState*>& running, const TTotals& totals) {
  lastDraw_ = std::chrono::steady_clock::now();
  const TScreenSize size = ScreenSize();
  // The last column stays free: a line that fills it leaves the cursor pending a wrap.
  const size_t width = size.columns > 1 ? size.columns - 1 : 1;
  std::vector<std::string> lines;
  // As many running files as the screen has rows for, beside the total line.
  const size_t shown = std::min(running.size(), size.rows > 2 ? size.rows - 2 : 0);
  for (size_t i = 0; i < shown; ++i) lines.push_back(RunningLine(*running[i], width));

  char total[160];
  const int done = int(totals.converted + totals.skipped + totals.failed + totals.cancelled);
  std::snprintf(total, sizeof total, "%d of %zu files", done, totals.files);
  std::string line = total;
  if (totals.failed) line += ", " + std::to_string(totals.failed) + " failed";
  if (running.size() > shown) line += ", " + std::to_string(running.size() - shown) + " more running";
  std::snprintf(total, sizeof total, ", %.1f min of audio done, ", totals.audioSecondsDone / 60);
  line += total;
  line += totals.secondsLeft < 0 ? "estimating the time left"
                                 : "about " + ClockText(totals.secondsLeft) + " left";
  lines.push_back(CutRight(line, width));

  // Erased and drawn in one write, so the terminal never shows half a redraw.
  std::string screen = EraseText(RowsTaken(liveColumns_, liveWidth_, size.columns));
  liveColumns_.clear();
  for (const std::string& l : lines) {
    screen += l + "\n";
    liveColumns_.push_back(Columns(l));
  }
  liveWidth_ = size.columns;
  std::fputs(screen.c_str(), stdout);
  std::fflush(stdout);
}

void TReport::Summary(const TTotals& totals, bool interrupted, size_t notStarted) {
  EraseLive();
  if (quiet_) return;
  std::string line = std::to_string(totals.converted) + " converted";
  if (totals.skipped) line += ", " + std::to_string(totals.skipped) + " skipped";
  if (totals.failed) line += ", " + std::to_string(totals.failed) + " failed";
  if (totals.cancelled) line += ", " + std::to_string(totals.cancelled) + " cancelled";
  if (notStarted) line += ", " + std::to_string(notStarted) + " not started";
  char audio[96];
  std::snprintf(audio, sizeof audio, "; %.1f min of audio in %s", totals.audioSecondsDone / 60,
                ClockText(totals.elapsedSeconds).c_str());
  line += audio;
  if (interrupted) line += " (interrupted)";
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void TReport::DrySummary(size_t toConvert, size_t skipped, size_t refused) {
  if (quiet_) return;
  std::string line = std::to_string(toConvert) + " would be converted";
  if (skipped) line += ", " + std::to_string(skipped) + " skipped";
  if (refused) line += ", " + std::to_string(refused) + " refused";
  std::printf("%s (dry run: nothing written)\n", line.c_str());
  std::fflush(stdout);
}
