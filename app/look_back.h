// Whether a stretch of the file that starts part way through it starts
// inside a block, as a scan of everything before it would find: the nearest
// line before it that starts with "}" or opens a block decides (the
// language's blockChangeOf). The stretch's scan asks only when a line needs
// it, which is rare, and the look back then reads the file backwards from the
// stretch's start, a step at a time.
#ifndef ORRINVALE_APP_LOOK_BACK_H_
#define ORRINVALE_APP_LOOK_BACK_H_

#include <cstdint>

#include "runtime/os.h"
#include "runtime/text_codec.h"

class LookBack {
 public:
  // For a stretch of file, whose units (of format) start at unitsStart,
  // that starts at start, a line's start.
  LookBack(os::FileHandle file, TextFormat format, int64_t unitsStart, int64_t start)
      : file_(file), format_(format), unitsStart_(unitsStart), start_(start) {}

  // Whether the stretch starts inside a block; false where the file could
  // not be read (failed then says so).
  bool startsInsideBlock();
  bool failed() const { return failed_; }

 private:
  template <int kSize, bool kBigEndian>
  bool startsInsideBlockIn();
  // What the line at offset does to being inside a block, given its first
  // count units at units (more are read where needed).
  template <int kSize, bool kBigEndian>
  int blockChangeAt(int64_t offset, const unsigned char* units, size_t count);

  os::FileHandle file_;
  TextFormat format_;
  int64_t unitsStart_, start_;
  bool failed_ = false;
};

#endif  // ORRINVALE_APP_LOOK_BACK_H_
