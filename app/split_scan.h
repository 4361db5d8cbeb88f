// The scan of a whole file, split across two threads where that pays: once
// the background copy has met the first invocation line, the other
// processor is free, and a large rest of the file is split in two at a
// line's start; the second half is scanned meanwhile on a helper thread into
// a table of its own, which is joined to the first's when both are done.
// Where the helper cannot start, or runs out of memory, its half is scanned
// on the main thread, after the first: the result is the same either way.
#ifndef ORRINVALE_APP_SPLIT_SCAN_H_
#define ORRINVALE_APP_SPLIT_SCAN_H_

#include "app/background_copy.h"
#include "app/edit_list.h"
#include "app/scan_rules.h"
#include "runtime/text_file.h"

// Applies the rules to every line of file from its current position (just
// past the byte-order mark) to its end, and records in *edits every
// invocation line, where line ends need mending and where the file ends.
// After every block, copy (if any) may copy what is known to change in
// nothing but its line ends: up to the first invocation line. Throws
// std::bad_alloc when memory runs out on the main thread; a read failure is
// left in file->readFailed.
void scanFile(TextFile* file, TextFormat format, ScanState& state, EditList* edits,
              BackgroundCopy* copy = nullptr);

#endif  // ORRINVALE_APP_SPLIT_SCAN_H_
