// The background copy. The thread copies in large steps, so that the system's
// copy runs long and the write-back of each step starts while the next is
// copied; it touches no file but through the two handles, and never the
// output's buffer.
#include "app/background_copy.h"

#include <algorithm>
#include <new>

#include "app/edit_list.h"
#include "app/helper_thread.h"

namespace {

// Large enough that a step is worth waking the thread for.
constexpr int64_t kStep = int64_t{4} << 20;
// How much of a stretch to mend is read at once.
constexpr int64_t kMendPiece = int64_t{1} << 20;

}  // namespace

bool worthCopyingInBackground(int64_t size) {
  return size >= 2 * kStep && os::copyRangeKeepsPosition();
}

BackgroundCopy::BackgroundCopy(TextFile* source, TextFile* output, int unitSize,
                               LineEndMender mender)
    : unitSize_(unitSize), mender_(mender) {
  source_ = source->handle;
  output_ = output->handle;
  sourceSize_ = source->stampAtOpen.size;
  // Without a thread the rewrite copies everything itself.
  startHelperThread(&thread_, [this] { copyLoop(); });
}

BackgroundCopy::~BackgroundCopy() { finish(); }

void BackgroundCopy::allowUpTo(int64_t end, const std::vector<uint64_t>& mendRegions) {
  if (!thread_.joinable()) return;
  std::lock_guard<std::mutex> guard(lock_);
  if (end <= allowed_) return;
  allowed_ = end;
  mendRegions_ = mendRegions;
  if (allowed_ - copied_ >= kStep) changed_.notify_one();
}

int64_t BackgroundCopy::finish() {
  if (thread_.joinable()) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      finishing_ = true;
    }
    changed_.notify_one();
    thread_.join();
  }
  return failed_ ? -1 : copied_;
}

void BackgroundCopy::copyLoop() {
  std::unique_lock<std::mutex> guard(lock_);
  std::vector<uint64_t> mendRegions;
  for (;;) {
    changed_.wait(guard,
                  [this] { return finishing_ || (!failed_ && allowed_ - copied_ >= kStep); });
    int64_t from = copied_, end = allowed_;
    if (failed_ || end == from) return;  // only when finishing
    bool copied = false;
    try {
      mendRegions = mendRegions_;
      guard.unlock();
      copied = copy(from, end, mendRegions);
    } catch (const std::bad_alloc&) {
      // Out of memory here is a failed copy, as on the main thread.
      if (guard.owns_lock()) guard.unlock();
    }
    if (copied) {
      os::startWriteBack(output_);
      // The old content is read and copied; freeing its cache now spares
      // the end of the run the work when the old file goes.
      os::dropCached(source_, from, end - from);
    }
    guard.lock();
    if (copied) copied_ = end;
    else failed_ = true;
  }
}

// Runs of regions alike: the system copies those without a line end to mend.
bool BackgroundCopy::copy(int64_t from, int64_t end, const std::vector<uint64_t>& mendRegions) {
  while (from < end) {
    int64_t stretchEnd = endOfLikeRegions(mendRegions, from, end);
    bool copied = regionMarked(mendRegions, from)
                      ? copyMending(from, stretchEnd)
                      : os::copyRange(source_, from, output_, stretchEnd - from);
    if (!copied) return false;
    from = stretchEnd;
  }
  return true;
}

// The units from from to end, with the unit before and after them read too,
// so that a CR or an LF at either edge is known for half of a CR LF or not.
bool BackgroundCopy::copyMending(int64_t from, int64_t end) {
  const int64_t unit = unitSize_;
  while (from < end) {
    int64_t piece = std::min(end, from + kMendPiece);
    int64_t readFrom = from > 0 ? from - unit : 0;
    int64_t readTo = std::min(sourceSize_, piece + unit);
    in_.resize(static_cast<size_t>(readTo - readFrom));
    if (os::readAt(source_, readFrom, in_.data(), readTo - readFrom) != readTo - readFrom)
      return false;
    const unsigned char* units = in_.data() + (from - readFrom);
    size_t count = static_cast<size_t>((piece - from) / unit);
    const unsigned char* after = readTo >= piece + unit ? units + count * unit : nullptr;
    out_.resize(2 * count * static_cast<size_t>(unit) + 16);
    char* outEnd =
        mender_(readFrom < from ? units - unit : nullptr, units, count, after, out_.data());
    if (!os::writeFully(output_, out_.data(), outEnd - out_.data())) return false;
    from = piece;
  }
  return true;
}
