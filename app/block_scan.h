// A stretch of the file scanned: read in blocks (block_reader.h), each
// block's lines walked through the rules (block_lines.h), recording in the
// edit list every invocation line, where line ends need mending and where
// the stretch ends. The scan calls the pattern engine only for the rare
// label line that is more than a label, and converts nothing else.
#ifndef ORRINVALE_APP_BLOCK_SCAN_H_
#define ORRINVALE_APP_BLOCK_SCAN_H_

#include "app/block_lines.h"
#include "app/block_reader.h"
#include "app/edit_list.h"
#include "app/scan_rules.h"
#include "runtime/text_file.h"

template <int kSize, bool kBigEndian>
class BlockScan {
 public:
  // Scans file from start, a line's start, to its end or limit's.
  BlockScan(TextFile* file, TextFormat format, ScanState& state, EditList* edits, int64_t start,
            ReadBy by, ReadLimit* limit)
      : edits_(edits), reader_(file, start, by, limit), lines_(format, state, edits) {}

  // Reads and takes one more block. False once the stretch is done; its
  // edits then say where its units end.
  bool step() {
    const bool more = reader_.readMore();
    const size_t units = reader_.held() / kSize;
    const size_t taken =
        lines_.take(reader_.bytes(), units, reader_.heldStart(), !more, reader_.full());
    if (!more) {
      edits_->unitsEnd = reader_.heldStart() + static_cast<int64_t>(units * kSize);
      edits_->scannedEnd = reader_.readEnd();
      return false;
    }
    knownUpTo_ = lines_.knownUpTo(reader_.heldStart(), taken);
    reader_.drop(taken * kSize);
    return true;
  }

  // Up to where the rules have seen the file, and where the next read starts.
  int64_t knownUpTo() const { return knownUpTo_; }
  int64_t readEnd() const { return reader_.readEnd(); }
  // Whether a read at an offset failed (a read by position marks the file).
  bool readFailed() const { return reader_.failed(); }

 private:
  EditList* edits_;
  BlockReader reader_;
  BlockLines<kSize, kBigEndian> lines_;
  int64_t knownUpTo_ = 0;
};

#endif  // ORRINVALE_APP_BLOCK_SCAN_H_
