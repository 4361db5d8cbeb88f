// The scan: reads the file in large blocks and applies the scan's rules
// to the raw units where they are, converting nothing and calling the
// pattern engine only for the rare label line that is more than a label.
// Along the way it records the edits that the rewrite will need, so that the
// rewrite can copy everything else without looking at it.
#ifndef ORRINVALE_APP_BLOCK_SCAN_H_
#define ORRINVALE_APP_BLOCK_SCAN_H_

#include <functional>

#include "app/edit_list.h"
#include "app/scan_rules.h"
#include "runtime/text_file.h"

// Told after every block how far the file is known to change in nothing but
// its line ends: up to the first invocation line, or up to the last line
// read if there is none yet.
using CopyableObserver = std::function<void(int64_t end)>;

// Applies the rules to every line of file from its current position (just
// past the byte-order mark) to its end, and records in *edits every
// invocation line, where line ends need mending and where the file ends.
// Throws std::bad_alloc when memory runs out; a read failure is left in
// file->readFailed.
void scanFile(TextFile* file, TextFormat format, ScanState& state, EditList* edits,
              const CopyableObserver& copyable = {});

#endif  // ORRINVALE_APP_BLOCK_SCAN_H_
