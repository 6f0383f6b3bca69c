// The user-interface thread decides, in list order, what starts and what an ended entry
// leaves behind; each conversion runs on a worker thread with an engine object of its own
// (its own counters and copy of the settings) and publishes its counters at every pass
// through atomics that the user-interface thread reads between its event processing. Only
// the user-interface thread processes events, shows boxes and changes the list's files.
#include "main/paralleljobs.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "codecs/convfunc.h"
#include "codecs/eabort.h"
#include "codecs/passhooks.h"
#include "codecs/truncate.h"
#include "main/jobdriver.h"
#include "main/mainfunc.h"
#include "main/paths.h"

namespace {

// The longest the user-interface thread waits for a conversion to end before it processes
// events again: well within the 100 ms the windows may go unserved.
constexpr auto kEventPeriod = std::chrono::milliseconds(20);

// Wakes the waiting user-interface thread when a conversion ends.
class TEndSignal {
 public:
  void Notify() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ended_ = true;
    }
    wake_.notify_one();
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, kEventPeriod, [this] { return ended_; });
    ended_ = false;
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool ended_ = false;
};

// A drive reads one place at a time: a CD track is not started while another one is still
// being read.
bool IsCdTrack(const std::string& path) { return ExtensionOf(path) == "cda"; }

bool SameEntryOrPlace(const std::string& a, const std::string& b) {
  return a == b || SamePlace(a, b);
}

// One running conversion.
struct TJobSlot {
  TBatchEntry entry;
  uint64_t startOrder = 0;
  TConvFunc engine;
  // The engine's counters as the worker published them at its last pass.
  std::atomic<int32_t> stage{STAGE_NONE};
  std::atomic<int32_t> currentProgress{0};
  std::atomic<int32_t> currentPosition{0};
  std::atomic<int32_t> batchSeconds{0};  // how far this entry has moved the batch
  std::atomic<bool> ended{false};
  // Written by the worker before `ended`, read once it is set.
  TEntryResult result;
  bool stopped = false;        // by a cancel
  std::exception_ptr failure;  // anything else that escaped the conversion
  std::thread thread;

  void Publish() {
    stage.store(engine.Stage);
    currentProgress.store(engine.CurrentProgress);
    currentPosition.store(engine.CurrentPosition);
    batchSeconds.store(engine.TotalPosition);
  }

  void Run(std::string wav, std::string spare, TEndSignal* signal) {
    SetPassReporter([this] { Publish(); });
    SetThreadTemporaryWavPath(wav);
    try {
      result = RunEntry(engine, entry, wav, spare);
    } catch (const EAbort&) {
      stopped = true;
    } catch (...) {
      failure = std::current_exception();
    }
    Publish();
    ended.store(true);
    signal->Notify();
  }

  // True when this entry's files and `other`'s meet, so that the order of the two decides
  // what happens to them (an output in place of a source, two outputs in one place, one
  // source listed twice).
  bool Meets(const TBatchEntry& other) const {
    for (const std::string* mine : {&entry.source, &entry.destination})
      for (const std::string* theirs : {&other.source, &other.destination})
        if (SameEntryOrPlace(*mine, *theirs)) return true;
    return false;
  }
};

class TParallelBatch {
 public:
  explicit TParallelBatch(int32_t jobs) : slots_(static_cast<size_t>(jobs)) {}
  // On every way out, the cancel exception included, no conversion outlives the batch.
  ~TParallelBatch() { StopAll(); }
  TParallelBatch(const TParallelBatch&) = delete;
  TParallelBatch& operator=(const TParallelBatch&) = delete;

  void Run();

 private:
  int FreeSlot() const;
  bool AnyRunning() const;
  bool MayStart(const TBatchEntry& entry) const;
  void Start(int slot, TBatchEntry entry);
  void EndSlot(std::unique_ptr<TJobSlot>& slot);
  void CollectEnded();
  void ShowCounters();
  void StopAll();

  TBatchPlan plan_;
  std::vector<std::unique_ptr<TJobSlot>> slots_;
  TEndSignal signal_;
  uint64_t started_ = 0;
  int32_t endedSeconds_ = 0;  // how far the entries that have ended moved the batch
  int32_t lastCurrentProgress_ = 0;
  int32_t lastStage_ = STAGE_NONE;  // of the entry that ended last
  bool stopped_ = false;
  std::exception_ptr failure_;
};

int TParallelBatch::FreeSlot() const {
  for (size_t k = 0; k < slots_.size(); ++k)
    if (!slots_[k]) return static_cast<int>(k);
  return -1;
}

bool TParallelBatch::AnyRunning() const {
  return std::any_of(slots_.begin(), slots_.end(), [](const auto& s) { return s != nullptr; });
}

bool TParallelBatch::MayStart(const TBatchEntry& entry) const {
  const bool cd = IsCdTrack(entry.source);
  for (const auto& slot : slots_) {
    if (!slot) continue;
    if (slot->Meets(entry)) return false;
    // Until its first pass a slot's stage is STAGE_NONE: it counts as reading too.
    if (cd && IsCdTrack(slot->entry.source) && slot->stage.load() <= STAGE_REMIXING) return false;
  }
  return true;
}

void TParallelBatch::Start(int index, TBatchEntry entry) {
  auto slot = std::make_unique<TJobSlot>();
  slot->entry = std::move(entry);
  slot->startOrder = started_++;
  // Each routine gets its own copy of the settings, taken as the entry starts.
  slot->engine.Options = ConvFunc.Options;
  slot->engine.TotalLength = ConvFunc.TotalLength;
  const int slots = static_cast<int>(slots_.size());
  std::string wav = TemporaryWavPathForSlot(index);
  std::string spare = TemporaryWavPathForSlot(index + slots);
  TJobSlot* running = slot.get();
  slot->thread = std::thread([running, wav = std::move(wav), spare = std::move(spare),
                              signal = &signal_] { running->Run(wav, spare, signal); });
  slots_[static_cast<size_t>(index)] = std::move(slot);
}

// On the user-interface thread, once the slot's worker has ended.
void TParallelBatch::EndSlot(std::unique_ptr<TJobSlot>& slot) {
  slot->thread.join();
  if (slot->failure) {
    if (!failure_) failure_ = slot->failure;
  } else if (slot->stopped) {
    stopped_ = true;
  } else {
    // A failed entry counts for nothing, so a batch with a failure ends below 100 percent.
    if (slot->result.converted) endedSeconds_ += slot->batchSeconds.load();
    // What the engine tells of the file it did last, as one entry at a time leaves it.
    ConvFunc.DecodeResult = slot->engine.DecodeResult;
    ConvFunc.SourceTags = slot->engine.SourceTags;
    ConvFunc.CurrentLength = slot->engine.CurrentLength;
    if (slot->stage.load() != STAGE_NONE) {
      lastCurrentProgress_ = slot->currentProgress.load();
      lastStage_ = slot->stage.load();
    }
    plan_.Finish(slot->entry, slot->result);
  }
  slot.reset();
}

void TParallelBatch::CollectEnded() {
  std::vector<std::unique_ptr<TJobSlot>*> ended;
  for (auto& slot : slots_)
    if (slot && slot->ended.load()) ended.push_back(&slot);
  // Entries that ended together are finished in the order they started.
  std::sort(ended.begin(), ended.end(),
            [](const auto* a, const auto* b) { return (*a)->startOrder < (*b)->startOrder; });
  for (auto* slot : ended) EndSlot(*slot);
}

void TParallelBatch::ShowCounters() {
  int32_t seconds = endedSeconds_;
  const TJobSlot* first = nullptr;
  for (const auto& slot : slots_) {
    if (!slot) continue;
    seconds += slot->batchSeconds.load();
    if (!first || slot->startOrder < first->startOrder) first = slot.get();
  }
  ConvFunc.TotalPosition = seconds;
  ConvFunc.TotalProgress =
      TruncToInt(static_cast<double>(seconds) / ConvFunc.TotalLength * 100.0);
  // An entry that has not reached its first step yet leaves the stage shown as it was.
  if (first && first->stage.load() != STAGE_NONE) {
    ConvFunc.Stage = first->stage.load();
    ConvFunc.CurrentProgress = first->currentProgress.load();
    ConvFunc.CurrentPosition = first->currentPosition.load();
  }
}

void TParallelBatch::StopAll() {
  StopAllConversions(true);
  for (auto& slot : slots_)
    if (slot) slot->thread.join();
  StopAllConversions(false);
  // An entry that ended before the stop reached it is finished as it would have been.
  for (auto& slot : slots_)
    if (slot && !slot->stopped && !slot->failure) plan_.Finish(slot->entry, slot->result);
}

void TParallelBatch::Run() {
  // A cancel left from the batch before is no request of this one; it stays shown as long
  // as no entry has taken a step, as it would one entry at a time.
  const int32_t stageBefore = ConvFunc.Stage;
  if (ConvFunc.Stage == STAGE_CANCEL) ConvFunc.Stage = STAGE_NONE;
  endedSeconds_ = ConvFunc.TotalPosition;
  size_t next = 0;
  bool listEnded = false;
  std::optional<TBatchEntry> waiting;  // prepared, not yet started
  for (;;) {
    CollectEnded();
    if (failure_) std::rethrow_exception(failure_);
    if (stopped_ || ConvFunc.Stage == STAGE_CANCEL) throw EAbort();
    // Entries start in list order; one that must wait holds up the ones after it.
    while (!listEnded && FreeSlot() >= 0) {
      if (!waiting) {
        // The warning box comes between entries, as one entry at a time shows it: after
        // the entries before have ended.
        if (AnyRunning() && plan_.WarnsBeforeNext()) break;
        TBatchEntry entry;
        // The count is read anew before every entry: clearing the list ends the batch.
        if (!plan_.Prepare(next, entry)) {
          listEnded = true;
          break;
        }
        ++next;
        waiting = std::move(entry);
        // The warning box may have been open for a while.
        if (ConvFunc.Stage == STAGE_CANCEL) throw EAbort();
      }
      if (!MayStart(*waiting)) break;
      ConvFunc.TotalPosition = endedSeconds_;
      const bool heldBack = plan_.HoldsBack(*waiting);
      endedSeconds_ = ConvFunc.TotalPosition;
      if (!heldBack) Start(FreeSlot(), std::move(*waiting));
      waiting.reset();
    }
    if (listEnded && !AnyRunning()) break;
    ShowCounters();
    signal_.Wait();
    if (EngineHooks.ProcessEvents) EngineHooks.ProcessEvents();
  }
  ConvFunc.TotalPosition = endedSeconds_;
  ConvFunc.TotalProgress =
      TruncToInt(static_cast<double>(endedSeconds_) / ConvFunc.TotalLength * 100.0);
  if (lastStage_ != STAGE_NONE) {
    ConvFunc.CurrentProgress = lastCurrentProgress_;
    ConvFunc.Stage = lastStage_;
  } else {
    ConvFunc.Stage = stageBefore;
  }
}

}  // namespace

void ConvertAllAtOnce(int32_t jobs) {
  TParallelBatch batch(jobs);
  batch.Run();
}
