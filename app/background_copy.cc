// The background copy. The thread copies in large steps, so that the system's
// copy runs long and the write-back of each step starts while the next is
// copied; it reads the source only at offsets, and writes only through the
// output file.
#include "app/background_copy.h"

#include <algorithm>
#include <new>

#include "app/edit_list.h"
#include "runtime/helper_thread.h"
#include "runtime/seams.h"

namespace {

// Large enough that a step is worth waking the thread for.
int64_t step() { return seams::sizeOf(seams::Size::CopyStep, int64_t{4} << 20); }

}  // namespace

bool worthCopyingInBackground(int64_t size) {
  return size >= 2 * step() && os::copyRangeKeepsPosition();
}

BackgroundCopy::BackgroundCopy(TextFile* source, OutputFile* output, int unitSize,
                               LineEndMender mender)
    : source_(source->handle),
      output_(output),
      mending_(source->stampAtOpen.size - source->stampAtOpen.size % unitSize, unitSize, mender) {
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
  if (allowed_ - copied_ >= step()) changed_.notify_one();
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
                  [this] { return finishing_ || (!failed_ && allowed_ - copied_ >= step()); });
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
    // The old content is read and copied; freeing its cache now spares the
    // end of the run the work when the old file goes.
    if (copied) os::dropCached(source_, from, end - from);
    guard.lock();
    if (copied) copied_ = end;
    else failed_ = true;
  }
}

// Runs of regions alike: the system copies those without a line end to mend.
bool BackgroundCopy::copy(int64_t from, int64_t end, const std::vector<uint64_t>& mendRegions) {
  while (from < end) {
    int64_t stretchEnd = endOfLikeRegions(mendRegions, from, end);
    if (regionMarked(mendRegions, from)) {
      // Read at offsets, as the main thread reads on meanwhile.
      auto readAt = [this](int64_t start, int64_t stop, std::string_view* bytes) {
        in_.resize(static_cast<size_t>(stop - start));
        if (os::readAt(source_, start, in_.data(), stop - start) != stop - start) return false;
        *bytes = std::string_view(in_.data(), in_.size());
        return true;
      };
      if (!mending_.copy(from, stretchEnd, readAt, output_)) return false;
    } else {
      output_->copyFrom(source_, from, stretchEnd - from);
    }
    from = stretchEnd;
  }
  return !output_->file()->writeFailed;
}
