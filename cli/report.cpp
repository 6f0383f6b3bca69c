#include "report.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>

#include "codecs/convfunc.h"

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

size_t TerminalWidth() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 20) return size.ws_col;
  return 80;
}

// Characters of UTF-8 text (continuation bytes not counted).
size_t Width(const std::string& text) {
  size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

// Keeps the end of the text, the file's name, within `width` characters: a line that wraps
// would break the redrawing in place.
std::string FitLeft(const std::string& text, size_t width) {
  if (Width(text) <= width) return text;
  size_t drop = Width(text) - width + 1, i = 0;
  while (i < text.size() && drop > 0) {
    ++i;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
    --drop;
  }
  return "…" + text.substr(i);
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

TReport::TReport(bool live, bool quiet, bool encodes)
    : live_(live && !quiet), quiet_(quiet), encodes_(encodes) {}

TReport::~TReport() { EraseLive(); }

void TReport::EraseLive() {
  if (liveLines_ == 0) return;
  // Up to the first live line, then clear to the end of the screen.
  std::printf("\r\033[%zuA\033[J", liveLines_);
  liveLines_ = 0;
  std::fflush(stdout);
}

void TReport::Finished(const TJobState& job) {
  EraseLive();
  const TPlannedJob& plan = *job.plan;
  if (job.phase == TPhase::Converted) {
    if (!quiet_) std::printf("converted %s -> %s\n", plan.source.c_str(), plan.destination.c_str());
    if (!job.note.empty()) std::fprintf(stderr, "orvik-convert: %s: %s\n", plan.source.c_str(), job.note.c_str());
  } else {
    const std::string reason = job.phase == TPhase::Cancelled ? "cancelled" : job.reason;
    std::fflush(stdout);
    std::fprintf(stderr, "orvik-convert: %s: %s\n", plan.source.c_str(), reason.c_str());
  }
  std::fflush(stdout);
  lastDraw_ = {};  // the live lines come back at once
}

void TReport::Problem(const std::string& path, const std::string& reason) {
  EraseLive();
  std::fflush(stdout);
  std::fprintf(stderr, "orvik-convert: %s: %s\n", path.c_str(), reason.c_str());
}

bool TReport::DrawDue(bool force) const {
  return live_ && (force || std::chrono::steady_clock::now() - lastDraw_ >=
                                std::chrono::milliseconds(250));
}

void TReport::Draw(const std::vector<const TJobState*>& running, const TTotals& totals) {
  lastDraw_ = std::chrono::steady_clock::now();
  const size_t width = TerminalWidth() - 1;
  std::string screen;
  for (const TJobState* job : running) {
    char head[64];
    std::snprintf(head, sizeof head, "%3d%%  %-19s  ", job->percent, StageText(job->stage));
    screen += head + FitLeft(job->plan->source, width - Width(head)) + "\n";
  }
  char total[160];
  const int done = int(totals.converted + totals.failed + totals.cancelled);
  std::snprintf(total, sizeof total, "%d of %zu files", done, totals.files);
  std::string line = total;
  if (totals.failed) line += ", " + std::to_string(totals.failed) + " failed";
  std::snprintf(total, sizeof total, ", %.1f min of audio done, ", totals.audioSecondsDone / 60);
  line += total;
  line += totals.secondsLeft < 0 ? "estimating the time left"
                                 : "about " + ClockText(totals.secondsLeft) + " left";
  screen += FitLeft(line, width) + "\n";
  // Erased and drawn in one write, so the terminal never shows half a redraw.
  std::string erase;
  if (liveLines_ > 0) erase = "\r\033[" + std::to_string(liveLines_) + "A\033[J";
  std::fputs((erase + screen).c_str(), stdout);
  std::fflush(stdout);
  liveLines_ = running.size() + 1;
}

void TReport::Summary(const TTotals& totals, bool interrupted, size_t notStarted) {
  EraseLive();
  if (quiet_) return;
  std::string line = std::to_string(totals.converted) + " converted";
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
