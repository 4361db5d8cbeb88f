// The fast rewrite. Long stretches without an edit are copied by the system
// (no pass through the program at all) and put on their way to the disk at
// once; short ones, such as the lines between invocations, are taken from a
// window of the source read in one piece.
#include "app/edit_rewrite.h"

#include <algorithm>
#include <string>

namespace {

// Below this a stretch is cheaper to read and write than to hand to the system.
constexpr int64_t kSystemCopyMinimum = int64_t{1} << 16;
constexpr int64_t kWindowSize = int64_t{1} << 20;
constexpr size_t kAhead = 8;

class EditWriter {
 public:
  EditWriter(TextFile* source, TextFormat format, int64_t copied, int64_t end, TextFile* output)
      : source_(source), format_(format), output_(output), done_(copied), end_(end),
        lineEnd_(lineEndBytes(format)) {}

  bool apply(const EditList& list, const ProcedureTable& table, RemovalCounts* counts) {
    const std::vector<Edit>& edits = list.edits;
    for (size_t i = 0; i < edits.size(); ++i) {
      // Whether a label is used is looked up anywhere in the table: a few
      // edits ahead, so that the look-ups overlap.
      if (i + kAhead < edits.size() && edits[i + kAhead].kind == Edit::Kind::Invocation)
        __builtin_prefetch(&table.entries[edits[i + kAhead].label]);
      const Edit& edit = edits[i];
      switch (edit.kind) {
        case Edit::Kind::LineEnd:
          if (!copyUpTo(edit.start)) return false;
          put(lineEnd_);
          done_ = edit.start + unitSize(format_);
          break;
        case Edit::Kind::MissingLineEnd:
          if (!copyUpTo(edit.start)) return false;
          put(lineEnd_);
          break;
        case Edit::Kind::Invocation:
          ++counts->invocations;
          if (table.entries[edit.label].used != 0) break;
          ++counts->removed;
          if (!copyUpTo(edit.start) || !removeLine(edit.start, edit.end)) return false;
          break;
      }
    }
    return copyUpTo(end_);
  }

 private:
  void put(std::string_view bytes) {
    writeBytes(output_, bytes.data(), static_cast<int64_t>(bytes.size()));
  }

  // The source's bytes [start, end), through the window; false if the file
  // ended early or could not be read.
  bool view(int64_t start, int64_t end, std::string_view* bytes) {
    if (start < windowStart_ || end > windowStart_ + static_cast<int64_t>(window_.size())) {
      int64_t size = std::max(end - start, std::min(kWindowSize, end_ - start));
      if (sourceAt_ != start) seekFile(source_, start);
      window_.resize(static_cast<size_t>(size));
      int64_t got = readBytes(source_, window_.data(), size);
      window_.resize(static_cast<size_t>(got));
      windowStart_ = start;
      sourceAt_ = start + got;
      if (got < end - start || source_->readFailed) return false;
    }
    *bytes = std::string_view(window_).substr(static_cast<size_t>(start - windowStart_),
                                              static_cast<size_t>(end - start));
    return true;
  }

  bool copyUpTo(int64_t end) {
    int64_t n = end - done_;
    if (n <= 0) return true;
    if (n >= kSystemCopyMinimum) {
      copyBytes(source_, done_, n, output_);
      startWriteBack(output_);
      sourceAt_ = -1;  // the copy leaves the source's position undefined
    } else {
      std::string_view bytes;
      if (!view(done_, end, &bytes)) return false;
      put(bytes);
    }
    done_ = end;
    return true;
  }

  bool removeLine(int64_t start, int64_t end) {
    std::string_view line;
    if (!view(start, end, &line)) return false;
    comment_.clear();
    appendRemovedLine(format_, trimSpaceUnits(format_, line), &comment_);
    put(comment_);
    done_ = end;
    return true;
  }

  TextFile* source_;
  TextFormat format_;
  TextFile* output_;
  int64_t done_;           // the source's bytes before this are written or replaced
  const int64_t end_;      // where the source ends, as the scan found it
  int64_t sourceAt_ = -1;  // where the next read from source takes place; -1 unknown
  std::string window_;     // the source's bytes from windowStart_
  int64_t windowStart_ = 0;
  const std::string_view lineEnd_;
  std::string comment_;  // what takes a removed line's place
};

}  // namespace

bool writeWithEdits(TextFile* source, TextFormat format, const EditList& edits,
                    const ProcedureTable& table, int64_t copied, TextFile* output,
                    RemovalCounts* counts) {
  return EditWriter(source, format, copied, edits.scannedEnd, output).apply(edits, table, counts);
}
