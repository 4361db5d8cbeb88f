// The rewrite's view of its source: a window of the file's bytes, read a
// window's size at a time where the next bytes it is asked for lie beyond
// it, so that the rewrite reads each byte once and memory stays flat.
#ifndef ORRINVALE_APP_SOURCE_WINDOW_H_
#define ORRINVALE_APP_SOURCE_WINDOW_H_

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/contracts.h"
#include "runtime/seams.h"
#include "runtime/text_file.h"

class SourceWindow {
 public:
  // The source's bytes are read no further than end.
  SourceWindow(TextFile* source, int64_t end) : source_(source), end_(end) {}

  static int64_t size() { return seams::sizeOf(seams::Size::RewriteWindow, int64_t{1} << 20); }

  // The source's bytes [start, stop) into *bytes; false if the file ended
  // early or could not be read.
  bool view(int64_t start, int64_t stop, std::string_view* bytes) {
    ORRINVALE_EXPECTS(start <= stop && stop <= end_);
    if (start < windowStart_ || stop > windowStart_ + static_cast<int64_t>(window_.size())) {
      int64_t size = std::max(stop - start, std::min(SourceWindow::size(), end_ - start));
      if (sourceAt_ != start) seekFile(source_, start);
      window_.resize(static_cast<size_t>(size));
      int64_t got = readBytes(source_, window_.data(), size);
      window_.resize(static_cast<size_t>(got));
      windowStart_ = start;
      sourceAt_ = start + got;
      if (got < stop - start || source_->readFailed) return false;
    }
    *bytes = std::string_view(window_).substr(static_cast<size_t>(start - windowStart_),
                                              static_cast<size_t>(stop - start));
    return true;
  }

  // The source's position was moved by someone else (a copy by the system).
  void forgetPosition() { sourceAt_ = -1; }

  // The window's bytes, and where they start in the file.
  std::string_view held() const { return window_; }
  int64_t heldStart() const { return windowStart_; }

 private:
  TextFile* source_;
  const int64_t end_;
  int64_t sourceAt_ = -1;  // where the next read from source takes place; -1 unknown
  std::string window_;     // the source's bytes from windowStart_
  int64_t windowStart_ = 0;
};

#endif  // ORRINVALE_APP_SOURCE_WINDOW_H_
