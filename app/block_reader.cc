// Blocks read within a limit.
#include "app/block_reader.h"

#include <algorithm>
#include <cstring>

#include "runtime/contracts.h"
#include "runtime/os.h"
#include "runtime/seams.h"

int64_t lookBackSize() { return seams::sizeOf(seams::Size::LookBack, int64_t{1} << 16); }

int64_t ReadLimit::allow(int64_t offset, int64_t n) {
  std::lock_guard<std::mutex> guard(lock_);
  n = std::clamp<int64_t>(end_ - offset, 0, n);
  readFrom_ = offset;
  readUpTo_ = offset + n;
  return n;
}

void ReadLimit::stop() {
  std::lock_guard<std::mutex> guard(lock_);
  end_ = 0;
}

void ReadLimit::lift() {
  std::lock_guard<std::mutex> guard(lock_);
  end_ = INT64_MAX;
}

BlockReader::BlockReader(TextFile* file, int64_t start, ReadBy by, ReadLimit* limit)
    : file_(file),
      by_(by),
      limit_(limit),
      start_(start),
      blockSize_(seams::sizeOf(seams::Size::ScanBlock, int64_t{1} << 20)),
      // A small file needs no more than itself (and a byte to see its end).
      buffer_(
          static_cast<size_t>(std::clamp<int64_t>(file->stampAtOpen.size - start + 1,
                                                  std::min<int64_t>(4096, blockSize_), blockSize_)),
          '\0'),
      heldStart_(start) {
  ORRINVALE_EXPECTS(limit != nullptr && start >= 0);
}

bool BlockReader::readMore() {
  int64_t want = static_cast<int64_t>(buffer_.size() - held_);
  if (heldStart_ == start_ && held_ == 0) want = std::min(want, lookBackSize());
  const int64_t at = readEnd();
  want = limit_->allow(at, want);
  int64_t got = 0;
  if (by_ == ReadBy::Position) {
    got = readBytes(file_, buffer_.data() + held_, want);
  } else if (want > 0) {
    got = os::readAt(file_->handle, at, buffer_.data() + held_, want);
    if (got < 0) {
      failed_ = true;
      got = 0;
    }
  }
  held_ += static_cast<size_t>(got);
  return got > 0;
}

void BlockReader::drop(size_t n) {
  ORRINVALE_EXPECTS(n <= held_);
  const bool grow = n == 0 && full();
  memmove(buffer_.data(), buffer_.data() + n, held_ - n);
  heldStart_ += static_cast<int64_t>(n);
  held_ -= n;
  const size_t block = static_cast<size_t>(blockSize_);
  if (grow) {
    // By half as much again: what a huge reference or head costs stays near
    // its own size.
    buffer_.resize(buffer_.size() + std::max(buffer_.size() / 2, size_t{64}));
  } else if (buffer_.size() > block && held_ < block) {
    // The huge line is taken: memory goes back to a block.
    std::string(buffer_.data(), block).swap(buffer_);
  }
}
