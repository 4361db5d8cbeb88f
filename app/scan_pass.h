// The reference scan: the file line by line, every line converted to text
// and given to the scan's rules through the patterns. Plain and slow; the
// block scan must always agree with it.
#ifndef ORRINVALE_APP_SCAN_PASS_H_
#define ORRINVALE_APP_SCAN_PASS_H_

#include "app/scan_rules.h"
#include "runtime/text_file.h"

// Applies the rules to every line of file from its current position (just
// past the byte-order mark) to its end. Throws std::bad_alloc when memory
// runs out; a read failure is left in file->readFailed.
void scanByLines(TextFile* file, TextFormat format, ScanState& state);

#endif  // ORRINVALE_APP_SCAN_PASS_H_
