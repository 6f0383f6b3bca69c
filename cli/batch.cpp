#include "batch.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <list>
#include <memory>
#include <set>

#include "childjob.h"
#include "errortext.h"
#include "main/albumentries.h"
#include "main/albumgain.h"
#include "main/jobdriver.h"
#include "main/paths.h"
#include "main/privatefolder.h"

namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t ReceivedSignal = 0;

void OnCancelSignal(int signal) {
  CancelRequested = 1;
  if (ReceivedSignal == 0) ReceivedSignal = signal;
}

// A file gets two minutes to open (a stream without durations is decoded once to learn its
// length), then is stopped only when it makes no progress for a minute: a long file on a
// loaded machine goes on as long as it advances, and only a stuck decoder is stopped.
constexpr auto kFirstWordLimit = std::chrono::seconds(120);
constexpr auto kStillLimit = std::chrono::seconds(60);
// How long cancelled children get to stop by themselves before they are killed.
constexpr auto kCancelGrace = std::chrono::seconds(10);

struct TChild {
  size_t index = 0;
  pid_t pid = -1;
  int fd = -1;
  // The temporary WAV's folder and the output's folder beside the destination, held and
  // locked while in use.
  std::unique_ptr<TPrivateFolder> scratch, staging;
  std::string pending;     // an incomplete line from the pipe
  std::string result;      // the child's last word: done, cancelled, failed REASON
  Clock::time_point started, lastWord;
  bool spoken = false;     // the child has said anything yet
  bool timedOut = false;
  bool open = true;        // the pipe has not ended yet
};

void TakeLine(const std::string& line, TChild& child, TJobState& job) {
  int a = 0, b = 0;
  double seconds = 0;
  if (std::sscanf(line.c_str(), "length %d", &a) == 1) {
    job.lengthSeconds = a;
  } else if (std::sscanf(line.c_str(), "stage %d %d", &a, &b) == 2) {
    job.stage = a;
    job.percent = b;
  } else if (std::sscanf(line.c_str(), "seconds %lf", &seconds) == 1) {
    job.exactSeconds = seconds;
  } else if (line.rfind("loudness ", 0) == 0) {
    TLoudness loudness;
    if (LoudnessFromText(line.substr(9), loudness)) job.loudness = std::move(loudness);
  } else if (line.rfind("note ", 0) == 0) {
    job.note = line.substr(5);
  } else if (line != "alive") {
    child.result = line;
  }
}

void ReadFrom(TChild& child, TJobState& job) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(child.fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return;  // nothing more for now
    if (n == 0) {
      child.open = false;
      return;
    }
    child.pending.append(buffer, size_t(n));
    child.spoken = true;
    child.lastWord = Clock::now();
    size_t end;
    while ((end = child.pending.find('\n')) != std::string::npos) {
      TakeLine(child.pending.substr(0, end), child, job);
      child.pending.erase(0, end + 1);
    }
  }
}

// What became of a child that has ended, from its last word or from how it ended.
void Conclude(const TChild& child, int status, TJobState& job) {
  if (child.result == "done") {
    job.phase = TPhase::Converted;
  } else if (child.result == "cancelled") {
    job.phase = TPhase::Cancelled;
  } else if (child.result == "skipped") {
    job.phase = TPhase::Skipped;
    job.reason = "skipped: " + job.plan->destination + " exists";
  } else if (child.result.rfind("failed ", 0) == 0) {
    job.phase = TPhase::Failed;
    job.reason = child.result.substr(7);
  } else if (child.timedOut) {
    job.phase = TPhase::Failed;
    job.reason = child.spoken ? "made no progress for " + ClockText(kStillLimit.count()) + " and was stopped"
                              : "did not start within " + ClockText(kFirstWordLimit.count()) + " and was stopped";
  } else if (CancelRequested) {
    job.phase = TPhase::Cancelled;
  } else if (WIFSIGNALED(status)) {
    std::string name = strsignal(WTERMSIG(status));
    if (!name.empty()) name[0] = char(std::tolower(static_cast<unsigned char>(name[0])));
    job.phase = TPhase::Failed;
    job.reason = "the conversion crashed (" + name + ")";
  } else {
    job.phase = TPhase::Failed;
    job.reason = "the conversion ended without a result";
  }
}

class TBatch {
 public:
  TBatch(const std::vector<TPlannedJob>& plan, const TOptions& options,
         const TBatchSettings& settings, TReport& report)
      : options_(options), settings_(settings), report_(report), states_(plan.size()),
        albums_(options.ReplayGain, options.OutputFormat, SourcesOf(plan)) {
    encodes_ = options.OutputFormat != "wav";
    for (size_t i = 0; i < plan.size(); ++i) states_[i].plan = &plan[i];
    waiting_ = plan.size();
  }

  TBatchResult Run() {
    start_ = Clock::now();
    for (TJobState& job : states_) {
      if (!job.plan->refusal.empty()) Fail(job, job.plan->refusal, job.plan->skipped);
    }
    while (true) {
      if (!CancelRequested) StartWhatCan();
      if (children_.empty() && (CancelRequested || !AnyWaiting())) break;
      Wait();
      ReapEnded();
      EnforceLimits();
      Refresh(false);
    }
    TBatchResult result;
    result.totals = Totals();
    result.notStarted = waiting_;
    result.interruptedBy = ReceivedSignal;
    return result;
  }

 private:
  // Moves next_ to the first file still waiting; files only ever leave that phase.
  bool AnyWaiting() {
    while (next_ < states_.size() && states_[next_].phase != TPhase::Waiting) ++next_;
    return next_ < states_.size();
  }

  // Fails (or skips) a file that has not started.
  void Fail(TJobState& job, const std::string& reason, bool skipped = false) {
    job.phase = skipped ? TPhase::Skipped : TPhase::Failed;
    job.reason = reason;
    --waiting_;
    Count(job);
    report_.Finished(job);
    FinishForAlbum(size_t(&job - states_.data()));
  }

  static std::vector<std::string> SourcesOf(const std::vector<TPlannedJob>& plan) {
    std::vector<std::string> sources;
    for (const TPlannedJob& job : plan) sources.push_back(job.source);
    return sources;
  }

  // Album tags are written here, in the parent, once the album's last file has ended.
  void FinishForAlbum(size_t index) {
    const TJobState& job = states_[index];
    const bool converted = job.phase == TPhase::Converted;
    for (const std::string& output : albums_.Finished(index, converted ? job.plan->destination : "",
                                                      converted ? job.loudness : std::nullopt))
      report_.Problem(output, "converted, but its album's loudness tags could not be written");
  }

  // Starts waiting files in list order, while there is a free slot. A file whose output
  // replaces an earlier source waits until that source is converted.
  void StartWhatCan() {
    AnyWaiting();
    for (size_t i = next_; i < states_.size() && children_.size() < size_t(settings_.jobs); ++i) {
      TJobState& job = states_[i];
      if (job.phase != TPhase::Waiting) continue;
      bool ready = true;
      for (size_t earlier : job.plan->after) {
        const TPhase phase = states_[earlier].phase;
        if (phase == TPhase::Waiting || phase == TPhase::Running) ready = false;
        else if (phase != TPhase::Converted && job.phase == TPhase::Waiting)
          Fail(job, "its output " + job.plan->destination + " would replace " +
                        states_[earlier].plan->source + ", which was not converted");
      }
      if (ready && job.phase == TPhase::Waiting) Start(i);
    }
  }

  void Start(size_t index) {
    TJobState& job = states_[index];
    // Another run over the same files (or the user) may have made the output meanwhile.
    struct stat info;
    if (!settings_.overwrite && lstat(job.plan->destination.c_str(), &info) == 0) {
      Fail(job, "skipped: " + job.plan->destination + " exists", true);
      return;
    }
    const std::string folder = FolderOf(job.plan->destination);
    TChild child;
    child.index = index;
    // The output folder, and below it the mirrored subfolders, are made as needed.
    if (!options_.OutputFolder.empty()) MakeFolders(folder);
    child.staging = TPrivateFolder::Make(folder, kStagingPrefix);
    if (!child.staging) {
      Fail(job, "cannot write to " + folder + ": " + ErrorText(errno));
      return;
    }
    child.scratch = TPrivateFolder::Make(settings_.tempFolder, kStagingPrefix);
    if (!child.scratch) {
      const int error = errno;
      RemoveFolders(child);
      Fail(job, error == ENOSPC || error == EDQUOT ? "cannot write to temp: " + ErrorText(error)
                                                   : "cannot make a temporary folder in " +
                                                         settings_.tempFolder + ": " + ErrorText(error));
      return;
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
      RemoveFolders(child);
      Fail(job, "cannot start a conversion: " + ErrorText(errno));
      return;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      for (TChild& other : children_) {
        close(other.fd);
        other.scratch->Forget();
        other.staging->Forget();
      }
      // The folders are reached through their descriptors, which the child inherits: a
      // name swapped meanwhile by another user leads nowhere else.
      RunChildJob(job.plan->source, job.plan->destination, child.scratch->Path(),
                  child.staging->Path(), options_, settings_.overwrite, fds[1]);
    }
    close(fds[1]);
    if (pid < 0) {
      close(fds[0]);
      RemoveFolders(child);
      Fail(job, "cannot start a conversion: " + ErrorText(errno));
      return;
    }
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    child.pid = pid;
    child.fd = fds[0];
    child.started = child.lastWord = Clock::now();
    job.phase = TPhase::Running;
    --waiting_;
    children_.push_back(std::move(child));
    Refresh(true);
  }

  static void RemoveFolders(TChild& child) {
    child.scratch.reset();
    child.staging.reset();
  }

  static void MakeFolders(const std::string& folder) {
    for (size_t slash = folder.find('/', 1); ; slash = folder.find('/', slash + 1)) {
      mkdir(folder.substr(0, slash).c_str(), 0777);
      if (slash == std::string::npos) break;
    }
  }

  void Wait() {
    std::vector<pollfd> fds;
    for (const TChild& child : children_) fds.push_back({child.fd, POLLIN, 0});
    // A quarter second at most, so limits, cancels and the live lines are looked after.
    if (poll(fds.data(), fds.size(), 250) <= 0) return;
    for (TChild& child : children_) {
      TJobState& job = states_[child.index];
      const bool lengthKnown = job.lengthSeconds >= 0;
      ReadFrom(child, job);
      if (!lengthKnown && job.lengthSeconds >= 0) {
        lengthSum_ += job.lengthSeconds;
        ++lengthsKnown_;
      }
    }
  }

  void ReapEnded() {
    for (auto it = children_.begin(); it != children_.end();) {
      if (it->open) {
        ++it;
        continue;
      }
      int status = 0;
      while (waitpid(it->pid, &status, 0) < 0 && errno == EINTR) {
      }
      close(it->fd);
      // Whatever the child left (temporary WAV, partial output) goes with its folders.
      RemoveFolders(*it);
      TJobState& job = states_[it->index];
      Conclude(*it, status, job);
      Count(job);
      if (job.phase == TPhase::Converted) DeleteSourceIfAsked(it->index);
      report_.Finished(job);
      FinishForAlbum(it->index);
      it = children_.erase(it);
    }
  }

  void DeleteSourceIfAsked(size_t index) {
    if (!options_.Delete) return;
    TJobState& job = states_[index];
    if (job.plan->sharesOutput || !OutputLetsSourceGo(job.plan->source, job.plan->destination, true))
      return;
    // An album's images and sheet go once all its tracks are converted.
    if (IsAlbumTrackEntry(job.plan->source)) {
      DeleteAlbumOnceComplete(job.plan->source, albumTracksDone_);
      return;
    }
    if (std::remove(job.plan->source.c_str()) != 0)
      job.note = "converted, but the source could not be deleted: " + ErrorText(errno);
  }

  void EnforceLimits() {
    const auto now = Clock::now();
    if (CancelRequested && !cancelSent_) {
      // Children on the terminal had the Ctrl+C too; a signal sent to this process alone
      // reaches them only this way.
      for (const TChild& child : children_) kill(child.pid, SIGTERM);
      cancelSent_ = true;
      cancelDeadline_ = now + kCancelGrace;
    }
    for (TChild& child : children_) {
      const bool overTime = child.spoken ? now - child.lastWord > kStillLimit
                                         : now - child.started > kFirstWordLimit;
      const bool overGrace = cancelSent_ && now > cancelDeadline_;
      if ((overTime || overGrace) && !child.timedOut) {
        child.timedOut = overTime && !cancelSent_;
        kill(child.pid, SIGKILL);
      }
    }
  }

  // The totals walk the whole list: made only when the live lines are drawn.
  void Refresh(bool force) {
    if (report_.DrawDue(force)) report_.Draw(Running(), Totals());
  }

  std::vector<const TJobState*> Running() const {
    std::vector<const TJobState*> running;
    for (const TChild& child : children_) running.push_back(&states_[child.index]);
    return running;
  }

  // Kept as the phases change, so that drawing the live lines costs the running files only.
  TTotals Totals() const {
    TTotals t = counts_;
    t.files = states_.size();
    t.elapsedSeconds = std::chrono::duration<double>(Clock::now() - start_).count();
    double audioMoving = t.audioSecondsDone, audioLeft = 0;
    size_t unknown = waiting_;
    for (const TChild& child : children_) {
      const TJobState& job = states_[child.index];
      if (job.lengthSeconds < 0) {
        ++unknown;
        continue;
      }
      const double fraction = JobFraction(job, encodes_);
      audioMoving += job.lengthSeconds * fraction;
      audioLeft += job.lengthSeconds * (1 - fraction);
    }
    // Files not yet opened are taken as long as the average of those opened.
    if (lengthsKnown_ > 0 && audioMoving > 0 && t.elapsedSeconds > 1) {
      audioLeft += unknown * lengthSum_ / double(lengthsKnown_);
      t.secondsLeft = audioLeft / (audioMoving / t.elapsedSeconds);
    }
    return t;
  }

  void Count(const TJobState& job) {
    if (job.phase == TPhase::Converted) {
      ++counts_.converted;
      counts_.audioSecondsDone += job.exactSeconds >= 0 ? job.exactSeconds
                                                        : std::max(0, job.lengthSeconds);
    }
    counts_.skipped += job.phase == TPhase::Skipped;
    counts_.failed += job.phase == TPhase::Failed;
    counts_.cancelled += job.phase == TPhase::Cancelled;
  }

  const TOptions& options_;
  const TBatchSettings& settings_;
  TReport& report_;
  std::vector<TJobState> states_;
  TAlbumGain albums_;
  std::list<TChild> children_;
  bool encodes_ = true;
  bool cancelSent_ = false;
  size_t next_ = 0;  // no file before it is waiting
  Clock::time_point start_, cancelDeadline_;
  TTotals counts_;           // converted, failed, cancelled, audio done
  std::set<std::string> albumTracksDone_;
  size_t waiting_ = 0;       // files not started yet
  double lengthSum_ = 0;     // of the sources whose length is known
  size_t lengthsKnown_ = 0;
};

}  // namespace

void InstallCancelHandlers() {
  struct sigaction action {};
  action.sa_handler = OnCancelSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a waiting poll wakes up at once
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    // A signal ignored from the start (nohup, a background job of a script) stays ignored.
    struct sigaction previous {};
    if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
  // A closed reader of the report must not kill the batch halfway; children see EPIPE.
  signal(SIGPIPE, SIG_IGN);
}

TBatchResult RunBatch(const std::vector<TPlannedJob>& plan, const TOptions& options,
                      const TBatchSettings& settings, TReport& report) {
  return TBatch(plan, options, settings, report).Run();
}
