// The output writer's thread: one buffer in flight at a time.
#include "app/output_writer.h"

#include "app/helper_thread.h"
#include "runtime/os.h"

namespace {
constexpr size_t kWorthAThread = size_t{256} << 10;
}  // namespace

OutputWriter::~OutputWriter() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> guard(lock_);
    finishing_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void OutputWriter::send(const char* data, size_t n) {
  if (n == 0) return;
  if (!thread_.joinable()) {
    // A small output is written at once: a thread would cost more than it
    // saves. So is everything where no thread can start.
    if (n < kWorthAThread || noThread_) return writeBytes(output_, data, static_cast<int64_t>(n));
    // What output holds in its own buffer goes first.
    flushBuffer(output_);
    if (!startHelperThread(&thread_, [this] { writeLoop(); })) {
      noThread_ = true;
      return writeBytes(output_, data, static_cast<int64_t>(n));
    }
  }
  std::unique_lock<std::mutex> guard(lock_);
  changed_.wait(guard, [this] { return pending_ == nullptr; });
  pending_ = data;
  pendingSize_ = n;
  changed_.notify_all();
}

void OutputWriter::wait() {
  if (!thread_.joinable()) return;
  std::unique_lock<std::mutex> guard(lock_);
  changed_.wait(guard, [this] { return pending_ == nullptr; });
  if (failed_) output_->writeFailed = true;
}

void OutputWriter::writeLoop() {
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    changed_.wait(guard, [this] { return pending_ != nullptr || finishing_; });
    if (!pending_) return;  // finishing, with nothing left to write
    const char* data = pending_;
    size_t n = pendingSize_;
    guard.unlock();
    bool written = os::writeFully(output_->handle, data, static_cast<int64_t>(n));
    guard.lock();
    if (!written) failed_ = true;
    pending_ = nullptr;
    changed_.notify_all();
  }
}
