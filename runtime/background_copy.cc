// The background copy. The thread copies in large steps, so that the system's
// copy runs long and the write-back of each step starts while the next is
// copied; it touches no file but through the two handles, and never the
// output's buffer.
#include "runtime/background_copy.h"

#include <system_error>

#include "runtime/run_lock.h"

namespace {

// Large enough that a step is worth waking the thread for.
constexpr int64_t kStep = int64_t{4} << 20;

}  // namespace

bool worthCopyingInBackground(int64_t size) {
  return size >= 2 * kStep && os::copyRangeKeepsPosition();
}

BackgroundCopy::BackgroundCopy(TextFile* source, TextFile* output) {
  {
    RunLock lock;
    source_ = source->handle;
    output_ = output->handle;
  }
  try {
    thread_ = std::thread([this] { copyLoop(); });
  } catch (const std::system_error&) {
    // No thread: the rewrite copies everything itself.
  }
}

BackgroundCopy::~BackgroundCopy() { finish(); }

void BackgroundCopy::settle(int64_t end) {
  if (!thread_.joinable()) return;
  std::lock_guard<std::mutex> guard(lock_);
  if (end <= settled_) return;
  settled_ = end;
  if (settled_ - copied_ >= kStep) changed_.notify_one();
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
  for (;;) {
    changed_.wait(guard,
                  [this] { return finishing_ || (!failed_ && settled_ - copied_ >= kStep); });
    int64_t from = copied_, end = settled_;
    if (failed_ || end == from) return;  // only when finishing
    guard.unlock();
    bool copied = os::copyRange(source_, from, output_, end - from);
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
