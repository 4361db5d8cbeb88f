// What the block scan records for the rewrite: every place where the new file
// differs from the old one, or may, in file order. Everything between two
// edits goes to the new file exactly as it is.
#ifndef ORRINVALE_APP_EDIT_LIST_H_
#define ORRINVALE_APP_EDIT_LIST_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/procedure_table.h"

struct Edit {
  enum class Kind : uint8_t {
    LineEnd,         // the unit at start ends a line alone (LF, CR or zero): CR LF instead
    MissingLineEnd,  // the last line ends at start without a line end: CR LF there
    Invocation,      // the line [start, end) invokes label: a comment if label is unused
  };
  int64_t start = 0;
  int64_t end = 0;
  EntryIndex label = 0;
  Kind kind = Kind::LineEnd;
};

// A file with a line end to mend on every line would need an edit per line;
// past this many the list gives up and the rewrite reads the file again.
inline constexpr size_t kMaxEdits = size_t{1} << 19;

struct EditList {
  std::vector<Edit> edits;
  bool overflowed = false;
  int64_t firstEdit = INT64_MAX;  // where the first edit ever added starts
  int64_t scannedEnd = 0;         // where the scan found the end of the file

  void add(const Edit& edit) {
    if (firstEdit == INT64_MAX) firstEdit = edit.start;
    if (overflowed) return;
    if (edits.size() < kMaxEdits) return edits.push_back(edit);
    overflowed = true;
    std::vector<Edit>().swap(edits);
  }
};

#endif  // ORRINVALE_APP_EDIT_LIST_H_
