// The fast rewrite. Long stretches without an edit are copied by the system
// (no pass through the program at all) and put on their way to the disk at
// once; short ones, such as the lines between invocations, go through the
// buffers, reading on where the last edit left off.
#include "app/edit_rewrite.h"

#include <string>

namespace {

// Below this a stretch is cheaper to read and write than to hand to the system.
constexpr int64_t kSystemCopyMinimum = int64_t{1} << 16;

class EditWriter {
 public:
  EditWriter(TextFile* source, TextFormat format, int64_t copied, TextFile* output)
      : source_(source), format_(format), output_(output), done_(copied) {}

  bool apply(const EditList& list, const ProcedureTable& table, RemovalCounts* counts) {
    for (const Edit& edit : list.edits) {
      switch (edit.kind) {
        case Edit::Kind::LineEnd:
          if (!copyUpTo(edit.start)) return false;
          putLineEnd();
          done_ = edit.start + unitSize(format_);
          break;
        case Edit::Kind::MissingLineEnd:
          if (!copyUpTo(edit.start)) return false;
          putLineEnd();
          break;
        case Edit::Kind::Invocation:
          ++counts->invocations;
          if (table.entries[edit.label].used != 0) break;
          ++counts->removed;
          if (!copyUpTo(edit.start) || !removeLine(edit.start, edit.end)) return false;
          break;
      }
    }
    return copyUpTo(list.scannedEnd);
  }

 private:
  void putLineEnd() {
    std::string_view end = lineEndBytes(format_);
    writeBytes(output_, end.data(), static_cast<int64_t>(end.size()));
  }

  // Brings the source's reading position to offset: on by reading where that
  // is near, by a seek otherwise.
  bool readFrom(int64_t offset) {
    if (sourceAt_ >= 0 && offset >= sourceAt_ && offset - sourceAt_ <= kSystemCopyMinimum) {
      return readExactly(offset - sourceAt_, nullptr);
    }
    seekFile(source_, offset);
    sourceAt_ = offset;
    return !source_->readFailed;
  }

  // Reads n bytes into *bytes (or drops them); false if the file ended early.
  bool readExactly(int64_t n, std::string* bytes) {
    std::string& target = bytes ? *bytes : scratch_;
    target.resize(static_cast<size_t>(n));
    int64_t got = readBytes(source_, target.data(), n);
    sourceAt_ += got;
    return got == n;
  }

  bool copyUpTo(int64_t end) {
    int64_t n = end - done_;
    if (n <= 0) return true;
    if (n >= kSystemCopyMinimum) {
      copyBytes(source_, done_, n, output_);
      startWriteBack(output_);
      sourceAt_ = -1;
    } else {
      if (!readFrom(done_) || !readExactly(n, &scratch_)) return false;
      writeBytes(output_, scratch_.data(), n);
    }
    done_ = end;
    return true;
  }

  bool removeLine(int64_t start, int64_t end) {
    if (!readFrom(start) || !readExactly(end - start, &line_)) return false;
    comment_.clear();
    appendRemovedLine(format_, trimSpaceUnits(format_, line_), &comment_);
    writeBytes(output_, comment_.data(), static_cast<int64_t>(comment_.size()));
    done_ = end;
    return true;
  }

  TextFile* source_;
  TextFormat format_;
  TextFile* output_;
  int64_t done_;          // the source's bytes before this are written or replaced
  int64_t sourceAt_ = -1;  // where the next read from source takes place; -1 unknown
  std::string scratch_, line_, comment_;
};

}  // namespace

bool writeWithEdits(TextFile* source, TextFormat format, const EditList& edits,
                    const ProcedureTable& table, int64_t copied, TextFile* output,
                    RemovalCounts* counts) {
  return EditWriter(source, format, copied, output).apply(edits, table, counts);
}
