// The output file's writes: small ones through the file's own buffer, large
// ones on the writer thread, one buffer in flight at a time.
#include "runtime/output_file.h"

#include <utility>

#include "runtime/helper_thread.h"

namespace {
// Below this a buffer is written at once: a thread would cost more than it saves.
constexpr size_t kWorthAThread = size_t{256} << 10;
// How much is written before the disk is set writing it: small enough that
// little is left for the sync at the end (on an output of 45 MiB, 2 MiB
// steps end the run some 4 ms sooner than 8 MiB steps), large enough that
// the calls cost nothing to speak of.
constexpr int64_t kWriteBackStep = int64_t{2} << 20;
}  // namespace

OutputFile::~OutputFile() { stopWriter(); }

void OutputFile::stopWriter() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> guard(lock_);
    finishing_ = true;
  }
  changed_.notify_all();
  thread_.join();
  finishing_ = false;
}

void OutputFile::send() {
  size_t n = std::exchange(used_, 0);
  if (n == 0) return;
  countForWriteBack(static_cast<int64_t>(n));
  if (!thread_.joinable()) {
    if (n < kWorthAThread || noThread_) return writeBytes(file_, buffer_.data(), n);
    // What the file holds in its own buffer goes first.
    flushBuffer(file_);
    if (!startHelperThread(&thread_, [this] { writeLoop(); })) {
      noThread_ = true;
      return writeBytes(file_, buffer_.data(), n);
    }
  }
  std::unique_lock<std::mutex> guard(lock_);
  changed_.wait(guard, [this] { return pending_ == nullptr; });
  pending_ = buffer_.data();
  pendingSize_ = n;
  changed_.notify_all();
  guard.unlock();
  std::swap(buffer_, spare_);  // the writer has the full one
}

void OutputFile::waitForWriter() {
  if (!thread_.joinable()) return;
  std::unique_lock<std::mutex> guard(lock_);
  changed_.wait(guard, [this] { return pending_ == nullptr; });
  if (failed_) file_->writeFailed = true;
}

void OutputFile::writeLoop() {
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    changed_.wait(guard, [this] { return pending_ != nullptr || finishing_; });
    if (!pending_) return;  // finishing, with nothing left to write
    const char* data = pending_;
    size_t n = pendingSize_;
    guard.unlock();
    bool written = os::writeFully(file_->handle, data, static_cast<int64_t>(n));
    guard.lock();
    if (!written) failed_ = true;
    pending_ = nullptr;
    changed_.notify_all();
  }
}

// The disk writes what is ready while the rest is made.
void OutputFile::countForWriteBack(int64_t n) {
  unsentToDisk_ += n;
  if (unsentToDisk_ < kWriteBackStep) return;
  unsentToDisk_ = 0;
  os::startWriteBack(file_->handle);
}

void OutputFile::copyFrom(os::FileHandle source, int64_t offset, int64_t n) {
  if (n <= 0) return;
  send();
  waitForWriter();
  flushBuffer(file_);
  if (!os::copyRange(source, offset, file_->handle, n)) file_->writeFailed = true;
  countForWriteBack(kWriteBackStep);  // a long copy goes to the disk at once
}

bool OutputFile::finish() {
  send();
  waitForWriter();
  // Ended here, not in the short section around the rename, where waiting
  // for a thread to be scheduled would widen the moment between the check
  // of the original and its replacement.
  stopWriter();
  return flushBuffer(file_);
}
