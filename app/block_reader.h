// Reading a scan's stretch of the file in blocks: the buffer that holds what
// the line walk has not taken yet, read by the file's position or at
// offsets, and the limit up to which the stretch may be read, which another
// thread may lower while it is read. It knows nothing of lines.
#ifndef ORRINVALE_APP_BLOCK_READER_H_
#define ORRINVALE_APP_BLOCK_READER_H_

#include <cstdint>
#include <mutex>
#include <string>

#include "runtime/text_file.h"

// How far a reader may read. The reads are noted, so that whoever lowers the
// end knows what has been read already.
class ReadLimit {
 public:
  // How many of n bytes at offset may be read; the read is noted as made.
  int64_t allow(int64_t offset, int64_t n);
  // Every read from now on finds the end.
  void stop();
  // Lowers the end, under the lock that reads take: chooseEnd(from, upTo),
  // given that the last read was made at from and reached upTo, returns the
  // new end (at least upTo), or -1 to leave it. Returns what it returned.
  template <typename ChooseEnd>
  int64_t lowerEnd(const ChooseEnd& chooseEnd) {
    std::lock_guard<std::mutex> guard(lock_);
    int64_t end = chooseEnd(readFrom_, readUpTo_);
    if (end >= 0) end_ = end;
    return end;
  }
  // The end is the file's again.
  void lift();

 private:
  std::mutex lock_;
  int64_t end_ = INT64_MAX, readFrom_ = 0, readUpTo_ = 0;
};

enum class ReadBy { Position, Offset };

class BlockReader {
 public:
  // Reads file from start on, within limit: by the file's position (which
  // must be at start), or at offsets, leaving the position alone.
  BlockReader(TextFile* file, int64_t start, ReadBy by, ReadLimit* limit);

  // Reads on after the bytes held, a block's worth at most (the first read
  // is short, so that the first lines are known early). False at the end of
  // what may be read, or where a read failed (failed says so).
  bool readMore();
  // Drops the first n bytes held, which are taken. Where none were taken
  // from a full buffer, it grows: a single head or reference may need more.
  void drop(size_t n);

  const unsigned char* bytes() const {
    return reinterpret_cast<const unsigned char*>(buffer_.data());
  }
  size_t held() const { return held_; }
  bool full() const { return held_ == buffer_.size(); }
  int64_t heldStart() const { return heldStart_; }  // the file offset of bytes()[0]
  int64_t readEnd() const { return heldStart_ + static_cast<int64_t>(held_); }
  bool failed() const { return failed_; }

 private:
  TextFile* file_;
  const ReadBy by_;
  ReadLimit* limit_;
  const int64_t start_, blockSize_;
  std::string buffer_;
  size_t held_ = 0;
  int64_t heldStart_;
  bool failed_ = false;
};

// How much a look back at the start of a stretch reads at once, and the
// first read of a scan.
int64_t lookBackSize();

#endif  // ORRINVALE_APP_BLOCK_READER_H_
