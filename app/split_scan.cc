// The split: start, claim, join, and the helper's half done by the main
// thread where the helper could not do it.
#include "app/split_scan.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>

#include "app/block_scan.h"
#include "app/look_back.h"
#include "runtime/helper_thread.h"
#include "runtime/os.h"
#include "runtime/seams.h"

namespace {

// The least that is left of a file for its second half to be scanned on a
// thread of its own: each half then takes milliseconds.
constexpr int64_t kSplitMinimum = int64_t{4} << 20;
// How far past the middle a split looks for a line's start.
constexpr int64_t kSplitReach = int64_t{1} << 20;

// Where the second half starts: half of what the first has not read (or
// forced, where not -1), after the first line end there, and never before
// what the first has read. -1 for no split. Runs under limit's lock, which
// the first half's reads wait for, and lowers its end to the split.
template <int kSize, bool kBigEndian>
int64_t claimSecondHalf(ReadLimit& limit, TextFile* file, int64_t unitsStart, int64_t forced) {
  const int64_t size = file->stampAtOpen.size;
  auto chooseSplit = [&](int64_t readFrom, int64_t readUpTo) -> int64_t {
    if (forced < 0 && size - readFrom < kSplitMinimum) return -1;
    int64_t target = std::max(readUpTo, forced >= 0 ? forced : readFrom + (size - readFrom) / 2);
    target -= (target - unitsStart) % kSize;
    // (A CR LF split between the halves stays one line end: the rewrite
    // mends by the bytes, and both halves mark the stretch for a look.)
    std::string bytes;
    for (int64_t at = target; at < size && at - target < kSplitReach;) {
      bytes.resize(static_cast<size_t>(std::min(lookBackSize(), size - at)));
      int64_t got = os::readAt(file->handle, at, bytes.data(), static_cast<int64_t>(bytes.size()));
      if (got < kSize) break;
      size_t count = static_cast<size_t>(got) / kSize;
      size_t i = Units<kSize, kBigEndian>::firstLineEnd(
          reinterpret_cast<const unsigned char*>(bytes.data()), count);
      if (i < count) return at + static_cast<int64_t>((i + 1) * kSize);
      at += static_cast<int64_t>(count * kSize);
    }
    return -1;  // none near, or a file that grew meanwhile
  };
  try {
    return limit.lowerEnd(chooseSplit);
  } catch (const std::bad_alloc&) {
    return -1;  // no split, and the first half reads on
  }
}

// The second half: its own table, state and edits, starting in a context
// that no key names (the one that the first half ends in).
template <int kSize, bool kBigEndian>
struct SecondHalf {
  SecondHalf() : state(table), startContext(addUnnamedEntry(table)) {
    state.current = startContext;
    state.insideMacroUnknown = true;
  }
  ~SecondHalf() {
    limit.stop();
    if (thread.joinable()) thread.join();
  }

  // On the helper thread: claims the split, then scans from it.
  void run(ReadLimit* firstLimit, TextFile* file, TextFormat format, int64_t unitsStart,
           int64_t forced) {
    int64_t split = claimSecondHalf<kSize, kBigEndian>(*firstLimit, file, unitsStart, forced);
    {
      std::lock_guard<std::mutex> guard(claimLock);
      start = split;
      claimed = true;
    }
    claimChanged.notify_all();
    if (split < 0) return;
    try {
      LookBack lookBack(file->handle, format, unitsStart, split);
      state.lookBack = &lookBack;
      BlockScan<kSize, kBigEndian> scan(file, format, state, &edits, split, ReadBy::Offset, &limit);
      while (scan.step())
        if (seams::helperScanFails()) throw std::bad_alloc();
      state.lookBack = nullptr;
      readFailed = scan.readFailed() || lookBack.failed();
      scanned = true;
    } catch (...) {
      scanned = false;  // memory ran out here: the main thread scans this half again
    }
  }

  // Waits until the helper has chosen the split.
  void waitForClaim() {
    std::unique_lock<std::mutex> guard(claimLock);
    claimChanged.wait(guard, [this] { return claimed; });
  }

  ProcedureTable table;
  ScanState state;
  EditList edits;
  const EntryIndex startContext;
  ReadLimit limit;  // stopped to end the scan early
  std::mutex claimLock;
  std::condition_variable claimChanged;
  bool claimed = false;
  int64_t start = -1;  // where it starts, once claimed; -1 for no split
  bool scanned = false, readFailed = false;
  std::thread thread;
};

template <int kSize, bool kBigEndian>
class SplitScan {
 public:
  // The file's units start at unitsStart, its position.
  SplitScan(TextFile* file, TextFormat format, ScanState& state, EditList* edits,
            BackgroundCopy* copy, int64_t unitsStart)
      : file_(file),
        format_(format),
        state_(state),
        edits_(edits),
        copy_(copy),
        unitsStart_(unitsStart),
        first_(file, format, state, edits, unitsStart_, ReadBy::Position, &firstLimit_) {}

  void run() {
    for (;;) {
      if (!splitDecided_) considerSplit(first_.readEnd());
      if (!first_.step()) break;
      if (copy_)
        copy_->allowUpTo(std::min(edits_->firstInvocation, first_.knownUpTo()),
                         edits_->mendRegions());
    }
    joinSecondHalf();
  }

 private:
  // where is how far the first half has read.
  void considerSplit(int64_t where) {
    // Not where reading at an offset moves the position.
    if (!os::copyRangeKeepsPosition()) {
      splitDecided_ = true;
      return;
    }
    const int64_t forced = seams::scanSplitTarget();
    if (forced < 0 && edits_->firstInvocation == INT64_MAX) return;  // the copy goes on
    splitDecided_ = true;
    if (forced < 0 && file_->stampAtOpen.size - where < kSplitMinimum) return;
    try {
      second_ = std::make_unique<SecondHalf<kSize, kBigEndian>>();
    } catch (const std::bad_alloc&) {
      return;  // the first half reads on to the end
    }
    SecondHalf<kSize, kBigEndian>* half = second_.get();
    ReadLimit* firstLimit = &firstLimit_;
    TextFile* file = file_;
    bool started = startHelperThread(&half->thread, [=, format = format_, start = unitsStart_] {
      half->run(firstLimit, file, format, start, forced);
    });
    if (!started) {
      second_.reset();
      return;
    }
    // A split where it is asked for, whatever the thread's start: the first
    // half reads on once the split is chosen.
    if (forced >= 0) half->waitForClaim();
  }

  void joinSecondHalf() {
    if (!second_) return;
    if (file_->readFailed) second_->limit.stop();  // the scan is incomplete anyway
    second_->thread.join();
    const int64_t split = second_->start;
    if (split < 0 || file_->readFailed) {
      second_.reset();
      return;
    }
    if (second_->scanned) {
      if (second_->readFailed) file_->readFailed = true;
      edits_->append(std::move(second_->edits),
                     ::joinSecondHalf(state_, second_->state, second_->startContext));
      second_.reset();
      return;
    }
    // The helper ran out of memory: its half is scanned here, where the
    // first half stopped, in the first half's own state. The first half's
    // end was no end of the file: its last line needs no line end added.
    second_.reset();
    edits_->missingLineEnd = false;
    ReadLimit none;
    BlockScan<kSize, kBigEndian> rest(file_, format_, state_, edits_, split, ReadBy::Position,
                                      &none);
    while (rest.step()) {}
  }

  TextFile* file_;
  TextFormat format_;
  ScanState& state_;
  EditList* edits_;
  BackgroundCopy* copy_;
  const int64_t unitsStart_;
  ReadLimit firstLimit_;
  BlockScan<kSize, kBigEndian> first_;
  bool splitDecided_ = false;
  std::unique_ptr<SecondHalf<kSize, kBigEndian>> second_;
};

}  // namespace

void scanFile(TextFile* file, TextFormat format, ScanState& state, EditList* edits,
              BackgroundCopy* copy) {
  // Where the position is unknown, so is where the units start: the read
  // has failed already.
  const int64_t unitsStart = filePosition(file);
  if (unitsStart < 0) return;
  withUnitsOf(format, [&]<int kSize, bool kBigEndian>() {
    SplitScan<kSize, kBigEndian>(file, format, state, edits, copy, unitsStart).run();
  });
}
